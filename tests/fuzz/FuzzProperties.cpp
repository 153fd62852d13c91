// Properties of the settings loader, the spectrum readers and writers and
// the analysis that runs on what they load.

#include "tests/fuzz/FuzzProperties.h"

#include "analysis/Analysis.h"
#include "files/SpectrumCodec.h"
#include "files/SpektrFiles.h"
#include "core/Uryv.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <tuple>

#include <fcntl.h>
#include <unistd.h>

namespace fuzzprops {

namespace {

constexpr int32_t FilledCount = 0x01010101; // every channel after the fill
constexpr size_t MaxFailures = 8;            // enough to see what broke
constexpr double LoadSecondsLimit = 1.0;

class Checker {
public:
    void Expect(bool ok, const std::string &what)
    {
        if (!ok && failures_.size() < MaxFailures)
            failures_.push_back(what);
    }
    bool Ok() const { return failures_.empty(); }
    Failures Take() { return std::move(failures_); }

private:
    Failures failures_;
};

std::string Str(int64_t v) { return std::to_string(v); }

// The directory's name, kept where the exit handler can still read it after
// the static strings are gone.
char scratchName[4096];

const char *const ScratchFiles[] = {"RYV_travok.CFG", "in.txt", "in.spe", "out.txt", "out.spe"};

void RemoveScratch()
{
    char path[4200];
    for (const char *name : ScratchFiles) {
        std::snprintf(path, sizeof path, "%s/%s", scratchName, name);
        ::unlink(path);
    }
    ::rmdir(scratchName);
}

std::string MakeScratchDir()
{
    const char *base = std::getenv("TMPDIR");
    std::snprintf(scratchName, sizeof scratchName, "%s/ryv_fuzz.XXXXXX", base && *base ? base : "/tmp");
    if (!::mkdtemp(scratchName)) {
        std::perror("mkdtemp");
        std::abort();
    }
    std::atexit(RemoveScratch);
    return scratchName;
}

std::string ScratchPath(const char *name) { return ScratchDir() + "/" + name; }

void WriteFileOrDie(const std::string &path, const uint8_t *data, size_t size)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::perror(path.c_str());
        std::abort();
    }
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n <= 0) {
            std::perror(path.c_str());
            std::abort();
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    ::close(fd);
}

std::vector<uint8_t> ReadFileOrEmpty(const std::string &path)
{
    std::vector<uint8_t> out;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return out;
    uint8_t buf[65536];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0)
        out.insert(out.end(), buf, buf + n);
    ::close(fd);
    return out;
}

// A memory pattern with no two neighbouring channels alike, different per
// salt, so that a stray write or a lost one shows.
uint8_t PatternByte(uint32_t offset, uint32_t salt)
{
    uint32_t x = offset * 2654435761u ^ (salt * 0x9E3779B9u);
    x ^= x >> 15;
    x *= 0x2C1B3C6Du;
    x ^= x >> 12;
    return static_cast<uint8_t>(x);
}

void FillPattern(uint32_t salt)
{
    for (uint32_t i = 0; i < DataMemorySize; ++i)
        DataMemory[i] = PatternByte(i, salt);
}

// The memory image that writing `written` into `before` through the core's
// channel access gives.
std::vector<uint8_t> MemoryAfterWrites(const std::vector<uint8_t> &before, int32_t input,
                                       const std::vector<int32_t> &written)
{
    const std::vector<uint8_t> now(DataMemory, DataMemory + DataMemorySize);
    std::memcpy(DataMemory, before.data(), DataMemorySize);
    for (size_t c = 0; c < written.size(); ++c)
        WriteChannel(static_cast<int32_t>(c), input, written[c]);
    std::vector<uint8_t> out(DataMemory, DataMemory + DataMemorySize);
    std::memcpy(DataMemory, now.data(), DataMemorySize);
    return out;
}

