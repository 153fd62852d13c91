// Spectrum analysis: the counts between the markers, the reduction of the
// displayed span to plot columns, centroid and FWHM above a straight-line
// background, the energy calibration points, the peak measurement, the
// differential nonlinearity, and the texts of their messages.
//
// Pure functions over the counts of one input (1..3), read through the core
// channel access. Nothing here shows anything: the windows show the texts
// built here. No function ever reads a channel outside the readable range
// (0..ChannelCount-1, or the print snapshot while it is being served).
#pragma once

#include <cstdint>
#include <string>

// A pair of channel numbers, first and last, both included.
struct ChannelRegion {
    int32_t First;
    int32_t Last;
};

// Error codes of the analysis commands.
enum AnalysisError : uint16_t {
    AnalysisNoError = 0,
    MarkersOutOfOrder = 1,
    NotEnoughData = 2,
    CalibrationOutOfOrder = 3,
};

// What the peak measurement leaves for its message; a measurement starts
// from the values of the one before and changes what it measures.
struct PeakMeasurement {
    double ReferenceEnergy = 0;      // keV, 0 = none
    double PeakCentroid = 0;         // channels
    double FwhmChannels = 0;         // channels
    double PeakEnergy = 0;           // keV
    double ResolutionKeV = 0;        // FWHM in keV
    double EnergyDeviation = 0;      // keV
    double ChannelDeviation = 0;     // channels
    double NonlinearityPercent = 0;  // % of ChannelCount
};

// The spectrum windows' process-wide analysis record, shared by all of them:
// the error of the last failed step until it has been reported, which
// command opened the energy entry panel, and the last peak measurement.
// The analysis functions below do not touch it: they return their results,
// and the windows keep here what must outlive a command. Everything starts
// at 0 and is not persisted.
struct AnalysisStateRecord : PeakMeasurement {
    uint8_t AnalysisFailed = 0;      // 1 after a failed step, until cleared
    uint16_t AnalysisErrorCode = 0;  // one of AnalysisError

    // Which command opened the energy entry panel.
    uint8_t MeasurePending = 0;
    uint8_t LeftPointPending = 0;
    uint8_t RightPointPending = 0;
};

extern AnalysisStateRecord AnalysisState;

// Puts the analysis state back to its program-start values.
void ResetAnalysisState();

// AnalysisFailed := 0 and AnalysisErrorCode := 0 (done after the error
// message has been shown).
void ClearAnalysisError();

// The message text (UTF-8) for error codes 1..3; nullptr for any other code.
const char *AnalysisErrorText(uint16_t code);

// The caption of the error message box.
inline constexpr const char *AnalysisErrorCaption = "ERROR!";

// Number of channels of an input that the channel access serves without
// complaint: the channel range, cut to the print snapshot's length while it
// is served; 0 for an input other than 1..3 otherwise.
int32_t ReadableChannels(int32_t input);

// ---------------------------------------------------------------------------
// Region statistics.

// Sum of the counts from marker 1 to marker 2, both included; when marker 2
// lies left of marker 1 the region wraps around the end of the spectrum.
// Summed in 64 bits, so the true total is returned. Runs outside the channel
// range are cut to it.
int64_t Integral(int32_t input);

inline constexpr int PlotColumns = 512;
inline constexpr int PlotHeight = 300;

// Fills the 512 plot-column heights (300 = VertScale counts) for the view
// ViewFirst/ViewWidth. Channels outside the readable range count 0; heights
// are computed in 64 bits and clamped into the int32 range. ViewWidth 0 gives
// all heights 0; VertScale <= 0 puts every column with a non-zero sum off
// scale (INT32_MAX for a positive sum, INT32_MIN for a negative one).
void DW(int32_t input, int32_t h[PlotColumns]);

// DW and Integral of one input together, the channels in view read once.
void DWIntegral(int32_t input, int32_t h[PlotColumns], int64_t &integral);

// The view choices of the count scale: logarithmic, and the full scale
// following the tallest column.
struct ScaleChoice {
    bool Log = false;
    bool Auto = false;
};

// DWIntegral under the view choices; returns the full scale the heights are
// drawn to. Without a choice it is DWIntegral with VertScale. Auto takes the
// smallest of 25, 50, 100, ... that holds the tallest column; Log puts a
// count c at 300 log(c) / log(full scale) pixels (at least 1 for c > 0, 0
// for 0, -1 for a negative count).
int32_t DWIntegralScaled(int32_t input, ScaleChoice choice, int32_t h[PlotColumns], int64_t &integral);

