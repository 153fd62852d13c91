// The spectroscopist's measures over one spectrum: the energy calibration as
// a relation, the net area of a region above a straight background, the
// peak search with least-squares Gaussian fits (neighbours fitted together),
// and the nuclide lines that explain the peaks. Functions over a vector of
// counts return their results; nothing here reads or writes shared state
// except SpectrumOf, which reads an input's counts.
#pragma once

#include "core/Uryv.h"

#include <cstdint>
#include <string>
#include <vector>

// The two-point energy calibration of a settings record. Valid once both
// points differ from a new record's defaults (which only stand in for a
// calibration) and the relation rises.
struct Calibration {
    bool Valid = false;
    double C1 = 0, E1 = 0, C2 = 1, E2 = 1;
    double Energy(double channel) const { return E1 + (channel - C1) / (C2 - C1) * (E2 - E1); }
    double Channel(double keV) const { return C1 + (keV - E1) / (E2 - E1) * (C2 - C1); }
    double KeVPerChannel() const { return (E2 - E1) / (C2 - C1); }
};
Calibration CalibrationOf(const SettingsRecord &s);

// Counts of channels 0..ChannelCount-1 of an input (the readable range).
std::vector<double> SpectrumOf(int32_t input);

// A region first..last (both included) with a straight background through
// the mean of its three first and three last channels.
struct RegionArea {
    bool Valid = false; // false for a region of fewer than 7 channels or outside the spectrum
    int32_t First = 0, Last = 0;
    double Gross = 0;      // counts
    double Background = 0; // counts under the straight line
    double Net = 0;        // Gross - Background
    double NetSigma = 0;   // one standard deviation of Net (Poisson)
    double Centroid = 0;   // channels, of the net counts
    double Fwhm = 0;       // channels, from the net counts' second moment
};
RegionArea MeasureRegion(const std::vector<double> &counts, int32_t first, int32_t last);

// One peak found and fitted.
struct FoundPeak {
    double Centroid = 0;      // channels
    double CentroidSigma = 0; // channels
    double Fwhm = 0;          // channels
    double Area = 0;          // net counts
    double AreaSigma = 0;     // one standard deviation
    double Significance = 0;  // search filter output over its standard deviation
};

// Peak search over the whole spectrum: a zero-area square-wave filter at a
// ladder of widths, significant at `threshold` sigma on the whole and on
// each side (a plain step is not), then a weighted least-squares fit of
// Gaussians with one width on a straight background to each group of
// candidates closer than three FWHM (two of them fitted closer than two
// sigmas are one peak, fitted again as one). Peaks much wider than the
// detector's resolution (from the most significant peak, widening with the
// square root of the channel) are dropped as continuum features such as
// backscatter bumps. Also dropped, as they are no lines:
// - a peak closer than two FWHM to channel 0, where the counts rise from
//   the discriminator's threshold;
// - the rounded top of a Compton edge: a straight line through the
//   continuum from 4 to 1.5 FWHM below the peak's channel, carried on past
//   it, lies above the continuum 1.5 to 4 FWHM above it by at least 0.9 of
//   the fitted height and by three standard deviations. A photopeak's own
//   step down to the empty side above it is small against its height, and
//   a convex falling background gives none;
// - with a valid calibration, also a peak from 2.5 FWHM below to half a FWHM
//   above the Compton edge E (1 - 1 / (1 + 2E / 511 keV)) of a peak of
//   energy E found with more than 3.3 times its area. This catches the
//   edges too weak for the step to stand out of the noise.
// So a true weak line on a stronger line's Compton edge is lost.
std::vector<FoundPeak> FindPeaks(const std::vector<double> &counts, double threshold,
                                 const Calibration &cal = Calibration{});

// ---------------------------------------------------------------------------
// Nuclides

struct NuclideLine {
    double EnergyKeV;
    double Intensity; // photons per 100 decays
};
struct Nuclide {
    const char *Name;
    std::vector<NuclideLine> Lines;
};
// The built-in library of common gamma emitters.
const std::vector<Nuclide> &NuclideLibrary();

// Names of the nuclides with a line within half the FWHM (keV) of an energy.
std::vector<std::string> NuclidesAt(double keV, double fwhmKeV);

// The nuclides present: the most intense line inside the calibrated range is
// among the peaks, and each other line of at least a fifth of its intensity
// in range is found too or would be too weak to show (its expected area,
// scaled from the main line's, below four of its peak's would-be sigmas).
std::vector<std::string> NuclidesPresent(const std::vector<FoundPeak> &peaks, const Calibration &cal,
                                         int32_t channels, const std::vector<double> &counts);