// Offsets that reading a spectrum into the configured input may change: the
// planes of its channels 0..ChannelCount-1, as PlaneOffset places them.
const std::vector<bool> &WritableOffsets(const ReaderConfig &cfg)
{
    static std::map<std::tuple<int32_t, int32_t, int32_t, int32_t>, std::vector<bool>> cache;
    auto key = std::make_tuple(cfg.InterfaceKind, cfg.InputCount, cfg.ChannelCount, cfg.Input);
    auto it = cache.find(key);
    if (it != cache.end())
        return it->second;
    std::vector<bool> mask(DataMemorySize, false);
    for (int32_t c = 0; c < cfg.ChannelCount; ++c)
        for (int k = 0; k < 4; ++k) {
            const int32_t off = PlaneOffset(c, cfg.Input, k);
            if (off >= 0 && off < DataMemorySize)
                mask[static_cast<size_t>(off)] = true;
        }
    return cache.emplace(key, std::move(mask)).first->second;
}

void UseConfig(const ReaderConfig &cfg)
{
    ResetCoreState();
    ResetAnalysisState();
    Settings = DefaultSettings();
    Settings.InterfaceKind = cfg.InterfaceKind;
    Settings.InputCount = cfg.InputCount;
    Settings.ChannelCount = cfg.ChannelCount;
    Settings.ViewWidth = static_cast<uint16_t>(cfg.ChannelCount);
    DataFromMemory = 1;
}

// The memory outside the input's planes is untouched, and the whole memory
// is what writing channels 0, 1, ... of `written` into `before` gives: the
// reader stored those counts and nothing else.
void CheckMemoryAfterRead(Checker &ck, const ReaderConfig &cfg, const std::vector<uint8_t> &before,
                          const std::vector<int32_t> &written)
{
    const std::vector<bool> &mask = WritableOffsets(cfg);
    size_t strays = 0;
    int64_t firstStray = -1;
    for (size_t i = 0; i < DataMemorySize; ++i)
        if (!mask[i] && DataMemory[i] != before[i]) {
            ++strays;
            if (firstStray < 0)
                firstStray = static_cast<int64_t>(i);
        }
    ck.Expect(strays == 0, "reading changed " + Str(static_cast<int64_t>(strays)) +
                               " bytes outside the input's planes, first at offset " + Str(firstStray));

    const std::vector<uint8_t> shadow = MemoryAfterWrites(before, cfg.Input, written);
    size_t diffs = 0;
    int64_t firstDiff = -1;
    for (size_t i = 0; i < DataMemorySize; ++i)
        if (DataMemory[i] != shadow[i]) {
            ++diffs;
            if (firstDiff < 0)
                firstDiff = static_cast<int64_t>(i);
        }
    ck.Expect(diffs == 0, "memory differs from the expected writes in " +
                              Str(static_cast<int64_t>(diffs)) + " bytes, first at offset " +
                              Str(firstDiff));
}

std::string Describe(const ReaderConfig &cfg)
{
    return "interface " + Str(cfg.InterfaceKind) + ", " + Str(cfg.InputCount) + " inputs, " +
           Str(cfg.ChannelCount) + " channels, input " + Str(cfg.Input);
}

// ---------------------------------------------------------------------------
// Settings

