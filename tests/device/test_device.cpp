#include "analysis/Analysis.h"
#include "device/SharedMemory.h"
#include "device/Simulator.h"
#include "core/Uryv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

double fakeNow = 0;
double FakeClock() { return fakeNow; }
constexpr double kSecond = 1.0 / 86400;

class Device : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetCoreState();
        Settings = DefaultSettings();
        DataFromMemory = 1;
        fakeNow = 46000.0;
        SetNowProvider(&FakeClock);
        SetMonotonicProvider(&FakeClock);
    }
    void TearDown() override
    {
        SetNowProvider(nullptr);
        SetMonotonicProvider(nullptr);
    }

    static std::vector<device::EmissionLine> Cs137()
    {
        std::vector<device::EmissionLine> l;
        device::BuiltinSourceLines("cs137", l);
        return l;
    }
    static int64_t Total(int32_t n)
    {
        int64_t s = 0;
        for (int32_t c = 0; c < Settings.ChannelCount; ++c)
            s += ReadChannel(c, n);
        return s;
    }
};

TEST_F(Device, PoissonRateInClockTimeOnlyForRunningInputsWithinTheirPreset)
{
    const double rate = 2000;
    double mass = 0; // the share of pulses that fall on the spectrum
    for (double p : device::DetectorResponse(Cs137(), 1024, 1.0))
        mass += p;
    // Input 1 runs since long before the program started, input 2 is stopped,
    // input 3 starts now with a preset of 4 s.
    Settings.Running[0] = 1;
    Settings.StartTime[0] = fakeNow - 100 * kSecond;
    Settings.ExposurePreset[0] = 1;
    Settings.StartTime[2] = fakeNow;
    Settings.Running[2] = 1;
    Settings.ExposurePreset[2] = 4 * kSecond;
    device::Simulator sim(Cs137(), rate, 12345);
    sim.Begin();
    const double start = fakeNow;
    for (int i = 1; i <= 100; ++i) {
        fakeNow = start + i * 0.1 * kSecond;
        ExposureTick();
        sim.Step();
    }
    EXPECT_EQ(Settings.Running[2], 0) << "the preset ended input 3";
    const double mean1 = rate * 10 * mass, mean3 = rate * 4 * mass;
    EXPECT_NEAR(double(Total(1)), mean1, 5 * std::sqrt(mean1));
    EXPECT_EQ(Total(2), 0);
    EXPECT_NEAR(double(Total(3)), mean3, 5 * std::sqrt(mean3));
}

// A source of one narrow line at channel 50 of 1024: every recorded event
// stays on the spectrum, single ones in channel 50 (moved by the shift),
// piled-up ones above it.
std::vector<double> NarrowLine()
{
    std::vector<double> w(1024, 0.0);
    w[50] = 1;
    return w;
}

// Against the laws of a non-paralysable analyser with dead time tau at a
// true rate n over a real time T: events n T / (1 + n tau), dead time
// T n tau / (1 + n tau), and a share exp(-n tau) of the events without a
// pile-up. Checks counts and live time of input n.
void ExpectDeadTimeLaws(int32_t n, const device::Simulator &sim, double rate, double tau, double seconds,
                        int32_t singleChannel, double tolerance)
{
    SCOPED_TRACE(testing::Message() << "input " << n << " rate " << rate << " tau " << tau);
    const double q = rate * tau;
    int64_t total = 0;
    for (int32_t c = 0; c < Settings.ChannelCount; ++c)
        total += ReadChannel(c, n);
    EXPECT_NEAR(double(total), seconds * rate / (1 + q), tolerance * seconds * rate / (1 + q));
    // Single events, and those whose one pile-up came so late in the window
    // that it added less than the rest of the channel (half of them come
    // after the shaping time and add a uniform share of about 50.5).
    const double single = std::exp(-q) * (1 + q / 2 * 0.5 / 50.5);
    EXPECT_NEAR(double(ReadChannel(singleChannel, n)) / double(total), single, tolerance * single);
    double dead = 0, live = 0;
    ASSERT_TRUE(sim.DeadTime(n, dead));
    ASSERT_TRUE(LiveTime(n, live));
    EXPECT_NEAR(dead * 86400, seconds * q / (1 + q), tolerance * seconds * q / (1 + q));
    // The spectroscopist's correction: counts over live time give the rate.
    EXPECT_NEAR(double(total) / (live * 86400), rate, tolerance * rate);
}

