// The sample spectra of samples/ read through the program's own file reader
// and measured with its own analysis: the centroids come back at the channels
// written down in samples/README.md, the calibration on the two-peak sample
// turns them into the right energies, and the flat sample shows only the
// nonlinearity of its counting statistics.
#include "analysis/Analysis.h"
#include "files/SpektrFiles.h"
#include "core/Uryv.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

const std::string SamplesDir = RYV_SAMPLES_DIR;

// The model of samples/README.md (and tools/make_samples.cpp).
constexpr double CsChannel = 265.30;   // 661.66 keV, sigma 6.0, area 300000
constexpr double KChannel = 585.70;    // 1460.82 keV, sigma 9.0, area 120000
constexpr double CsEnergy = 661.66;
constexpr double KEnergy = 1460.82;
constexpr double FwhmPerSigma = 2.3548200450309493; // 2 sqrt(2 ln 2)
constexpr double DoubletLeft = 2040.30;   // sigma 5.0, area 80000
constexpr double DoubletRight = 2061.80;  // sigma 5.0, area 50000
constexpr double DoubletLeftArea = 80000.0;
constexpr double DoubletRightArea = 50000.0;
constexpr double FlatLevel = 10000.0;

// A centroid measured on a peak standing alone, over a region reaching four
// standard deviations to each side, lies this close to the true centre; the
// counting statistics of these samples move it by a few hundredths.
constexpr double CentroidTolerance = 0.2; // channels
// The half-maximum crossings are interpolated linearly between channels.
constexpr double FwhmTolerance = 0.5;     // channels
// Each half of the doublet, measured up to the valley between them, takes in
// the tail of its neighbour and loses the end of its own tail: without any
// noise that moves the centroids by -0.24 and +0.15 channels.
constexpr double DoubletHalfTolerance = 0.5; // channels

std::vector<char> FileBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class SampleSpectra : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetCoreState();
        Settings = DefaultSettings();
        DataFromMemory = 1;
        ResetAnalysisState();
    }

    void TearDown() override { EXPECT_EQ(OutOfRangeChannelAccesses, 0u); }

    // Reads samples/<name> into input 1 with `channels` channels and checks
    // that every channel holds the count of its line.
    static void Load(const std::string &name, int32_t channels)
    {
        Settings.ChannelCount = channels;
        Settings.ViewWidth = static_cast<uint16_t>(channels);
        const std::string path = SamplesDir + "/" + name;
        const SpectrumFileResult r = ReadSpectrum(path, 1);
        ASSERT_TRUE(r.Succeeded()) << path << ": " << r.BoxText() << " " << r.generalError;
        const std::vector<char> bytes = FileBytes(path);
        ASSERT_EQ(bytes.size(), 22u * static_cast<size_t>(channels));
        for (int32_t c = 0; c < channels; ++c) {
            const std::string field(bytes.data() + 22 * c + 8, 12);
            ASSERT_EQ(ReadChannel(c, 1), std::stol(field)) << name << " channel " << c;
        }
    }

    static void Markers(int32_t m1, int32_t m2)
    {
        Settings.Marker[0] = m1;
        Settings.Marker[1] = m2;
    }

    static double Centroid(int32_t first, int32_t last, bool withFwhm = false)
    {
        const PeakFit fit = Execution(1, ChannelRegion{first, last}, withFwhm);
        EXPECT_FALSE(fit.Failed()) << first << ".." << last;
        return fit.Centroid;
    }
};