bool SameBytes(const SettingsRecord &a, const SettingsRecord &b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

std::string FirstDifferingByte(const SettingsRecord &a, const SettingsRecord &b)
{
    const auto *pa = reinterpret_cast<const uint8_t *>(&a);
    const auto *pb = reinterpret_cast<const uint8_t *>(&b);
    for (size_t i = 0; i < sizeof a; ++i)
        if (pa[i] != pb[i])
            return "offset " + Str(static_cast<int64_t>(i));
    return "none";
}

// Integral as the region statistics define it, summed in 64 bits, for a
// channel range where every channel reads count(i).
template <class CountFn>
int64_t ReferenceIntegral(int32_t m1, int32_t m2, int32_t channels, CountFn count)
{
    int64_t sum = 0;
    auto run = [&](int64_t lo, int64_t hi) {
        for (int64_t i = std::max<int64_t>(lo, 0); i <= std::min<int64_t>(hi, channels - 1); ++i)
            sum += count(static_cast<int32_t>(i));
    };
    if (m1 <= m2) {
        run(m1, m2);
    } else {
        run(m1, channels - 1);
        run(0, m2);
    }
    return sum;
}

// Column heights as the plot reduction defines them, in 64 bits; channels
// beyond the last one count 0 (the view may show past the end when it is
// narrower than 512 channels).
template <class CountFn>
std::array<int64_t, PlotColumns> ReferenceColumns(int32_t first, int32_t width, int32_t scale,
                                                  int32_t channels, CountFn count)
{
    auto at = [&](int64_t c) -> int64_t { return c >= 0 && c < channels ? count(int32_t(c)) : 0; };
    std::array<int64_t, PlotColumns> h{};
    if (width > 512) {
        const int64_t k = width / 512;
        for (int64_t i = 0; i < 512; ++i) {
            int64_t s = 0;
            for (int64_t j = 0; j < k; ++j)
                s += at(first + i * k + j);
            h[size_t(i)] = ((s * 300) / k) / scale;
        }
    } else if (width == 512) {
        for (int64_t i = 0; i < 512; ++i)
            h[size_t(i)] = (at(first + i) * 300) / scale;
    } else {
        const int64_t b = 512 / width;
        for (int64_t i = 0; i < 512; ++i)
            h[size_t(i)] = i % b == 0 ? (at(first + i / b) * 300) / scale : 0;
    }
    return h;
}

int64_t ClampInt32(int64_t v) { return std::clamp<int64_t>(v, INT32_MIN, INT32_MAX); }

// Runs every analysis the first refresh and the measurement menu run, for
// one input, and checks the general properties that hold for any counts.
template <class CountFn>
void AnalyseInput(Checker &ck, int32_t input, const char *phase, CountFn count)
{
    const SettingsRecord &s = Settings;
    const std::string where = std::string(phase) + ", input " + Str(input) + ": ";
    const int32_t channels = s.ChannelCount;

    const int64_t integral = Integral(input);
    const int64_t refIntegral = ReferenceIntegral(s.Marker[0], s.Marker[1], channels, count);
    ck.Expect(integral == refIntegral, where + "Integral " + Str(integral) + ", expected " + Str(refIntegral));

    int32_t h[PlotColumns];
    DW(input, h);
    const auto ref = ReferenceColumns(s.ViewFirst, s.ViewWidth, s.VertScale, channels, count);
    for (int i = 0; i < PlotColumns; ++i)
        if (h[i] != ClampInt32(ref[size_t(i)])) {
            ck.Expect(false, where + "DW column " + Str(i) + " is " + Str(h[i]) + ", expected " +
                                 Str(ClampInt32(ref[size_t(i)])));
            break;
        }
    int32_t h2[PlotColumns];
    int64_t integral2 = 0;
    DWIntegral(input, h2, integral2);
    ck.Expect(integral2 == refIntegral && std::equal(h, h + PlotColumns, h2),
              where + "DWIntegral differs from DW and Integral: integral " + Str(integral2));

    VertTicks t;
    const bool found = VertTickSearch(s.VertScale, t);
    ck.Expect(found, where + "tick search fails for VertScale " + Str(s.VertScale));
    if (found)
        ck.Expect(t.m > 0 && t.s >= 2 && (t.n == 2 || t.n == 3) && (t.m * 300) / t.s > 0,
                  where + "ticks without height for VertScale " + Str(s.VertScale));
    ck.Expect((s.ViewWidth / 32) * 5 > 0, where + "horizontal scale step 0 for ViewWidth " + Str(s.ViewWidth));

    // Centroid measurements on the marker pair and the calibration regions.
    const ChannelRegion regions[] = {{s.Marker[0], s.Marker[1]},
                                     {s.LeftPeakFrom, s.LeftPeakTo},
                                     {s.RightPeakFrom, s.RightPeakTo}};
    for (const ChannelRegion &r : regions) {
        for (bool withFwhm : {false, true}) {
            const std::string what = where + "Execution(" + Str(r.First) + ", " + Str(r.Last) +
                                     (withFwhm ? ", FWHM)" : ")");
            AnalysisState.FwhmChannels = -1.0;
            const PeakFit fit = Execution(input, r, withFwhm);
            const bool failed = fit.Failed();
            const uint16_t code = fit.Error;
            const double centroid = fit.Centroid;
            ck.Expect(AnalysisState.FwhmChannels == -1.0 && AnalysisState.AnalysisFailed == 0,
                      what + ": the measurement wrote into the windows' analysis record");
            if (r.Last <= r.First) {
                ck.Expect(failed && code == MarkersOutOfOrder, what + ": expected error 1, got " + Str(code));
            } else if (r.First < 0 || r.Last >= channels) {
                ck.Expect(failed && code == NotEnoughData, what + ": region outside the spectrum, expected error 2, got " + Str(code));
            } else {
                // Net area above the line through the end channels.
                const int64_t cL = count(r.First), cR = count(r.Last);
                long double s0 = 0, s1 = 0, sumAbs = 0;
                for (int64_t i = r.First; i <= r.Last; ++i) {
                    const long double bg =
                        (long double)cL + (long double)((cR - cL) * (i - r.First)) / (r.Last - r.First);
                    const long double net = (long double)count(int32_t(i)) - bg;
                    s0 += net;
                    s1 += (long double)i * net;
                    sumAbs += std::fabs((double)net);
                }
                // The measurement sums in doubles: near the threshold, or
                // where large net counts cancel, rounding may decide.
                const long double tol = 1e-9L * (sumAbs + 1);
                if (s0 <= 1.0L - tol)
                    ck.Expect(failed && code == NotEnoughData, what + ": net area " + std::to_string((double)s0) + ", expected error 2");
                if (s0 > 1.0L + tol && s0 >= 1e-3L * sumAbs && !withFwhm) {
                    ck.Expect(!failed, what + ": net area " + std::to_string((double)s0) + " but error " + Str(code));
                    const double expect = double(s1 / s0);
                    ck.Expect(!failed && std::fabs(centroid - expect) <= 1e-6 * (1 + std::fabs(expect)),
                              what + ": centroid " + std::to_string(centroid) + ", expected " + std::to_string(expect));
                }
            }
            if (failed) {
                ck.Expect(code >= 1 && code <= 2, what + ": error code " + Str(code));
            } else {
                ck.Expect(std::isfinite(centroid), what + ": centroid not finite");
                if (withFwhm)
                    ck.Expect(std::isfinite(fit.FwhmChannels) && fit.FwhmChannels >= 0,
                              what + ": FWHM " + std::to_string(fit.FwhmChannels));
                else
                    ck.Expect(fit.FwhmChannels == 0, what + ": FWHM measured though not asked for");
            }
        }
    }

    // Differential nonlinearity between the markers.
    const DnlResult dnl = DifNoLine(input);
    const int32_t m1 = s.Marker[0], m2 = s.Marker[1];
    const bool failed = dnl.Error != AnalysisNoError;
    const uint16_t code = dnl.Error;
    const std::string what = where + "DifNoLine(" + Str(m1) + ", " + Str(m2) + ")";
    if (m1 >= m2) {
        ck.Expect(failed && code == MarkersOutOfOrder, what + ": expected error 1, got " + Str(code));
    } else {
        int64_t sum = 0;
        for (int32_t i = m1; i <= m2; ++i)
            sum += count(i);
        if (sum <= 1) {
            ck.Expect(failed && code == NotEnoughData, what + ": sum " + Str(sum) + ", expected error 2");
        } else {
            ck.Expect(!failed, what + ": sum " + Str(sum) + " but error " + Str(code));
            const double mean = double(sum) / double(m2 - m1);
            ck.Expect(std::fabs(dnl.MeanCount - mean) <= 1e-9 * mean,
                      what + ": mean " + std::to_string(dnl.MeanCount) + ", expected " + std::to_string(mean));
            ck.Expect(std::isfinite(dnl.RmsPercent) && dnl.RmsPercent >= 0 && std::isfinite(dnl.MaxPercent) &&
                          dnl.MaxPercent >= 0,
                      what + ": RMS " + std::to_string(dnl.RmsPercent) + " %, max " +
                          std::to_string(dnl.MaxPercent) + " %");
        }
    }
}

} // namespace

