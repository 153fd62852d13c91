// The file-to-file spectrum converter: settings, input, output.

#include "interchange/InterchangeParsing.h"
#include "interchange/Interchange.h"

#include "files/FileReplace.h"
#include "core/Uryv.h"

#include <QDateTime>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

QString PathFromBytes(QByteArrayView bytes)
{
    QString out;
    out.reserve(bytes.size());
    const auto *b = reinterpret_cast<const unsigned char *>(bytes.data());
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n;) {
        const unsigned char c = b[i];
        int len = 0;
        char32_t cp = 0, min = 0;
        if (c < 0x80)
            len = 1, cp = c;
        else if (c >= 0xC2 && c < 0xE0)
            len = 2, cp = c & 0x1F, min = 0x80;
        else if (c >= 0xE0 && c < 0xF0)
            len = 3, cp = c & 0x0F, min = 0x800;
        else if (c >= 0xF0 && c < 0xF5)
            len = 4, cp = c & 0x07, min = 0x10000;
        bool ok = len > 0 && i + len <= n;
        for (int k = 1; ok && k < len; ++k) {
            ok = (b[i + k] & 0xC0) == 0x80;
            cp = (cp << 6) | (b[i + k] & 0x3F);
        }
        ok = ok && cp >= min && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
        if (!ok) {
            out.append(QChar(char16_t(0xDC00 + c)));
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            out.append(QChar(char16_t(0xD800 + ((cp - 0x10000) >> 10))));
            out.append(QChar(char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF))));
        } else {
            out.append(QChar(char16_t(cp)));
        }
        i += len;
    }
    return out;
}

