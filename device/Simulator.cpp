#include "device/Simulator.h"

#include "core/Uryv.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <tuple>

namespace device {

namespace {
constexpr double kRefKeV = 661.66;
constexpr double kFwhmToSigma = 2.3548200450309493; // 2 sqrt(2 ln 2)
constexpr double kElectronKeV = 510.999;
// Shares of what is not in the photopeak.
constexpr double kComptonShare = 0.78;
constexpr double kBackscatterShare = 0.07;
constexpr double kBackgroundShare = 0.15;
constexpr double kBackgroundSlopeKeV = 80.0; // e-folding energy of the low-energy background
// Resolution of the coarse grid the Compton continuum is smeared on.
constexpr int kGrid = 1024;

// Photopeak share of a line: 0.3 at 662 keV, larger for softer lines.
double PeakToTotal(double e) { return std::min(0.9, 0.3 * std::pow(kRefKeV / e, 0.6)); }

double Phi(double x) { return 0.5 * std::erfc(-x / std::sqrt(2.0)); }

// Adds `mass` of a Gaussian (mu, sigma) spread over bins of width w.
void AddGaussian(std::vector<double> &bins, double w, double mu, double sigma, double mass)
{
    const int64_t n = static_cast<int64_t>(bins.size());
    const int64_t lo = std::max<int64_t>(0, static_cast<int64_t>(std::floor((mu - 8 * sigma) / w)));
    const int64_t hi = std::min<int64_t>(n - 1, static_cast<int64_t>(std::floor((mu + 8 * sigma) / w)));
    double below = Phi((lo * w - mu) / sigma);
    for (int64_t c = lo; c <= hi; ++c) {
        const double upTo = Phi(((c + 1) * w - mu) / sigma);
        bins[static_cast<size_t>(c)] += mass * (upTo - below);
        below = upTo;
    }
}

// Klein-Nishina distribution of the energy T given to the electron by a
// photon of energy e (relative, not normalised).
double KleinNishina(double t, double e)
{
    const double a = e / kElectronKeV;
    const double s = t / e;
    const double v = 2 + s * s / (a * a * (1 - s) * (1 - s)) + s / (1 - s) * (s - 2 / a);
    return std::max(v, 0.0);
}

// True when every channel of input n has its four planes and no byte is
// shared by two of its channels: then pulses may be summed per channel.
bool OwnPlanes(int32_t n)
{
    using Key = std::tuple<int32_t, int32_t, int32_t, int32_t>;
    static Key cachedKey{-1, -1, -1, -1};
    static bool cached = false;
    const Key key{Settings.InterfaceKind, Settings.InputCount, Settings.ChannelCount, n};
    if (key == cachedKey)
        return cached;
    static std::vector<uint8_t> used;
    used.assign(DataMemorySize, 0);
    bool own = true;
    for (int32_t c = 0; own && c < Settings.ChannelCount; ++c)
        for (int k = 0; k < 4; ++k) {
            const int32_t off = PlaneOffset(c, n, k);
            if (off < 0 || used[static_cast<size_t>(off)]) {
                own = false;
                break;
            }
            used[static_cast<size_t>(off)] = 1;
        }
    cachedKey = key;
    cached = own;
    return own;
}
} // namespace

bool BuiltinSourceLines(const std::string &name, std::vector<EmissionLine> &lines)
{
    static const std::vector<EmissionLine> am{{59.54, 1.0}}, cs{{661.66, 1.0}},
        co{{1173.23, 1.0}, {1332.49, 1.0}}, k{{1460.82, 1.0}};
    if (name == "am241")
        lines = am;
    else if (name == "cs137")
        lines = cs;
    else if (name == "co60")
        lines = co;
    else if (name == "k40")
        lines = k;
    else if (name == "mix")
        lines = {{am[0].EnergyKeV, 0.4}, cs[0], co[0], co[1], {k[0].EnergyKeV, 0.5}};
    else
        return false;
    return true;
}

double ShapingFactor(int pulseShaping)
{
    static constexpr double factor[4] = {1.5, 1.2, 1.0, 1.05};
    return pulseShaping >= 0 && pulseShaping < 4 ? factor[pulseShaping] : 1.0;
}

double PeakFwhmKeV(double e, double shapingFactor)
{
    return shapingFactor * 0.07 * kRefKeV * std::sqrt(std::max(e, 0.0) / kRefKeV);
}

double ChannelOfEnergy(double e, int32_t channels) { return e * channels / FullScaleKeV - 0.5; }

std::vector<double> DetectorResponse(const std::vector<EmissionLine> &lines, int32_t channels,
                                     double shapingFactor)
{
    std::vector<double> p(static_cast<size_t>(std::max(channels, 0)), 0.0);
    if (p.empty())
        return p;
    double total = 0;
    for (const EmissionLine &l : lines)
        total += std::max(l.Intensity, 0.0);
    if (!(total > 0))
        return p;
    const double w = FullScaleKeV / channels;
    const double g = FullScaleKeV / kGrid;
    std::vector<double> continuum(kGrid, 0.0);
    std::vector<double> kn(kGrid);
    double background = 0;
    auto sigma = [shapingFactor](double e) { return PeakFwhmKeV(std::max(e, 30.0), shapingFactor) / kFwhmToSigma; };
    for (const EmissionLine &l : lines) {
        const double share = std::max(l.Intensity, 0.0) / total;
        const double e = l.EnergyKeV;
        if (!(share > 0) || !(e > 0))
            continue;
        const double peak = PeakToTotal(e), rest = 1 - peak;
        AddGaussian(p, w, e, sigma(e), share * peak);

        const double a = e / kElectronKeV;
        const double backscatter = e / (1 + 2 * a);
        AddGaussian(p, w, backscatter, 2 * sigma(backscatter), share * rest * kBackscatterShare);

        // The continuum up to the Compton edge, smeared on the coarse grid.
        const double edge = e - backscatter;
        double sum = 0;
        for (int i = 0; i < kGrid; ++i) {
            const double t = (i + 0.5) * g;
            kn[static_cast<size_t>(i)] = t < edge ? KleinNishina(t, e) : 0.0;
            sum += kn[static_cast<size_t>(i)];
        }
        if (sum > 0)
            for (int i = 0; i < kGrid && (i + 0.5) * g < edge; ++i) {
                const double t = (i + 0.5) * g;
                AddGaussian(continuum, g, t, sigma(t), share * rest * kComptonShare * kn[static_cast<size_t>(i)] / sum);
            }
        background += share * rest * kBackgroundShare;
    }
    for (int32_t c = 0; c < channels; ++c) {
        // Continuum density at the channel's centre, interpolated between the
        // centres of the coarse bins.
        const double x = (c + 0.5) * w / g - 0.5;
        const int i = std::clamp(static_cast<int>(std::floor(x)), 0, kGrid - 2);
        const double f = std::clamp(x - i, 0.0, 1.0);
        const double density = (continuum[static_cast<size_t>(i)] * (1 - f) + continuum[static_cast<size_t>(i) + 1] * f) / g;
        const double a = c * w, b = a + w;
        p[static_cast<size_t>(c)] += density * w +
            background * (std::exp(-a / kBackgroundSlopeKeV) - std::exp(-b / kBackgroundSlopeKeV));
    }
    return p;
}

void AliasTable::Build(const std::vector<double> &weights)
{
    threshold_.clear();
    alias_.clear();
    const size_t n = weights.size();
    double sum = 0;
    for (double v : weights)
        if (std::isfinite(v) && v > 0)
            sum += v;
    if (n == 0 || !(sum > 0) || n > UINT32_MAX)
        return;
    std::vector<double> scaled(n);
    std::vector<uint32_t> small, large;
    for (size_t i = 0; i < n; ++i) {
        const double v = std::isfinite(weights[i]) && weights[i] > 0 ? weights[i] : 0.0;
        scaled[i] = v * static_cast<double>(n) / sum;
        (scaled[i] < 1.0 ? small : large).push_back(static_cast<uint32_t>(i));
    }
    threshold_.assign(n, uint64_t(1) << 32);
    alias_.resize(n);
    for (size_t i = 0; i < n; ++i)
        alias_[i] = static_cast<uint32_t>(i);
    while (!small.empty() && !large.empty()) {
        const uint32_t s = small.back(), l = large.back();
        small.pop_back();
        threshold_[s] = static_cast<uint64_t>(std::ldexp(scaled[s], 32));
        alias_[s] = l;
        scaled[l] -= 1.0 - scaled[s];
        if (scaled[l] < 1.0) {
            large.pop_back();
            small.push_back(l);
        }
    }
    // What is left holds (up to rounding) exactly one bucket each.
}

void AddPulses(int32_t n, const int32_t *channels, size_t count)
{
    const int32_t nch = Settings.ChannelCount;
    if (n < 1 || n > 3 || nch <= 0)
        return;
    if (!OwnPlanes(n)) {
        for (size_t i = 0; i < count; ++i) {
            const int32_t c = channels[i];
            if (c < 0 || c >= nch)
                continue;
            const int32_t v = ReadChannel(c, n);
            if (v != INT32_MAX)
                WriteChannel(c, n, v + 1);
        }
        return;
    }
    static std::vector<uint32_t> hits;
    hits.assign(static_cast<size_t>(nch), 0);
    for (size_t i = 0; i < count; ++i) {
        const int32_t c = channels[i];
        if (c >= 0 && c < nch)
            ++hits[static_cast<size_t>(c)];
    }
    for (int32_t c = 0; c < nch; ++c) {
        const uint32_t k = hits[static_cast<size_t>(c)];
        if (k == 0)
            continue;
        const int64_t v = ReadChannel(c, n);
        WriteChannel(c, n, static_cast<int32_t>(std::min<int64_t>(v + k, INT32_MAX)));
    }
}

void AddChannelCounts(int32_t n, const std::vector<uint64_t> &hits)
{
    const int32_t nch = Settings.ChannelCount;
    if (n < 1 || n > 3 || nch <= 0)
        return;
    for (int32_t c = 0; c < nch && size_t(c) < hits.size(); ++c) {
        const uint64_t k = hits[static_cast<size_t>(c)];
        if (k == 0)
            continue;
        const int64_t v = ReadChannel(c, n);
        if (v == INT32_MAX)
            continue;
        const int64_t sum = v + static_cast<int64_t>(std::min<uint64_t>(k, uint64_t(1) << 40));
        WriteChannel(c, n, static_cast<int32_t>(std::min<int64_t>(sum, INT32_MAX)));
    }
}

Simulator::Simulator(std::vector<EmissionLine> lines, double ratePerSecond, uint64_t seed)
    : lines_(std::move(lines)), rate_(ratePerSecond), rng_(seed)
{
}

Simulator::Simulator(std::vector<double> channelWeights, double ratePerSecond, uint64_t seed)
    : Simulator(std::vector<EmissionLine>{}, ratePerSecond, seed)
{
    fileWeights_ = std::move(channelWeights);
}

void Simulator::EnsureTable()
{
    const int32_t channels = Settings.ChannelCount;
    const int shaping = Settings.PulseShaping;
    if (channels == tableChannels_ && (shaping == tableShaping_ || !fileWeights_.empty()))
        return;
    tableChannels_ = channels;
    tableShaping_ = shaping;
    weights_ = fileWeights_.empty() ? DetectorResponse(lines_, channels, ShapingFactor(shaping)) : fileWeights_;
    table_.Build(weights_);
    double sum = 0;
    for (double &w : weights_) {
        w = std::isfinite(w) && w > 0 ? w : 0.0;
        sum += w;
    }
    for (double &w : weights_)
        w = sum > 0 ? w / sum : 0.0;
    probabilitiesValid_ = false;
}

const std::vector<double> &Simulator::ChannelProbabilities()
{
    EnsureTable();
    const int32_t channels = Settings.ChannelCount;
    const int32_t shift = Settings.DigitalShift;
    if (probabilitiesValid_ && shift == probabilityShift_ && probabilities_.size() == size_t(std::max(channels, 0)))
        return probabilities_;
    probabilityShift_ = shift;
    probabilitiesValid_ = true;
    probabilities_.assign(size_t(std::max(channels, 0)), 0.0);
    if (channels <= 0 || table_.Empty())
        return probabilities_;
    // Each bucket of the table spreads evenly over its share of the
    // channels, as Sample places a pulse within it.
    std::vector<double> spread(size_t(channels), 0.0);
    const double width = double(channels) / double(weights_.size());
    for (size_t b = 0; b < weights_.size(); ++b) {
        if (weights_[b] <= 0)
            continue;
        const double lo = double(b) * width, hi = lo + width;
        for (int64_t c = int64_t(lo); c < channels && double(c) < hi; ++c) {
            const double overlap = std::min(hi, double(c + 1)) - std::max(lo, double(c));
            if (overlap > 0)
                spread[size_t(c)] += weights_[b] * overlap / width;
        }
    }
    for (int64_t c = 0; c < channels; ++c) {
        const int64_t from = c - shift;
        if (from >= 0 && from < channels)
            probabilities_[size_t(c)] = spread[size_t(from)];
    }
    return probabilities_;
}

void Simulator::Credit(int32_t n, int64_t count)
{
    const int32_t channels = Settings.ChannelCount;
    if (count <= 0 || channels <= 0)
        return;
    if (count <= channels) {
        Sample(count, pulses_);
        AddPulses(n, pulses_.data(), pulses_.size());
        return;
    }
    // The count split over the channels in one pass: channel by channel a
    // binomial share of what is left, which is the multinomial law of
    // `count` pulses drawn one by one.
    const std::vector<double> &p = ChannelProbabilities();
    std::vector<uint64_t> hits(size_t(channels), 0);
    uint64_t left = uint64_t(count);
    double mass = 1.0; // probability not yet given out, the lost share included
    for (int32_t c = 0; c < channels && left > 0; ++c) {
        const double pc = p[size_t(c)];
        if (!(pc > 0))
            continue;
        const double q = std::clamp(pc / mass, 0.0, 1.0);
        const uint64_t k = q >= 1.0 ? left : std::binomial_distribution<uint64_t>(left, q)(rng_);
        hits[size_t(c)] = k;
        left -= k;
        mass -= pc;
        if (!(mass > 0))
            break;
    }
    AddChannelCounts(n, hits);
}

void Simulator::Sample(int64_t count, std::vector<int32_t> &out)
{
    out.clear();
    EnsureTable();
    const int32_t channels = Settings.ChannelCount;
    if (table_.Empty() || channels <= 0 || count <= 0)
        return;
    const int64_t shift = Settings.DigitalShift;
    const uint64_t bins = table_.Size();
    const bool rescale = bins != static_cast<uint64_t>(channels);
    out.reserve(static_cast<size_t>(count));
    for (int64_t i = 0; i < count; ++i) {
        int64_t c = table_.Sample(rng_());
        if (rescale) // a spectrum of another length: a uniform place within its channel
            c = static_cast<int64_t>((static_cast<double>(c) + std::ldexp(double(rng_() >> 11), -53)) * channels /
                                     static_cast<double>(bins));
        c += shift;
        if (c >= 0 && c < channels)
            out.push_back(static_cast<int32_t>(c));
    }
}

void Simulator::Begin(double closedDays)
{
    begun_ = true;
    const double now = Now();
    for (int i = 0; i < 3; ++i) {
        lastStart_[i] = Settings.StartTime[i];
        // An exposure that was running before the program started: the time
        // the data memory was kept while the program was closed brings
        // pulses, any time before that none.
        credited_[i] = Settings.Running[i] == 1 ? std::max(0.0, now - Settings.StartTime[i] - std::max(closedDays, 0.0))
                                                : Elapsed[i];
        wasRunning_[i] = Settings.Running[i] == 1;
    }
}

void Simulator::Step()
{
    if (!begun_)
        Begin();
    // While a print is served from a snapshot, the time is credited later.
    if (DataFromMemory == 0)
        return;
    for (int i = 0; i < 3; ++i) {
        const bool running = Settings.Running[i] == 1;
        // The tick that ends an exposure has already stopped the input.
        const bool active = running || wasRunning_[i];
        wasRunning_[i] = running;
        if (Settings.StartTime[i] != lastStart_[i] || Elapsed[i] < credited_[i]) {
            lastStart_[i] = Settings.StartTime[i]; // a new Start
            credited_[i] = 0;
        }
        const double to = std::min(Elapsed[i], Settings.ExposurePreset[i]);
        const double from = credited_[i];
        credited_[i] = std::max(credited_[i], Elapsed[i]);
        if (i + 1 > Settings.InputCount || !active || !(to > from))
            continue;
        std::poisson_distribution<int64_t> arrivals(rate_ * (to - from) * 86400.0);
        Credit(i + 1, arrivals(rng_));
    }
}

} // namespace device