// ---------------------------------------------------------------------------

const std::string &ScratchDir()
{
    static const std::string dir = MakeScratchDir();
    return dir;
}

ReaderConfig ConfigFromPrefix(uint8_t b0, uint8_t b1)
{
    static const int32_t channelCounts[3] = {1024, 4096, 16384};
    const int layout = b0 % 18;
    ReaderConfig cfg{};
    cfg.InterfaceKind = layout >= 9 ? 3 : (b0 / 18) % 3;
    cfg.InputCount = 1 + (layout % 9) / 3;
    cfg.ChannelCount = channelCounts[layout % 3];
    cfg.Input = 1 + b1 % cfg.InputCount;
    return cfg;
}

uint8_t PrefixForLayout(int32_t interfaceKind, int32_t inputCount, int32_t channelCount)
{
    const int ch = channelCount == 1024 ? 0 : channelCount == 4096 ? 1 : 2;
    return static_cast<uint8_t>((interfaceKind == 3 ? 9 : 0) + (inputCount - 1) * 3 + ch);
}

std::string BrokenInvariant(const uint8_t *record152)
{
    SettingsRecord r;
    std::memcpy(&r, record152, sizeof r);
    if (r.InputCount < 1 || r.InputCount > 3)
        return "InputCount " + Str(r.InputCount);
    if (r.ChannelCount != 1024 && r.ChannelCount != 4096 && r.ChannelCount != 16384)
        return "ChannelCount " + Str(r.ChannelCount);
    if (r.InterfaceKind < 0 || r.InterfaceKind > 3)
        return "InterfaceKind " + Str(r.InterfaceKind);
    if (r.ActionInput < 1 || r.ActionInput > 3)
        return "ActionInput " + Str(r.ActionInput);
    for (int i = 0; i < 3; ++i)
        if (r.Running[i] > 1)
            return "Running[" + Str(i + 1) + "] " + Str(r.Running[i]);
    VertTicks t;
    if (r.VertScale < 25 || !VertTickSearch(r.VertScale, t))
        return "VertScale " + Str(r.VertScale);
    if (r.ViewWidth < 32 || r.ViewWidth > r.ChannelCount)
        return "ViewWidth " + Str(r.ViewWidth);
    if (r.ViewFirst < 0 || r.ViewFirst > r.ChannelCount - r.ViewWidth)
        return "ViewFirst " + Str(r.ViewFirst);
    for (int i = 0; i < 2; ++i)
        if (r.Marker[i] < 0 || r.Marker[i] > r.ChannelCount - 1)
            return "Marker[" + Str(i + 1) + "] " + Str(r.Marker[i]);
    const double doubles[] = {r.ExposurePreset[0], r.ExposurePreset[1], r.ExposurePreset[2],
                              r.StartTime[0],      r.StartTime[1],      r.StartTime[2],
                              r.LeftPeakEnergy,    r.RightPeakEnergy,   r.LeftPeakCentroid,
                              r.RightPeakCentroid};
    for (double d : doubles)
        if (!std::isfinite(d))
            return "a date, duration, energy or centroid that is not a finite number";
    return {};
}

