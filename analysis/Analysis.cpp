// Region statistics, calibration points, peak measurement and differential
// nonlinearity over the counts of one input.
#include "analysis/Analysis.h"

#include "core/Uryv.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

AnalysisStateRecord AnalysisState;

void ResetAnalysisState() { AnalysisState = AnalysisStateRecord{}; }

void ClearAnalysisError()
{
    AnalysisState.AnalysisFailed = 0;
    AnalysisState.AnalysisErrorCode = AnalysisNoError;
}

int32_t ReadableChannels(int32_t input)
{
    int64_t n = std::max<int32_t>(Settings.ChannelCount, 0);
    if (DataFromMemory == 0)
        n = std::min<int64_t>(n, static_cast<int64_t>(PrintSnapshot.size()));
    else if (input < 1 || input > 3)
        n = 0;
    return static_cast<int32_t>(n);
}

namespace {

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

// Where channels lo..hi-1 of an input lie as four byte planes: plane k of
// channel c is DataMemory[base[k] + c - lo]. False when the range is empty,
// served from the print snapshot, or not laid out one byte per channel.
struct PlaneRun {
    int32_t lo = 0, hi = 0;
    int32_t base[4] = {};
};

bool PlanesOf(int32_t input, int64_t lo, int64_t hi, PlaneRun &run)
{
    if (DataFromMemory == 0 || input < 1 || input > 3 || lo < 0 || hi <= lo || hi > Settings.ChannelCount)
        return false;
    for (int k = 0; k < 4; ++k) {
        run.base[k] = PlaneOffset(static_cast<int32_t>(lo), input, k);
        if (run.base[k] < 0 ||
            PlaneOffset(static_cast<int32_t>(hi - 1), input, k) != run.base[k] + (hi - 1 - lo))
            return false;
    }
    run.lo = static_cast<int32_t>(lo);
    run.hi = static_cast<int32_t>(hi);
    return true;
}

// Sum of the bytes p[0..len-1], read unsigned, or with flip each byte with
// its top bit inverted (a signed byte plus 128).
template <bool flip>
inline uint64_t ByteSum(const uint8_t *p, int64_t len)
{
    uint64_t s = 0;
    int64_t i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i top = _mm_set1_epi8(flip ? static_cast<char>(0x80) : 0);
    __m128i acc = zero;
    for (; i + 16 <= len; i += 16) {
        const __m128i v = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i)), top);
        acc = _mm_add_epi64(acc, _mm_sad_epu8(v, zero));
    }
    if (i + 8 <= len) {
        const __m128i v = _mm_xor_si128(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p + i)), top);
        acc = _mm_add_epi64(acc, _mm_sad_epu8(_mm_unpacklo_epi64(v, zero), zero));
        i += 8;
    }
    s = static_cast<uint64_t>(_mm_cvtsi128_si64(acc)) +
        static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(acc, acc)));
#endif
    for (; i < len; ++i)
        s += flip ? p[i] ^ 0x80u : p[i];
    return s;
}

// Sum of the counts of channels a..b-1 (inside run), each plane read once:
// a count is its three low bytes unsigned plus its top byte signed times 2^24.
int64_t PlaneSum(const PlaneRun &run, int64_t a, int64_t b)
{
    if (b <= a)
        return 0;
    const int64_t len = b - a;
    const int64_t at = a - run.lo;
    const auto s0 = static_cast<int64_t>(ByteSum<false>(DataMemory + run.base[0] + at, len));
    const auto s1 = static_cast<int64_t>(ByteSum<false>(DataMemory + run.base[1] + at, len));
    const auto s2 = static_cast<int64_t>(ByteSum<false>(DataMemory + run.base[2] + at, len));
    const auto s3 = static_cast<int64_t>(ByteSum<true>(DataMemory + run.base[3] + at, len)) - 128 * len;
    return s0 + s1 * 256 + s2 * 65536 + s3 * 16777216;
}

