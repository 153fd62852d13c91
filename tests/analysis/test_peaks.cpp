// Net areas, peak search and fits, and nuclide identification on synthetic
// spectra with Poisson noise and known truth.
#include "analysis/Peaks.h"
#include "device/Simulator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

constexpr double kSigmaPerFwhm = 1 / 2.3548200450309493;

// Expected counts: background a + b x + c exp(-x / d), Gaussians of the given
// FWHM with their areas (integrated over each channel).
struct Truth {
    double a = 0, b = 0, c = 0, d = 1;
    std::vector<std::array<double, 3>> peaks; // centre, fwhm, area
};

std::vector<double> Expected(const Truth &t, int n)
{
    std::vector<double> m(static_cast<size_t>(n));
    for (int x = 0; x < n; ++x) {
        double v = t.a + t.b * x + t.c * std::exp(-x / t.d);
        for (const auto &p : t.peaks) {
            const double s = p[1] * kSigmaPerFwhm;
            v += p[2] * 0.5 * (std::erf((x + 0.5 - p[0]) / (s * std::sqrt(2.0))) -
                               std::erf((x - 0.5 - p[0]) / (s * std::sqrt(2.0))));
        }
        m[size_t(x)] = std::max(v, 0.0);
    }
    return m;
}

std::vector<double> Poisson(const std::vector<double> &m, std::mt19937_64 &rng)
{
    std::vector<double> y(m.size());
    for (size_t i = 0; i < m.size(); ++i)
        y[i] = m[i] > 0 ? double(std::poisson_distribution<int64_t>(m[i])(rng)) : 0.0;
    return y;
}

const FoundPeak *Nearest(const std::vector<FoundPeak> &found, double centre, double within)
{
    const FoundPeak *best = nullptr;
    for (const FoundPeak &p : found)
        if (std::fabs(p.Centroid - centre) <= within &&
            (!best || std::fabs(p.Centroid - centre) < std::fabs(best->Centroid - centre)))
            best = &p;
    return best;
}

} // namespace

// 200 random peaks on linear and falling backgrounds: the region's and the
// fit's net areas lie within two stated sigmas of the truth in 90 % of
// cases, and the stated sigma matches the scatter within 20 %.
TEST(PeakAreas, NetAreasWithinTwoSigmaAndSigmaMatchesScatter)
{
    std::mt19937_64 rng(12345);
    std::uniform_real_distribution<double> u(0, 1);
    int regionIn = 0, fitIn = 0, fitted = 0;
    double regionPull2 = 0, fitPull2 = 0;
    const int cases = 200;
    for (int k = 0; k < cases; ++k) {
        Truth t;
        const double fwhm = 6 + 10 * u(rng), centre = 200 + 100 * u(rng), area = 2000 + 20000 * u(rng);
        if (k % 2) {
            t.a = 50 + 200 * u(rng);
            t.b = -0.1 * u(rng);
        } else {
            t.c = 500 + 1500 * u(rng);
            t.d = 150 + 150 * u(rng);
            t.a = 10;
        }
        t.peaks.push_back({centre, fwhm, area});
        const std::vector<double> y = Poisson(Expected(t, 512), rng);
        // The region 1.7 FWHM either side: its straight background is the
        // truth's only where the background is straight.
        const int first = int(std::lround(centre - 1.7 * fwhm)), last = int(std::lround(centre + 1.7 * fwhm));
        const RegionArea r = MeasureRegion(y, first, last);
        ASSERT_TRUE(r.Valid);
        double inRegion = 0;
        const std::vector<double> peakOnly = Expected(Truth{0, 0, 0, 1, t.peaks}, 512);
        for (int c = first; c <= last; ++c)
            inRegion += peakOnly[size_t(c)];
        // The straight line's error on a curved background is the region's
        // own bias, not noise: judge against the expected line.
        const std::vector<double> m = Expected(t, 512);
        const RegionArea rm = MeasureRegion(m, first, last);
        const double pull = (r.Net - rm.Net) / r.NetSigma;
        regionIn += std::fabs(pull) <= 2;
        regionPull2 += pull * pull;
        EXPECT_NEAR(rm.Net, inRegion, 0.05 * inRegion + 3 * r.NetSigma) << k;

        const std::vector<FoundPeak> found = FindPeaks(y, 4.0);
        const FoundPeak *p = Nearest(found, centre, fwhm / 2);
        if (!p)
            continue;
        ++fitted;
        const double fp = (p->Area - area) / p->AreaSigma;
        fitIn += std::fabs(fp) <= 2;
        fitPull2 += fp * fp;
    }
    EXPECT_GE(regionIn, 0.9 * cases);
    EXPECT_NEAR(std::sqrt(regionPull2 / cases), 1.0, 0.2);
    EXPECT_EQ(fitted, cases);
    EXPECT_GE(fitIn, 0.9 * fitted);
    EXPECT_NEAR(std::sqrt(fitPull2 / std::max(fitted, 1)), 1.0, 0.2);
}

