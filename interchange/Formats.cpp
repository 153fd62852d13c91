// Readers and writers of the line-based interchange formats: the program's
// text and binary formats (through their codec in files/), IAEA SPE and CSV;
// the extension dispatch and the calibration taken from the settings record.

#include "interchange/InterchangeParsing.h"
#include "interchange/Interchange.h"

#include "files/SpectrumCodec.h"
#include "files/SpektrFiles.h"
#include "core/Uryv.h"

#include <QFileInfo>

#include <charconv>
#include <cmath>
#include <cstdio>

using namespace interchange_detail;

namespace interchange_detail {

QString Shown(QByteArrayView token)
{
    constexpr qsizetype MaxShown = 40;
    QByteArray s = token.first(std::min(token.size(), MaxShown)).toByteArray();
    for (char &ch : s)
        if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F)
            ch = '?';
    QString out = QString::fromUtf8(s);
    if (token.size() > MaxShown)
        out += QStringLiteral("...");
    return out;
}

QString OneLine(QString text)
{
    for (QChar &ch : text)
        if (ch.unicode() < 0x20 || ch.unicode() == 0x7F)
            ch = QLatin1Char('?');
    return text;
}

bool ParseCount(QByteArrayView token, bool wholeNumbers, int32_t &value, QString &why)
{
    qsizetype i = 0;
    const qsizetype n = token.size();
    bool negative = false;
    if (i < n && (token[i] == '+' || token[i] == '-')) {
        negative = token[i] == '-';
        ++i;
    }
    bool digitsOnly = i < n;
    int64_t v = 0;
    for (qsizetype k = i; k < n && digitsOnly; ++k) {
        const char ch = token[k];
        if (ch < '0' || ch > '9')
            digitsOnly = false;
        else if (v <= int64_t(1) << 40)
            v = v * 10 + (ch - '0');
    }
    if (digitsOnly) {
        if (negative)
            v = -v;
        if (v < INT32_MIN || v > INT32_MAX) {
            why = QStringLiteral("count %1 lies outside the signed 32-bit range").arg(Shown(token));
            return false;
        }
        value = static_cast<int32_t>(v);
        return true;
    }
    if (wholeNumbers && i < n) {
        // from_chars takes no '+'; the sign was read above.
        double d = 0;
        const char *first = token.data() + i;
        const char *last = token.data() + n;
        const auto [end, ec] = std::from_chars(first, last, d, std::chars_format::general);
        if (ec == std::errc() && end == last && std::isfinite(d) &&
            ((*first >= '0' && *first <= '9') || *first == '.')) {
            if (negative)
                d = -d;
            if (d != std::floor(d)) {
                why = QStringLiteral("count %1 is not a whole number").arg(Shown(token));
                return false;
            }
            if (d < double(INT32_MIN) || d > double(INT32_MAX)) {
                why = QStringLiteral("count %1 lies outside the signed 32-bit range").arg(Shown(token));
                return false;
            }
            value = static_cast<int32_t>(d);
            return true;
        }
        if (ec == std::errc::result_out_of_range && end == last) {
            why = QStringLiteral("count %1 lies outside the signed 32-bit range").arg(Shown(token));
            return false;
        }
    }
    why = QStringLiteral("count '%1' is not an integer").arg(Shown(token));
    return false;
}

QString ChannelCountProblem(const QString &what)
{
    return what + QStringLiteral("; a spectrum has 1024, 4096 or 16384 channels");
}

bool TokenCursor::Next(QByteArrayView &token)
{
    qsizetype i = 0;
    const qsizetype n = rest_.size();
    while (i < n && IsAsciiSpace(rest_[i]))
        ++i;
    const qsizetype start = i;
    while (i < n && !IsAsciiSpace(rest_[i]))
        ++i;
    token = rest_.sliced(start, i - start);
    rest_ = rest_.sliced(i);
    return !token.isEmpty();
}

} // namespace interchange_detail

namespace {

// Lines split at LF, a CR before it dropped; a UTF-8 byte order mark at the
// start is skipped. A final line end does not start another line. One line
// at a time: memory stays that of the file whatever its number of lines.
class LineCursor {
public:
    explicit LineCursor(const QByteArray &file) : rest_(file)
    {
        if (rest_.startsWith("\xEF\xBB\xBF"))
            rest_ = rest_.sliced(3);
        Take();
    }
    bool AtEnd() const { return atEnd_; }
    QByteArrayView Line() const { return line_; }
    size_t Index() const { return index_; } // 0-based
    // The text after the current line.
    QByteArrayView Rest() const { return rest_; }
    void Advance()
    {
        ++index_;
        Take();
    }

private:
    void Take()
    {
        atEnd_ = rest_.isEmpty();
        if (atEnd_) {
            line_ = {};
            return;
        }
        const qsizetype lf = rest_.indexOf('\n');
        line_ = lf < 0 ? rest_ : rest_.first(lf);
        rest_ = lf < 0 ? QByteArrayView() : rest_.sliced(lf + 1);
        if (line_.endsWith('\r'))
            line_.chop(1);
    }
    QByteArrayView rest_, line_;
    size_t index_ = 0;
    bool atEnd_ = false;
};

QString AtLine(size_t index, const QString &what)
{
    return QStringLiteral("line %1: %2").arg(index + 1).arg(what);
}

bool IsSpeKeyword(QByteArrayView line) { return line.trimmed().startsWith('$'); }

} // namespace