QByteArray PathBytes(const QString &path)
{
    QByteArray out;
    out.reserve(path.size());
    for (qsizetype i = 0; i < path.size(); ++i) {
        const char16_t u = path[i].unicode();
        char32_t cp = u;
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < path.size() && path[i + 1].unicode() >= 0xDC00 &&
            path[i + 1].unicode() < 0xE000) {
            cp = 0x10000 + ((char32_t(u) - 0xD800) << 10) + (path[i + 1].unicode() - 0xDC00);
            ++i;
        } else if (u >= 0xDC80 && u < 0xDD00) {
            out.append(char(u - 0xDC00)); // a byte that was not UTF-8
            continue;
        } else if (u >= 0xD800 && u < 0xE000) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.append(char(cp));
        } else if (cp < 0x800) {
            out.append(char(0xC0 | (cp >> 6)));
            out.append(char(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.append(char(0xE0 | (cp >> 12)));
            out.append(char(0x80 | ((cp >> 6) & 0x3F)));
            out.append(char(0x80 | (cp & 0x3F)));
        } else {
            out.append(char(0xF0 | (cp >> 18)));
            out.append(char(0x80 | ((cp >> 12) & 0x3F)));
            out.append(char(0x80 | ((cp >> 6) & 0x3F)));
            out.append(char(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

namespace {

QString SystemReason(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

// Opens path for reading only if it is a regular file; -1 with why set
// otherwise. st receives its status.
int OpenRegularFile(const QString &path, struct stat &st, QString &why)
{
    const QByteArray name = PathBytes(path); // freed only after errno is read
    const int fd = OpenRegularFileForReading(name.constData(), st);
    if (fd < 0)
        why = errno != 0            ? SystemReason(errno)
              : S_ISDIR(st.st_mode) ? QStringLiteral("is a folder")
                                    : QStringLiteral("not a regular file");
    return fd;
}

// Reads up to limit bytes of fd into a buffer of just that size; false with
// err set on a read error.
bool ReadAll(int fd, qint64 limit, QByteArray &bytes, int &err)
{
    bytes.resize(qsizetype(limit));
    bool failed = false;
    const size_t got = ReadUpTo(fd, bytes.data(), size_t(limit), failed);
    if (failed) {
        err = errno;
        return false;
    }
    bytes.truncate(qsizetype(got));
    return true;
}

// The calibration of the settings file at path: false with problem set when
// the file cannot be read whole.
bool CalibrationFromFile(const QString &path, EnergyCalibration &cal, QString &problem)
{
    struct stat st {};
    QString why;
    const int fd = OpenRegularFile(path, st, why);
    if (fd < 0) {
        problem = QStringLiteral("%1: settings file cannot be opened: %2").arg(path, why);
        return false;
    }
    QByteArray bytes;
    int err = 0;
    const bool read = ReadAll(fd, sizeof(SettingsRecord), bytes, err);
    ::close(fd);
    if (!read) {
        problem = QStringLiteral("%1: settings file cannot be read: %2").arg(path, SystemReason(err));
        return false;
    }
    if (bytes.size() != qsizetype(sizeof(SettingsRecord))) {
        problem = QStringLiteral("%1: settings file holds %2 bytes; a settings record has %3")
                      .arg(path, QString::number(bytes.size()), QString::number(sizeof(SettingsRecord)));
        return false;
    }
    SettingsRecord r;
    std::memcpy(&r, bytes.constData(), sizeof r);
    SanitizeSettings(r);
    cal = CalibrationFromSettings(r);
    return true;
}

// Why a replacement of a file failed, as the converter and the window's
// exchange formats say it.
QString ReplaceProblem(const ReplaceOutcome &o)
{
    switch (o.refusal) {
    case ReplaceRefusal::NotARegularFile:
        return QStringLiteral("not a regular file");
    case ReplaceRefusal::WriteProtected:
        return QStringLiteral("the file is write-protected");
    case ReplaceRefusal::None:
        break;
    }
    return SystemReason(o.error);
}

// The steps of reading a spectrum file whole, as far as one failed.
enum class ReadStep { None, Open, Size, Read };

struct ReadOutcome {
    ReadStep failed = ReadStep::None;
    QString why;     // Open, Read: what went wrong
    qint64 size = 0; // Size: the bytes the file holds
};

// Reads the regular file at path whole when it holds at most
// MaxInterchangeFileBytes.
ReadOutcome ReadWholeFile(const QString &path, QByteArray &bytes)
{
    ReadOutcome o;
    struct stat st {};
    const int fd = OpenRegularFile(path, st, o.why);
    if (fd < 0) {
        o.failed = ReadStep::Open;
        return o;
    }
    o.size = qint64(st.st_size);
    if (o.size > MaxInterchangeFileBytes) {
        ::close(fd);
        o.failed = ReadStep::Size;
        return o;
    }
    int err = 0;
    const bool read = ReadAll(fd, o.size, bytes, err);
    ::close(fd);
    if (!read) {
        o.failed = ReadStep::Read;
        o.why = SystemReason(err);
    }
    return o;
}

// Reads the file in whole; false with errorLine set.
bool ReadInput(const QString &in, QByteArray &bytes, QString &errorLine)
{
    const ReadOutcome o = ReadWholeFile(in, bytes);
    switch (o.failed) {
    case ReadStep::None:
        return true;
    case ReadStep::Open:
        errorLine = QStringLiteral("%1: cannot be opened: %2").arg(in, o.why);
        break;
    case ReadStep::Size:
        errorLine = QStringLiteral("%1: %2 bytes; a spectrum file this converter reads has at most %3")
                        .arg(in, QString::number(o.size), QString::number(MaxInterchangeFileBytes));
        break;
    case ReadStep::Read:
        errorLine = QStringLiteral("%1: cannot be read: %2").arg(in, o.why);
        break;
    }
    return false;
}

int Convert(const QString &in, const QString &out, const QString &settingsPath, const SpectrumFacts &given,
            QString &errorLine, QString &note, int spectrum)
{
    errorLine.clear();
    note.clear();
    EnergyCalibration cal;
    struct stat found {};
    const QString settings = !settingsPath.isEmpty()                            ? settingsPath
                             : ::stat(SettingsFileName, &found) == 0  ? QString::fromLatin1(SettingsFileName)
                                                                             : QString();
    if (!settings.isEmpty() && !CalibrationFromFile(settings, cal, errorLine))
        return 2;

    QByteArray bytes;
    if (!ReadInput(in, bytes, errorLine))
        return 2;

    SpectrumCounts counts;
    SpectrumFacts facts;
    QString problem;
    const SpectrumFormat inFormat = SpectrumFormatOfFile(in, bytes);
    bool parsed;
    if (inFormat == SpectrumFormat::N42) {
        parsed = ReadN42Spectra(bytes, spectrum, counts, &facts, nullptr, problem);
    } else {
        parsed = ReadSpectrumCounts(inFormat, bytes, counts, problem, &facts);
        if (parsed && spectrum > 1) {
            parsed = false;
            problem = QStringLiteral("no spectrum %1; the file holds 1").arg(spectrum);
        }
    }
    bytes = QByteArray(); // the input's memory is not needed for the output
    if (!parsed) {
        errorLine = QStringLiteral("%1: %2").arg(in, problem);
        return 2;
    }

    // The input's facts first; the command line supplies those it lacks, the
    // settings' calibration serves an input without one.
    SpectrumWriteInfo info;
    static_cast<SpectrumFacts &>(info) = facts;
    if (!info.RealTime)
        info.RealTime = given.RealTime;
    if (!info.LiveTime)
        info.LiveTime = given.LiveTime;
    if (!info.Start.isValid())
        info.Start = given.Start;
    if (!info.Calibration.Known)
        info.Calibration = cal;
    const qsizetype slash = in.lastIndexOf(QLatin1Char('/'));
    info.Title = slash < 0 ? in : in.mid(slash + 1);

    const SpectrumFormat outFormat = SpectrumFormatOfPath(out);
    if (outFormat == SpectrumFormat::N42) {
        const QString missing = N42MissingFact(info);
        if (!missing.isEmpty()) {
            errorLine = QStringLiteral("%1: N42 needs the %2 of the measurement, which %3 does not state; add %4")
                            .arg(out, missing.startsWith(QLatin1String("--real")) ? QStringLiteral("real time")
                                                                                   : QStringLiteral("start"),
                                 in, missing);
            return 2;
        }
    }
    if (outFormat == SpectrumFormat::Text || outFormat == SpectrumFormat::Binary) {
        const size_t length = ProgramChannelCount(counts.size());
        if (length == 0) {
            errorLine = QStringLiteral("%1: %2 channels; the program's formats hold at most 16384")
                            .arg(in, QString::number(counts.size()));
            return 2;
        }
        if (length != counts.size()) {
            note = QStringLiteral("%1: %2 channels padded with zeros to %3")
                       .arg(in, QString::number(counts.size()), QString::number(length));
            counts.resize(length, 0);
        }
    }
    const QByteArray result = WriteSpectrumCounts(outFormat, counts, info);

    // An existing out is replaced only as the program's own save would
    // replace it (a write-protected file stays as it is, even for root), but
    // never written in place: on any failure out stays as it was.
    const ReplaceOutcome o =
        ReplaceFileContents(PathBytes(out).toStdString(), {result.constData(), size_t(result.size())}, {});
    if (!o.Succeeded()) {
        errorLine = (o.failed == ReplaceStep::Create ? QStringLiteral("%1: cannot be created: %2")
                                                     : QStringLiteral("%1: cannot be written: %2"))
                        .arg(out, ReplaceProblem(o));
        return 2;
    }
    return 0;
}

} // namespace

bool ReadSpectrumFileBytes(const QString &path, QByteArray &bytes, QString &why)
{
    const ReadOutcome o = ReadWholeFile(path, bytes);
    if (o.failed == ReadStep::Size)
        why = QStringLiteral("%1 bytes; a spectrum file has at most %2")
                  .arg(QString::number(o.size), QString::number(MaxInterchangeFileBytes));
    else if (o.failed != ReadStep::None)
        why = o.why;
    return o.failed == ReadStep::None;
}

bool ReplaceSpectrumFile(const QString &path, const QByteArray &data, QString &why)
{
    const ReplaceOutcome o =
        ReplaceFileContents(PathBytes(path).toStdString(), {data.constData(), size_t(data.size())}, {});
    if (!o.Succeeded())
        why = ReplaceProblem(o);
    return o.Succeeded();
}

int ConvertSpectrumFile(const QString &in, const QString &out, const QString &settingsPath,
                        QString &errorLine)
{
    return ConvertSpectrumFile(in, out, settingsPath, SpectrumFacts(), errorLine);
}

int ConvertSpectrumFile(const QString &in, const QString &out, const QString &settingsPath,
                        const SpectrumFacts &given, QString &errorLine, QString *note, int spectrum)
{
    QString padded;
    const int rc = Convert(in, out, settingsPath, given, errorLine, padded, spectrum);
    if (note)
        *note = rc == 0 ? interchange_detail::OneLine(padded) : QString();
    // File names and system messages may hold line ends: the report stays
    // one line.
    errorLine = interchange_detail::OneLine(errorLine);
    return rc;
}

int ListSpectrumFile(const QString &in, QString &listing, QString &errorLine)
{
    listing.clear();
    errorLine.clear();
    QByteArray bytes;
    if (!ReadInput(in, bytes, errorLine)) {
        errorLine = interchange_detail::OneLine(errorLine);
        return 2;
    }
    std::vector<SpectrumEntry> entries;
    SpectrumCounts counts;
    QString problem;
    const SpectrumFormat format = SpectrumFormatOfFile(in, bytes);
    bool parsed;
    if (format == SpectrumFormat::N42) {
        parsed = ReadN42Spectra(bytes, -1, counts, nullptr, &entries, problem);
    } else {
        SpectrumEntry e;
        parsed = ReadSpectrumCounts(format, bytes, counts, problem, &e.Facts);
        e.Index = 1;
        e.Class = QStringLiteral("foreground");
        e.Channels = counts.size();
        entries.push_back(e);
    }
    if (!parsed) {
        errorLine = interchange_detail::OneLine(QStringLiteral("%1: %2").arg(in, problem));
        return 2;
    }
    auto shown = [](const QString &s) { return s.isEmpty() ? QStringLiteral("-") : interchange_detail::OneLine(s); };
    auto time = [](const std::optional<double> &t) {
        return t ? QString::fromLatin1(ShortestDouble(*t)) + QStringLiteral(" s") : QStringLiteral("-");
    };
    for (const SpectrumEntry &e : entries)
        listing += QStringLiteral("%1\tmeasurement %2\tspectrum %3\tdetector %4\t%5\t%6 channels\treal %7\tlive %8\n")
                       .arg(QString::number(e.Index), shown(e.Measurement), shown(e.Id), shown(e.Detector), e.Class,
                            QString::number(e.Channels), time(e.Facts.RealTime), time(e.Facts.LiveTime));
    return 0;
}