// Every sample is exactly the program's text format: 22 bytes per channel,
// the channel right-aligned in columns 1-6, two spaces, a non-negative count
// right-aligned in columns 7-20, CR LF.
TEST_F(SampleSpectra, FilesAreInTheTextFormat)
{
    const struct {
        const char *name;
        int channels;
    } files[] = {{"two_peaks_1024.txt", 1024}, {"doublet_4096.txt", 4096}, {"flat_1024.txt", 1024}};
    for (const auto &f : files) {
        const std::vector<char> bytes = FileBytes(SamplesDir + "/" + f.name);
        ASSERT_EQ(bytes.size(), 22u * f.channels) << f.name;
        for (int c = 0; c < f.channels; ++c) {
            const std::string line(bytes.data() + 22 * c, 22);
            char expectChannel[16];
            std::snprintf(expectChannel, sizeof expectChannel, "%6d", c);
            ASSERT_EQ(line.substr(0, 6), expectChannel) << f.name << " line " << c;
            ASSERT_EQ(line.substr(6, 2), "  ") << f.name << " line " << c;
            ASSERT_EQ(line.substr(20, 2), "\r\n") << f.name << " line " << c;
            const std::string count = line.substr(8, 12);
            const size_t digits = count.find_first_not_of(' ');
            ASSERT_NE(digits, std::string::npos) << f.name << " line " << c;
            ASSERT_EQ(count.find_first_not_of("0123456789", digits), std::string::npos)
                << f.name << " line " << c << ": '" << count << "'";
        }
    }
}

// Left region around the 661.66 keV peak fixed with the double click, the
// right one around the 1460.82 keV peak, then Ctrl+L and Ctrl+R with the
// energies: both centroids land on the true channels.
TEST_F(SampleSpectra, TwoPointCalibrationFindsTheTrueChannels)
{
    ASSERT_NO_FATAL_FAILURE(Load("two_peaks_1024.txt", 1024));
    Settings.LeftPeakFrom = 241;   // 265.30 -/+ 4 sigma
    Settings.LeftPeakTo = 289;
    Settings.RightPeakFrom = 550;  // 585.70 -/+ 4 sigma
    Settings.RightPeakTo = 622;

    ASSERT_EQ(MeasureCalibrationPoint(1, true, ComposeEnergy(661, 66)), AnalysisNoError);
    ASSERT_EQ(MeasureCalibrationPoint(1, false, ComposeEnergy(1460, 82)), AnalysisNoError);
    EXPECT_DOUBLE_EQ(Settings.LeftPeakEnergy, CsEnergy);
    EXPECT_DOUBLE_EQ(Settings.RightPeakEnergy, KEnergy);
    EXPECT_NEAR(Settings.LeftPeakCentroid, CsChannel, CentroidTolerance);
    EXPECT_NEAR(Settings.RightPeakCentroid, KChannel, CentroidTolerance);

    // 799.16 keV over 320.40 channels: 2.4943 keV per channel, and channel 0
    // lies close to 0 keV.
    const double gain = (Settings.RightPeakEnergy - Settings.LeftPeakEnergy) /
                        (Settings.RightPeakCentroid - Settings.LeftPeakCentroid);
    EXPECT_NEAR(gain, (KEnergy - CsEnergy) / (KChannel - CsChannel), 0.004);
    EXPECT_NEAR(Settings.LeftPeakEnergy - Settings.LeftPeakCentroid * gain, 0.0, 1.0);
}

// After the calibration, Ctrl+M on each peak with the markers three standard
// deviations to each side: centroid, FWHM, energy and resolution.
TEST_F(SampleSpectra, PeakMeasurementAfterCalibration)
{
    ASSERT_NO_FATAL_FAILURE(Load("two_peaks_1024.txt", 1024));
    Settings.LeftPeakFrom = 241;
    Settings.LeftPeakTo = 289;
    Settings.RightPeakFrom = 550;
    Settings.RightPeakTo = 622;
    ASSERT_EQ(MeasureCalibrationPoint(1, true, CsEnergy), AnalysisNoError);
    ASSERT_EQ(MeasureCalibrationPoint(1, false, KEnergy), AnalysisNoError);
    const double gain = (KEnergy - CsEnergy) / (KChannel - CsChannel);

    const struct {
        int32_t first, last;
        double channel, sigma, energy;
    } peaks[] = {{247, 283, CsChannel, 6.0, CsEnergy}, {559, 613, KChannel, 9.0, KEnergy}};
    PeakOutcome peak;
    for (const auto &p : peaks) {
        SCOPED_TRACE(p.energy);
        Markers(p.first, p.last);
        peak = MeasurePeak(1, p.energy, true, peak.Values);
        ASSERT_EQ(peak.Result, PeakResult::ShowMessage);
        EXPECT_NEAR(peak.Values.PeakCentroid, p.channel, CentroidTolerance);
        EXPECT_NEAR(peak.Values.FwhmChannels, FwhmPerSigma * p.sigma, FwhmTolerance);
        // The energy of the peak against the one typed: off by less than the
        // centroid tolerance, in keV and in channels.
        EXPECT_NEAR(peak.Values.PeakEnergy, p.energy, 2 * CentroidTolerance * gain);
        EXPECT_NEAR(peak.Values.EnergyDeviation, peak.Values.PeakEnergy - p.energy, 1e-9);
        EXPECT_NEAR(peak.Values.ChannelDeviation, 0.0, 2 * CentroidTolerance);
        EXPECT_NEAR(peak.Values.NonlinearityPercent, peak.Values.ChannelDeviation * 100.0 / 1024, 1e-12);
        EXPECT_NEAR(peak.Values.ResolutionKeV, FwhmPerSigma * p.sigma * gain, FwhmTolerance * gain);
    }
    // The message shows the same figures, with two decimals.
    const std::string text = PeakMessage(peak.Values, true, '.');
    EXPECT_EQ(text.rfind("Энергия:  1460.82keV =585.", 0), 0u) << text;
}

