// Calibration points, peak measurement, differential nonlinearity and the
// texts of their messages.
#include "tests/analysis/AnalysisFixture.h"

#include <cmath>
#include <limits>
#include <string>

namespace {

// The triangular peak 10,10,20,30,40,30,20,10,10 in channels first..first+8.
void PutTriangle(int32_t first, int32_t input = 1)
{
    const int32_t tri[9] = {10, 10, 20, 30, 40, 30, 20, 10, 10};
    for (int32_t i = 0; i < 9; ++i)
        WriteChannel(first + i, input, tri[i]);
}

const std::string Cr = "\r";

} // namespace

// ---------------------------------------------------------------------------
// Number formatting

TEST(FormatFloat, FixedDecimalsWithSeparatorAndSign)
{
    EXPECT_EQ(FormatF2(5.0, '.'), "5.00");
    EXPECT_EQ(FormatF2(5.0, ','), "5,00");
    EXPECT_EQ(FormatF2(-1.0, '.'), "-1.00");
    EXPECT_EQ(FormatF4(-100.0 / 1024, '.'), "-0.0977");
    EXPECT_EQ(FormatF3(1000.0 / 111, '.'), "9.009");
    EXPECT_EQ(FormatF3(std::sqrt(10.0) / 111 * 100, ','), "2,849");
    EXPECT_EQ(FormatF0(111.0, ','), "111");
    EXPECT_EQ(FormatF2(1234.5, ','), "1234,50");
    EXPECT_EQ(FormatF2(0.07, '.'), "0.07");
    EXPECT_EQ(FormatF4(-0.00004, '.'), "0.0000");
}

TEST(FormatFloat, RoundingHalfAwayFromZeroAndZeroWithoutSign)
{
    EXPECT_EQ(FormatF2(0.0, '.'), "0.00");
    EXPECT_EQ(FormatF2(-0.0, '.'), "0.00");
    EXPECT_EQ(FormatF2(-0.001, '.'), "0.00");
    EXPECT_EQ(FormatF2(-0.005, '.'), "-0.01");
    EXPECT_EQ(FormatF2(0.125, '.'), "0.13");
    EXPECT_EQ(FormatF2(2.675, '.'), "2.68"); // as written, though held as 2.67499...
    EXPECT_EQ(FormatF0(110.5, '.'), "111");
    EXPECT_EQ(FormatF0(-110.5, '.'), "-111");
    EXPECT_EQ(FormatF0(0.4, '.'), "0");
    EXPECT_EQ(FormatF0(0.6, '.'), "1");
    EXPECT_EQ(FormatF2(9.999, '.'), "10.00");
    EXPECT_EQ(FormatF2(99.995, '.'), "100.00");
}

TEST(FormatFloat, AtMostSevenSignificantDigits)
{
    EXPECT_EQ(FormatF2(12345.678, '.'), "12345.68");
    EXPECT_EQ(FormatF2(123456.789, '.'), "123456.80");
    EXPECT_EQ(FormatF2(1234567.891, '.'), "1234568.00");
    EXPECT_EQ(FormatF4(1234.56789, '.'), "1234.5680");
    EXPECT_EQ(FormatF2(9999999.4, '.'), "9999999.00");
    EXPECT_EQ(FormatF2(-9999999.0, '.'), "-9999999.00");
    EXPECT_EQ(FormatF0(2200000000.0, '.'), "2200000000");
    EXPECT_EQ(FormatF0(9999999999.0, '.'), "9999999999");
}

TEST(FormatFloat, ExponentNotationForTooManyIntegerDigits)
{
    EXPECT_EQ(FormatF2(12345678.9, '.'), "1.234568E+07");
    EXPECT_EQ(FormatF2(-12345678.9, ','), "-1,234568E+07");
    EXPECT_EQ(FormatF2(9999999.6, '.'), "1.000000E+07"); // rounds up into eight digits
    EXPECT_EQ(FormatF4(1e10, '.'), "1.000000E+10");
    EXPECT_EQ(FormatF3(2.5e123, '.'), "2.500000E+123");
    EXPECT_EQ(FormatF0(12345678901.0, '.'), "1.234567890E+10");
    EXPECT_EQ(FormatFloat(123.0, 0, 1, '.'), "1E+02");
}