// Sums of `count` runs of k channels, the first starting at channel `from`
// (all inside run): the columns of a wide view, read plane by plane.
void PlaneColumnSums(const PlaneRun &run, int64_t from, int64_t k, int64_t count, int64_t *sums)
{
    int64_t i = 0;
#if defined(__SSE2__)
    if (k % 16 == 0) {
        const uint8_t *planes[4];
        for (int p = 0; p < 4; ++p)
            planes[p] = DataMemory + run.base[p] + (from - run.lo);
        // The four planes of a column together, 16 channels a step; each
        // plane's byte sums stay in two 64-bit lanes, weighted by shifts.
        const __m128i zero = _mm_setzero_si128();
        const __m128i top = _mm_set1_epi8(static_cast<char>(0x80));
        for (; i < count; ++i) {
            const int64_t o = i * k;
            __m128i a0 = zero, a1 = zero, a2 = zero, a3 = zero;
            for (int64_t j = o; j < o + k; j += 16) {
                auto load = [j](const uint8_t *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + j)); };
                a0 = _mm_add_epi64(a0, _mm_sad_epu8(load(planes[0]), zero));
                a1 = _mm_add_epi64(a1, _mm_sad_epu8(load(planes[1]), zero));
                a2 = _mm_add_epi64(a2, _mm_sad_epu8(load(planes[2]), zero));
                a3 = _mm_add_epi64(a3, _mm_sad_epu8(_mm_xor_si128(load(planes[3]), top), zero));
            }
            const __m128i c = _mm_add_epi64(_mm_add_epi64(a0, _mm_slli_epi64(a1, 8)),
                                            _mm_add_epi64(_mm_slli_epi64(a2, 16), _mm_slli_epi64(a3, 24)));
            const auto lanes = static_cast<int64_t>(_mm_cvtsi128_si64(c)) +
                               static_cast<int64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(c, c)));
            sums[i] = lanes - 128 * k * 16777216;
        }
    }
#endif
    for (; i < count; ++i)
        sums[i] = PlaneSum(run, from + i * k, from + (i + 1) * k);
}

