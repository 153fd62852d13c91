// Region statistics, calibration points, peak measurement and differential
// nonlinearity over the counts of one input.
#include "Analysis.h"

#include "Uryv.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

AnalysisStateRecord AnalysisState;

void ResetAnalysisState() { AnalysisState = AnalysisStateRecord{}; }

void ClearAnalysisError()
{
    AnalysisState.AnalysisFailed = 0;
    AnalysisState.AnalysisErrorCode = AnalysisNoError;
}

namespace {

void Fail(AnalysisError code)
{
    AnalysisState.AnalysisFailed = 1;
    AnalysisState.AnalysisErrorCode = code;
}

// Number of channels ReadChannel serves for this input without complaint:
// the channel range, or the print snapshot's length while it is served.
int32_t ReadableChannels(int32_t input)
{
    int64_t n = std::max<int32_t>(Settings.ChannelCount, 0);
    if (DataFromMemory == 0)
        n = std::min<int64_t>(n, static_cast<int64_t>(PrintSnapshot.size()));
    else if (input < 1 || input > 3)
        n = 0;
    return static_cast<int32_t>(n);
}

// Reads channels first..first+count-1 into out; channels outside 0..n-1
// read as 0 and are never asked of the channel access.
void ReadClipped(int32_t input, int64_t first, int64_t count, int32_t n, int32_t *out)
{
    std::fill(out, out + count, 0);
    const int64_t lo = std::max<int64_t>(first, 0);
    const int64_t hi = std::min<int64_t>(first + count, n); // exclusive
    if (hi > lo)
        ReadChannelRange(static_cast<int32_t>(lo), static_cast<int32_t>(hi - lo), input,
                         out + (lo - first));
}

// Sum of channels first..last cut to 0..n-1, in chunks through the bulk read.
int64_t SumChannels(int32_t input, int64_t first, int64_t last, int32_t n)
{
    const int64_t lo = std::max<int64_t>(first, 0);
    const int64_t hi = std::min<int64_t>(last, int64_t(n) - 1);
    int64_t sum = 0;
    constexpr int32_t Chunk = 4096;
    int32_t buf[Chunk];
    for (int64_t c = lo; c <= hi; c += Chunk) {
        const auto len = static_cast<int32_t>(std::min<int64_t>(Chunk, hi - c + 1));
        ReadChannelRange(static_cast<int32_t>(c), len, input, buf);
        for (int32_t i = 0; i < len; ++i)
            sum += buf[i];
    }
    return sum;
}

int32_t ClampToInt32(int64_t v)
{
    return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

// Nearest integer, an exact half going to the even neighbour.
double RoundHalfEven(double x)
{
    const double f = std::floor(x);
    const double d = x - f;
    if (d < 0.5)
        return f;
    if (d > 0.5)
        return f + 1;
    return std::fmod(f, 2.0) == 0 ? f : f + 1;
}

} // namespace

// ---------------------------------------------------------------------------

int64_t Integral(int32_t input)
{
    const int32_t n = ReadableChannels(input);
    const int32_t m1 = Settings.Marker[0], m2 = Settings.Marker[1];
    if (m1 <= m2)
        return SumChannels(input, m1, m2, n);
    // Marker 2 left of marker 1: the region wraps around the spectrum's end.
    return SumChannels(input, m1, int64_t(n) - 1, n) + SumChannels(input, 0, m2, n);
}

void DW(int32_t input, int32_t h[PlotColumns])
{
    std::fill(h, h + PlotColumns, 0);
    const int64_t width = Settings.ViewWidth;
    if (width == 0)
        return; // no channels in view: an empty plot

    const int64_t first = Settings.ViewFirst;
    const int64_t scale = Settings.VertScale;

    // Channels the columns draw on: k per column for wide views, one per
    // column at 512, one per b columns for narrow views.
    int64_t k = 1, b = 1, span;
    if (width > PlotColumns) {
        k = width / PlotColumns;
        span = PlotColumns * k;
    } else if (width == PlotColumns) {
        span = PlotColumns;
    } else {
        b = PlotColumns / width;
        span = (PlotColumns - 1) / b + 1;
    }
    std::vector<int32_t> counts(static_cast<size_t>(span));
    ReadClipped(input, first, span, ReadableChannels(input), counts.data());

    // Height of a column whose count (or mean of k counts) times 300 is
    // `scaled`. A scale of 0 or less has no sound meaning: any non-zero
    // column is then off scale in its own direction.
    auto height = [scale](int64_t scaled) -> int32_t {
        if (scale > 0)
            return ClampToInt32(scaled / scale);
        if (scaled == 0)
            return 0;
        return scaled > 0 ? std::numeric_limits<int32_t>::max()
                          : std::numeric_limits<int32_t>::min();
    };

    if (width > PlotColumns) {
        for (int64_t i = 0; i < PlotColumns; ++i) {
            int64_t s = 0;
            for (int64_t j = 0; j < k; ++j)
                s += counts[static_cast<size_t>(i * k + j)];
            h[i] = height((s * PlotHeight) / k);
        }
    } else if (width == PlotColumns) {
        for (int i = 0; i < PlotColumns; ++i)
            h[i] = height(int64_t(counts[static_cast<size_t>(i)]) * PlotHeight);
    } else {
        for (int64_t i = 0; i < PlotColumns; i += b)
            h[i] = height(int64_t(counts[static_cast<size_t>(i / b)]) * PlotHeight);
    }
}

void Execution(int32_t input, ChannelRegion region, bool withFwhm, double &centroid)
{
    AnalysisState.AnalysisFailed = 0;
    const int32_t L = region.First, R = region.Last;
    if (R <= L) {
        Fail(MarkersOutOfOrder);
        return;
    }
    const int32_t n = ReadableChannels(input);
    if (L < 0 || R >= n) { // a region reaching outside the spectrum holds no usable data
        Fail(NotEnoughData);
        return;
    }

    std::vector<int32_t> region_counts(static_cast<size_t>(R - L + 1));
    ReadChannelRange(L, R - L + 1, input, region_counts.data());
    auto inRegion = [&](int32_t i) { return region_counts[static_cast<size_t>(i - L)]; };

    // Net counts above the straight line through the end channels.
    const int32_t countL = inRegion(L), countR = inRegion(R);
    const int64_t rise = int64_t(countR) - countL;
    const double run = double(R - L);
    double s0 = 0, s1 = 0;
    for (int32_t i = L; i <= R; ++i) {
        const double background = double(countL) + double(rise * (int64_t(i) - L)) / run;
        const double net = double(inRegion(i)) - background;
        s0 += net;
        s1 += double(i) * net;
    }
    if (!(s0 > 1.0)) {
        Fail(NotEnoughData);
        return;
    }
    const double cen = s1 / s0;
    if (!withFwhm) {
        centroid = cen;
        return;
    }

    // Half level between the count at the centroid channel and the
    // background there. The edges are searched within the spectrum only: a
    // peak whose flanks never fall below the half level inside it, or a
    // centroid channel outside it or below its own half level (a dip, not a
    // peak), has no width to measure.
    const double rounded = RoundHalfEven(cen);
    if (!(rounded >= 0 && rounded <= double(n - 1))) {
        Fail(NotEnoughData);
        return;
    }
    const auto c = static_cast<int32_t>(rounded);
    const int32_t countC = ReadChannel(c, input);
    const double half =
        (double(int64_t(countC) + countL) + double(int64_t(c - L) * rise) / run) / 2.0;
    if (double(countC) < half) {
        Fail(NotEnoughData);
        return;
    }
    int32_t a = c, countA = countC;
    while (double(countA) >= half) {
        if (a == 0) {
            Fail(NotEnoughData);
            return;
        }
        countA = ReadChannel(--a, input);
    }
    int32_t b = c, countB = countC;
    while (double(countB) >= half) {
        if (b == n - 1) {
            Fail(NotEnoughData);
            return;
        }
        countB = ReadChannel(++b, input);
    }
    // a < c < b here, and the channels next to a and b (towards c) are at or
    // above the half level while a and b are below it: both denominators
    // are at least 1.
    const int32_t countA1 = ReadChannel(a + 1, input);
    const int32_t countB1 = ReadChannel(b - 1, input);
    const int64_t leftStep = int64_t(countA1) - countA;
    const int64_t rightStep = int64_t(countB1) - countB;
    if (leftStep <= 0 || rightStep <= 0) {
        Fail(NotEnoughData);
        return;
    }
    const double t1 = (double(countA1) - half) / double(leftStep);
    const double t2 = (double(countB1) - half) / double(rightStep);

    centroid = cen;
    AnalysisState.FwhmChannels = double(int64_t(b) - a - 2) + t1 + t2;
}

// ---------------------------------------------------------------------------
// Energy calibration.

void PrefillEnergy(double energy, int &keV, int &dkeV)
{
    keV = 0;
    dkeV = 0;
    if (std::isnan(energy))
        return;
    double whole = std::trunc(energy);
    // The nearest hundredth, so that an energy composed from the two fields
    // comes back as the same two fields (661.66 is held as 661.6599...).
    double hundredths = std::round((energy - whole) * 100.0); // NaN for infinities
    if (hundredths >= 100.0) {
        whole += 1.0;
        hundredths = 0.0;
    }
    keV = static_cast<int>(std::clamp(whole, 0.0, double(EnergyKeVMax)));
    if (!std::isnan(hundredths))
        dkeV = static_cast<int>(std::clamp(hundredths, 0.0, double(EnergyDkeVMax)));
}

double ComposeEnergy(int keV, int dkeV) { return keV + dkeV / 100.0; }

bool MeasureCalibrationPoint(int32_t input, bool left, double E)
{
    if (left) {
        AnalysisState.LeftPointPending = 0;
        Settings.LeftPeakEnergy = E;
        Execution(input, {Settings.LeftPeakFrom, Settings.LeftPeakTo}, false,
                  Settings.LeftPeakCentroid);
    } else {
        AnalysisState.RightPointPending = 0;
        Settings.RightPeakEnergy = E;
        Execution(input, {Settings.RightPeakFrom, Settings.RightPeakTo}, false,
                  Settings.RightPeakCentroid);
    }
    return AnalysisState.AnalysisFailed == 0;
}

// ---------------------------------------------------------------------------
// Peak measurement.

PeakResult MeasurePeak(int32_t input, double E, bool withReference)
{
    AnalysisStateRecord &st = AnalysisState;
    st.MeasurePending = 0;
    st.ReferenceEnergy = withReference ? E : 0.0;
    Execution(input, {Settings.Marker[0], Settings.Marker[1]}, true, st.PeakCentroid);

    const double e1 = Settings.LeftPeakEnergy, e2 = Settings.RightPeakEnergy;
    const double c1 = Settings.LeftPeakCentroid, c2 = Settings.RightPeakCentroid;
    // The calibration must rise from left to right; this outranks any
    // failure of the measurement itself.
    if (!(c2 > c1) || !(e2 > e1))
        Fail(CalibrationOutOfOrder);
    if (st.AnalysisFailed)
        return PeakResult::Failed;

    st.PeakEnergy = e1 + (st.PeakCentroid - c1) / (c2 - c1) * (e2 - e1);
    st.ResolutionKeV = (e2 - e1) / (c2 - c1) * st.FwhmChannels;
    if (!withReference)
        return PeakResult::ShowMessage;
    if (st.ReferenceEnergy == 0.0)
        return PeakResult::Silent;

    st.EnergyDeviation = st.PeakEnergy - st.ReferenceEnergy;
    st.ChannelDeviation = (c2 - c1) * st.EnergyDeviation / (e2 - e1);
    // Execution succeeded, so ChannelCount is positive here.
    st.NonlinearityPercent = st.ChannelDeviation * 100.0 / Settings.ChannelCount;
    return PeakResult::ShowMessage;
}

// ---------------------------------------------------------------------------
// Differential nonlinearity.

void DifNoLine(int32_t input)
{
    AnalysisStateRecord &st = AnalysisState;
    st.AnalysisFailed = 0;
    double smallest = 2100000000.0;
    st.DnlMaxPercent = -2100000000.0;
    st.DnlMeanCount = 0;
    st.DnlRmsPercent = 0;

    const int32_t m1 = Settings.Marker[0], m2 = Settings.Marker[1];
    if (m1 >= m2) {
        Fail(MarkersOutOfOrder);
        return;
    }
    const int32_t n = ReadableChannels(input);
    if (m1 < 0 || m2 >= n) { // markers reaching outside the spectrum
        Fail(NotEnoughData);
        return;
    }

    std::vector<int32_t> counts(static_cast<size_t>(m2 - m1 + 1));
    ReadChannelRange(m1, m2 - m1 + 1, input, counts.data());
    const int32_t first = counts.front(), last = counts.back();
    const int64_t rise = int64_t(last) - first;
    const double run = double(m2 - m1);
    for (int32_t i = m1; i <= m2; ++i) {
        const int32_t count = counts[static_cast<size_t>(i - m1)];
        const double line = double(first) + double(rise * (int64_t(i) - m1)) / run;
        const double deviation = double(count) - line;
        if (deviation < smallest)
            smallest = deviation;
        else if (deviation > st.DnlMaxPercent)
            st.DnlMaxPercent = deviation;
        st.DnlMeanCount += count;
        st.DnlRmsPercent += deviation * deviation;
    }
    if (!(st.DnlMeanCount > 1.0)) {
        Fail(NotEnoughData);
        return;
    }
    const double mean = st.DnlMeanCount / run;
    st.DnlMeanCount = mean;
    st.DnlMaxPercent = (st.DnlMaxPercent - smallest) / mean * 100.0;
    st.DnlRmsPercent = std::sqrt(st.DnlRmsPercent / run) / mean * 100.0;
}