// ---------------------------------------------------------------------------

Failures CheckSettingsInput(const uint8_t *data, size_t size)
{
    Checker ck;
    ResetCoreState();
    ResetAnalysisState();
    const std::string path = ScratchPath("RYV_travok.CFG");
    WriteFileOrDie(path, data, size);

    // A record that a failed load must leave as it is.
    SettingsRecord sentinel = DefaultSettings();
    sentinel.DigitalShift = 0x5A5A5A5A;
    sentinel.Reserved95[0] = 0xA5;
    Settings = sentinel;

    std::string errorText = "not cleared";
    const auto started = std::chrono::steady_clock::now();
    const LoadResult result = LoadSettings(path, errorText);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    // Loading one record takes microseconds; a second means the start-up
    // hangs on this file.
    ck.Expect(seconds < LoadSecondsLimit, "loading the record took " + std::to_string(seconds) + " s");
    if (size < sizeof(SettingsRecord)) {
        ck.Expect(result == LoadResult::IoError, "a " + Str(int64_t(size)) + "-byte file did not give an input/output error");
        ck.Expect(!errorText.empty(), "input/output error without a message");
        ck.Expect(SameBytes(Settings, sentinel), "a short file changed the record at " + FirstDifferingByte(Settings, sentinel));
        ck.Expect(OutOfRangeChannelAccesses == 0, "channel accesses out of range while loading");
        return ck.Take();
    }
    ck.Expect(result == LoadResult::FromFile, "a " + Str(int64_t(size)) + "-byte file was not loaded");
    ck.Expect(errorText.empty(), "loading a whole record reported: " + errorText);
    if (result != LoadResult::FromFile)
        return ck.Take();

    SettingsRecord raw;
    std::memcpy(&raw, data, sizeof raw);

    // The loaded record is the file's record, sanitised; a record the
    // sanitiser leaves alone, and every record within the invariants, comes
    // through byte for byte.
    SettingsRecord copy = raw;
    const int changed = SanitizeSettings(copy);
    ck.Expect(SameBytes(copy, Settings), "loaded record differs from the sanitised file record at " +
                                             FirstDifferingByte(copy, Settings));
    if (changed == 0)
        ck.Expect(SameBytes(Settings, raw), "the sanitiser reported no change, but the record differs at " +
                                                FirstDifferingByte(Settings, raw));
    else
        ck.Expect(!SameBytes(Settings, raw), "the sanitiser reported " + Str(changed) + " changes but made none");
    const std::string rawBroken = BrokenInvariant(data);
    if (rawBroken.empty())
        ck.Expect(changed == 0 && SameBytes(Settings, raw),
                  "a record within the invariants was changed at " + FirstDifferingByte(Settings, raw));

    const std::string broken = BrokenInvariant(reinterpret_cast<const uint8_t *>(&Settings));
    ck.Expect(broken.empty(), "after loading, the record breaks an invariant: " + broken);
    SettingsRecord again = Settings;
    ck.Expect(SanitizeSettings(again) == 0 && SameBytes(again, Settings),
              "sanitising the loaded record once more changes it");

    // Fields without invariants keep the file's bytes, reserved bytes too.
    ck.Expect(Settings.ShowHints == raw.ShowHints && Settings.HistogramMode == raw.HistogramMode &&
                  std::memcmp(Settings.Reserved26, raw.Reserved26, 2) == 0 &&
                  std::memcmp(Settings.Reserved6D, raw.Reserved6D, 3) == 0 &&
                  std::memcmp(Settings.Reserved74, raw.Reserved74, 4) == 0 &&
                  std::memcmp(Settings.Reserved95, raw.Reserved95, 3) == 0 &&
                  Settings.ParallelConversion == raw.ParallelConversion &&
                  Settings.ActOnAllInputs == raw.ActOnAllInputs && Settings.DigitalShift == raw.DigitalShift &&
                  Settings.PulseShaping == raw.PulseShaping && Settings.LeftPeakFrom == raw.LeftPeakFrom &&
                  Settings.LeftPeakTo == raw.LeftPeakTo && Settings.RightPeakFrom == raw.RightPeakFrom &&
                  Settings.RightPeakTo == raw.RightPeakTo,
              "a field without invariants, or a reserved byte, was changed by loading");
    if (!broken.empty())
        return ck.Take(); // the rest relies on the invariants

    // Up to the first refresh of a spectrum window: the windows menu fills
    // the memory, the window's creation serves the memory, and the refresh
    // reads the channels and runs the region statistics.
    MemoryInitPending = true;
    FillDataMemory();
    MemoryInitPending = false;
    DataFromMemory = 1;
    const int32_t channels = Settings.ChannelCount;
    std::vector<int32_t> range(static_cast<size_t>(channels));
    for (int32_t input = 1; input <= Settings.InputCount; ++input) {
        int32_t wrong = -1;
        for (int32_t c = 0; c < channels && wrong < 0; ++c)
            if (ReadChannel(c, input) != FilledCount)
                wrong = c;
        ck.Expect(wrong < 0, "after the fill, channel " + Str(wrong) + " of input " + Str(input) +
                                 " does not read 16843009");
        ReadChannelRange(0, channels, input, range.data());
        ck.Expect(std::all_of(range.begin(), range.end(), [](int32_t v) { return v == FilledCount; }),
                  "after the fill, the range read of input " + Str(input) + " differs");
        AnalyseInput(ck, input, "after the fill", [](int32_t) { return FilledCount; });
    }
    ck.Expect(OutOfRangeChannelAccesses == 0,
              "first refresh: " + Str(int64_t(OutOfRangeChannelAccesses)) + " channel accesses out of range");

    // The bytes after the record, laid over the memory, give counts with
    // peaks, dips and overflowing values.
    const size_t tail = size - sizeof(SettingsRecord);
    if (tail > 0) {
        const uint8_t *t = data + sizeof(SettingsRecord);
        for (size_t i = 0; i < DataMemorySize; ++i)
            DataMemory[i] = static_cast<uint8_t>(t[i % tail] + (tail < 64 ? i / tail : 0));
        for (int32_t input = 1; input <= Settings.InputCount; ++input) {
            // The counts as the channel access reads them; the layout itself
            // is the core tests' business.
            std::vector<int32_t> counts(static_cast<size_t>(channels));
            ReadChannelRange(0, channels, input, counts.data());
            AnalyseInput(ck, input, "on the trailing bytes",
                         [&counts](int32_t c) { return counts[size_t(c)]; });
        }
        ck.Expect(OutOfRangeChannelAccesses == 0,
                  "trailing bytes: " + Str(int64_t(OutOfRangeChannelAccesses)) + " channel accesses out of range");
    }
    return ck.Take();
}

