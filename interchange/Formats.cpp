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
            const double whole = std::round(d);
            if (std::fabs(d - whole) > 1e-6) {
                why = QStringLiteral("count %1 is not a whole number").arg(Shown(token));
                return false;
            }
            d = whole;
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

QString InterchangeChannelCountProblem(const QString &what)
{
    return what + QStringLiteral("; a spectrum has 1 to %1 channels").arg(MaxChannels);
}

bool ParseNumber(QByteArrayView token, double &value)
{
    if (token.startsWith('+'))
        token = token.sliced(1);
    if (token.isEmpty())
        return false;
    const auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), value);
    return ec == std::errc() && end == token.data() + token.size() && std::isfinite(value);
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

std::vector<double> NumbersOf(QByteArrayView line)
{
    std::vector<double> out;
    TokenCursor tokens(line);
    double v;
    for (QByteArrayView t; tokens.Next(t) && out.size() < 16;) {
        if (!ParseNumber(t, v))
            break;
        out.push_back(v);
    }
    return out;
}

} // namespace

bool StartsWithSpeKeyword(QByteArrayView content)
{
    if (content.startsWith("\xEF\xBB\xBF"))
        content = content.sliced(3);
    qsizetype i = 0;
    while (i < content.size() && IsAsciiSpace(content[i]))
        ++i;
    if (i >= content.size() || content[i] != '$')
        return false;
    qsizetype k = i + 1;
    while (k < content.size() && ((content[k] >= 'A' && content[k] <= 'Z') || (content[k] >= 'a' && content[k] <= 'z') ||
                                  (content[k] >= '0' && content[k] <= '9') || content[k] == '_'))
        ++k;
    if (k == i + 1 || k >= content.size() || content[k] != ':')
        return false;
    for (++k; k < content.size() && content[k] != '\n'; ++k)
        if (content[k] != ' ' && content[k] != '\t' && content[k] != '\r')
            return false;
    return true;
}

SpectrumFormat SpectrumFormatOfFile(const QString &path, QByteArrayView content)
{
    const SpectrumFormat f = SpectrumFormatOfPath(path);
    if (f == SpectrumFormat::Spe && !StartsWithSpeKeyword(content))
        return SpectrumFormat::Binary;
    return f;
}

size_t ProgramChannelCount(size_t n)
{
    for (const int32_t c : DeviceChannelCounts)
        if (n <= size_t(c))
            return size_t(c);
    return 0;
}

QString N42MissingFact(const SpectrumFacts &info)
{
    if (!info.RealTime || !(*info.RealTime > 0))
        return QStringLiteral("--real-time SECONDS");
    if (!info.Start.isValid())
        return QStringLiteral("--start YYYY-MM-DDThh:mm:ss");
    return QString();
}

QString DurationText(double seconds)
{
    return QStringLiteral("PT") + QString::fromLatin1(ShortestDouble(seconds)) + QLatin1Char('S');
}

bool ParseDuration(QStringView text, double &seconds)
{
    // [-]P[nD][T[nH][nM][n.nS]]; years and months have no fixed length.
    const QByteArray t = text.trimmed().toLatin1();
    qsizetype i = 0;
    if (!t.startsWith('P'))
        return false;
    ++i;
    double total = 0;
    bool inTime = false, any = false;
    while (i < t.size()) {
        if (t[i] == 'T' && !inTime) {
            inTime = true;
            ++i;
            continue;
        }
        qsizetype k = i;
        while (k < t.size() && ((t[k] >= '0' && t[k] <= '9') || t[k] == '.'))
            ++k;
        if (k == i || k >= t.size())
            return false;
        double v;
        if (!ParseNumber(QByteArrayView(t).sliced(i, k - i), v))
            return false;
        const char unit = t[k];
        if (!inTime && unit == 'D')
            total += v * 86400;
        else if (inTime && unit == 'H')
            total += v * 3600;
        else if (inTime && unit == 'M')
            total += v * 60;
        else if (inTime && unit == 'S')
            total += v;
        else
            return false;
        any = true;
        i = k + 1;
    }
    if (!any || !std::isfinite(total))
        return false;
    seconds = total;
    return true;
}

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