// Sum of channels first..last cut to 0..n-1, straight from the planes where
// they allow it, otherwise in chunks through the bulk read.
int64_t SumChannels(int32_t input, int64_t first, int64_t last, int32_t n)
{
    const int64_t lo = std::max<int64_t>(first, 0);
    const int64_t hi = std::min<int64_t>(last, int64_t(n) - 1);
    if (hi < lo)
        return 0;
    PlaneRun run;
    if (PlanesOf(input, lo, hi + 1, run))
        return PlaneSum(run, lo, hi + 1);
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

// Division, cut toward zero like `/`, by a divisor that stays the same for
// many dividends: a multiply by its reciprocal, since a 64-bit division per
// plot column costs more than the rest of the column's work together. The
// reciprocal is exact for dividends up to `limit` (its product with the
// divisor fits 64 bits); larger ones are divided.
class Divider {
public:
    explicit Divider(int64_t divisor) // divisor > 0
        : d_(static_cast<uint64_t>(divisor)), magic_(~uint64_t(0) / d_ + 1), limit_(~uint64_t(0) / d_)
    {
    }
    int64_t operator()(int64_t n) const
    {
        const uint64_t a = n < 0 ? 0 - static_cast<uint64_t>(n) : static_cast<uint64_t>(n);
        if (d_ == 1 || a > limit_)
            return d_ == 1 ? n : n / static_cast<int64_t>(d_);
#if defined(__SIZEOF_INT128__)
        __extension__ using Wide = unsigned __int128;
        const auto q = static_cast<int64_t>((Wide(a) * magic_) >> 64);
        return n < 0 ? -q : q;
#else
        return n / static_cast<int64_t>(d_);
#endif
    }

private:
    uint64_t d_, magic_, limit_;
};

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

namespace {

// Heights of the 512 columns of the view. For a view wider than the plot,
// sums[i] receives the count of column i (channels first+i*k..first+(i+1)*k-1
// cut to the readable range) and k is returned; otherwise 0.
int64_t ColumnHeights(int32_t input, int32_t h[PlotColumns], int64_t sums[PlotColumns], int64_t scale,
                      int64_t *narrowCounts = nullptr)
{
    std::fill(h, h + PlotColumns, 0);
    const int64_t width = Settings.ViewWidth;
    if (width == 0)
        return 0; // no channels in view: an empty plot

    const int64_t first = Settings.ViewFirst;
    const int32_t n = ReadableChannels(input);

    // Height of a column whose count (or mean of k counts) times 300 is
    // `scaled`. A scale of 0 or less has no sound meaning: any non-zero
    // column is then off scale in its own direction.
    const Divider byScale(std::max<int64_t>(scale, 1));
    auto height = [scale, &byScale](int64_t scaled) -> int32_t {
        if (scale > 0)
            return ClampToInt32(byScale(scaled));
        if (scaled == 0)
            return 0;
        return scaled > 0 ? std::numeric_limits<int32_t>::max()
                          : std::numeric_limits<int32_t>::min();
    };

    if (width > PlotColumns) {
        // k channels per column, summed straight from the byte planes.
        const int64_t k = width / PlotColumns;
        const int64_t lo = std::max<int64_t>(first, 0);
        const int64_t hi = std::min<int64_t>(first + PlotColumns * k, n); // exclusive
        PlaneRun run;
        if (hi <= lo) {
            std::fill(sums, sums + PlotColumns, 0);
        } else if (PlanesOf(input, lo, hi, run)) {
            // Columns wholly inside lo..hi-1 in one pass; those cut by its
            // ends one by one.
            const int64_t i0 = std::clamp<int64_t>((lo - first + k - 1) / k, 0, PlotColumns);
            const int64_t i1 = std::clamp<int64_t>((hi - first) / k, i0, PlotColumns);
            PlaneColumnSums(run, first + i0 * k, k, i1 - i0, sums + i0);
            for (int64_t i = 0; i < PlotColumns; ++i)
                if (i < i0 || i >= i1)
                    sums[i] = PlaneSum(run, std::max(first + i * k, lo), std::min(first + (i + 1) * k, hi));
        } else {
            std::vector<int32_t> counts(static_cast<size_t>(PlotColumns * k));
            ReadClipped(input, first, PlotColumns * k, n, counts.data());
            for (int64_t i = 0; i < PlotColumns; ++i) {
                int64_t s = 0;
                for (int64_t j = 0; j < k; ++j)
                    s += counts[static_cast<size_t>(i * k + j)];
                sums[i] = s;
            }
        }
        const Divider byK(k);
        for (int i = 0; i < PlotColumns; ++i)
            h[i] = height(byK(sums[i] * PlotHeight));
        return k;
    }

    // One channel per column at 512, one per b columns for narrow views.
    const int64_t b = width == PlotColumns ? 1 : PlotColumns / width;
    const int64_t span = (PlotColumns - 1) / b + 1;
    int32_t counts[PlotColumns];
    ReadClipped(input, first, span, n, counts);
    for (int64_t i = 0; i < PlotColumns; i += b)
        h[i] = height(int64_t(counts[i / b]) * PlotHeight);
    if (narrowCounts) {
        std::fill(narrowCounts, narrowCounts + PlotColumns, 0);
        for (int64_t i = 0; i < PlotColumns; i += b)
            narrowCounts[i] = counts[i / b];
    }
    return 0;
}

} // namespace

void DW(int32_t input, int32_t h[PlotColumns])
{
    int64_t sums[PlotColumns];
    ColumnHeights(input, h, sums, Settings.VertScale);
}

namespace {
// The region's integral from the column sums of a view k channels wide per
// column.
int64_t IntegralFromSums(int32_t input, const int64_t sums[PlotColumns], int64_t k);

// Full scale and heights for the view choices from the column values
// (sums / k, or the counts of a narrow view).
int32_t ScaleHeights(const int64_t values[PlotColumns], int64_t k, ScaleChoice choice, int32_t h[PlotColumns])
{
    int64_t top = Settings.VertScale;
    if (choice.Auto) {
        // The smallest step 25 * 2^j of the scale commands that holds the
        // tallest column.
        int64_t tallest = 0;
        for (int i = 0; i < PlotColumns; ++i)
            tallest = std::max(tallest, values[i]);
        const int64_t tallestCount = k > 0 ? (tallest + k - 1) / k : tallest;
        top = 25;
        while (top < tallestCount && top < (int64_t(25) << 25))
            top *= 2;
    }
    if (!choice.Log) {
        const int64_t scale = std::max<int64_t>(top, 1);
        const Divider byScale(scale), byK(std::max<int64_t>(k, 1));
        for (int i = 0; i < PlotColumns; ++i) {
            const int64_t scaled = k > 0 ? byK(values[i] * PlotHeight) : values[i] * PlotHeight;
            h[i] = ClampToInt32(byScale(scaled));
        }
        return static_cast<int32_t>(top);
    }
    // Logarithmic: decades from 1 at the bottom to the full scale at the top;
    // a column of count c stands log(c) / log(top) of the height, at least
    // one pixel for any count above zero. The threshold of each pixel row
    // is computed once per full scale and the columns are placed by search.
    static int64_t tableTop = -1;
    static double threshold[PlotHeight + 1];
    if (tableTop != top) {
        const double lt = std::log(double(std::max<int64_t>(top, 2)));
        for (int r = 0; r <= PlotHeight; ++r)
            threshold[r] = std::exp(lt * r / PlotHeight);
        tableTop = top;
    }
    for (int i = 0; i < PlotColumns; ++i) {
        const int64_t v = values[i];
        if (v <= 0) {
            h[i] = v < 0 ? -1 : 0;
            continue;
        }
        // (a hair above, so that a power of ten meets its own row exactly)
        const double c = (k > 0 ? double(v) / double(k) : double(v)) * (1 + 1e-9);
        // Largest row r with threshold[r] <= c.
        const int r = static_cast<int>(std::upper_bound(threshold, threshold + PlotHeight + 1, c) - threshold) - 1;
        h[i] = r >= PlotHeight ? PlotHeight : std::max(r, 1);
    }
    return static_cast<int32_t>(top);
}
} // namespace

int32_t DWIntegralScaled(int32_t input, ScaleChoice choice, int32_t h[PlotColumns], int64_t &integral)
{
    if (!choice.Log && !choice.Auto) {
        DWIntegral(input, h, integral);
        return Settings.VertScale;
    }
    int64_t sums[PlotColumns], counts[PlotColumns];
    const int64_t k = ColumnHeights(input, h, sums, Settings.VertScale, counts);
    integral = k == 0 ? Integral(input) : IntegralFromSums(input, sums, k);
    if (Settings.ViewWidth == 0) {
        std::fill(h, h + PlotColumns, 0);
        return choice.Auto ? 25 : Settings.VertScale;
    }
    return ScaleHeights(k > 0 ? sums : counts, k, choice, h);
}

void DWIntegral(int32_t input, int32_t h[PlotColumns], int64_t &integral)
{
    int64_t sums[PlotColumns];
    const int64_t k = ColumnHeights(input, h, sums, Settings.VertScale);
    integral = k == 0 ? Integral(input) : IntegralFromSums(input, sums, k);
}

namespace {
int64_t IntegralFromSums(int32_t input, const int64_t sums[PlotColumns], int64_t k)
{
    // The whole columns inside a run of the region come from the column
    // sums; only the channels at its two ends are read again.
    const int32_t n = ReadableChannels(input);
    const int64_t first = Settings.ViewFirst;
    auto runSum = [&](int64_t a, int64_t b) -> int64_t { // channels a..b, cut to 0..n-1
        a = std::max<int64_t>(a, 0);
        b = std::min<int64_t>(b, int64_t(n) - 1);
        if (b < a)
            return 0;
        const int64_t from = a <= first ? 0 : std::min<int64_t>((a - first + k - 1) / k, PlotColumns);
        const int64_t to = b + 1 <= first ? 0 : std::min<int64_t>((b + 1 - first) / k, PlotColumns);
        if (from >= to)
            return SumChannels(input, a, b, n);
        int64_t s = SumChannels(input, a, first + from * k - 1, n) + SumChannels(input, first + to * k, b, n);
        for (int64_t i = from; i < to; ++i)
            s += sums[i];
        return s;
    };
    const int32_t m1 = Settings.Marker[0], m2 = Settings.Marker[1];
    return m1 <= m2 ? runSum(m1, m2) : runSum(m1, int64_t(n) - 1) + runSum(0, m2);
}
} // namespace

PeakFit Execution(int32_t input, ChannelRegion region, bool withFwhm)
{
    PeakFit fit;
    auto fail = [&fit](AnalysisError code) {
        fit.Error = code;
        return fit;
    };
    const int32_t L = region.First, R = region.Last;
    if (R <= L) {
        return fail(MarkersOutOfOrder);
    }
    const int32_t n = ReadableChannels(input);
    if (L < 0 || R >= n) { // a region reaching outside the spectrum holds no usable data
        return fail(NotEnoughData);
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
        return fail(NotEnoughData);
    }
    const double cen = s1 / s0;
    if (!withFwhm) {
        fit.Centroid = cen;
        return fit;
    }

    // Half level between the count at the centroid channel and the
    // background there. The edges are searched within the spectrum only: a
    // peak whose flanks never fall below the half level inside it, or a
    // centroid channel outside it or below its own half level (a dip, not a
    // peak), has no width to measure.
    const double rounded = RoundHalfEven(cen);
    if (!(rounded >= 0 && rounded <= double(n - 1))) {
        return fail(NotEnoughData);
    }
    const auto c = static_cast<int32_t>(rounded);
    const int32_t countC = ReadChannel(c, input);
    const double half =
        (double(int64_t(countC) + countL) + double(int64_t(c - L) * rise) / run) / 2.0;
    if (double(countC) < half) {
        return fail(NotEnoughData);
    }
    int32_t a = c, countA = countC;
    while (double(countA) >= half) {
        if (a == 0) {
            return fail(NotEnoughData);
        }
        countA = ReadChannel(--a, input);
    }
    int32_t b = c, countB = countC;
    while (double(countB) >= half) {
        if (b == n - 1) {
            return fail(NotEnoughData);
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
        return fail(NotEnoughData);
    }
    const double t1 = (double(countA1) - half) / double(leftStep);
    const double t2 = (double(countB1) - half) / double(rightStep);

    fit.Centroid = cen;
    fit.FwhmChannels = double(int64_t(b) - a - 2) + t1 + t2;
    return fit;
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

AnalysisError MeasureCalibrationPoint(int32_t input, bool left, double E)
{
    (left ? Settings.LeftPeakEnergy : Settings.RightPeakEnergy) = E;
    const ChannelRegion region = left ? ChannelRegion{Settings.LeftPeakFrom, Settings.LeftPeakTo}
                                      : ChannelRegion{Settings.RightPeakFrom, Settings.RightPeakTo};
    const PeakFit fit = Execution(input, region, false);
    if (!fit.Failed())
        (left ? Settings.LeftPeakCentroid : Settings.RightPeakCentroid) = fit.Centroid;
    return fit.Error;
}

// ---------------------------------------------------------------------------
// Peak measurement.

PeakOutcome MeasurePeak(int32_t input, double E, bool withReference, const PeakMeasurement &previous)
{
    PeakOutcome out;
    PeakMeasurement &st = out.Values;
    st = previous;
    st.ReferenceEnergy = withReference ? E : 0.0;
    const PeakFit fit = Execution(input, {Settings.Marker[0], Settings.Marker[1]}, true);
    if (!fit.Failed()) {
        st.PeakCentroid = fit.Centroid;
        st.FwhmChannels = fit.FwhmChannels;
    }

    const double e1 = Settings.LeftPeakEnergy, e2 = Settings.RightPeakEnergy;
    const double c1 = Settings.LeftPeakCentroid, c2 = Settings.RightPeakCentroid;
    // The calibration must rise from left to right; this outranks any
    // failure of the measurement itself.
    out.Error = !(c2 > c1) || !(e2 > e1) ? CalibrationOutOfOrder : fit.Error;
    if (out.Error != AnalysisNoError) {
        out.Result = PeakResult::Failed;
        return out;
    }

    st.PeakEnergy = e1 + (st.PeakCentroid - c1) / (c2 - c1) * (e2 - e1);
    st.ResolutionKeV = (e2 - e1) / (c2 - c1) * st.FwhmChannels;
    out.Result = PeakResult::ShowMessage;
    if (!withReference)
        return out;
    if (st.ReferenceEnergy == 0.0) {
        out.Result = PeakResult::Silent;
        return out;
    }

    st.EnergyDeviation = st.PeakEnergy - st.ReferenceEnergy;
    st.ChannelDeviation = (c2 - c1) * st.EnergyDeviation / (e2 - e1);
    // Execution succeeded, so ChannelCount is positive here.
    st.NonlinearityPercent = st.ChannelDeviation * 100.0 / Settings.ChannelCount;
    return out;
}

// ---------------------------------------------------------------------------
// Differential nonlinearity.

DnlResult DifNoLine(int32_t input)
{
    DnlResult st;
    double smallest = 2100000000.0;
    st.MaxPercent = -2100000000.0;
    auto fail = [&st](AnalysisError code) {
        st.Error = code;
        return st;
    };

    const int32_t m1 = Settings.Marker[0], m2 = Settings.Marker[1];
    if (m1 >= m2)
        return fail(MarkersOutOfOrder);
    const int32_t n = ReadableChannels(input);
    if (m1 < 0 || m2 >= n) // markers reaching outside the spectrum
        return fail(NotEnoughData);

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
        else if (deviation > st.MaxPercent)
            st.MaxPercent = deviation;
        st.MeanCount += count;
        st.RmsPercent += deviation * deviation;
    }
    if (!(st.MeanCount > 1.0))
        return fail(NotEnoughData);
    const double mean = st.MeanCount / run;
    st.MeanCount = mean;
    st.MaxPercent = (st.MaxPercent - smallest) / mean * 100.0;
    st.RmsPercent = std::sqrt(st.RmsPercent / run) / mean * 100.0;
    return st;
}
