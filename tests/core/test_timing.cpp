#include "core/Uryv.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <string>
#include <unistd.h>

namespace {

double fakeNow = 0;
double FakeClock() { return fakeNow; }

class Timing : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetCoreState();
        Settings = DefaultSettings();
        fakeNow = 46000.0;
        // Unless a case says otherwise, the wall clock and the monotonic
        // clock advance together.
        SetNowProvider(&FakeClock);
        SetMonotonicProvider(&FakeClock);
    }
    void TearDown() override
    {
        SetNowProvider(nullptr);
        SetMonotonicProvider(nullptr);
    }
};

double fakeMono = 0;
double FakeMonotonic() { return fakeMono; }

TEST_F(Timing, WallClockChangesDoNotMoveTheExposure)
{
    constexpr double hour = 1.0 / 24;
    fakeMono = 7.0;
    SetMonotonicProvider(&FakeMonotonic);
    Settings.ActOnAllInputs = 0;
    StartAcquisition();
    fakeNow -= hour; // autumn: the wall clock goes back an hour
    fakeMono += 0.1;
    ExposureTick();
    EXPECT_NEAR(Elapsed[0], 0.1, 1e-12);

    // The exit writes StartTime as now - Elapsed, so that a restart an hour
    // later by the wall clock goes on from there, whatever the new
    // monotonic origin.
    const std::string path = "/tmp/ryv_timing_" + std::to_string(getpid()) + ".CFG";
    std::string err;
    ASSERT_TRUE(SaveSettings(path, err)) << err;
    std::remove(path.c_str());
    EXPECT_NEAR(Settings.StartTime[0], fakeNow - 0.1, 1e-9);
    const SettingsRecord saved = Settings;
    ResetCoreState();
    Settings = saved;
    SetNowProvider(&FakeClock);
    SetMonotonicProvider(&FakeMonotonic);
    fakeNow += hour;
    fakeMono = 0.5;
    ExposureTick();
    fakeMono += 0.1;
    ExposureTick();
    EXPECT_NEAR(Elapsed[0], 0.2 + hour, 1e-9);

    // A start time ahead of the wall clock gives no negative exposure.
    Settings.Running[1] = 1;
    Settings.StartTime[1] = fakeNow + hour;
    ExposureTick();
    EXPECT_EQ(Elapsed[1], 0.0);
}

bool HalfDead(int32_t n, double &days)
{
    if (n == 2)
        return false; // this source knows no dead time of input 2
    days = Elapsed[n - 1] / 2 + (n == 3 ? 1.0 : 0.0);
    return true;
}

TEST_F(Timing, LiveTimeOnlyWhereASourceMeasuresTheDeadTime)
{
    Elapsed[0] = 0.5;
    Elapsed[2] = 0.5;
    double live = -1;
    EXPECT_FALSE(LiveTime(1, live)); // no source measures dead time
    EXPECT_EQ(live, -1);
    DeadTimeOf = &HalfDead;
    ASSERT_TRUE(LiveTime(1, live));
    EXPECT_DOUBLE_EQ(live, 0.25);
    EXPECT_FALSE(LiveTime(2, live));
    ASSERT_TRUE(LiveTime(3, live)); // more dead time than real time
    EXPECT_EQ(live, 0.0);
    EXPECT_FALSE(LiveTime(0, live));
    EXPECT_FALSE(LiveTime(4, live));
}

TEST_F(Timing, StopsExactlyAtThePreset)
{
    Settings.ActOnAllInputs = 0;
    Settings.ActionInput = 1;
    Settings.ExposurePreset[0] = 0.5; // exactly representable
    EXPECT_TRUE(StartAcquisition());
    EXPECT_EQ(Settings.Running[0], 1);
    EXPECT_EQ(Settings.Running[1], 0);
    EXPECT_EQ(Settings.StartTime[0], 46000.0);
    EXPECT_EQ(Settings.StartTime[1], 36000.1);
    fakeNow = 46000.25;
    EXPECT_TRUE(ExposureTick());
    EXPECT_EQ(Elapsed[0], 0.25);
    EXPECT_EQ(Settings.Running[0], 1);
    fakeNow = 46000.5;
    EXPECT_FALSE(ExposureTick()) << "the timer stops with no input left";
    EXPECT_EQ(Settings.Running[0], 0);
    EXPECT_EQ(Elapsed[0], 0.5);
}

TEST_F(Timing, DefaultPresetRunsTwentyOneHoursThirtySixMinutes)
{
    Settings.ActOnAllInputs = 0;
    StartAcquisition();
    fakeNow = 46000.0 + 0.9 - 1.0 / 86400;
    ExposureTick();
    EXPECT_EQ(Settings.Running[0], 1);
    fakeNow = 46000.0 + 0.9 + 0.1 / 86400;
    ExposureTick();
    EXPECT_EQ(Settings.Running[0], 0);
    EXPECT_EQ(Settings.Running[1], 0);
    EXPECT_EQ(Settings.Running[2], 0);
}