TEST(FormatFloat, NotANumberAndInfinities)
{
    EXPECT_EQ(FormatF2(std::numeric_limits<double>::quiet_NaN(), '.'), "NAN");
    EXPECT_EQ(FormatF2(std::numeric_limits<double>::infinity(), '.'), "INF");
    EXPECT_EQ(FormatF2(-std::numeric_limits<double>::infinity(), '.'), "-INF");
    EXPECT_EQ(FormatF2(1e-300, '.'), "0.00");
    EXPECT_EQ(FormatF2(std::numeric_limits<double>::max(), '.'), "1.797693E+308");
}

// ---------------------------------------------------------------------------
// Energy entry and calibration points

TEST(EnergyEntry, PrefillTakesTheNearestHundredth)
{
    int keV = -1, dkeV = -1;
    PrefillEnergy(15.25, keV, dkeV);
    EXPECT_EQ(keV, 15);
    EXPECT_EQ(dkeV, 25);
    PrefillEnergy(1005.0, keV, dkeV);
    EXPECT_EQ(keV, 1005);
    EXPECT_EQ(dkeV, 0);
    PrefillEnergy(661.66, keV, dkeV); // held as 661.65999...
    EXPECT_EQ(keV, 661);
    EXPECT_EQ(dkeV, 66);
    PrefillEnergy(59.54, keV, dkeV);
    EXPECT_EQ(keV, 59);
    EXPECT_EQ(dkeV, 54);
    PrefillEnergy(0.999, keV, dkeV);
    EXPECT_EQ(keV, 1);
    EXPECT_EQ(dkeV, 0);
    PrefillEnergy(12.344, keV, dkeV);
    EXPECT_EQ(dkeV, 34);
}

TEST(EnergyEntry, PrefillKeepsBothFieldsInTheirRanges)
{
    int keV = -1, dkeV = -1;
    PrefillEnergy(9500.25, keV, dkeV);
    EXPECT_EQ(keV, 9000);
    EXPECT_EQ(dkeV, 25);
    PrefillEnergy(-5.5, keV, dkeV);
    EXPECT_EQ(keV, 0);
    EXPECT_EQ(dkeV, 0);
    PrefillEnergy(1e300, keV, dkeV);
    EXPECT_EQ(keV, 9000);
    EXPECT_EQ(dkeV, 0);
    PrefillEnergy(std::numeric_limits<double>::infinity(), keV, dkeV);
    EXPECT_EQ(keV, 9000);
    EXPECT_EQ(dkeV, 0);
    PrefillEnergy(-std::numeric_limits<double>::infinity(), keV, dkeV);
    EXPECT_EQ(keV, 0);
    EXPECT_EQ(dkeV, 0);
    keV = dkeV = 7;
    PrefillEnergy(std::numeric_limits<double>::quiet_NaN(), keV, dkeV);
    EXPECT_EQ(keV, 0);
    EXPECT_EQ(dkeV, 0);
}

TEST(EnergyEntry, ComposeAddsHundredths)
{
    EXPECT_EQ(ComposeEnergy(661, 66), 661.66);
    EXPECT_EQ(ComposeEnergy(0, 0), 0.0);
    EXPECT_EQ(ComposeEnergy(9000, 99), 9000.99);
    EXPECT_EQ(ComposeEnergy(15, 5), 15.05);
    int keV = 0, dkeV = 0;
    // Every energy the two fields can give comes back unchanged.
    for (int k = 0; k <= EnergyKeVMax; ++k)
        for (int d = 0; d <= EnergyDkeVMax; ++d) {
            PrefillEnergy(ComposeEnergy(k, d), keV, dkeV);
            ASSERT_EQ(keV * 100 + dkeV, k * 100 + d) << k << " " << d;
        }
}