// What Execution measured: on success the centroid and, when asked for,
// the full width at half maximum; on failure only the error.
struct PeakFit {
    AnalysisError Error = AnalysisNoError;
    double Centroid = 0;
    double FwhmChannels = 0;
    bool Failed() const { return Error != AnalysisNoError; }
};

// Centroid of the net counts above the straight line through the region's
// end channels, and with withFwhm the full width at half maximum. Fails with
// 1 when the region is empty or backwards, 2 when there is no net peak, the
// region leaves the channel range, or the half-level edges cannot be found
// inside the channel range.
PeakFit Execution(int32_t input, ChannelRegion region, bool withFwhm);

// ---------------------------------------------------------------------------
// Energy calibration.

inline constexpr int EnergyKeVMax = 9000;   // range of the whole-keV field
inline constexpr int EnergyDkeVMax = 99;    // range of the hundredths field

// Splits a stored energy into the two entry fields: the energy to the nearest
// hundredth (661.66, held as 661.65999..., gives 661 and 66), each part
// brought into its field's range; NaN gives 0 and 0.
void PrefillEnergy(double energy, int &keV, int &dkeV);

// The energy entered in the two fields: keV + dkeV / 100.
double ComposeEnergy(int keV, int dkeV);

// The calibration-point branch of the energy entry's OK: stores E as the
// point's energy and measures the centroid of its stored region into its
// centroid field (left unchanged when the measurement fails). Returns the
// measurement's error, for the caller to show.
AnalysisError MeasureCalibrationPoint(int32_t input, bool left, double E);

// ---------------------------------------------------------------------------
// Peak measurement.

enum class PeakResult {
    Failed,      // hide the panel, show the error
    Silent,      // reference energy 0 after OK: results stored, no message
    ShowMessage  // show PeakMessage(..., withReference, ...)
};

struct PeakOutcome {
    PeakResult Result = PeakResult::Failed;
    AnalysisError Error = AnalysisNoError; // why, when Result is Failed
    PeakMeasurement Values;                // the previous values with this measurement's
};

// The measurement branch of the energy entry's OK (withReference, E the
// entered energy) or Cancel (without reference; E is ignored): measures the
// peak between the markers and converts it through the calibration. A
// failed measurement still stores the reference energy, and a calibration
// that does not rise fails after the centroid and FWHM were stored.
PeakOutcome MeasurePeak(int32_t input, double E, bool withReference, const PeakMeasurement &previous);

inline constexpr const char *PeakMessageCaption = "Измерение пика";

// The peak measurement's result text; lines are separated by "\r". With
// reference: three lines, the first with ReferenceEnergy; without: two, the
// first with PeakEnergy.
std::string PeakMessage(const PeakMeasurement &m, bool withReference, char decimalSeparator);

// ---------------------------------------------------------------------------
// Differential nonlinearity.

// Mean count, RMS and spread of the deviations from the straight line
// through the counts at the two markers. Fails with 1 when
// Marker[1] >= Marker[2], 2 when the sum of the counts is not above 1 or the
// markers leave the channel range; the values are then where the
// computation stopped (MaxPercent starts at -2100000000, the others at 0).
struct DnlResult {
    AnalysisError Error = AnalysisNoError;
    double MeanCount = 0;   // mean count per channel
    double RmsPercent = 0;  // RMS deviation, % of the mean
    double MaxPercent = 0;  // largest minus smallest deviation, % of the mean
};
DnlResult DifNoLine(int32_t input);

inline constexpr const char *DnlMessageCaption = "Измерение дифференциальной нелинейности";

// The nonlinearity result text (four lines separated by "\r").
std::string DnlMessage(const DnlResult &r, char decimalSeparator);

// ---------------------------------------------------------------------------
// Number formatting for the messages.

// x in fixed-point notation with exactly `decimals` decimals, rounded (half
// away from zero, on the shortest decimal form of x) to at most
// `maxSignificant` significant digits, the decimals beyond them being zeros;
// a leading minus for negative values (not for a value shown as zero), no
// thousands separator, `sep` as decimal separator. When the integer part
// needs more than maxSignificant digits: exponent notation with
// maxSignificant digits and at least two exponent digits, "1.234568E+07" for
// 12345678 with 7. NaN and infinities give "NAN", "INF", "-INF".
std::string FormatFloat(double x, int decimals, int maxSignificant, char sep);

inline std::string FormatF0(double x, char sep) { return FormatFloat(x, 0, 10, sep); }
inline std::string FormatF2(double x, char sep) { return FormatFloat(x, 2, 7, sep); }
inline std::string FormatF3(double x, char sep) { return FormatFloat(x, 3, 7, sep); }
inline std::string FormatF4(double x, char sep) { return FormatFloat(x, 4, 7, sep); }
