#include "core/Uryv.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <fstream>
#include <iterator>
#include <csignal>
#include <cmath>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct TempDir {
    std::string path;
    TempDir()
    {
        char tmpl[] = "/tmp/ryv_settings_XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() { std::system(("rm -rf '" + path + "'").c_str()); }
    std::string file(const char *name) const { return path + "/" + name; }
};

std::vector<unsigned char> ReadAll(const std::string &p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void WriteAll(const std::string &p, const void *data, size_t n)
{
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char *>(data), static_cast<std::streamsize>(n));
}

template <typename T> T At(const std::vector<unsigned char> &b, size_t off)
{
    T v;
    std::memcpy(&v, b.data() + off, sizeof v);
    return v;
}

class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override { ResetCoreState(); }
    TempDir dir;
};

TEST_F(SettingsFile, DefaultsWrittenAtExitAreTheDocumentedBytes)
{
    std::string err;
    const std::string p = dir.file(SettingsFileName);
    ASSERT_EQ(LoadSettings(p, err), LoadResult::Defaults);
    ASSERT_TRUE(SaveSettings(p, err)) << err;
    const auto b = ReadAll(p);
    ASSERT_EQ(b.size(), 152u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(At<double>(b, 8 * i), 0.9);
        EXPECT_EQ(At<double>(b, 120 + 8 * i), 36000.1);
    }
    EXPECT_EQ(At<int32_t>(b, 24), 25);
    EXPECT_EQ(At<int32_t>(b, 28), 0);
    EXPECT_EQ(At<uint16_t>(b, 32), 1);
    EXPECT_EQ(At<uint16_t>(b, 34), 1024);
    EXPECT_EQ(b[36], 1);
    EXPECT_EQ(b[37], 1);
    EXPECT_EQ(At<int32_t>(b, 40), 100);
    EXPECT_EQ(At<int32_t>(b, 44), 900);
    EXPECT_EQ(At<int32_t>(b, 48), 10);
    EXPECT_EQ(At<int32_t>(b, 52), 20);
    EXPECT_EQ(At<int32_t>(b, 56), 1000);
    EXPECT_EQ(At<int32_t>(b, 60), 1010);
    EXPECT_EQ(At<double>(b, 64), 15.0);
    EXPECT_EQ(At<double>(b, 72), 1005.0);
    EXPECT_EQ(At<double>(b, 80), 15.0);
    EXPECT_EQ(At<double>(b, 88), 1005.0);
    EXPECT_EQ(At<int32_t>(b, 96), 3);
    EXPECT_EQ(At<int32_t>(b, 100), 1024);
    EXPECT_EQ(At<int32_t>(b, 104), 0);
    EXPECT_EQ(b[108], 0);
    EXPECT_EQ(b[112], 0);
    EXPECT_EQ(b[113], 0);
    EXPECT_EQ(b[114], 0);
    EXPECT_EQ(b[115], 1);
    EXPECT_EQ(At<int32_t>(b, 144), 0);
    EXPECT_EQ(b[148], 0);
    for (size_t off : {38, 39, 109, 110, 111, 116, 117, 118, 119, 149, 150, 151})
        EXPECT_EQ(b[off], 0) << "reserved byte " << off;
}