TEST_F(AnalysisTest, CalibrationPointStoresEnergyAndCentroid)
{
    PutTriangle(11); // apex at channel 15, inside the default left region 10..20
    Settings.LeftPeakCentroid = 99.0;

    EXPECT_EQ(MeasureCalibrationPoint(1, true, 661.66), AnalysisNoError);
    EXPECT_EQ(Settings.LeftPeakEnergy, 661.66);
    EXPECT_DOUBLE_EQ(Settings.LeftPeakCentroid, 15.0);
    EXPECT_EQ(Settings.RightPeakEnergy, 1005.0);
}

TEST_F(AnalysisTest, CalibrationPointOnAFlatRegionKeepsTheOldCentroid)
{
    Fill(990, 1020, 40);
    EXPECT_EQ(MeasureCalibrationPoint(1, false, 1332.5), NotEnoughData);
    EXPECT_EQ(Settings.RightPeakEnergy, 1332.5); // the energy is stored all the same
    EXPECT_EQ(Settings.RightPeakCentroid, 1005.0);
}

TEST_F(AnalysisTest, CalibrationPointWithRegionBackwardsIsCode1)
{
    Settings.LeftPeakFrom = 20;
    Settings.LeftPeakTo = 20;
    PutTriangle(11);
    EXPECT_EQ(MeasureCalibrationPoint(1, true, 30.0), MarkersOutOfOrder);
    EXPECT_EQ(Settings.LeftPeakCentroid, 15.0);
}

TEST_F(AnalysisTest, CalibrationPointMeasuresTheWindowsOwnInput)
{
    PutTriangle(995, 2); // apex 999 in input 2 only
    Fill(990, 1010, 5, 1); // flat in input 1
    Settings.RightPeakFrom = 990;
    Settings.RightPeakTo = 1010;
    EXPECT_EQ(MeasureCalibrationPoint(2, false, 999.0), AnalysisNoError);
    EXPECT_DOUBLE_EQ(Settings.RightPeakCentroid, 999.0);
    EXPECT_EQ(MeasureCalibrationPoint(1, false, 999.0), NotEnoughData);
}

// The peak measurement and the nonlinearity as the window runs them: each
// peak measurement starts from the values the one before left.
class MeasurementTest : public AnalysisTest {
protected:
    PeakResult Measure(double E, bool withReference)
    {
        const PeakOutcome o = MeasurePeak(1, E, withReference, m);
        m = o.Values;
        error = o.Error;
        return o.Result;
    }

    void Dnl()
    {
        d = DifNoLine(1);
        error = d.Error;
    }

    PeakMeasurement m;
    DnlResult d;
    AnalysisError error = AnalysisNoError;
};

// ---------------------------------------------------------------------------
// Peak measurement

TEST_F(MeasurementTest, PeakWithReferenceGivesThreeLines)
{
    PutTriangle(0);
    Markers(0, 8);
    ASSERT_EQ(Measure(ComposeEnergy(5, 0), true), PeakResult::ShowMessage);
    EXPECT_EQ(m.ReferenceEnergy, 5.0);
    EXPECT_DOUBLE_EQ(m.PeakCentroid, 4.0);
    EXPECT_DOUBLE_EQ(m.PeakEnergy, 4.0); // default calibration: E(c) = c
    EXPECT_DOUBLE_EQ(m.ResolutionKeV, 3.0);
    EXPECT_DOUBLE_EQ(m.EnergyDeviation, -1.0);
    EXPECT_DOUBLE_EQ(m.ChannelDeviation, -1.0);
    EXPECT_DOUBLE_EQ(m.NonlinearityPercent, -0.09765625);
    EXPECT_EQ(PeakMessage(m, true, '.'), "Энергия:  5.00keV =4.00 кан." + Cr +
                                          "Разрешение: 3.00keV =3.00 кан." + Cr +
                                          "Нелинейность: -1.00keV =-1.00 кан.=-0.0977 %");
    EXPECT_EQ(PeakMessage(m, true, ','), "Энергия:  5,00keV =4,00 кан." + Cr +
                                          "Разрешение: 3,00keV =3,00 кан." + Cr +
                                          "Нелинейность: -1,00keV =-1,00 кан.=-0,0977 %");
    EXPECT_STREQ(PeakMessageCaption, "Измерение пика");
}

