// Regression tests of the fuzz targets: the seed corpus and every saved
// finding replayed through the targets' property checks, and the findings
// themselves.

#include "tests/fuzz/FuzzProperties.h"

#include "analysis/Analysis.h"
#include "files/SpectrumCodec.h"
#include "files/SpektrFiles.h"
#include "core/Uryv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace fuzzprops;

namespace {

const fs::path FuzzDir = RYV_FUZZ_DIR;

std::vector<uint8_t> Slurp(const fs::path &p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<fs::path> FilesIn(const fs::path &dir)
{
    std::vector<fs::path> out;
    if (fs::is_directory(dir))
        for (const auto &e : fs::directory_iterator(dir))
            if (e.is_regular_file())
                out.push_back(e.path());
    std::sort(out.begin(), out.end());
    return out;
}

using CheckFn = Failures (*)(const uint8_t *, size_t);

// Every file of the folder through the check; returns how many there were.
size_t Replay(const fs::path &dir, CheckFn check)
{
    const std::vector<fs::path> files = FilesIn(dir);
    for (const fs::path &f : files) {
        const std::vector<uint8_t> data = Slurp(f);
        const Failures failures = check(data.data(), data.size());
        std::string all;
        for (const std::string &s : failures)
            all += "\n  " + s;
        EXPECT_TRUE(failures.empty()) << f.filename().string() << ":" << all;
    }
    return files.size();
}

std::vector<uint8_t> WithPrefix(uint8_t layout, uint8_t input, const std::string &file)
{
    std::vector<uint8_t> v(file.size() + ConfigBytes);
    v[0] = layout;
    v[1] = input;
    std::memcpy(v.data() + ConfigBytes, file.data(), file.size());
    return v;
}

std::vector<uint8_t> RecordBytes(const SettingsRecord &r)
{
    const auto *p = reinterpret_cast<const uint8_t *>(&r);
    return {p, p + sizeof r};
}

} // namespace

// ---------------------------------------------------------------------------
// The corpus and the fixed findings hold every property.

TEST(FuzzCorpusReplay, SettingsSeedsHoldEveryProperty)
{
    EXPECT_GE(Replay(FuzzDir / "corpus" / "settings", CheckSettingsInput), 30u);
    Replay(FuzzDir / "regressions" / "settings", CheckSettingsInput);
}

TEST(FuzzCorpusReplay, TextSeedsHoldEveryProperty)
{
    EXPECT_GE(Replay(FuzzDir / "corpus" / "text", CheckTextInput), 20u);
    Replay(FuzzDir / "regressions" / "text", CheckTextInput);
}

TEST(FuzzCorpusReplay, BinarySeedsHoldEveryProperty)
{
    EXPECT_GE(Replay(FuzzDir / "corpus" / "binary", CheckBinaryInput), 15u);
    Replay(FuzzDir / "regressions" / "binary", CheckBinaryInput);
}

TEST(FuzzCorpusReplay, SpeSeedsHoldEveryProperty)
{
    EXPECT_GE(Replay(FuzzDir / "corpus" / "spe", CheckSpeInput), 15u);
    Replay(FuzzDir / "regressions" / "spe", CheckSpeInput);
}

TEST(FuzzCorpusReplay, N42SeedsHoldEveryProperty)
{
    EXPECT_GE(Replay(FuzzDir / "corpus" / "n42", CheckN42Input), 15u);
    Replay(FuzzDir / "regressions" / "n42", CheckN42Input);
}

TEST(FuzzCorpusReplay, CsvSeedsHoldEveryProperty)
{
    EXPECT_GE(Replay(FuzzDir / "corpus" / "csv", CheckCsvInput), 8u);
    Replay(FuzzDir / "regressions" / "csv", CheckCsvInput);
}

// ---------------------------------------------------------------------------
// The checks notice a reader that misbehaves: here a close that fails, which
// the reader reports although every line converted.

namespace {
int FailingClose(int fd)
{
    ::close(fd);
    errno = EIO;
    return -1;
}
} // namespace

TEST(FuzzChecks, NoticeAReportThatAWholeFileDoesNotDeserve)
{
    std::vector<int32_t> counts(1024);
    for (int c = 0; c < 1024; ++c)
        counts[size_t(c)] = c * 3;
    std::string text;
    EncodeTextSpectrum(counts, text);
    std::string binary(4096, '\0');
    const auto textInput = WithPrefix(PrefixForLayout(0, 1, 1024), 0, text);
    const auto binaryInput = WithPrefix(PrefixForLayout(0, 1, 1024), 0, binary);
    EXPECT_TRUE(CheckTextInput(textInput.data(), textInput.size()).empty());
    EXPECT_TRUE(CheckBinaryInput(binaryInput.data(), binaryInput.size()).empty());

    SetSpectrumFileCloseHook(FailingClose);
    const Failures textFailures = CheckTextInput(textInput.data(), textInput.size());
    const Failures binaryFailures = CheckBinaryInput(binaryInput.data(), binaryInput.size());
    SetSpectrumFileCloseHook(nullptr);
    ASSERT_FALSE(textFailures.empty());
    EXPECT_NE(textFailures[0].find("reported"), std::string::npos) << textFailures[0];
    ASSERT_FALSE(binaryFailures.empty());
    EXPECT_NE(binaryFailures[0].find("reported"), std::string::npos) << binaryFailures[0];
}

TEST(FuzzChecks, ShortSettingsFileIsAnInputOutputError)
{
    const std::vector<uint8_t> whole = RecordBytes(DefaultSettings());
    for (size_t n : {size_t(0), size_t(1), size_t(151)})
        EXPECT_TRUE(CheckSettingsInput(whole.data(), n).empty()) << n << " bytes";
}

TEST(FuzzChecks, HostileFieldsAreBroughtInsideTheInvariants)
{
    SettingsRecord r = DefaultSettings();
    r.InputCount = 0;
    r.ChannelCount = 5000;
    r.InterfaceKind = 9;
    r.ActionInput = 7;
    r.Running[1] = 2;
    r.VertScale = 190;
    r.ViewWidth = 0;
    r.ViewFirst = -3;
    r.Marker[0] = -1;
    r.Marker[1] = 70000;
    r.Reserved74[2] = 0x77;
    const std::vector<uint8_t> bytes = RecordBytes(r);
    const Failures f = CheckSettingsInput(bytes.data(), bytes.size());
    EXPECT_TRUE(f.empty()) << (f.empty() ? "" : f[0]);
    // What the loader made of it, as the windows will see it.
    EXPECT_EQ(Settings.InputCount, 1);
    EXPECT_EQ(Settings.ChannelCount, 4096);
    EXPECT_EQ(Settings.InterfaceKind, 0);
    EXPECT_EQ(Settings.ActionInput, 3);
    EXPECT_EQ(Settings.Running[1], 0);
    EXPECT_EQ(Settings.VertScale, 200); // 179 lies 11 away, 200 only 10
    EXPECT_EQ(Settings.ViewWidth, 32);
    EXPECT_EQ(Settings.ViewFirst, 0);
    EXPECT_EQ(Settings.Marker[0], 0);
    EXPECT_EQ(Settings.Marker[1], 4095);
    EXPECT_EQ(Settings.Reserved74[2], 0x77);
}

// ---------------------------------------------------------------------------
// Findings.

// A settings record whose vertical full scale lies deep inside a range where
// the tick search never ends (1.8e9..2e9, 1.8e8..2e8, ...) once made the
// loader walk one value at a time towards the nearest sound one: 100 million
// steps for 1900000000, seconds of start-up, and the fuzzer's timeout on
// 1903231001. The loader now computes the nearest value directly.
TEST(FuzzFindings, HugeStalledVertScaleGoesToTheNearestSoundValue)
{
    struct Case {
        int32_t scale, nearest;
    };
    const Case cases[] = {{1900000000, 2000000000}, {1850000000, 1799999999},
                          {1903231001, 2000000000}, {190000000, 200000000},
                          {1999999999, 2000000000}, {1800000000, 1799999999}};
    for (const Case &c : cases) {
        SettingsRecord r = DefaultSettings();
        r.VertScale = c.scale;
        SanitizeSettings(r);
        EXPECT_EQ(r.VertScale, c.nearest) << c.scale;
    }
    const std::vector<uint8_t> found = Slurp(FuzzDir / "regressions" / "settings" / "settings-vertscale-1903231001");
    ASSERT_EQ(found.size(), 212u);
    const Failures f = CheckSettingsInput(found.data(), found.size());
    EXPECT_TRUE(f.empty()) << (f.empty() ? "" : f[0]);
}

// The value the loader settles on for a stalled full scale is the nearest
// one whose tick search ends (ties to the smaller); this must stay so when
// the search above is made fast.
TEST(FuzzFindings, StalledVertScaleBecomesTheNearestSoundOne)
{
    struct Case {
        int32_t scale, nearest;
    };
    const Case cases[] = {{180, 179},   {185, 179},   {189, 179},   {190, 200},
                          {199, 200},   {1800, 1799}, {1889, 1799}, {1900, 2000},
                          {18000, 17999}, {19500, 20000}, {10, 25}, {-7, 25}};
    for (const Case &c : cases) {
        SettingsRecord r = DefaultSettings();
        r.VertScale = c.scale;
        EXPECT_EQ(SanitizeSettings(r), 1) << c.scale;
        EXPECT_EQ(r.VertScale, c.nearest) << c.scale;
        VertTicks t;
        EXPECT_TRUE(VertTickSearch(r.VertScale, t)) << c.scale;
    }
}