TEST_F(Timing, StartOnAllWithTwoInputs)
{
    Settings.InputCount = 2;
    Settings.ActOnAllInputs = 1;
    Elapsed[0] = Elapsed[1] = Elapsed[2] = 7;
    Settings.Running[2] = 0;
    StartAcquisition();
    EXPECT_EQ(Settings.Running[0], 1);
    EXPECT_EQ(Settings.Running[1], 1);
    EXPECT_EQ(Settings.Running[2], 0);
    EXPECT_EQ(Elapsed[0], 0);
    EXPECT_EQ(Elapsed[1], 0);
    EXPECT_EQ(Elapsed[2], 7);
}

TEST_F(Timing, StopOneOfTwoKeepsTheTimer)
{
    Settings.ActOnAllInputs = 1;
    Settings.InputCount = 2;
    StartAcquisition();
    Settings.ActOnAllInputs = 0;
    Settings.ActionInput = 1;
    EXPECT_TRUE(StopAcquisition());
    EXPECT_EQ(Settings.Running[0], 0);
    EXPECT_EQ(Settings.Running[1], 1);
    Settings.ActionInput = 2;
    EXPECT_FALSE(StopAcquisition());
}

TEST_F(Timing, RestartResetsTheClockAndShortPresetStopsAtNextTick)
{
    Settings.ActOnAllInputs = 0;
    StartAcquisition();
    fakeNow += 0.3;
    ExposureTick();
    StartAcquisition();
    EXPECT_EQ(Settings.StartTime[0], fakeNow);
    fakeNow += 0.01;
    ExposureTick();
    EXPECT_NEAR(Elapsed[0], 0.01, 1e-9);
    Settings.ExposurePreset[0] = 0.005;
    fakeNow += 0.001;
    ExposureTick();
    EXPECT_EQ(Settings.Running[0], 0);
}

TEST_F(Timing, RunningInputLoadedFromFileCountsFromItsSavedStart)
{
    Settings.Running[1] = 1;
    Settings.StartTime[1] = fakeNow - 1.0 / 24;
    EXPECT_TRUE(AnyInputRunning());
    EXPECT_TRUE(ExposureTick());
    EXPECT_NEAR(Elapsed[1] * 24, 1.0, 1e-9);
    EXPECT_EQ(Settings.Running[1], 1);
}

TEST_F(Timing, ActionInputBeyondInputCountIsNeverTimed)
{
    Settings.InputCount = 1;
    Settings.ActOnAllInputs = 0;
    Settings.ActionInput = 3;
    Settings.ExposurePreset[2] = 0.001;
    EXPECT_TRUE(StartAcquisition());
    EXPECT_EQ(Settings.Running[2], 1);
    fakeNow += 1;
    EXPECT_TRUE(ExposureTick()) << "the tick returns at once and the timer stays on";
    EXPECT_EQ(Settings.Running[2], 1);
    EXPECT_EQ(Elapsed[2], 0);
    EXPECT_FALSE(StopAcquisition());
}

TEST(Clock, SystemNowIsLocalDaysSince18991230)
{
    // The local wall-clock reading, counted as if it were UTC, gives the
    // days since 1970-01-01; 1899-12-30 lies 25569 days earlier.
    const std::time_t t = std::time(nullptr);
    std::tm lt{};
    localtime_r(&t, &lt);
    const double expected = double(timegm(&lt)) / 86400.0 + 25569.0;
    const double now = SystemNow();
    EXPECT_NEAR(now, expected, 2.0 / 86400);
    // 2000-01-01 00:00 local time is day 36526
    std::tm y2k{};
    y2k.tm_year = 100;
    y2k.tm_mday = 1;
    EXPECT_EQ(double(timegm(&y2k)) / 86400.0 + 25569.0, 36526.0);
    const double a = SystemNow();
    const double b = SystemNow();
    EXPECT_LE(a, b);
    EXPECT_LT((b - a) * 86400, 1.0);
}

TEST(Mapping, ColumnsAndChannels)
{
    ResetCoreState();
    Settings = DefaultSettings();
    Settings.ViewFirst = 0;
    Settings.ViewWidth = 1024;
    TRect32 line;
    MarkerLineOf(500, line);
    EXPECT_EQ(line.Left, 250);
    EXPECT_EQ(line.Right, 250);
    EXPECT_EQ(line.Top, 0);
    EXPECT_EQ(line.Bottom, 300);
    EXPECT_EQ(ChannelOfColumn(0), 2);
    Settings.ViewFirst = 100;
    Settings.ViewWidth = 512;
    EXPECT_EQ(ChannelOfColumn(0), 101);
    EXPECT_EQ(ChannelOfColumn(511), 611);
    EXPECT_EQ(ChannelOfColumn(-5), 100);
    EXPECT_EQ(ChannelOfColumn(5000), 611);
    MarkerLineOf(50, line);
    EXPECT_EQ(line.Left, 0);
    MarkerLineOf(612, line);
    EXPECT_EQ(line.Left, 511);
    Settings.ViewWidth = 256;
    MarkerLineOf(110, line);
    EXPECT_EQ(line.Left, 20);
}

} // namespace
