// Properties of the spectrum converter's SPE, N42 and CSV readers: a clear
// refusal, or counts and facts that survive every writer and reader that
// can hold them.

#include "tests/fuzz/FuzzProperties.h"

#include "interchange/Interchange.h"

#include <QByteArray>
#include <QDateTime>

namespace fuzzprops {

namespace {

// Inputs beyond this are passed over: the converter's limit is far larger,
// but nothing new is found by mutating megabytes.
constexpr size_t MaxInputBytes = 1 << 20;

Failures CheckReader(SpectrumFormat format, const char *what, const uint8_t *data, size_t size)
{
    Failures failures;
    if (size > MaxInputBytes)
        return failures;
    const QByteArray file(reinterpret_cast<const char *>(data), qsizetype(size));
    SpectrumCounts counts;
    QString problem;
    if (!ReadSpectrumCounts(format, file, counts, problem)) {
        if (problem.isEmpty())
            failures.push_back(std::string(what) + " refused without a message");
        if (problem.contains(QLatin1Char('\n')) || problem.contains(QLatin1Char('\r')))
            failures.push_back(std::string(what) + " message is not one line: " + problem.toStdString());
        return failures;
    }
    if (counts.empty() || counts.size() > MaxInterchangeChannels) {
        failures.push_back(std::string(what) + " read " + std::to_string(counts.size()) + " channels");
        return failures;
    }
    SpectrumFacts facts;
    ReadSpectrumCounts(format, file, counts, problem, &facts);
    SpectrumWriteInfo info;
    static_cast<SpectrumFacts &>(info) = facts;
    if (!info.Calibration.Known)
        info.Calibration = {true, -1.25, 0.5};
    if (!info.RealTime)
        info.RealTime = 600;
    if (!info.Start.isValid())
        info.Start = QDateTime(QDate(2024, 3, 14), QTime(9, 26, 53));
    info.Title = QStringLiteral("fuzz");
    for (SpectrumFormat f : {SpectrumFormat::Text, SpectrumFormat::Binary, SpectrumFormat::Spe,
                             SpectrumFormat::N42, SpectrumFormat::Csv}) {
        // The program's own formats hold 1024, 4096 or 16384 channels.
        if ((f == SpectrumFormat::Text || f == SpectrumFormat::Binary) && !IsSpectrumChannelCount(counts.size()))
            continue;
        SpectrumCounts again;
        SpectrumFacts back;
        QString why;
        const bool ok = ReadSpectrumCounts(f, WriteSpectrumCounts(f, counts, info), again, why, &back);
        if (!ok || again != counts) {
            failures.push_back(std::string(what) + " counts do not come back through format " +
                               std::to_string(int(f)) + (ok ? "" : ": " + why.toStdString()));
            continue;
        }
        // SPE and N42 keep the times and the calibration as they were read.
        if (f == SpectrumFormat::N42 || f == SpectrumFormat::Spe) {
            const bool bothTimes = info.RealTime && info.LiveTime;
            const bool timesBack = f == SpectrumFormat::Spe && !bothTimes
                                       ? !back.RealTime
                                       : back.RealTime == info.RealTime && back.LiveTime == info.LiveTime;
            const EnergyCalibration &a = info.Calibration, &b = back.Calibration;
            const bool calBack = b.Known && a.Offset == b.Offset && a.Gain == b.Gain && a.Quadratic == b.Quadratic &&
                                 a.Cubic == b.Cubic;
            if (!timesBack || !calBack)
                failures.push_back(std::string(what) + (timesBack ? " calibration" : " times") +
                                   " do not come back through format " + std::to_string(int(f)));
        }
    }
    return failures;
}

} // namespace

bool ConverterReads(bool text, const uint8_t *data, size_t size, std::vector<int32_t> &counts)
{
    const QByteArray file(reinterpret_cast<const char *>(data), qsizetype(size));
    QString problem;
    return text ? ReadTextCounts(file, counts, problem) : ReadBinaryCounts(file, counts, problem);
}

std::string ConverterWrites(bool text, const std::vector<int32_t> &counts)
{
    return (text ? WriteTextCounts(counts) : WriteBinaryCounts(counts)).toStdString();
}

Failures CheckSpeInput(const uint8_t *data, size_t size)
{
    return CheckReader(SpectrumFormat::Spe, "SPE", data, size);
}

Failures CheckN42Input(const uint8_t *data, size_t size)
{
    return CheckReader(SpectrumFormat::N42, "N42", data, size);
}

Failures CheckCsvInput(const uint8_t *data, size_t size)
{
    return CheckReader(SpectrumFormat::Csv, "CSV", data, size);
}

} // namespace fuzzprops