// Tick by tick (pulse by pulse) and in one long tick (by the laws, one pass
// over the channels) the counts, the pile-up and the live time agree with
// the truth, at the dead time of each pulse shaping.
TEST_F(Device, DeadTimeAndPileUpFollowTheirLawsPulseByPulseAndInOnePass)
{
    Settings.InputCount = 1;
    Settings.ChannelCount = 1024;
    Settings.ExposurePreset[0] = 1;
    for (int shaping : {0, 3})
        for (double tick : {0.01, 20.0}) {
            SCOPED_TRACE(testing::Message() << "shaping " << shaping << " tick " << tick);
            std::memset(DataMemory, 0, DataMemorySize);
            Settings.PulseShaping = static_cast<uint8_t>(shaping);
            const double rate = 50000;
            device::Simulator sim(NarrowLine(), rate, 11 + shaping);
            DeadTimeOf = nullptr;
            sim.Begin();
            fakeNow += kSecond;
            StartAcquisition();
            for (double t = tick; t <= 20.0 + 1e-9; t += tick) {
                fakeNow += tick * kSecond;
                ExposureTick();
                sim.Step();
            }
            static const device::Simulator *current;
            current = &sim;
            DeadTimeOf = [](int32_t n, double &days) { return current->DeadTime(n, days); };
            ExpectDeadTimeLaws(1, sim, rate, device::DeadTimeSeconds(shaping), 20.0, 50, 0.02);
            // A new Start restarts the dead time with the exposure.
            fakeNow += kSecond;
            StartAcquisition();
            double dead = -1;
            ASSERT_TRUE(sim.DeadTime(1, dead));
            EXPECT_EQ(dead, 0.0);
            StopAcquisition();
        }
    EXPECT_DOUBLE_EQ(device::DeadTimeSeconds(0), 2e-6);
}

// A tick after a long pause, or the first one after the program was closed,
// credits the events due in one pass over the channels: an hour at a
// million pulses a second, where two thirds of the time is dead and most
// events pile up, and the closed time of an exposure up to its preset.
TEST_F(Device, PausesAndClosedTimeCreditedInOnePassUpToThePreset)
{
    Settings.InputCount = 2;
    Settings.ChannelCount = 1024;
    Settings.DigitalShift = 24; // channels 0..73 get nothing
    const double rate = 1e6;
    Settings.Running[0] = 1; // started 100 s ago, closed for the last 80 s
    Settings.StartTime[0] = fakeNow - 100 * kSecond;
    Settings.ExposurePreset[0] = 50 * kSecond;
    device::Simulator sim(NarrowLine(), rate, 4321);
    static const device::Simulator *current;
    current = &sim;
    DeadTimeOf = [](int32_t n, double &days) { return current->DeadTime(n, days); };
    sim.Begin(80 * kSecond);
    Settings.ActOnAllInputs = 0;
    Settings.ActionInput = 2;
    Settings.ExposurePreset[1] = 100;
    StartAcquisition();
    fakeNow += 3600 * kSecond;
    ExposureTick();
    sim.Step();
    EXPECT_EQ(Settings.Running[0], 0) << "input 1 reached its preset";
    const double tau = device::DeadTimeSeconds(0), q = rate * tau;
    int64_t total1 = 0;
    for (int32_t c = 0; c < 1024; ++c)
        total1 += ReadChannel(c, 1);
    // 50 s preset - 20 s before the close; the dead time of those 20 s is
    // taken at its expected share.
    EXPECT_NEAR(double(total1), 30 * rate / (1 + q), 0.01 * 30 * rate / (1 + q));
    double dead1 = 0;
    ASSERT_TRUE(sim.DeadTime(1, dead1));
    EXPECT_NEAR(dead1 * 86400, 50 * q / (1 + q), 0.01 * 50 * q / (1 + q));
    for (int32_t c = 0; c < 74; ++c)
        ASSERT_EQ(ReadChannel(c, 2), 0) << c;
    ExpectDeadTimeLaws(2, sim, rate, tau, 3600, 74, 0.01);
}