TEST_F(MeasurementTest, PeakWithoutReferenceGivesTwoLinesAndKeepsTheDeviations)
{
    PutTriangle(0);
    Markers(0, 8);
    m.ReferenceEnergy = 5.0;
    m.EnergyDeviation = 7.0;
    m.ChannelDeviation = 8.0;
    m.NonlinearityPercent = 9.0;
    ASSERT_EQ(Measure(123.0, false), PeakResult::ShowMessage);
    EXPECT_EQ(m.ReferenceEnergy, 0.0);
    EXPECT_EQ(m.EnergyDeviation, 7.0);
    EXPECT_EQ(m.ChannelDeviation, 8.0);
    EXPECT_EQ(m.NonlinearityPercent, 9.0);
    EXPECT_EQ(PeakMessage(m, false, '.'),
              "Энергия:  4.00keV =4.00 кан." + Cr + "Разрешение: 3.00keV =3.00 кан.");
}

TEST_F(MeasurementTest, PeakWithReferenceZeroIsSilent)
{
    PutTriangle(100);
    Markers(100, 108);
    m.EnergyDeviation = 7.0;
    ASSERT_EQ(Measure(ComposeEnergy(0, 0), true), PeakResult::Silent);
    EXPECT_DOUBLE_EQ(m.PeakCentroid, 104.0);
    EXPECT_DOUBLE_EQ(m.FwhmChannels, 3.0);
    EXPECT_DOUBLE_EQ(m.PeakEnergy, 104.0);
    EXPECT_DOUBLE_EQ(m.ResolutionKeV, 3.0);
    EXPECT_EQ(m.EnergyDeviation, 7.0);
}

TEST_F(MeasurementTest, PeakThroughACalibrationOfTwoKeVPerChannel)
{
    Settings.InputCount = 1;
    Settings.ChannelCount = 4096;
    Settings.LeftPeakEnergy = 100.0;
    Settings.LeftPeakCentroid = 100.0;
    Settings.RightPeakEnergy = 1100.0;
    Settings.RightPeakCentroid = 600.0;
    PutTriangle(296); // apex 300: E = 100 + 200 / 500 * 1000 = 500 keV
    Markers(296, 304);

    ASSERT_EQ(Measure(510.0, true), PeakResult::ShowMessage);
    EXPECT_DOUBLE_EQ(m.PeakEnergy, 500.0);
    EXPECT_DOUBLE_EQ(m.ResolutionKeV, 6.0);
    EXPECT_DOUBLE_EQ(m.ChannelDeviation, -5.0);
    // Percent of ChannelCount (4096), not of the calibrated span.
    EXPECT_EQ(PeakMessage(m, true, '.'), "Энергия:  510.00keV =300.00 кан." + Cr +
                                          "Разрешение: 6.00keV =3.00 кан." + Cr +
                                          "Нелинейность: -10.00keV =-5.00 кан.=-0.1221 %");

    ASSERT_EQ(Measure(490.0, true), PeakResult::ShowMessage);
    EXPECT_EQ(PeakMessage(m, true, '.'), "Энергия:  490.00keV =300.00 кан." + Cr +
                                          "Разрешение: 6.00keV =3.00 кан." + Cr +
                                          "Нелинейность: 10.00keV =5.00 кан.=0.1221 %");
}