// Peaks of 6 sigma (net area six times its uncertainty over 3 FWHM of
// background) are found in 95 % of cases; pure background gives at most one
// false peak per 1000 channels.
TEST(PeakSearch, FindsSixSigmaPeaksAndFewFalseOnes)
{
    std::mt19937_64 rng(777);
    std::uniform_real_distribution<double> u(0, 1);
    int found = 0;
    const int cases = 200;
    for (int k = 0; k < cases; ++k) {
        Truth t;
        t.a = 100 + 400 * u(rng);
        const double fwhm = 5 + 15 * u(rng), centre = 300 + 400 * u(rng);
        const double bg = t.a * 3 * fwhm;
        // A = 6 sqrt(A + B): the positive root.
        const double area = (36 + std::sqrt(36.0 * 36 + 4 * 36 * bg)) / 2;
        t.peaks.push_back({centre, fwhm, area});
        const std::vector<FoundPeak> f = FindPeaks(Poisson(Expected(t, 1024), rng), 4.0);
        found += Nearest(f, centre, fwhm / 2) != nullptr;
    }
    EXPECT_GE(found, 0.95 * cases);

    int falsePeaks = 0, channels = 0;
    for (int k = 0; k < 40; ++k) {
        Truth t;
        t.a = k % 2 ? 20 + 500 * u(rng) : 0;
        t.c = k % 2 ? 0 : 3000;
        t.d = 400;
        const std::vector<FoundPeak> f = FindPeaks(Poisson(Expected(t, 2048), rng), 4.0);
        falsePeaks += int(f.size());
        channels += 2048;
    }
    EXPECT_LE(falsePeaks * 1000, channels);
}

// Two lines 1.3 FWHM apart are fitted together: both centroids within 0.2
// channel, both areas within two sigmas.
TEST(PeakSearch, ResolvesDoublet)
{
    std::mt19937_64 rng(42);
    Truth t;
    t.a = 100;
    const double fwhm = 12, c1 = 400, c2 = c1 + 1.3 * fwhm;
    t.peaks.push_back({c1, fwhm, 60000});
    t.peaks.push_back({c2, fwhm, 50000});
    const std::vector<FoundPeak> f = FindPeaks(Poisson(Expected(t, 1024), rng), 4.0);
    ASSERT_EQ(f.size(), 2u);
    EXPECT_NEAR(f[0].Centroid, c1, 0.2);
    EXPECT_NEAR(f[1].Centroid, c2, 0.2);
    EXPECT_NEAR(f[0].Area, 60000, 2 * f[0].AreaSigma);
    EXPECT_NEAR(f[1].Area, 50000, 2 * f[1].AreaSigma);
}

// The simulated detector's Cs-137 plus Co-60 and its four-source mix
// (photopeaks, Compton edges, backscatter bumps, the Ba X-rays of Cs-137) at
// 1K to 16K channels and 1e5 to 1e7 counts: with the true calibration each
// photopeak found once, the X-rays at most once, nothing else (no edge, no
// bump) and exactly the sources named; without it, an edge left in at most
// one spectrum in twenty.
TEST(Nuclides, SimulatedSourcesFoundAndNamedAlone)
{
    struct Source {
        std::vector<device::EmissionLine> lines;
        std::vector<double> photopeaks;
        std::vector<std::string> names;
    };
    std::vector<device::EmissionLine> mix;
    ASSERT_TRUE(device::BuiltinSourceLines("mix", mix));
    const Source sources[] = {
        {{{661.66, 1.0}, {1173.23, 1.0}, {1332.49, 1.0}}, {661.66, 1173.23, 1332.49}, {"Co-60", "Cs-137"}},
        {mix, {59.54, 661.66, 1173.23, 1332.49, 1460.82}, {"Am-241", "Co-60", "Cs-137", "K-40"}},
    };
    const double xray = 33.0; // the Ba K X-rays, unresolved
    int cases = 0, uncalibratedWrong = 0;
    for (const int channels : {1024, 4096, 16384}) {
        SettingsRecord s = DefaultSettings();
        s.LeftPeakCentroid = device::ChannelOfEnergy(100, channels);
        s.LeftPeakEnergy = 100;
        s.RightPeakCentroid = device::ChannelOfEnergy(1000, channels);
        s.RightPeakEnergy = 1000;
        const Calibration cal = CalibrationOf(s);
        ASSERT_TRUE(cal.Valid);
        for (const Source &src : sources) {
            // What is wrong with the peaks found, in words.
            auto judge = [&](const std::vector<FoundPeak> &found) {
                std::vector<int> hits(src.photopeaks.size(), 0);
                int xrays = 0;
                std::string wrong;
                for (const FoundPeak &p : found) {
                    const double e = cal.Energy(p.Centroid), half = p.Fwhm * cal.KeVPerChannel() / 2;
                    bool known = false;
                    for (size_t q = 0; q < hits.size(); ++q)
                        if (std::fabs(e - src.photopeaks[q]) <= half) {
                            ++hits[q];
                            known = true;
                        }
                    if (!known && std::fabs(e - xray) <= half)
                        known = ++xrays == 1;
                    if (!known)
                        wrong += " extra " + std::to_string(std::lround(e)) + " keV";
                }
                for (size_t q = 0; q < hits.size(); ++q)
                    if (hits[q] != 1)
                        wrong += " " + std::to_string(hits[q]) + "x " + std::to_string(std::lround(src.photopeaks[q]));
                return wrong;
            };
            const std::vector<double> response = device::DetectorResponse(src.lines, channels, 1.0);
            for (const double total : {1e5, 1e6, 1e7})
                for (uint64_t seed = 1; seed <= 6; ++seed) {
                    std::vector<double> m = response;
                    for (double &v : m)
                        v = v * total + 2.0;
                    std::mt19937_64 rng(seed * 1000 + uint64_t(channels) + src.names.size());
                    const std::vector<double> y = Poisson(m, rng);
                    const std::vector<FoundPeak> f = FindPeaks(y, 4.0, cal);
                    const std::string where = std::to_string(src.names.size()) + " nuclides, " + std::to_string(channels) +
                                              " channels, " + std::to_string(total) + " counts, seed " + std::to_string(seed);
                    EXPECT_EQ(judge(f), "") << where;
                    EXPECT_EQ(NuclidesPresent(f, cal, channels, y), src.names) << where;
                    uncalibratedWrong += !judge(FindPeaks(y, 4.0)).empty();
                    ++cases;
                }
        }
    }
    EXPECT_LE(uncalibratedWrong * 20, cases);
}