// Batched pulses give exactly what WriteChannel(c, n, ReadChannel(c, n) + 1)
// gives pulse by pulse, in every layout, including those whose inputs or
// channels share planes and those with planes that have no place.
TEST_F(Device, BatchedPulsesEqualPulseByPulseInEveryLayout)
{
    std::mt19937_64 rng(99);
    for (int32_t iface : {0, 3})
        for (int32_t inputs = 1; inputs <= 3; ++inputs)
            for (int32_t channels : {1024, 4096, 16384}) {
                SCOPED_TRACE(testing::Message() << iface << " " << inputs << " " << channels);
                Settings.InterfaceKind = iface;
                Settings.InputCount = inputs;
                Settings.ChannelCount = channels;
                // Half the bytes 0xFF: carries everywhere.
                for (uint8_t &b : DataMemory)
                    b = rng() & 1 ? 0xFF : static_cast<uint8_t>(rng());
                // Counters about to carry out of a plane or to saturate.
                const int32_t edges[] = {0xFE, 0xFFFE, 0xFFFFFE, INT32_MAX - 2, -3};
                std::vector<std::vector<int32_t>> pulses(static_cast<size_t>(inputs));
                for (int32_t n = 1; n <= inputs; ++n)
                    for (int e = 0; e < 5; ++e) {
                        const int32_t c = static_cast<int32_t>(rng() % static_cast<uint64_t>(channels));
                        WriteChannel(c, n, edges[e]);
                        pulses[static_cast<size_t>(n - 1)].insert(pulses[static_cast<size_t>(n - 1)].end(), 5, c);
                    }
                for (auto &p : pulses)
                    for (int i = 0; i < 20000; ++i)
                        p.push_back(static_cast<int32_t>(rng() % static_cast<uint64_t>(channels)));
                std::vector<uint8_t> before(DataMemory, DataMemory + DataMemorySize);
                for (int32_t n = 1; n <= inputs; ++n)
                    for (int32_t c : pulses[static_cast<size_t>(n - 1)]) {
                        const int32_t v = ReadChannel(c, n);
                        if (v != INT32_MAX)
                            WriteChannel(c, n, v + 1);
                    }
                std::vector<uint8_t> reference(DataMemory, DataMemory + DataMemorySize);
                std::memcpy(DataMemory, before.data(), DataMemorySize);
                for (int32_t n = 1; n <= inputs; ++n)
                    device::AddPulses(n, pulses[static_cast<size_t>(n - 1)].data(), pulses[static_cast<size_t>(n - 1)].size());
                ASSERT_EQ(0, std::memcmp(DataMemory, reference.data(), DataMemorySize));
            }
}

// The program's own analysis finds the caesium photopeak where the model
// puts it, as wide as the model makes it for each pulse shaping, and moved
// by the digital shift.
TEST_F(Device, CaesiumPhotopeakMeasuredByTheAnalysis)
{
    Settings.InputCount = 1;
    device::Simulator sim(Cs137(), 1000, 7);
    const double model = device::ChannelOfEnergy(661.66, 1024);
    std::vector<int32_t> pulses;
    for (int shaping = 0; shaping < 4; ++shaping)
        for (int32_t shift : {0, 50}) {
            SCOPED_TRACE(testing::Message() << "shaping " << shaping << " shift " << shift);
            std::memset(DataMemory, 0, DataMemorySize);
            Settings.PulseShaping = static_cast<uint8_t>(shaping);
            Settings.DigitalShift = shift;
            sim.Sample(2000000, pulses);
            device::AddPulses(1, pulses.data(), pulses.size());
            const double fwhm = device::PeakFwhmKeV(661.66, device::ShapingFactor(shaping)) * 1024 / 1600;
            const int32_t half = static_cast<int32_t>(1.8 * fwhm);
            const PeakFit fit =
                Execution(1, {static_cast<int32_t>(model) + shift - half, static_cast<int32_t>(model) + shift + half}, true);
            ASSERT_FALSE(fit.Failed());
            EXPECT_NEAR(fit.Centroid, model + shift, 0.01 * model);
            EXPECT_NEAR(fit.FwhmChannels, fwhm, 0.05 * fwhm);
            if (shift == 0)
                continue;
            // Pulses moved below channel 0 are lost, not piled up there.
            Settings.DigitalShift = -1024;
            sim.Sample(1000, pulses);
            EXPECT_TRUE(pulses.empty());
        }
}