SpectrumFormat SpectrumFormatOfPath(const QString &path)
{
    if (IsTextSpectrumPath(path.toStdString()))
        return SpectrumFormat::Text;
    const QString suffix = QFileInfo(path).fileName().section(QLatin1Char('.'), -1).toLower();
    if (!QFileInfo(path).fileName().contains(QLatin1Char('.')))
        return SpectrumFormat::Binary;
    if (suffix == QLatin1String("spe"))
        return SpectrumFormat::Spe;
    if (suffix == QLatin1String("n42"))
        return SpectrumFormat::N42;
    if (suffix == QLatin1String("csv"))
        return SpectrumFormat::Csv;
    return SpectrumFormat::Binary;
}

bool IsSpectrumChannelCount(size_t channels)
{
    return channels == 1024 || channels == 4096 || channels == 16384;
}

EnergyCalibration CalibrationFromSettings(const SettingsRecord &r)
{
    EnergyCalibration cal;
    const double c1 = r.LeftPeakCentroid, c2 = r.RightPeakCentroid;
    const double e1 = r.LeftPeakEnergy, e2 = r.RightPeakEnergy;
    if (!(c2 > c1) || !(e2 > e1))
        return cal;
    cal.Gain = (e2 - e1) / (c2 - c1);
    cal.Offset = e1 - cal.Gain * c1;
    cal.Known = std::isfinite(cal.Gain) && std::isfinite(cal.Offset);
    return cal;
}

QByteArray ShortestDouble(double v)
{
    char buf[64];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    return ec == std::errc() ? QByteArray(buf, end - buf) : QByteArray("0");
}

// ---------------------------------------------------------------------------
// The program's text and binary formats: the codec of files/, with the
// converter's rules on the channel count and its messages.

bool ReadTextCounts(const QByteArray &file, SpectrumCounts &counts, QString &problem)
{
    TextSpectrumDecoder decoder(MaxChannels);
    decoder.Feed({reinterpret_cast<const uint8_t *>(file.constData()), size_t(file.size())});
    decoder.Finish();
    counts = decoder.Counts();
    if (decoder.MoreLines()) {
        problem = AtLine(MaxChannels, QStringLiteral("more than %1 channel lines").arg(MaxChannels));
        return false;
    }
    if (decoder.Failed()) {
        problem = AtLine(counts.size(), QStringLiteral("count field '%1' is not a valid integer value")
                                            .arg(Shown(QByteArrayView(decoder.BadField()))));
        return false;
    }
    if (!IsSpectrumChannelCount(counts.size())) {
        problem = ChannelCountProblem(QStringLiteral("%1 channel lines").arg(counts.size()));
        return false;
    }
    return true;
}

QByteArray WriteTextCounts(const SpectrumCounts &counts)
{
    std::string out;
    EncodeTextSpectrum(counts, out);
    return QByteArray::fromStdString(out);
}

bool ReadBinaryCounts(const QByteArray &file, SpectrumCounts &counts, QString &problem)
{
    const size_t size = size_t(file.size());
    if (size % 4 != 0 || !IsSpectrumChannelCount(size / 4)) {
        problem = QStringLiteral("%1 bytes; a binary spectrum has 4 bytes for each of 1024, 4096 or 16384 channels")
                      .arg(size);
        return false;
    }
    counts = DecodeBinarySpectrum({reinterpret_cast<const uint8_t *>(file.constData()), size}, size / 4);
    return true;
}

QByteArray WriteBinaryCounts(const SpectrumCounts &counts)
{
    std::string out;
    EncodeBinarySpectrum(counts, out);
    return QByteArray::fromStdString(out);
}

// ---------------------------------------------------------------------------
// IAEA SPE: sections headed by "$KEYWORD:" lines. Only $DATA: is read: a
// line "first last" (first must be 0), then last - first + 1 counts, any
// number to a line, up to the next keyword or the end of the file.

