// Properties of the spectrum converter's SPE and N42 readers: a clear
// refusal, or counts that survive every writer and reader.

#include "tests/fuzz/FuzzProperties.h"

#include "interchange/Interchange.h"

#include <QByteArray>

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
    if (!IsSpectrumChannelCount(counts.size())) {
        failures.push_back(std::string(what) + " read " + std::to_string(counts.size()) + " channels");
        return failures;
    }
    SpectrumWriteInfo info;
    info.Calibration = {true, -1.25, 0.5};
    info.Title = QStringLiteral("fuzz");
    for (SpectrumFormat f : {SpectrumFormat::Text, SpectrumFormat::Binary, SpectrumFormat::Spe,
                             SpectrumFormat::N42, SpectrumFormat::Csv}) {
        SpectrumCounts again;
        QString why;
        const bool ok = ReadSpectrumCounts(f, WriteSpectrumCounts(f, counts, info), again, why);
        if (!ok || again != counts)
            failures.push_back(std::string(what) + " counts do not come back through format " +
                               std::to_string(int(f)) + (ok ? "" : ": " + why.toStdString()));
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

} // namespace fuzzprops