// A minute at 2000 pulses a second of Cs-137 on 1024 channels: no channel
// between the Compton edge (477 keV) and the photopeak is empty, the valley
// holds a few per cent of the photopeak's height, and the Ba K X-rays stand
// near 32.9 keV (their mean). A lead shield adds the Pb K X-rays (mean 76.6
// keV); the Co-60 sum line (2505 keV) is beyond full scale.
TEST_F(Device, CaesiumValleyFilledWithBariumAndLeadXrays)
{
    Settings.InputCount = 1;
    Settings.ChannelCount = 1024;
    device::Simulator sim(Cs137(), 2000, 3);
    std::vector<int32_t> pulses;
    sim.Sample(120000, pulses);
    device::AddPulses(1, pulses.data(), pulses.size());
    const auto channel = [](double e) { return static_cast<int32_t>(std::lround(device::ChannelOfEnergy(e, 1024))); };
    int32_t peak = 0, valley = INT32_MAX;
    for (int32_t c = channel(640); c <= channel(680); ++c)
        peak = std::max(peak, ReadChannel(c, 1));
    for (int32_t c = channel(477); c <= channel(661.66); ++c)
        valley = std::min(valley, ReadChannel(c, 1));
    EXPECT_GE(valley, 0.015 * peak) << "peak " << peak;
    EXPECT_LE(valley, 0.06 * peak) << "peak " << peak;
    PeakFit ba = Execution(1, {channel(20), channel(46)}, false);
    ASSERT_FALSE(ba.Failed());
    EXPECT_NEAR(ba.Centroid, device::ChannelOfEnergy(32.86, 1024), 1.0);

    std::memset(DataMemory, 0, DataMemorySize);
    sim.SetLeadShield(true);
    sim.Sample(2000000, pulses);
    device::AddPulses(1, pulses.data(), pulses.size());
    PeakFit pb = Execution(1, {channel(64), channel(90)}, false);
    ASSERT_FALSE(pb.Failed());
    EXPECT_NEAR(pb.Centroid, device::ChannelOfEnergy(76.6, 1024), 1.5);

    double beyond = 1;
    std::vector<device::EmissionLine> co;
    device::BuiltinSourceLines("co60", co);
    for (double p : device::DetectorResponse(co, 1024, 1.0))
        beyond -= p;
    EXPECT_LT(beyond, 1e-3) << "nothing above full scale but the tails";
}

// Only the inputs the device configuration has are fed: the parallel type
// has one input whatever InputCount still says, and its 4096 channels
// would otherwise hold three overlapping copies of the line.
TEST_F(Device, OnlyTheInputsOfTheDeviceConfigurationAreFed)
{
    Settings.InterfaceKind = 0;
    Settings.ParallelConversion = 1;
    Settings.InputCount = 3;
    Settings.ChannelCount = 4096;
    Settings.ActOnAllInputs = 1;
    Settings.ExposurePreset[0] = Settings.ExposurePreset[1] = Settings.ExposurePreset[2] = 1;
    EXPECT_EQ(device::Simulator::FedInputs(), 1);
    device::Simulator sim(Cs137(), 20000, 5);
    sim.Begin();
    StartAcquisition();
    fakeNow += 5 * kSecond;
    ExposureTick();
    sim.Step();
    const double recorded = 5 * 20000 / (1 + 20000 * device::DeadTimeSeconds(0));
    EXPECT_NEAR(double(Total(1)), recorded, 0.02 * recorded);
    double dead = 0;
    EXPECT_FALSE(sim.DeadTime(2, dead));
    Settings.ParallelConversion = 0;
    EXPECT_EQ(device::Simulator::FedInputs(), 1) << "the other type: one input at 4096 channels";
    Settings.ChannelCount = 1024;
    EXPECT_EQ(device::Simulator::FedInputs(), 3);
    Settings.InterfaceKind = 3;
    Settings.InputCount = 2;
    EXPECT_EQ(device::Simulator::FedInputs(), 2);
}