// ---------------------------------------------------------------------------
// Spectrum files
//
// The window's reader is checked against the converter's reader of the same
// bytes and against the decoder fed one byte at a time, and every spectrum
// it leaves must come back unchanged through the window's save, the
// converter's writer and both readers.

namespace {

std::string NotAnInteger(const std::string &field) { return "'" + field + "' is not a valid integer value"; }

// Saves the input's spectrum in the text or binary format and reads it back
// after scrambling the memory: every channel must read what was saved, the
// file must be what the converter writes for the same counts, and the
// converter must read those counts from it.
void CheckRoundTrip(Checker &ck, const ReaderConfig &cfg, bool text)
{
    const char *format = text ? "text" : "binary";
    const std::string path = ScratchPath(text ? "out.txt" : "out.spe");
    const int32_t channels = cfg.ChannelCount;
    std::vector<int32_t> saved(static_cast<size_t>(channels));
    ReadChannelRange(0, channels, cfg.Input, saved.data());

    const SpectrumFileResult save = SaveSpectrum(path, cfg.Input);
    ck.Expect(save.Succeeded(), std::string("saving ") + format + " failed: " + save.BoxText() + " " +
                                    save.generalError);
    const std::vector<uint8_t> file = ReadFileOrEmpty(path);
    const size_t recordBytes = text ? TextSpectrumLineBytes : 4;
    ck.Expect(file.size() == saved.size() * recordBytes,
              std::string("the saved ") + format + " file has " + Str(int64_t(file.size())) + " bytes");
    const std::string converted = ConverterWrites(text, saved);
    ck.Expect(std::string(file.begin(), file.end()) == converted,
              std::string("the saved ") + format + " file differs from the converter's");
    std::vector<int32_t> again;
    ck.Expect(ConverterReads(text, file.data(), file.size(), again) && again == saved,
              std::string("the converter does not read the saved ") + format + " file back");

    FillPattern(0xC0FFEEu);
    const SpectrumFileResult back = ReadSpectrum(path, cfg.Input);
    ck.Expect(back.Succeeded(), std::string("reading the saved file back failed: ") + back.BoxText() + " " +
                                    back.generalError);
    std::vector<int32_t> read(static_cast<size_t>(channels));
    ReadChannelRange(0, channels, cfg.Input, read.data());
    ck.Expect(read == saved, std::string(format) + " round trip: the channels differ from the saved ones");
}

// Where the converter accepts the file, the window stored the converter's
// counts (as far as its channels go) and complains only about missing lines
// or records.
void CheckAgainstConverter(Checker &ck, const ReaderConfig &cfg, bool text, const uint8_t *file,
                           size_t size, const std::vector<int32_t> &stored, const std::string &where)
{
    std::vector<int32_t> counts;
    if (!ConverterReads(text, file, size, counts))
        return;
    const size_t n = std::min(counts.size(), size_t(cfg.ChannelCount));
    ck.Expect(stored.size() == n && std::equal(stored.begin(), stored.end(), counts.begin()),
              where + "the window stored " + Str(int64_t(stored.size())) +
                  " counts other than the converter's " + Str(int64_t(counts.size())));
}

} // namespace