TEST_F(SettingsFile, RoundTripKeepsReservedBytesAndLeavesOtherFilesAlone)
{
    SettingsRecord r = DefaultSettings();
    r.Marker[0] = 321;
    r.DigitalShift = -70;
    r.Running[1] = 1;
    r.StartTime[1] = 46000.25;
    auto *raw = reinterpret_cast<unsigned char *>(&r);
    for (size_t off : {38, 39, 109, 110, 111, 116, 117, 118, 119, 149, 150, 151})
        raw[off] = static_cast<unsigned char>(0xA0 + off % 16);
    std::vector<unsigned char> file(raw, raw + 152);
    file.insert(file.end(), 100, 0x5A); // a longer file: only the first record counts
    const std::string p = dir.file(SettingsFileName);
    WriteAll(p, file.data(), file.size());

    std::string err;
    ASSERT_EQ(LoadSettings(p, err), LoadResult::FromFile);
    EXPECT_EQ(std::memcmp(&Settings, raw, 152), 0) << "a valid record is used byte for byte";
    // A longer file is some other file given as the settings: kept whole.
    EXPECT_FALSE(SaveSettings(p, err));
    EXPECT_EQ(err, "Файл настроек " + p + " не заменён: это не запись настроек (размер файла 252, а записи 152 байта)");
    EXPECT_EQ(ReadAll(p), file);

    // One record, reached through a symbolic link: the record is written to
    // the link's target and the link stays.
    WriteAll(p, raw, 152);
    const std::string link = dir.file("link.cfg");
    ASSERT_EQ(::symlink(SettingsFileName, link.c_str()), 0);
    ASSERT_EQ(LoadSettings(link, err), LoadResult::FromFile);
    ASSERT_TRUE(SaveSettings(link, err)) << err;
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    const auto b = ReadAll(p);
    ASSERT_EQ(b.size(), 152u);
    EXPECT_EQ(std::memcmp(b.data(), raw, 152), 0);

    // A FIFO is refused at the start without waiting on it, and stays one.
    const std::string fifo = dir.file("fifo.cfg");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    EXPECT_EQ(LoadSettings(fifo, err), LoadResult::IoError);
    EXPECT_EQ(err, "Ошибка ввода-вывода: файл настроек " + fifo + " не является обычным файлом");
    EXPECT_FALSE(SaveSettings(fifo, err));
    ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST_F(SettingsFile, ShortFileIsAnInputErrorAndStaysUntouched)
{
    const std::string p = dir.file(SettingsFileName);
    std::vector<unsigned char> shortFile(151, 0x11);
    WriteAll(p, shortFile.data(), shortFile.size());
    Settings.VertScale = 777;
    std::string err;
    EXPECT_EQ(LoadSettings(p, err), LoadResult::IoError);
    EXPECT_FALSE(err.empty());
    EXPECT_EQ(Settings.VertScale, 777);
    EXPECT_EQ(ReadAll(p), shortFile);
}

TEST_F(SettingsFile, ReadOnlyFileIsReadAndNotWritten)
{
    SettingsRecord r = DefaultSettings();
    r.InputCount = 1;
    r.VertScale = 400;
    const std::string p = dir.file(SettingsFileName);
    WriteAll(p, &r, sizeof r);
    ASSERT_EQ(chmod(p.c_str(), 0444), 0);
    std::string err;
    EXPECT_EQ(LoadSettings(p, err), LoadResult::FromFile);
    EXPECT_EQ(Settings.InputCount, 1);
    EXPECT_EQ(Settings.VertScale, 400);
    Settings.VertScale = 800;
    EXPECT_FALSE(SaveSettings(p, err));
    EXPECT_TRUE(err.empty()) << "a file locked by the user is left without a word";
    const auto b = ReadAll(p);
    ASSERT_EQ(b.size(), 152u);
    EXPECT_EQ(At<int32_t>(b, 24), 400);
}

TEST_F(SettingsFile, SettingsThatCannotBeWrittenAreReported)
{
    Settings = DefaultSettings();
    std::string err;
    EXPECT_FALSE(SaveSettings("/nonexistent-dir/RYV_travok.CFG", err));
    EXPECT_EQ(err, std::string("Файл настроек /nonexistent-dir/RYV_travok.CFG не может быть создан: ") +
                       std::strerror(ENOENT));
}

// Runs body as a user who may not write where root could: in a child with
// another user id when the tests run as root. Returns body's result.
int AsOrdinaryUser(const std::function<int()> &body)
{
    if (geteuid() != 0)
        return body();
    const pid_t pid = fork();
    if (pid == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(99);
        _exit(body());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 98;
}

TEST_F(SettingsFile, WritableFileInAFolderThatMayNotBeWrittenIsWrittenInPlace)
{
    const std::string p = dir.file(SettingsFileName);
    SettingsRecord old = DefaultSettings();
    WriteAll(p, &old, sizeof old);
    ASSERT_EQ(chmod(p.c_str(), 0666), 0);
    ASSERT_EQ(chmod(dir.path.c_str(), 0555), 0);
    Settings = DefaultSettings();
    Settings.VertScale = 800;
    const int rc = AsOrdinaryUser([&p] {
        std::string err;
        return SaveSettings(p, err) && err.empty() ? 0 : 1;
    });
    ASSERT_EQ(chmod(dir.path.c_str(), 0755), 0);
    EXPECT_EQ(rc, 0);
    const auto b = ReadAll(p);
    ASSERT_EQ(b.size(), 152u);
    EXPECT_EQ(At<int32_t>(b, 24), 800);
    EXPECT_EQ(std::system(("test $(ls -A '" + dir.path + "' | wc -l) -eq 1").c_str()), 0);
}

// In place, the new record goes over the old one before anything is cut:
// a write that fails at once (a file-size limit of 0) leaves the old record.
TEST_F(SettingsFile, FailedWriteInPlaceKeepsTheOldRecord)
{
    const std::string p = dir.file(SettingsFileName);
    SettingsRecord old = DefaultSettings();
    old.VertScale = 400;
    WriteAll(p, &old, sizeof old);
    ASSERT_EQ(chmod(p.c_str(), 0666), 0);
    ASSERT_EQ(chmod(dir.path.c_str(), 0555), 0);
    Settings = DefaultSettings();
    Settings.VertScale = 800;
    const int rc = AsOrdinaryUser([&p] {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit none {0, 0};
        std::string err;
        return setrlimit(RLIMIT_FSIZE, &none) == 0 && !SaveSettings(p, err) &&
                       err.find("Ошибка записи файла настроек") != std::string::npos
                   ? 0
                   : 1;
    });
    ASSERT_EQ(chmod(dir.path.c_str(), 0755), 0);
    EXPECT_EQ(rc, 0);
    const auto b = ReadAll(p);
    ASSERT_EQ(b.size(), 152u);
    EXPECT_EQ(At<int32_t>(b, 24), 400);
}

TEST_F(SettingsFile, FailedWriteIsReportedAndOldFileKept)
{
    // A file-size limit of 100 bytes makes the 152-byte write fail as a
    // full disk would.
    const std::string p = dir.file(SettingsFileName);
    SettingsRecord old = DefaultSettings();
    old.VertScale = 400;
    WriteAll(p, &old, sizeof old);
    Settings = DefaultSettings();
    Settings.VertScale = 800;
    struct rlimit saved {};
    getrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 100;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string err;
    const bool ok = SaveSettings(p, err);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, SIG_DFL);
    EXPECT_FALSE(ok);
    EXPECT_NE(err.find("Ошибка записи файла настроек"), std::string::npos) << err;
    const auto b = ReadAll(p);
    ASSERT_EQ(b.size(), 152u);
    EXPECT_EQ(At<int32_t>(b, 24), 400) << "the old settings survive a failed save";
    // no temporary file is left behind
    EXPECT_EQ(std::system(("test $(ls -A '" + dir.path + "' | wc -l) -eq 1").c_str()), 0);
}

// One hostile record per field: each broken value is brought to a sound one,
// and every other field keeps its value.
struct Hostile {
    const char *name;
    void (*breakIt)(SettingsRecord &);
    bool (*check)(const SettingsRecord &);
};

const Hostile kHostile[] = {
    {"ActionInput0", [](SettingsRecord &r) { r.ActionInput = 0; }, [](const SettingsRecord &r) { return r.ActionInput == 1; }},
    {"ActionInput9", [](SettingsRecord &r) { r.ActionInput = 9; }, [](const SettingsRecord &r) { return r.ActionInput == 3; }},
    {"InputCount0", [](SettingsRecord &r) { r.InputCount = 0; }, [](const SettingsRecord &r) { return r.InputCount == 1; }},
    {"InputCountNeg", [](SettingsRecord &r) { r.InputCount = -5; }, [](const SettingsRecord &r) { return r.InputCount == 1; }},
    {"InputCount7", [](SettingsRecord &r) { r.InputCount = 7; }, [](const SettingsRecord &r) { return r.InputCount == 3; }},
    {"ChannelCount5000", [](SettingsRecord &r) { r.ChannelCount = 5000; }, [](const SettingsRecord &r) { return r.ChannelCount == 4096; }},
    {"ChannelCount0", [](SettingsRecord &r) { r.ChannelCount = 0; }, [](const SettingsRecord &r) { return r.ChannelCount == 1024; }},
    {"ChannelCountHuge", [](SettingsRecord &r) { r.ChannelCount = 1 << 30; }, [](const SettingsRecord &r) { return r.ChannelCount == 16384; }},
    {"InterfaceKind4", [](SettingsRecord &r) { r.InterfaceKind = 4; }, [](const SettingsRecord &r) { return r.InterfaceKind == 0; }},
    {"InterfaceKindNeg", [](SettingsRecord &r) { r.InterfaceKind = -1; }, [](const SettingsRecord &r) { return r.InterfaceKind == 0; }},
    {"VertScale0", [](SettingsRecord &r) { r.VertScale = 0; }, [](const SettingsRecord &r) { return r.VertScale == 25; }},
    {"VertScaleNeg", [](SettingsRecord &r) { r.VertScale = -100; }, [](const SettingsRecord &r) { return r.VertScale == 25; }},
    {"VertScale185", [](SettingsRecord &r) { r.VertScale = 185; }, [](const SettingsRecord &r) { return r.VertScale == 179; }},
    {"VertScale1990", [](SettingsRecord &r) { r.VertScale = 1990; }, [](const SettingsRecord &r) { return r.VertScale == 2000; }},
    {"ViewWidth0", [](SettingsRecord &r) { r.ViewWidth = 0; }, [](const SettingsRecord &r) { return r.ViewWidth == 32; }},
    {"ViewWidthWide", [](SettingsRecord &r) { r.ViewWidth = 65535; }, [](const SettingsRecord &r) { return r.ViewWidth == 1024 && r.ViewFirst == 0; }},
    {"ViewFirstNeg", [](SettingsRecord &r) { r.ViewFirst = -10; }, [](const SettingsRecord &r) { return r.ViewFirst == 0; }},
    {"ViewFirstPast", [](SettingsRecord &r) { r.ViewWidth = 256; r.ViewFirst = 5000; }, [](const SettingsRecord &r) { return r.ViewFirst == 768 && r.ViewWidth == 256; }},
    {"Running2", [](SettingsRecord &r) { r.Running[1] = 2; }, [](const SettingsRecord &r) { return r.Running[1] == 0; }},
    {"Marker1Neg", [](SettingsRecord &r) { r.Marker[0] = -3; }, [](const SettingsRecord &r) { return r.Marker[0] == 0; }},
    {"Marker2Past", [](SettingsRecord &r) { r.Marker[1] = 99999; }, [](const SettingsRecord &r) { return r.Marker[1] == 1023; }},
    {"PresetNaN", [](SettingsRecord &r) { r.ExposurePreset[2] = std::nan(""); }, [](const SettingsRecord &r) { return r.ExposurePreset[2] == 0.9; }},
    {"StartTimeInf", [](SettingsRecord &r) { r.StartTime[0] = INFINITY; }, [](const SettingsRecord &r) { return r.StartTime[0] == 36000.1; }},
};

class HostileRecord : public ::testing::TestWithParam<Hostile> {};

TEST_P(HostileRecord, IsBroughtToASoundValueThroughTheFile)
{
    ResetCoreState();
    TempDir dir;
    const std::string p = dir.file(SettingsFileName);
    SettingsRecord r = DefaultSettings();
    GetParam().breakIt(r);
    WriteAll(p, &r, sizeof r);
    std::string err;
    ASSERT_EQ(LoadSettings(p, err), LoadResult::FromFile);
    EXPECT_TRUE(GetParam().check(Settings)) << GetParam().name;
    SettingsRecord again = Settings;
    EXPECT_EQ(SanitizeSettings(again), 0) << "sanitising is idempotent";
    VertTicks t;
    EXPECT_TRUE(VertTickSearch(Settings.VertScale, t));
}

INSTANTIATE_TEST_SUITE_P(EachField, HostileRecord, ::testing::ValuesIn(kHostile),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(SettingsRecordRules, DefaultsAreValidAndUntouchedBySanitising)
{
    SettingsRecord r = DefaultSettings();
    const SettingsRecord before = r;
    EXPECT_EQ(SanitizeSettings(r), 0);
    EXPECT_EQ(std::memcmp(&r, &before, sizeof r), 0);
}

TEST(SettingsRecordRules, TickSearchMatchesTheScaleTable)
{
    struct Row {
        int32_t v, e, s, m, n;
    } rows[] = {{25, 1, 2, 1, 2},    {50, 1, 5, 2, 2},   {100, 1, 10, 3, 3},  {200, 2, 2, 1, 2},
                {400, 2, 4, 2, 2},   {800, 2, 8, 4, 2},  {1600, 2, 16, 5, 3}, {3200, 3, 3, 1, 2},
                {6400, 3, 6, 3, 2},  {12800, 3, 12, 4, 3}};
    for (const Row &row : rows) {
        VertTicks t;
        ASSERT_TRUE(VertTickSearch(row.v, t)) << row.v;
        EXPECT_EQ(t.e, row.e) << row.v;
        EXPECT_EQ(t.s, row.s) << row.v;
        EXPECT_EQ(t.m, row.m) << row.v;
        EXPECT_EQ(t.n, row.n) << row.v;
    }
    VertTicks t;
    for (int32_t bad : {0, 19, 180, 199, 1800, 1999, 18000})
        EXPECT_FALSE(VertTickSearch(bad, t)) << bad;
    for (int32_t good : {20, 179, 200, 2000, 1073741823, 2147483647})
        EXPECT_TRUE(VertTickSearch(good, t)) << good;
}

TEST(SettingsRecordRules, KeepViewInChannelRangeAfterShrinking)
{
    ResetCoreState();
    Settings = DefaultSettings();
    Settings.ChannelCount = 16384;
    Settings.ViewWidth = 16384;
    Settings.ViewFirst = 0;
    Settings.Marker[0] = 5000;
    Settings.Marker[1] = 16383;
    Settings.ChannelCount = 1024;
    KeepViewInChannelRange();
    EXPECT_EQ(Settings.ViewWidth, 1024);
    EXPECT_EQ(Settings.ViewFirst, 0);
    EXPECT_EQ(Settings.Marker[0], 1023);
    EXPECT_EQ(Settings.Marker[1], 1023);

    Settings.ChannelCount = 4096;
    Settings.ViewWidth = 512;
    Settings.ViewFirst = 3584;
    Settings.ChannelCount = 1024;
    KeepViewInChannelRange();
    EXPECT_EQ(Settings.ViewWidth, 512);
    EXPECT_EQ(Settings.ViewFirst, 512);
}

} // namespace