std::string TempPath(const char *name)
{
    return std::string(::testing::TempDir()) + name + std::to_string(::getpid());
}

TEST_F(Device, SecondProcessWritesIntoTheSharedMemory)
{
    const std::string path = TempPath("ryv_shared_");
    ::unlink(path.c_str());
    std::string error;
    ASSERT_TRUE(device::MapDataMemory(path, error)) << error;
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, DataMemorySize);
    EXPECT_EQ(ReadChannel(17, 2), 0) << "created with zeros";
    WriteChannel(5, 1, 0x01020304); // seen by the other process

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The other process: its own descriptor, count 123456789 into
        // channel 17 of input 2, byte by byte.
        const int fd = ::open(path.c_str(), O_RDWR);
        uint8_t b5 = 0;
        bool ok = fd >= 0 && ::pread(fd, &b5, 1, PlaneOffset(5, 1, 0)) == 1 && b5 == 0x04;
        for (int k = 0; ok && k < 4; ++k) {
            const uint8_t v = static_cast<uint8_t>(123456789u >> (8 * k));
            ok = ::pwrite(fd, &v, 1, PlaneOffset(17, 2, k)) == 1;
        }
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(ReadChannel(17, 2), 123456789);
    ::unlink(path.c_str());
}

// Another process cuts the mapped file short: the pages gone read as zeros,
// the others keep their counts, and the data memory leaves the file.
TEST_F(Device, SharedMemoryCutShortReadsZerosAndLeavesTheFile)
{
    const std::string path = TempPath("ryv_cut_");
    ::unlink(path.c_str());
    std::string error;
    ASSERT_TRUE(device::MapDataMemory(path, error)) << error;
    volatile uint8_t *memory = DataMemory;
    constexpr int kept = 100, gone = DataMemorySize - 100; // either side of the cut
    memory[kept] = 0x11;
    memory[gone] = 0x22;
    EXPECT_FALSE(device::DataMemoryCutShort());
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        ::_exit(::truncate(path.c_str(), DataMemorySize / 2) == 0 ? 0 : 1);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(memory[gone], 0);
    EXPECT_EQ(memory[kept], 0x11);
    EXPECT_TRUE(device::DataMemoryCutShort());
    memory[gone] = 0x33;
    memory[kept] = 0x44;
    EXPECT_EQ(memory[gone], 0x33) << "the program's own memory now";
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, DataMemorySize / 2) << "the file is not written any more";
    const int fd = ::open(path.c_str(), O_RDONLY);
    uint8_t b = 0;
    EXPECT_EQ(::pread(fd, &b, 1, kept), 1);
    EXPECT_EQ(b, 0x11);
    ::close(fd);
    ::unlink(path.c_str());
}

