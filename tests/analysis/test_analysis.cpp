// Region statistics: the integral between the markers, the plot columns,
// centroid and FWHM, and the error state.
#include "tests/analysis/AnalysisFixture.h"

#include <array>
#include <cstring>
#include <limits>
#include <vector>

namespace {

constexpr int32_t Int32Max = std::numeric_limits<int32_t>::max();
constexpr int32_t Int32Min = std::numeric_limits<int32_t>::min();

using Columns = std::array<int32_t, PlotColumns>;

Columns Heights(int32_t input = 1)
{
    Columns h;
    h.fill(-777); // every column must be written
    DW(input, h.data());
    return h;
}

} // namespace

// ---------------------------------------------------------------------------
// Integral

TEST_F(AnalysisTest, IntegralSumsFromMarkerOneToMarkerTwoInclusive)
{
    Put(99, {1000, 1, 2, 3, 1000});
    Markers(100, 102);
    EXPECT_EQ(Integral(1), 6);
    Markers(101, 101);
    EXPECT_EQ(Integral(1), 2);
    Put(500, {-5, -7});
    Markers(500, 501);
    EXPECT_EQ(Integral(1), -12);
}

TEST_F(AnalysisTest, IntegralWrapsAroundTheEndWhenMarkerTwoIsLeft)
{
    for (int32_t c = 0; c < 1024; ++c)
        WriteChannel(c, 1, c + 1);
    Markers(1000, 10);
    // Channels 1000..1023 hold 1001..1024, channels 0..10 hold 1..11.
    EXPECT_EQ(Integral(1), 24300 + 66);
}

TEST_F(AnalysisTest, IntegralReadsOnlyItsOwnInput)
{
    Fill(0, 1023, 7, 2);
    Put(5, {3}, 1);
    Markers(0, 1023);
    EXPECT_EQ(Integral(1), 3);
    EXPECT_EQ(Integral(2), 7 * 1024);
}

TEST_F(AnalysisTest, IntegralShowsTheTrueSumBeyond32Bits)
{
    Put(0, {1 << 30, 1 << 30, 1 << 30, 1 << 30});
    Markers(0, 3);
    EXPECT_EQ(Integral(1), int64_t(1) << 32);
    Put(10, {Int32Min, Int32Min});
    Markers(10, 11);
    EXPECT_EQ(Integral(1), -(int64_t(1) << 32));

    UseLargeSpectrum();
    FillDataMemory();
    Markers(0, 16383);
    EXPECT_EQ(Integral(1), int64_t(16384) * 16843009);
}

TEST_F(AnalysisTest, IntegralCutsMarkersOutsideTheChannelRange)
{
    Fill(0, 1023, 1);
    Markers(-5, 2000);
    EXPECT_EQ(Integral(1), 1024);
    Markers(1020, 5000);
    EXPECT_EQ(Integral(1), 4);
    Markers(5000, 3); // wrapped: the upper run is empty, then 0..3
    EXPECT_EQ(Integral(1), 4);
    Markers(1022, -3); // wrapped: 1022..1023, the lower run is empty
    EXPECT_EQ(Integral(1), 2);
    Markers(-10, -3);
    EXPECT_EQ(Integral(1), 0);
}

TEST_F(AnalysisTest, IntegralOverThePrintSnapshotStaysWithinIt)
{
    Settings.InterfaceKind = 3;
    Settings.ChannelCount = 4096; // a configuration wider than the snapshot
    PrintSnapshot.assign(1024, 2);
    DataFromMemory = 0;
    Markers(0, 4095);
    EXPECT_EQ(Integral(3), 2048);
    DataFromMemory = 1;
    PrintSnapshot.clear();
}

// ---------------------------------------------------------------------------
// DW: plot columns

TEST_F(AnalysisTest, DWWideViewShowsTheMeanOfTwoChannelsPerColumn)
{
    Settings.ViewWidth = 1024;
    Settings.VertScale = 25;
    Put(0, {25, 25, 10, 0, 1, 0, 3, 0, -25, 0});
    const Columns h = Heights();
    EXPECT_EQ(h[0], 300);  // two channels of 25 at full scale
    EXPECT_EQ(h[1], 60);   // (10 * 300 div 2) div 25
    EXPECT_EQ(h[2], 6);    // (1 * 300 div 2) div 25
    EXPECT_EQ(h[3], 18);   // (3 * 300 div 2) div 25
    EXPECT_EQ(h[4], -150); // negative heights are passed on
    for (int i = 5; i < PlotColumns; ++i)
        ASSERT_EQ(h[i], 0) << i;
}