EnergyCalibration CalibrationFromCoefficients(const std::vector<double> &coefficients)
{
    EnergyCalibration cal;
    if (coefficients.size() < 2 || !(coefficients[1] > 0))
        return cal;
    for (size_t k = 4; k < coefficients.size(); ++k)
        if (coefficients[k] != 0)
            return cal;
    cal.Known = true;
    cal.Offset = coefficients[0];
    cal.Gain = coefficients[1];
    cal.Quadratic = coefficients.size() > 2 ? coefficients[2] : 0;
    cal.Cubic = coefficients.size() > 3 ? coefficients[3] : 0;
    return cal;
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
    TextSpectrumDecoder decoder(MaxProgramChannels);
    decoder.Feed({reinterpret_cast<const uint8_t *>(file.constData()), size_t(file.size())});
    decoder.Finish();
    counts = decoder.Counts();
    if (decoder.MoreLines()) {
        problem = AtLine(MaxProgramChannels, QStringLiteral("more than %1 channel lines").arg(MaxProgramChannels));
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
// IAEA SPE: sections headed by "$KEYWORD:" lines. $DATA: is a line
// "first last" (first must be 0), then last - first + 1 counts, any number
// to a line, up to the next keyword or the end of the file. The facts are
// taken from $MEAS_TIM: (live real), $DATE_MEA: (mm/dd/yyyy hh:mm:ss) and
// $ENER_FIT: or $MCA_CAL:; a section that does not read is passed over.

namespace {

QDateTime SpeDate(QByteArrayView line)
{
    const QString text = QString::fromLatin1(line.trimmed());
    for (const char *format : {"MM/dd/yyyy hh:mm:ss", "M/d/yyyy h:mm:ss", "MM/dd/yyyy hh:mm", "yyyy-MM-dd hh:mm:ss",
                               "yyyy-MM-ddThh:mm:ss"}) {
        const QDateTime at = QDateTime::fromString(text, QLatin1String(format));
        if (at.isValid())
            return at;
    }
    return {};
}

} // namespace

bool ReadSpeCounts(const QByteArray &file, SpectrumCounts &counts, QString &problem, SpectrumFacts *facts)
{
    LineCursor line(file);
    counts.clear();
    SpectrumFacts found;
    EnergyCalibration mcaCal;
    bool haveData = false;
    while (!line.AtEnd() && line.Line().trimmed().isEmpty())
        line.Advance();
    if (!line.AtEnd() && !IsSpeKeyword(line.Line())) {
        problem = AtLine(line.Index(), QStringLiteral("'%1' where a $KEYWORD: line was expected").arg(Shown(line.Line())));
        return false;
    }
    while (!line.AtEnd()) {
        const QByteArrayView keyword = line.Line().trimmed();
        if (keyword == "$MEAS_TIM:" || keyword == "$DATE_MEA:" || keyword == "$ENER_FIT:" || keyword == "$MCA_CAL:") {
            line.Advance();
            if (line.AtEnd() || IsSpeKeyword(line.Line()))
                continue;
            if (keyword == "$MEAS_TIM:") {
                const std::vector<double> t = NumbersOf(line.Line());
                if (t.size() >= 2 && t[0] >= 0 && t[1] > 0) {
                    found.LiveTime = t[0];
                    found.RealTime = t[1];
                }
            } else if (keyword == "$DATE_MEA:") {
                found.Start = SpeDate(line.Line());
            } else if (keyword == "$ENER_FIT:") {
                found.Calibration = CalibrationFromCoefficients(NumbersOf(line.Line()));
            } else {
                line.Advance(); // the number of coefficients
                if (!line.AtEnd() && !IsSpeKeyword(line.Line()))
                    mcaCal = CalibrationFromCoefficients(NumbersOf(line.Line()));
            }
            continue;
        }
        if (keyword != "$DATA:") {
            line.Advance();
            continue;
        }
        if (haveData) {
            problem = AtLine(line.Index(), QStringLiteral("a second $DATA: section"));
            return false;
        }
        haveData = true;
        const size_t keywordLine = line.Index();
        line.Advance();
        if (line.AtEnd() || IsSpeKeyword(line.Line())) {
            problem = AtLine(keywordLine, QStringLiteral("$DATA: has no channel range line"));
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
        if (channels < 1 || !IsInterchangeChannelCount(size_t(channels))) {
            problem = AtLine(line.Index(), InterchangeChannelCountProblem(QStringLiteral("channels 0..%1 are %2").arg(last).arg(std::max<int64_t>(channels, 0))));
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
    if (!found.Calibration.Known)
        found.Calibration = mcaCal;
    if (facts)
        *facts = found;
    return true;
}

QByteArray WriteSpeCounts(const SpectrumCounts &counts, const SpectrumWriteInfo &info)
{
    QByteArray out;
    out.reserve(qsizetype(counts.size()) * 10 + 512);
    QString title = info.Title;
    title.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    out += "$SPEC_ID:\r\n" + title.toUtf8() + "\r\n";
    out += "$SPEC_REM:\r\nryv_demo " RYV_VERSION "\r\n";
    // Only what is known is stated: a section without its fact is left out.
    if (info.Start.isValid())
        out += "$DATE_MEA:\r\n" + info.Start.toLocalTime().toString(QStringLiteral("MM/dd/yyyy hh:mm:ss")).toLatin1() + "\r\n";
    if (info.RealTime && info.LiveTime)
        out += "$MEAS_TIM:\r\n" + ShortestDouble(*info.LiveTime) + ' ' + ShortestDouble(*info.RealTime) + "\r\n";
    out += "$DATA:\r\n0 " + QByteArray::number(qsizetype(counts.size()) - 1) + "\r\n";
    char line[32];
    for (int32_t v : counts) {
        const int n = std::snprintf(line, sizeof line, "%8d\r\n", int(v));
        out.append(line, n);
    }
    if (const EnergyCalibration &cal = info.Calibration; cal.Known) {
        const QByteArray a = ShortestDouble(cal.Offset);
        const QByteArray b = ShortestDouble(cal.Gain);
        // $ENER_FIT: is a straight line; $MCA_CAL: holds every term.
        if (cal.Linear())
            out += "$ENER_FIT:\r\n" + a + ' ' + b + "\r\n";
        QByteArray terms = a + ' ' + b;
        int n = 2;
        if (!cal.Linear()) {
            terms += ' ' + ShortestDouble(cal.Quadratic);
            ++n;
        }
        if (cal.Cubic != 0) {
            terms += ' ' + ShortestDouble(cal.Cubic);
            ++n;
        }
        out += "$MCA_CAL:\r\n" + QByteArray::number(n) + "\r\n" + terms + " keV\r\n";
    }
    return out;
}

// ---------------------------------------------------------------------------
// CSV: one row per channel, channels 0, 1, 2, ... in order. Fields are
// separated by semicolons, tabs, commas or spaces (the first of those the
// first row holds, in that order; with semicolons and tabs a decimal comma
// is taken too); '#' starts a comment line. An optional header names
// the columns (channel, energy, counts in any order); without one, a row of
// one field is the counts, of two channel and counts, of three channel,
// energy and counts. An energy column that is a straight line in the
// channel is the calibration.

namespace {

enum class CsvColumn { Other, Channel, Energy, Counts };

CsvColumn CsvColumnOf(QByteArrayView name)
{
    QByteArray n = name.trimmed().toByteArray().toLower();
    n.replace('"', "");
    const qsizetype paren = n.indexOf('(');
    const qsizetype under = n.indexOf('_');
    const qsizetype cut = paren >= 0 ? paren : under;
    const QByteArray word = (cut >= 0 ? n.first(cut) : n).trimmed();
    if (word == "channel" || word == "channels" || word == "chan" || word == "ch" || word == "bin")
        return CsvColumn::Channel;
    if (word == "energy" || word == "e" || word == "kev")
        return CsvColumn::Energy;
    if (word == "counts" || word == "count" || word == "data" || word == "cts" || word == "cnt" || word == "y")
        return CsvColumn::Counts;
    return CsvColumn::Other;
}

// The fields of a row; a run of spaces is one separator.
std::vector<QByteArrayView> CsvFieldsAsIs(QByteArrayView row, char sep)
{
    std::vector<QByteArrayView> out;
    if (sep == ' ') {
        TokenCursor tokens(row);
        for (QByteArrayView t; tokens.Next(t) && out.size() < 64;)
            out.push_back(t);
        return out;
    }
    while (out.size() < 64) {
        const qsizetype at = row.indexOf(sep);
        out.push_back((at < 0 ? row : row.first(at)).trimmed());
        if (at < 0)
            break;
        row = row.sliced(at + 1);
    }
    return out;
}

// The fields of a row, where a field with a decimal comma becomes the same
// number with a point (unless commas separate); storage holds the rewritten
// fields. A semicolon or a tab separates before a comma: files that
// separate by them often write decimal commas.
std::vector<QByteArrayView> CsvFields(QByteArrayView row, char sep, std::vector<QByteArray> &storage)
{
    std::vector<QByteArrayView> out = CsvFieldsAsIs(row, sep);
    if (sep == ',')
        return out;
    storage.clear();
    storage.reserve(out.size());
    for (QByteArrayView &f : out)
        if (f.contains(',')) {
            storage.push_back(f.toByteArray().replace(',', '.'));
            f = storage.back();
        }
    return out;
}

char CsvSeparator(QByteArrayView row)
{
    for (char c : {';', '\t', ','})
        if (row.contains(c))
            return c;
    return ' ';
}

bool CsvComment(QByteArrayView row) { return row.trimmed().isEmpty() || row.trimmed().startsWith('#'); }

} // namespace

bool ReadCsvCounts(const QByteArray &file, SpectrumCounts &counts, QString &problem, SpectrumFacts *facts)
{
    LineCursor line(file);
    counts.clear();
    while (!line.AtEnd() && CsvComment(line.Line()))
        line.Advance();
    if (line.AtEnd()) {
        problem = QStringLiteral("empty; rows of counts were expected");
        return false;
    }
    const char sep = CsvSeparator(line.Line());
    std::vector<QByteArray> rewritten;
    int channelAt = -1, energyAt = -1, countsAt = -1;
    size_t columns = 0;
    {
        const std::vector<QByteArrayView> first = CsvFields(line.Line(), sep, rewritten);
        columns = first.size();
        double v;
        bool header = false;
        for (QByteArrayView f : first)
            header = header || !ParseNumber(f, v);
        if (header) {
            for (size_t k = 0; k < first.size(); ++k) {
                int *at = nullptr;
                switch (CsvColumnOf(first[k])) {
                case CsvColumn::Channel: at = &channelAt; break;
                case CsvColumn::Energy: at = &energyAt; break;
                case CsvColumn::Counts: at = &countsAt; break;
                case CsvColumn::Other: break;
                }
                if (at && *at < 0)
                    *at = int(k);
            }
            if (countsAt < 0) {
                problem = AtLine(line.Index(), QStringLiteral("header '%1' names no counts column").arg(Shown(line.Line())));
                return false;
            }
            line.Advance();
        } else if (columns == 1) {
            countsAt = 0;
        } else if (columns == 2) {
            channelAt = 0, countsAt = 1;
        } else if (columns == 3) {
            channelAt = 0, energyAt = 1, countsAt = 2;
        } else {
            problem = AtLine(line.Index(), QStringLiteral("%1 fields and no header naming the columns").arg(columns));
            return false;
        }
    }
    std::vector<double> energies; // one a row, where there is an energy column
    for (; !line.AtEnd(); line.Advance()) {
        if (CsvComment(line.Line()))
            continue;
        const size_t i = line.Index();
        const size_t channel = counts.size();
        if (channel >= MaxChannels) {
            problem = AtLine(i, QStringLiteral("more than %1 channel rows").arg(MaxChannels));
            return false;
        }
        const std::vector<QByteArrayView> fields = CsvFields(line.Line(), sep, rewritten);
        if (fields.size() != columns) {
            problem = AtLine(i, QStringLiteral("%1 fields where the first row has %2").arg(fields.size()).arg(columns));
            return false;
        }
        int32_t v;
        QString why;
        if (channelAt >= 0) {
            double ch = -1;
            if (!ParseNumber(fields[size_t(channelAt)], ch) || ch != double(channel)) {
                problem = AtLine(i, QStringLiteral("channel '%1' where %2 was expected").arg(Shown(fields[size_t(channelAt)]), QString::number(channel)));
                return false;
            }
        }
        if (energyAt >= 0) {
            double e = 0;
            if (!ParseNumber(fields[size_t(energyAt)], e)) {
                problem = AtLine(i, QStringLiteral("energy '%1' is not a number").arg(Shown(fields[size_t(energyAt)])));
                return false;
            }
            energies.push_back(e);
        }
        if (!ParseCount(fields[size_t(countsAt)], true, v, why)) {
            problem = AtLine(i, why);
            return false;
        }
        counts.push_back(v);
    }
    if (counts.empty()) {
        problem = QStringLiteral("no rows of counts");
        return false;
    }
    if (facts) {
        *facts = SpectrumFacts();
        if (energies.size() >= 2) {
            const double e0 = energies.front();
            const double gain = (energies.back() - e0) / double(energies.size() - 1);
            bool line = gain > 0;
            for (size_t c = 0; line && c < energies.size(); ++c)
                line = std::fabs(energies[c] - (e0 + gain * double(c))) <= 1e-6 * std::max(1.0, std::fabs(energies[c]));
            if (line)
                facts->Calibration = {true, e0, gain};
        }
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
            out += ShortestDouble(calibration.At(double(c))) + ',';
        out += QByteArray::number(counts[c]) + "\r\n";
    }
    return out;
}

// ---------------------------------------------------------------------------

bool ReadSpectrumCounts(SpectrumFormat format, const QByteArray &file, SpectrumCounts &counts,
                        QString &problem, SpectrumFacts *facts)
{
    if (facts)
        *facts = SpectrumFacts();
    switch (format) {
    case SpectrumFormat::Text:
        return ReadTextCounts(file, counts, problem);
    case SpectrumFormat::Spe:
        return ReadSpeCounts(file, counts, problem, facts);
    case SpectrumFormat::N42:
        return ReadN42Counts(file, counts, problem, facts);
    case SpectrumFormat::Csv:
        return ReadCsvCounts(file, counts, problem, facts);
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