// The doublet on 4096 channels: the whole doublet measures at the
// area-weighted mean of the two centres, each half measured up to the valley
// at its own centre, and the valley lies well below either top.
TEST_F(SampleSpectra, CloseDoubletIsResolved)
{
    ASSERT_NO_FATAL_FAILURE(Load("doublet_4096.txt", 4096));
    const double mean = (DoubletLeft * DoubletLeftArea + DoubletRight * DoubletRightArea) /
                        (DoubletLeftArea + DoubletRightArea);
    EXPECT_NEAR(Centroid(2020, 2082), mean, CentroidTolerance);
    const double left = Centroid(2020, 2051);
    const double right = Centroid(2051, 2082);
    EXPECT_NEAR(left, DoubletLeft, DoubletHalfTolerance);
    EXPECT_NEAR(right, DoubletRight, DoubletHalfTolerance);
    EXPECT_NEAR(right - left, DoubletRight - DoubletLeft, 2 * DoubletHalfTolerance);

    const int32_t valley = ReadChannel(2051, 1);
    const int32_t smallerTop = ReadChannel(2062, 1);
    EXPECT_LT(valley, smallerTop / 2) << "valley " << valley << ", top " << smallerTop;

    // The peak measurement with the default calibration (energy = channel)
    // gives the channel of the left half back as its energy.
    Markers(2020, 2051);
    const PeakOutcome peak = MeasurePeak(1, 0.0, false, {});
    ASSERT_EQ(peak.Result, PeakResult::ShowMessage);
    EXPECT_NEAR(peak.Values.PeakEnergy, DoubletLeft, DoubletHalfTolerance);
    EXPECT_NEAR(peak.Values.FwhmChannels, FwhmPerSigma * 5.0, 1.0);
}

// The flat sample holds 10000 counts per channel with Poisson noise (1 %).
// The differential nonlinearity over channels 10..1010 is that noise and no
// more: an RMS between 0.8 % and 2 % (the counts scatter by 1 % about the
// line through two end channels that scatter as much) and a spread of the
// deviations below 10 %.
TEST_F(SampleSpectra, FlatSampleShowsOnlyCountingStatistics)
{
    ASSERT_NO_FATAL_FAILURE(Load("flat_1024.txt", 1024));
    Markers(10, 1010);
    const DnlResult dnl = DifNoLine(1);
    ASSERT_EQ(dnl.Error, AnalysisNoError);
    // The sum of 1001 channels divided by 1000.
    EXPECT_NEAR(dnl.MeanCount, FlatLevel * 1001 / 1000, FlatLevel * 0.005);
    EXPECT_GT(dnl.RmsPercent, 0.8);
    EXPECT_LT(dnl.RmsPercent, 2.0);
    EXPECT_GT(dnl.MaxPercent, 0.0);
    EXPECT_LT(dnl.MaxPercent, 10.0);
}

} // namespace