TEST_F(AnalysisTest, DWDivisionsTruncateTowardZeroInOrder)
{
    Settings.ViewWidth = 1024;
    Settings.VertScale = 7;
    Put(0, {1, 0, -1, 0, 1, 1});
    const Columns h = Heights();
    EXPECT_EQ(h[0], 21);  // 150 div 7
    EXPECT_EQ(h[1], -21); // -150 div 7, not -22
    EXPECT_EQ(h[2], 42);
}

TEST_F(AnalysisTest, DWOneChannelPerColumnAt512)
{
    Settings.ViewWidth = 512;
    Settings.ViewFirst = 100;
    Settings.VertScale = 25;
    Put(99, {25, 25, 5});
    Put(611, {5, 25});
    const Columns h = Heights();
    EXPECT_EQ(h[0], 300);
    EXPECT_EQ(h[1], 60);
    EXPECT_EQ(h[2], 0);
    EXPECT_EQ(h[511], 60); // channel 611; channel 612 is out of view
}

TEST_F(AnalysisTest, DWNarrowViewsUseTheFirstOfEachChannelsColumns)
{
    Settings.VertScale = 25;
    for (int32_t c = 0; c < 1024; ++c)
        WriteChannel(c, 1, c % 5 + 1);

    Settings.ViewWidth = 256; // two columns per channel
    Settings.ViewFirst = 10;
    Columns h = Heights();
    for (int i = 0; i < PlotColumns; ++i)
        ASSERT_EQ(h[i], i % 2 == 0 ? ((10 + i / 2) % 5 + 1) * 12 : 0) << i;

    Settings.ViewWidth = 32; // sixteen columns per channel
    Settings.ViewFirst = 0;
    h = Heights();
    for (int i = 0; i < PlotColumns; ++i)
        ASSERT_EQ(h[i], i % 16 == 0 ? ((i / 16) % 5 + 1) * 12 : 0) << i;
}

TEST_F(AnalysisTest, DWWideViewNotAMultipleOf512ShowsOnlyTheFirst512k)
{
    Settings.ViewWidth = 1000; // k = 1: channels 0..511 only
    Settings.VertScale = 25;
    Put(511, {25, 25});
    const Columns h = Heights();
    EXPECT_EQ(h[511], 300);
    int nonZero = 0;
    for (int32_t v : h)
        nonZero += v != 0;
    EXPECT_EQ(nonZero, 1);
}

TEST_F(AnalysisTest, DWWholeLargeSpectrumAveragesThirtyTwoChannels)
{
    UseLargeSpectrum();
    FillDataMemory();
    Settings.ViewWidth = 16384;
    Settings.VertScale = 25;
    Put(16352, {0, 0, 0, 0}); // four of the last column's 32 channels
    const Columns h = Heights();
    EXPECT_EQ(h[0], 202116108); // 16843009 * 300 / 25, computed in 64 bits
    EXPECT_EQ(h[510], 202116108);
    // (28 * 16843009 * 300 div 32) div 25
    EXPECT_EQ(h[511], int32_t((int64_t(28) * 16843009 * 300 / 32) / 25));
}

TEST_F(AnalysisTest, DWHugeCountsAreComputedIn64BitsAndClamped)
{
    Settings.ViewWidth = 512;
    Settings.VertScale = 1 << 30;
    Put(0, {Int32Max, Int32Min, 7158279});
    Columns h = Heights();
    EXPECT_EQ(h[0], 599); // 2147483647 * 300 / 2^30
    EXPECT_EQ(h[1], -600);
    EXPECT_EQ(h[2], 2); // 2,147,483,700 / 2^30: just past 2^31, still right

    Settings.VertScale = 25;
    h = Heights();
    EXPECT_EQ(h[0], Int32Max); // 25,769,803,764 does not fit: clamped, off scale
    EXPECT_EQ(h[1], Int32Min);
    EXPECT_EQ(h[2], 85899348); // 7158279 * 300 leaves 32 bits; the height does not
}