TEST_F(Device, SharedMemoryFileOfAnotherSizeIsRefusedAndLeftAlone)
{
    const std::string path = TempPath("ryv_short_");
    for (const std::string &content : {std::string("12345"), std::string(DataMemorySize + 1, 'x')}) {
        FILE *f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fputs(content.c_str(), f);
        std::fclose(f);
        std::string error;
        EXPECT_FALSE(device::MapDataMemory(path, error));
        EXPECT_EQ(error, "--memory " + path + ": the file holds " + std::to_string(content.size()) + " bytes, not 65536");
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_size, off_t(content.size()));
    }
    // A write-protected file stays so, also for root; a link to nothing is
    // named as such.
    ASSERT_EQ(::truncate(path.c_str(), DataMemorySize), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    std::string error;
    EXPECT_FALSE(device::MapDataMemory(path, error));
    EXPECT_TRUE(error == "--memory " + path + ": the file is write-protected" ||
                (::getuid() != 0 && error == "--memory " + path + ": Permission denied"))
        << error;
    ::unlink(path.c_str());
    ASSERT_EQ(::symlink("nowhere", path.c_str()), 0);
    EXPECT_FALSE(device::MapDataMemory(path, error));
    EXPECT_EQ(error, "--memory " + path + ": a symbolic link to a file that does not exist");
    ::unlink(path.c_str());

    // A full disk is refused when the file is made, and nothing is left.
    const std::string small = TempPath("ryv_small_");
    ASSERT_EQ(::mkdir(small.c_str(), 0755), 0);
    if (::getuid() != 0 || std::system(("mount -t tmpfs -o size=32k tmpfs '" + small + "' 2>/dev/null").c_str()) != 0) {
        ::rmdir(small.c_str());
        GTEST_SKIP() << "a full disk needs root and a tmpfs mount";
    }
    const bool mapped = device::MapDataMemory(small + "/m1", error);
    const bool left = ::access((small + "/m1").c_str(), F_OK) == 0;
    std::system(("umount '" + small + "'").c_str());
    ::rmdir(small.c_str());
    EXPECT_FALSE(mapped);
    EXPECT_EQ(error, "--memory " + small + "/m1: No space left on device");
    EXPECT_FALSE(left);
}

// The program itself: exit code, stderr and the files in its start folder.
struct Outcome {
    int code;
    std::string err;
    std::string files;
};
Outcome RunProgram(const std::string &dir, const std::string &args)
{
    const std::string cmd = "cd '" + dir + "' && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '" RYV_DEMO_EXE "' " +
                            args + " 2>stderr.txt >/dev/null; echo $? >code.txt; ls | grep -av -e stderr.txt -e code.txt";
    Outcome o{};
    FILE *p = ::popen(cmd.c_str(), "r");
    char buf[256];
    while (p && std::fgets(buf, sizeof buf, p))
        o.files += buf;
    if (p)
        ::pclose(p);
    auto slurp = [&](const char *name) {
        std::string s;
        if (FILE *f = std::fopen((dir + "/" + name).c_str(), "r")) {
            while (std::fgets(buf, sizeof buf, f))
                s += buf;
            std::fclose(f);
        }
        return s;
    };
    o.code = std::atoi(slurp("code.txt").c_str());
    o.err = slurp("stderr.txt");
    return o;
}