Failures CheckTextInput(const uint8_t *data, size_t size)
{
    Checker ck;
    if (size < ConfigBytes)
        return ck.Take();
    const ReaderConfig cfg = ConfigFromPrefix(data[0], data[1]);
    UseConfig(cfg);
    const uint8_t *file = data + ConfigBytes;
    const size_t fileSize = size - ConfigBytes;
    const std::string path = ScratchPath("in.txt");
    WriteFileOrDie(path, file, fileSize);

    FillPattern(static_cast<uint32_t>(size));
    const std::vector<uint8_t> before(DataMemory, DataMemory + DataMemorySize);
    const SpectrumFileResult result = ReadSpectrum(path, cfg.Input);
    const std::string where = Describe(cfg) + ": ";

    // The bytes decoded at once and one at a time: the window hands the
    // file over in pieces, wherever they end.
    const auto channels = size_t(cfg.ChannelCount);
    TextSpectrumDecoder whole(channels), bytewise(channels);
    whole.Feed({file, fileSize});
    whole.Finish();
    for (size_t i = 0; i < fileSize && !bytewise.Done(); ++i)
        bytewise.Feed({file + i, 1});
    bytewise.Finish();
    ck.Expect(bytewise.Counts() == whole.Counts() && bytewise.Failed() == whole.Failed() &&
                  bytewise.BadField() == whole.BadField(),
              where + "decoding byte by byte gives " + Str(int64_t(bytewise.Counts().size())) +
                  " counts, at once " + Str(int64_t(whole.Counts().size())));

    ck.Expect(OutOfRangeChannelAccesses == 0, where + "reading made channel accesses out of range");
    ck.Expect(result.box == SpectrumFileBox::None, where + "reading showed the box " + result.BoxText());
    const std::string expect = whole.Failed() ? NotAnInteger(whole.BadField())
                               : whole.Counts().size() < channels ? NotAnInteger("")
                                                                  : std::string();
    ck.Expect(result.generalError == expect, where + "line " + Str(int64_t(whole.Counts().size())) +
                                                 ": reported \"" + result.generalError + "\", expected \"" +
                                                 expect + "\"");
    int32_t converted;
    if (whole.Failed())
        ck.Expect(!ConvertCountField(whole.BadField(), converted),
                  where + "ConvertCountField accepts '" + whole.BadField() + "'");

    CheckMemoryAfterRead(ck, cfg, before, whole.Counts());
    CheckAgainstConverter(ck, cfg, true, file, fileSize, whole.Counts(), where);
    if (whole.Counts().size() == channels)
        ck.Expect(result.generalError.empty(), where + "all channels read, yet: " + result.generalError);

    CheckRoundTrip(ck, cfg, true);
    ck.Expect(OutOfRangeChannelAccesses == 0, where + "channel accesses out of range");
    return ck.Take();
}