TEST_F(AnalysisTest, DWWidthZeroGivesAnEmptyPlot)
{
    Fill(0, 600, 25);
    Settings.ViewWidth = 0;
    Settings.VertScale = 25;
    const Columns h = Heights();
    for (int32_t v : h)
        ASSERT_EQ(v, 0);
}

TEST_F(AnalysisTest, DWScaleZeroOrNegativePutsEveryNonZeroColumnOffScale)
{
    Settings.ViewWidth = 512;
    Put(0, {5, 0, -5});
    for (int32_t scale : {0, -25, Int32Min}) {
        Settings.VertScale = scale;
        const Columns h = Heights();
        EXPECT_EQ(h[0], Int32Max) << scale;
        EXPECT_EQ(h[1], 0) << scale;
        EXPECT_EQ(h[2], Int32Min) << scale;
    }
}

TEST_F(AnalysisTest, DWViewPastEitherEndReadsMissingChannelsAsZero)
{
    Fill(0, 1023, 25);
    Settings.VertScale = 25;

    Settings.ViewWidth = 512;
    Settings.ViewFirst = 1000; // channels 1000..1023, then nothing
    Columns h = Heights();
    EXPECT_EQ(h[23], 300);
    EXPECT_EQ(h[24], 0);
    EXPECT_EQ(h[511], 0);

    Settings.ViewFirst = -10; // nothing, then channels 0..501
    h = Heights();
    EXPECT_EQ(h[9], 0);
    EXPECT_EQ(h[10], 300);
    EXPECT_EQ(h[511], 300);

    Settings.ViewWidth = 300; // one column per channel, beyond the view too
    Settings.ViewFirst = 724;
    h = Heights();
    EXPECT_EQ(h[299], 300);
    EXPECT_EQ(h[300], 0);

    Settings.ViewWidth = 65535; // k = 127 over a 1024-channel spectrum
    Settings.ViewFirst = Int32Max - 100;
    h = Heights();
    EXPECT_EQ(h[0], 0);
    Settings.ViewFirst = 0;
    h = Heights();
    EXPECT_EQ(h[0], 300);
    EXPECT_EQ(h[7], 300); // channels 889..1015
    EXPECT_EQ(h[8], 18);  // channels 1016..1023 of 1016..1142: (200 * 300 div 127) div 25
    EXPECT_EQ(h[9], 0);
}

// ---------------------------------------------------------------------------
// Execution: centroid and FWHM

TEST_F(AnalysisTest, ExecutionTriangleOnFlatBackground)
{
    Put(0, {10, 10, 20, 30, 40, 30, 20, 10, 10});
    const PeakFit fit = Execution(1, {0, 8}, true);
    EXPECT_EQ(fit.Error, AnalysisNoError);
    EXPECT_DOUBLE_EQ(fit.Centroid, 4.0);
    EXPECT_DOUBLE_EQ(fit.FwhmChannels, 3.0);
    // Without the width asked for, only the centroid is measured; the
    // analysis record is not touched either way.
    const PeakFit plain = Execution(1, {0, 8}, false);
    EXPECT_DOUBLE_EQ(plain.Centroid, 4.0);
    EXPECT_EQ(plain.FwhmChannels, 0.0);
    EXPECT_EQ(AnalysisState.FwhmChannels, 0.0);
}

TEST_F(AnalysisTest, ExecutionAsymmetricFlanksOnASlopedBackground)
{
    // Net counts 10, 20, 30, 18, 10 on channels 102..106 above the line
    // 100 + 2 (i - 100): centroid channel 104, half level 123, crossings at
    // 103 - 0.25 and 105 + 5/6.
    Put(100, {100, 102, 114, 126, 138, 128, 122, 114, 116});
    const PeakFit fit = Execution(1, {100, 108}, true);
    ASSERT_FALSE(fit.Failed());
    EXPECT_NEAR(fit.Centroid, (102 * 10 + 103 * 20 + 104 * 30 + 105 * 18 + 106 * 10) / 88.0, 1e-12);
    EXPECT_NEAR(fit.FwhmChannels, 2.0 + 0.25 + 5.0 / 6.0, 1e-12);
}