TEST_F(MeasurementTest, PeakFailuresKeepTheEarlierResults)
{
    PutTriangle(0);
    m.PeakCentroid = 11.0;
    m.PeakEnergy = 12.0;
    m.ResolutionKeV = 13.0;
    m.FwhmChannels = 14.0;

    Markers(8, 0);
    ASSERT_EQ(Measure(5.0, true), PeakResult::Failed);
    EXPECT_EQ(error, MarkersOutOfOrder);
    EXPECT_EQ(m.ReferenceEnergy, 5.0); // stored before the measurement
    EXPECT_EQ(m.PeakCentroid, 11.0);

    Markers(300, 310); // all zero
    ASSERT_EQ(Measure(5.0, false), PeakResult::Failed);
    EXPECT_EQ(error, NotEnoughData);
    EXPECT_EQ(m.ReferenceEnergy, 0.0);
    EXPECT_EQ(m.PeakEnergy, 12.0);
    EXPECT_EQ(m.ResolutionKeV, 13.0);
    EXPECT_EQ(m.FwhmChannels, 14.0);
}

TEST_F(MeasurementTest, PeakWithCalibrationOutOfOrderIsCode3WhateverTheMarkers)
{
    PutTriangle(0);
    Settings.LeftPeakEnergy = 100.0;
    Settings.RightPeakEnergy = 100.0;
    m.PeakEnergy = 12.0;

    Markers(0, 8); // a good peak: it is measured, but not converted
    ASSERT_EQ(Measure(5.0, true), PeakResult::Failed);
    EXPECT_EQ(error, CalibrationOutOfOrder);
    EXPECT_DOUBLE_EQ(m.PeakCentroid, 4.0);
    EXPECT_DOUBLE_EQ(m.FwhmChannels, 3.0);
    EXPECT_EQ(m.PeakEnergy, 12.0);

    Markers(8, 0); // code 3 replaces code 1
    ASSERT_EQ(Measure(5.0, true), PeakResult::Failed);
    EXPECT_EQ(error, CalibrationOutOfOrder);

    Markers(300, 310); // and code 2
    ASSERT_EQ(Measure(5.0, false), PeakResult::Failed);
    EXPECT_EQ(error, CalibrationOutOfOrder);

    Settings.RightPeakEnergy = 1005.0; // energies in order, centroids reversed
    Settings.LeftPeakCentroid = 1005.0;
    Settings.RightPeakCentroid = 15.0;
    Markers(0, 8);
    ASSERT_EQ(Measure(5.0, true), PeakResult::Failed);
    EXPECT_EQ(error, CalibrationOutOfOrder);

    Settings.LeftPeakCentroid = std::numeric_limits<double>::quiet_NaN();
    Settings.RightPeakCentroid = 1005.0;
    ASSERT_EQ(Measure(5.0, true), PeakResult::Failed);
    EXPECT_EQ(error, CalibrationOutOfOrder);
    EXPECT_EQ(AnalysisErrorText(error),
              std::string("Левая точка должна быть левее правой!"));
}

// ---------------------------------------------------------------------------
// Differential nonlinearity

TEST_F(MeasurementTest, DnlOneHighChannel)
{
    Fill(10, 20, 100);
    Put(15, {110});
    Markers(10, 20);
    Dnl();
    ASSERT_EQ(error, AnalysisNoError);
    EXPECT_DOUBLE_EQ(d.MeanCount, 111.0);
    EXPECT_DOUBLE_EQ(d.MaxPercent, 10.0 / 111 * 100);
    EXPECT_DOUBLE_EQ(d.RmsPercent, std::sqrt(10.0) / 111 * 100);
    EXPECT_EQ(DnlMessage(d, '.'), "Дифференциальная нелинейность\rпри наборе 111 в канале:" + Cr +
                                   "СКЗ=2.849 %" + Cr + "max=9.009 %");
    EXPECT_EQ(DnlMessage(d, ','), "Дифференциальная нелинейность\rпри наборе 111 в канале:" + Cr +
                                   "СКЗ=2,849 %" + Cr + "max=9,009 %");
    EXPECT_STREQ(DnlMessageCaption, "Измерение дифференциальной нелинейности");
}

TEST_F(MeasurementTest, DnlOneLowChannel)
{
    Fill(10, 20, 100);
    Put(15, {90});
    Markers(10, 20);
    Dnl();
    ASSERT_EQ(error, AnalysisNoError);
    EXPECT_DOUBLE_EQ(d.MeanCount, 109.0);
    EXPECT_EQ(DnlMessage(d, '.'), "Дифференциальная нелинейность\rпри наборе 109 в канале:" + Cr +
                                   "СКЗ=2.901 %" + Cr + "max=9.174 %");
}