bool ReadSpeCounts(const QByteArray &file, SpectrumCounts &counts, QString &problem)
{
    LineCursor line(file);
    counts.clear();
    bool haveData = false;
    while (!line.AtEnd() && line.Line().trimmed().isEmpty())
        line.Advance();
    if (!line.AtEnd() && !IsSpeKeyword(line.Line())) {
        problem = AtLine(line.Index(), QStringLiteral("'%1' where a $KEYWORD: line was expected").arg(Shown(line.Line())));
        return false;
    }
    while (!line.AtEnd()) {
        if (line.Line().trimmed() != "$DATA:") {
            line.Advance();
            continue;
        }
        if (haveData) {
            problem = AtLine(line.Index(), QStringLiteral("a second $DATA: section"));
            return false;
        }
        haveData = true;
        const size_t keyword = line.Index();
        line.Advance();
        if (line.AtEnd() || IsSpeKeyword(line.Line())) {
            problem = AtLine(keyword, QStringLiteral("$DATA: has no channel range line"));
            return false;
        }
        TokenCursor range(line.Line());
        QByteArrayView from, to, extra;
        int32_t first = 0, last = 0;
        QString why;
        if (!range.Next(from) || !range.Next(to) || range.Next(extra) || !ParseCount(from, false, first, why) ||
            !ParseCount(to, false, last, why)) {
            problem = AtLine(line.Index(), QStringLiteral("channel range '%1' is not two channel numbers").arg(Shown(line.Line())));
            return false;
        }
        if (first != 0) {
            problem = AtLine(line.Index(), QStringLiteral("the first channel is %1; a spectrum starts at channel 0").arg(first));
            return false;
        }
        const int64_t channels = int64_t(last) + 1;
        if (channels < 0 || !IsSpectrumChannelCount(size_t(channels))) {
            problem = AtLine(line.Index(), ChannelCountProblem(QStringLiteral("channels 0..%1 are %2").arg(last).arg(std::max<int64_t>(channels, 0))));
            return false;
        }
        counts.reserve(size_t(channels));
        size_t lastCountLine = line.Index();
        for (line.Advance(); !line.AtEnd() && !IsSpeKeyword(line.Line()); line.Advance()) {
            TokenCursor tokens(line.Line());
            for (QByteArrayView token; tokens.Next(token);) {
                if (counts.size() == size_t(channels)) {
                    problem = AtLine(line.Index(), QStringLiteral("more counts than channels 0..%1").arg(last));
                    return false;
                }
                int32_t v;
                if (!ParseCount(token, false, v, why)) {
                    problem = AtLine(line.Index(), why);
                    return false;
                }
                counts.push_back(v);
                lastCountLine = line.Index();
            }
        }
        if (counts.size() != size_t(channels)) {
            problem = AtLine(lastCountLine, QStringLiteral("$DATA: ends after %1 of %2 counts").arg(counts.size()).arg(channels));
            return false;
        }
        // The keyword that ended the counts is examined next.
    }
    if (!haveData) {
        problem = QStringLiteral("no $DATA: section");
        return false;
    }
    return true;
}

QByteArray WriteSpeCounts(const SpectrumCounts &counts, const SpectrumWriteInfo &info)
{
    QByteArray out;
    out.reserve(qsizetype(counts.size()) * 10 + 512);
    QString title = info.Title;
    title.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    const QDateTime at = info.MeasuredAt.isValid() ? info.MeasuredAt : QDateTime::currentDateTime();
    out += "$SPEC_ID:\r\n" + title.toUtf8() + "\r\n";
    out += "$DATE_MEA:\r\n" + at.toString(QStringLiteral("MM/dd/yyyy hh:mm:ss")).toLatin1() + "\r\n";
    // Live and real time are not kept in the program's spectrum files.
    out += "$MEAS_TIM:\r\n0 0\r\n";
    out += "$DATA:\r\n0 " + QByteArray::number(qsizetype(counts.size()) - 1) + "\r\n";
    char line[32];
    for (int32_t v : counts) {
        const int n = std::snprintf(line, sizeof line, "%8d\r\n", int(v));
        out.append(line, n);
    }
    if (info.Calibration.Known) {
        const QByteArray a = ShortestDouble(info.Calibration.Offset);
        const QByteArray b = ShortestDouble(info.Calibration.Gain);
        out += "$ENER_FIT:\r\n" + a + ' ' + b + "\r\n";
        out += "$MCA_CAL:\r\n2\r\n" + a + ' ' + b + " keV\r\n";
    }
    return out;
}

// ---------------------------------------------------------------------------
// CSV: a header line, then one row per channel, channels 0, 1, 2, ... in
// order; the energy column, when there is one, is not taken.