TEST_F(AnalysisTest, ExecutionRegionBackwardsOrEmptyIsCode1)
{
    Put(0, {10, 10, 20, 30, 40, 30, 20, 10, 10});
    for (ChannelRegion r : {ChannelRegion{100, 100}, ChannelRegion{200, 100}, ChannelRegion{8, 0}})
        EXPECT_EQ(Execution(1, r, true).Error, MarkersOutOfOrder);
}

TEST_F(AnalysisTest, ExecutionWithoutNetCountsIsCode2)
{
    Fill(0, 100, 50); // flat
    EXPECT_EQ(Execution(1, {10, 20}, true).Error, NotEnoughData);

    for (int32_t c = 200; c <= 220; ++c) // exactly on the straight line
        WriteChannel(c, 1, 100 + 3 * (c - 200));
    EXPECT_EQ(Execution(1, {200, 220}, true).Error, NotEnoughData);

    EXPECT_EQ(Execution(1, {300, 320}, true).Error, NotEnoughData); // all zero

    Put(400, {0, 1, 0}); // a net area of exactly 1 is not enough
    EXPECT_EQ(Execution(1, {400, 402}, true).Error, NotEnoughData);
}

TEST_F(AnalysisTest, ExecutionExactHalfCentroidRoundsToEven)
{
    // Centroid 10.5 with channel 10 much higher than 11: channel 10 is taken,
    // half level 20, crossings at 9.5 and 10 + 2/3.
    Put(8, {0, 0, 40, 10, 10, 0, 0});
    PeakFit fit = Execution(1, {8, 14}, true);
    ASSERT_FALSE(fit.Failed());
    EXPECT_DOUBLE_EQ(fit.Centroid, 10.5);
    EXPECT_NEAR(fit.FwhmChannels, 0.5 + 2.0 / 3.0, 1e-12); // channel 11 would give 3.375

    // Centroid 11.5: channel 12 is taken.
    Put(8, {0, 0, 10, 10, 40, 0, 0});
    fit = Execution(1, {8, 14}, true);
    ASSERT_FALSE(fit.Failed());
    EXPECT_DOUBLE_EQ(fit.Centroid, 11.5);
    EXPECT_NEAR(fit.FwhmChannels, 2.0 / 3.0 + 0.5, 1e-12); // channel 11 would give 3.375
}

TEST_F(AnalysisTest, ExecutionBackgroundProductBeyond32Bits)
{
    // A line rising by 2,000,000 counts per channel: (count(R) - count(L)) *
    // (i - L) reaches 2e12. One channel 1000 counts above the line.
    for (int32_t c = 0; c <= 1000; ++c)
        WriteChannel(c, 1, 2000000 * c);
    WriteChannel(500, 1, 1000001000);
    const PeakFit fit = Execution(1, {0, 1000}, false);
    ASSERT_FALSE(fit.Failed());
    EXPECT_DOUBLE_EQ(fit.Centroid, 500.0);
}

TEST_F(AnalysisTest, ExecutionHalfLevelSumBeyond32Bits)
{
    // The triangle scaled by a million on a background of two thousand
    // million: count(c) + count(L) is about 4e9.
    const int32_t tri[9] = {0, 0, 10, 20, 30, 20, 10, 0, 0};
    for (int32_t c = 0; c < 9; ++c)
        WriteChannel(c, 1, 2000000000 + tri[c] * 1000000);
    const PeakFit fit = Execution(1, {0, 8}, true);
    ASSERT_FALSE(fit.Failed());
    EXPECT_DOUBLE_EQ(fit.Centroid, 4.0);
    EXPECT_DOUBLE_EQ(fit.FwhmChannels, 3.0);
}

TEST_F(AnalysisTest, ExecutionNegativeHalfLevelStillFindsTheEdges)
{
    Put(100, {-100, -50, -20, -50, -100});
    const PeakFit fit = Execution(1, {100, 104}, true);
    ASSERT_FALSE(fit.Failed());
    EXPECT_DOUBLE_EQ(fit.Centroid, 102.0);
    // Half level -60: crossings a fifth of a channel outside 101 and 103.
    EXPECT_NEAR(fit.FwhmChannels, 2.4, 1e-12);
}