Failures CheckBinaryInput(const uint8_t *data, size_t size)
{
    Checker ck;
    if (size < ConfigBytes)
        return ck.Take();
    const ReaderConfig cfg = ConfigFromPrefix(data[0], data[1]);
    UseConfig(cfg);
    const uint8_t *file = data + ConfigBytes;
    const size_t fileSize = size - ConfigBytes;
    const std::string path = ScratchPath("in.spe");
    WriteFileOrDie(path, file, fileSize);

    FillPattern(static_cast<uint32_t>(size) * 7u + 1u);
    const std::vector<uint8_t> before(DataMemory, DataMemory + DataMemorySize);
    const SpectrumFileResult result = ReadSpectrum(path, cfg.Input);
    const std::string where = Describe(cfg) + ": ";

    // The whole little-endian records the file holds, as many as there are
    // channels: what the window must store.
    const size_t complete = std::min<size_t>(fileSize / 4, size_t(cfg.ChannelCount));
    std::vector<int32_t> written(complete);
    for (size_t c = 0; c < complete; ++c) {
        const uint8_t *p = file + c * 4;
        written[c] = static_cast<int32_t>(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                                          uint32_t(p[3]) << 24);
    }

    ck.Expect(OutOfRangeChannelAccesses == 0, where + "reading made channel accesses out of range");
    ck.Expect(result.generalError.empty(), where + "reading reported \"" + result.generalError + "\"");
    if (fileSize < size_t(cfg.ChannelCount) * 4)
        ck.Expect(result.box == SpectrumFileBox::ReadError,
                  where + "a " + Str(int64_t(fileSize)) + "-byte file did not report the read error");
    else
        ck.Expect(result.box == SpectrumFileBox::None,
                  where + "a whole file showed the box " + result.BoxText());

    CheckMemoryAfterRead(ck, cfg, before, written);
    CheckAgainstConverter(ck, cfg, false, file, fileSize, written, where);
    CheckRoundTrip(ck, cfg, false);
    ck.Expect(OutOfRangeChannelAccesses == 0, where + "channel accesses out of range");
    return ck.Take();
}

} // namespace fuzzprops