TEST_F(MeasurementTest, DnlStraightLineAndAdjacentMarkersGiveZero)
{
    for (int32_t c = 0; c <= 10; ++c)
        WriteChannel(200 + c, 1, 100 + 2 * c);
    Markers(200, 210);
    Dnl();
    ASSERT_EQ(error, AnalysisNoError);
    EXPECT_DOUBLE_EQ(d.MeanCount, 121.0); // 1210 / 10
    EXPECT_EQ(DnlMessage(d, '.'), "Дифференциальная нелинейность\rпри наборе 121 в канале:" + Cr +
                                   "СКЗ=0.000 %" + Cr + "max=0.000 %");

    Put(300, {50, 70});
    Markers(300, 301);
    Dnl();
    ASSERT_EQ(error, AnalysisNoError);
    EXPECT_DOUBLE_EQ(d.MeanCount, 120.0);
    EXPECT_EQ(d.RmsPercent, 0.0);
    EXPECT_EQ(d.MaxPercent, 0.0);
}

TEST_F(MeasurementTest, DnlMarkersOutOfOrderIsCode1AfterResettingTheFigures)
{
    Fill(0, 100, 100);
    for (auto [m1, m2] : {std::pair{50, 50}, std::pair{60, 50}}) {
        Markers(m1, m2);
        Dnl();
        EXPECT_EQ(error, MarkersOutOfOrder);
        EXPECT_EQ(d.MeanCount, 0.0);
        EXPECT_EQ(d.RmsPercent, 0.0);
        EXPECT_EQ(d.MaxPercent, -2100000000.0);
    }
}

TEST_F(MeasurementTest, DnlWithoutCountsIsCode2)
{
    Markers(100, 200); // all zero
    Dnl();
    EXPECT_EQ(error, NotEnoughData);

    Put(300, {1, 0});
    Markers(300, 301); // a sum of exactly 1 is not enough
    Dnl();
    EXPECT_EQ(error, NotEnoughData);
}

TEST_F(MeasurementTest, DnlMarkersOutsideTheSpectrumAreCode2)
{
    Fill(0, 1023, 100);
    for (auto [m1, m2] : {std::pair{-3, 10}, std::pair{1000, 1024}, std::pair{1020, 5000}}) {
        Markers(m1, m2);
        Dnl();
        EXPECT_EQ(error, NotEnoughData) << m1 << ".." << m2;
    }
    Markers(0, 1023);
    Dnl();
    EXPECT_EQ(error, AnalysisNoError);
    EXPECT_EQ(DnlMessage(d, '.'), "Дифференциальная нелинейность\rпри наборе 100 в канале:" + Cr +
                                   "СКЗ=0.000 %" + Cr + "max=0.000 %"); // 102400 / 1023 = 100.1
}

TEST_F(MeasurementTest, DnlLineProductBeyond32BitsAndLargeMeans)
{
    // A line from 0 to 2,000,000,000 over 1000 channels: (count(M2) -
    // count(M1)) * (i - M1) reaches 2e12, and every count lies on the line.
    for (int32_t c = 0; c <= 1000; ++c)
        WriteChannel(c, 1, 2000000 * c);
    Markers(0, 1000);
    Dnl();
    ASSERT_EQ(error, AnalysisNoError);
    EXPECT_EQ(d.MaxPercent, 0.0);
    EXPECT_EQ(DnlMessage(d, '.'), "Дифференциальная нелинейность\rпри наборе 1001000000 в канале:" +
                                   Cr + "СКЗ=0.000 %" + Cr + "max=0.000 %");

    UseLargeSpectrum(); // a sum wider than 32 bits
    Fill(2000, 2010, 2000000000);
    Markers(2000, 2010);
    Dnl();
    ASSERT_EQ(error, AnalysisNoError);
    EXPECT_EQ(FormatF0(d.MeanCount, '.'), "2200000000");
}