TEST_F(AnalysisTest, ExecutionDegenerateEdgeSearchesFailWithoutLeavingTheRange)
{
    auto expectCode2 = [&](ChannelRegion r, const char *what) {
        EXPECT_EQ(Execution(1, r, true).Error, NotEnoughData) << what;
        EXPECT_EQ(OutOfRangeChannelAccesses, 0u) << what;
    };

    // A steep falling background from channel 0: the left flank never drops
    // below the half level (825) before channel 0.
    Put(0, {1000, 950, 900, 850, 500, 375, 250, 125, 0});
    expectCode2({0, 8}, "left search reaches channel 0");

    // The mirror image at the top end of the spectrum.
    Put(1015, {0, 125, 250, 375, 500, 850, 900, 950, 1000});
    expectCode2({1015, 1023}, "right search reaches the last channel");

    // Net counts that put the centroid at channel -1.
    Put(0, {1000, 950, 900, 850, 400, 300, 200, 100, 0});
    PeakFit c0 = Execution(1, {0, 8}, false);
    ASSERT_FALSE(c0.Failed());
    EXPECT_DOUBLE_EQ(c0.Centroid, -1.0); // the centroid alone is still reported
    expectCode2({0, 8}, "centroid channel below 0");

    // A centroid that falls into a dip: the count there lies below its own
    // half level (centroid 7, count 1000, half level 1150).
    Fill(0, 15, 1000);
    Fill(16, 30, 0);
    c0 = Execution(1, {10, 20}, false);
    ASSERT_FALSE(c0.Failed());
    EXPECT_DOUBLE_EQ(c0.Centroid, 7.0);
    expectCode2({10, 20}, "centroid in a dip, flat around it");
    // Higher neighbours give non-zero denominators, but a dip has no width
    // (the plain formula would give -3 channels).
    Put(6, {1100, 1000, 1100});
    expectCode2({10, 20}, "centroid in a dip between higher neighbours");
}

TEST_F(AnalysisTest, ExecutionRegionReachingOutsideTheSpectrumIsCode2)
{
    Fill(0, 1023, 5);
    Put(1019, {50});
    for (ChannelRegion r : {ChannelRegion{-5, 5}, ChannelRegion{1020, 1030},
                            ChannelRegion{Int32Min, Int32Max}})
        EXPECT_EQ(Execution(1, r, true).Error, NotEnoughData);
    const PeakFit fit = Execution(1, {1015, 1023}, false); // the last channel itself is fine
    EXPECT_FALSE(fit.Failed());
    EXPECT_NEAR(fit.Centroid, 1019.0, 1e-12);
}

// ---------------------------------------------------------------------------
// Error state and texts

TEST_F(AnalysisTest, ErrorTextsAndClearing)
{
    EXPECT_STREQ(AnalysisErrorText(1), "1-й маркер должен быть левее 2-го!");
    EXPECT_STREQ(AnalysisErrorText(2), "Между маркерами не достаточно данных!");
    EXPECT_STREQ(AnalysisErrorText(3), "Левая точка должна быть левее правой!");
    EXPECT_EQ(AnalysisErrorText(0), nullptr);
    EXPECT_EQ(AnalysisErrorText(4), nullptr);
    EXPECT_STREQ(AnalysisErrorCaption, "ERROR!");

    AnalysisState.AnalysisFailed = 1;
    AnalysisState.AnalysisErrorCode = 3;
    ClearAnalysisError();
    EXPECT_EQ(AnalysisState.AnalysisFailed, 0);
    EXPECT_EQ(AnalysisState.AnalysisErrorCode, 0);
}

TEST_F(AnalysisTest, ResetAnalysisStateZeroesEverything)
{
    AnalysisState.FwhmChannels = 3;
    AnalysisState.MeasurePending = 1;
    AnalysisState.PeakEnergy = 661.66;
    AnalysisState.AnalysisErrorCode = 2;
    ResetAnalysisState();
    EXPECT_EQ(AnalysisState.FwhmChannels, 0.0);
    EXPECT_EQ(AnalysisState.MeasurePending, 0);
    EXPECT_EQ(AnalysisState.PeakEnergy, 0.0);
    EXPECT_EQ(AnalysisState.AnalysisErrorCode, 0);
}