TEST(CommandLine, BadOptionsExitTwoWithOneLineAndTouchNothing)
{
    const std::string dir = TempPath("ryv_cli_");
    ASSERT_EQ(::mkdir(dir.c_str(), 0755), 0);
    const struct {
        const char *args;
        const char *line;
    } cases[] = {
        {"--rate 0 --simulate", "ryv_demo: --rate: '0' is not a number from 1 to 1000000.\n"},
        {"--simulate --rate 1000001", "ryv_demo: --rate: '1000001' is not a number from 1 to 1000000.\n"},
        {"--seed x --simulate", "ryv_demo: --seed: 'x' is not a whole number from 0 to 18446744073709551615.\n"},
        {"--bogus", "ryv_demo: Unknown option 'bogus'.\n"},
        {"--simulate=nosuch", "ryv_demo: --simulate=nosuch: not a built-in source (am241, cs137, co60, k40, mix) "
                              "nor a spectrum file.\n"},
        {"--memory stderr.txt", nullptr}, // a file of another size
        {"--convert in.txt", "ryv_demo: --convert: give the input file and the output file (--convert IN OUT).\n"},
        {"--convert --simulate in.txt out.spe", "ryv_demo: --convert: not with --simulate.\n"},
        {"--convert nosuch.spe out.txt", nullptr},
        {"--simulate --rate 5 --rate 6", "ryv_demo: --rate: given more than once.\n"},
        {"--simulate=cs137 --simulate=am241", "ryv_demo: --simulate: given more than once.\n"},
        {"--shield", "ryv_demo: --shield: only with --simulate.\n"},
        {"--simulate --shield --shield", "ryv_demo: --shield: given more than once.\n"},
        {"--simulate --rate ' 5'", "ryv_demo: --rate: ' 5' is not a number from 1 to 1000000.\n"},
        {"--simulate --seed '7 '", "ryv_demo: --seed: '7 ' is not a whole number from 0 to 18446744073709551615.\n"},
        {"--convert a b --real-time 0", "ryv_demo: --real-time: '0' is not a number of seconds above 0.\n"},
        {"--convert a b --real-time 5 --live-time 6", "ryv_demo: --live-time: longer than --real-time.\n"},
        {"--convert a b --live-time 1 --live-time 1", "ryv_demo: --live-time: given more than once.\n"},
        {"--convert a b --start 2024-13-01T00:00:00",
         "ryv_demo: --start: '2024-13-01T00:00:00' is not a date and time YYYY-MM-DDThh:mm:ss.\n"},
        {"--real-time 5", "ryv_demo: --real-time: only with --convert.\n"},
        {"--convert a b --spectrum 0", "ryv_demo: --spectrum: '0' is not a spectrum number from 1.\n"},
        {"--list a --simulate", "ryv_demo: --list: not with --simulate.\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args);
        const Outcome o = RunProgram(dir, c.args);
        EXPECT_EQ(o.code, 2);
        if (c.line)
            EXPECT_EQ(o.err, c.line);
        else if (std::strstr(c.args, "--convert"))
            EXPECT_EQ(o.err.rfind("ryv_demo: nosuch.spe: cannot be opened: ", 0), 0u) << o.err;
        else
            EXPECT_EQ(o.err.rfind("ryv_demo: --memory stderr.txt: the file holds ", 0), 0u) << o.err;
        EXPECT_EQ(o.files, "") << "no settings file, no memory file";
    }
    // Qt's own options are QApplication's, not errors.
    const Outcome qt = RunProgram(dir, "-style fusion --platform offscreen -reverse --version");
    EXPECT_EQ(qt.code, 0) << qt.err;
    const Outcome v = RunProgram(dir, "--version");
    EXPECT_EQ(v.code, 0) << "no display needed";
    EXPECT_EQ(v.files, "");
    // A conversion needs no display either and writes only its output.
    if (FILE *f = std::fopen((dir + "/in.dat").c_str(), "wb")) {
        const std::vector<int32_t> counts(1024, 7);
        std::fwrite(counts.data(), 4, counts.size(), f);
        std::fclose(f);
    }
    const Outcome conv = RunProgram(dir, "--convert in.dat out.csv");
    EXPECT_EQ(conv.code, 0) << conv.err;
    EXPECT_EQ(conv.files, "in.dat\nout.csv\n");
    // Names that are not UTF-8 are the files' own bytes.
    ASSERT_EQ(::rename((dir + "/in.dat").c_str(), (dir + "/in\xFF.dat").c_str()), 0);
    const Outcome bytes = RunProgram(dir, "--convert \"$(printf 'in\\377.dat')\" \"$(printf 'out\\376.csv')\"");
    EXPECT_EQ(bytes.code, 0) << bytes.err;
    EXPECT_EQ(bytes.files, "in\xFF.dat\nout.csv\nout\xFE.csv\n");
    const Outcome source = RunProgram(dir, "--simulate=\"$(printf 'out\\376.csv')\"");
    EXPECT_EQ(source.code, 2);
    EXPECT_EQ(source.err, "ryv_demo: --simulate=out\xFE.csv: 7098 bytes; a binary spectrum has 4 bytes for each of "
                          "1024, 4096 or 16384 channels.\n");
    std::system(("rm -rf '" + dir + "'").c_str());
}

} // namespace