bool ReadCsvCounts(const QByteArray &file, SpectrumCounts &counts, QString &problem)
{
    LineCursor line(file);
    counts.clear();
    // Blank lines at the end are no rows.
    auto blankToEnd = [&] { return line.Line().trimmed().isEmpty() && line.Rest().trimmed().isEmpty(); };
    if (line.AtEnd() || blankToEnd()) {
        problem = QStringLiteral("empty; a header line 'channel,counts' was expected");
        return false;
    }
    QByteArray header = line.Line().toByteArray().toLower();
    header.replace(' ', "");
    header.replace('\t', "");
    size_t columns = 0;
    if (header == "channel,counts")
        columns = 2;
    else if (header == "channel,energy_kev,counts")
        columns = 3;
    else {
        problem = AtLine(0, QStringLiteral("header '%1' is neither 'channel,counts' nor 'channel,energy_keV,counts'")
                                .arg(Shown(line.Line())));
        return false;
    }
    for (line.Advance(); !line.AtEnd() && !blankToEnd(); line.Advance()) {
        const size_t i = line.Index();
        const size_t channel = i - 1;
        if (channel >= MaxChannels) {
            problem = AtLine(i, QStringLiteral("more than %1 channel rows").arg(MaxChannels));
            return false;
        }
        const QByteArrayView row = line.Line();
        const size_t fieldCount = size_t(row.count(',')) + 1;
        if (fieldCount != columns) {
            problem = AtLine(i, QStringLiteral("%1 fields where the header has %2").arg(fieldCount).arg(columns));
            return false;
        }
        QByteArrayView fields[3];
        QByteArrayView rest = row;
        for (size_t f = 0; f < columns; ++f) {
            const qsizetype comma = rest.indexOf(',');
            fields[f] = comma < 0 ? rest : rest.first(comma);
            rest = comma < 0 ? QByteArrayView() : rest.sliced(comma + 1);
        }
        int32_t ch = -1;
        QString why;
        if (!ParseCount(fields[0].trimmed(), false, ch, why) || ch != int32_t(channel)) {
            problem = AtLine(i, QStringLiteral("channel '%1' where %2 was expected").arg(Shown(fields[0])).arg(channel));
            return false;
        }
        if (columns == 3) {
            bool ok = false;
            const double e = fields[1].trimmed().toByteArray().toDouble(&ok);
            if (!ok || !std::isfinite(e)) {
                problem = AtLine(i, QStringLiteral("energy '%1' is not a number").arg(Shown(fields[1])));
                return false;
            }
        }
        int32_t v;
        if (!ParseCount(fields[columns - 1].trimmed(), false, v, why)) {
            problem = AtLine(i, why);
            return false;
        }
        counts.push_back(v);
    }
    if (!IsSpectrumChannelCount(counts.size())) {
        problem = ChannelCountProblem(QStringLiteral("%1 channel rows").arg(counts.size()));
        return false;
    }
    return true;
}

QByteArray WriteCsvCounts(const SpectrumCounts &counts, const EnergyCalibration &calibration)
{
    QByteArray out = calibration.Known ? "channel,energy_keV,counts\r\n" : "channel,counts\r\n";
    out.reserve(qsizetype(counts.size()) * 32);
    for (size_t c = 0; c < counts.size(); ++c) {
        out += QByteArray::number(qsizetype(c)) + ',';
        if (calibration.Known)
            out += ShortestDouble(calibration.Offset + calibration.Gain * double(c)) + ',';
        out += QByteArray::number(counts[c]) + "\r\n";
    }
    return out;
}

// ---------------------------------------------------------------------------

bool ReadSpectrumCounts(SpectrumFormat format, const QByteArray &file, SpectrumCounts &counts,
                        QString &problem)
{
    switch (format) {
    case SpectrumFormat::Text:
        return ReadTextCounts(file, counts, problem);
    case SpectrumFormat::Spe:
        return ReadSpeCounts(file, counts, problem);
    case SpectrumFormat::N42:
        return ReadN42Counts(file, counts, problem);
    case SpectrumFormat::Csv:
        return ReadCsvCounts(file, counts, problem);
    case SpectrumFormat::Binary:
        break;
    }
    return ReadBinaryCounts(file, counts, problem);
}

QByteArray WriteSpectrumCounts(SpectrumFormat format, const SpectrumCounts &counts,
                               const SpectrumWriteInfo &info)
{
    switch (format) {
    case SpectrumFormat::Text:
        return WriteTextCounts(counts);
    case SpectrumFormat::Spe:
        return WriteSpeCounts(counts, info);
    case SpectrumFormat::N42:
        return WriteN42Counts(counts, info);
    case SpectrumFormat::Csv:
        return WriteCsvCounts(counts, info.Calibration);
    case SpectrumFormat::Binary:
        break;
    }
    return WriteBinaryCounts(counts);
}
