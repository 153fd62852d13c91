#include "device/Simulator.h"

#include "core/Uryv.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <tuple>

namespace device {

namespace {
constexpr double kRefKeV = 661.66;
constexpr double kFwhmToSigma = 2.3548200450309493; // 2 sqrt(2 ln 2)
constexpr double kElectronKeV = 510.999;
// Shares of what is not in the photopeak.
constexpr double kComptonShare = 0.62;
constexpr double kMultipleShare = 0.17; // scattered more than once, up to the line
constexpr double kBackscatterShare = 0.07;
constexpr double kBackgroundShare = 0.14;
constexpr double kShieldBackscatter = 2.5;   // a lead castle scatters back that much more
constexpr double kBackgroundSlopeKeV = 80.0; // e-folding energy of the low-energy background
// Pb K X-rays per photon above the lead's K edge (88.0 keV) that reaches
// the detector through a lead castle, and their lines (keV, relative).
constexpr double kPbKEdgeKeV = 88.0;
constexpr double kPbXrayYield = 0.015;
constexpr EmissionLine kPbXrays[] = {{72.80, 0.60}, {74.97, 1.0}, {84.94, 0.35}, {87.30, 0.09}};
// Resolution of the coarse grid the continua and the pile-up are drawn on.
constexpr int kGrid = 1024;

// Photopeak share of a line (3x3 inch NaI(Tl)): about 0.45 at 662 keV,
// larger for softer lines, nearly all of it below 100 keV.
double PeakToTotal(double e) { return std::min(0.97, 0.45 * std::pow(kRefKeV / e, 0.6)); }

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
    // Emission probabilities per decay; Cs-137 with the Ba K X-rays of its
    // daughter (K-alpha 31.82 and 32.19 keV, K-beta 36.36 and 37.26 keV).
    static const std::vector<EmissionLine> am{{59.54, 0.359}},
        cs{{661.66, 0.851}, {31.82, 0.0199}, {32.19, 0.0364}, {36.36, 0.0102}, {37.26, 0.0021}},
        co{{1173.23, 0.9985}, {1332.49, 0.9998}}, k{{1460.82, 0.1066}};
    if (name == "am241")
        lines = am;
    else if (name == "cs137")
        lines = cs;
    else if (name == "co60")
        lines = co;
    else if (name == "k40")
        lines = k;
    else if (name == "mix") {
        // The sources in the proportions of the earlier mix: Am 0.4, Cs 1,
        // Co 1 per line, K 0.5, each source's lines in their own proportion.
        lines.clear();
        const std::pair<const std::vector<EmissionLine> *, double> parts[] = {
            {&am, 0.4 / am[0].Intensity}, {&cs, 1.0 / cs[0].Intensity}, {&co, 1.0 / co[0].Intensity},
            {&k, 0.5 / k[0].Intensity}};
        for (const auto &[source, scale] : parts)
            for (const EmissionLine &l : *source)
                lines.push_back({l.EnergyKeV, l.Intensity * scale});
    } else
        return false;
    return true;
}

double ShapingFactor(int pulseShaping)
{
    // A scintillator's light is collected within 1 us: longer shaping only
    // lowers the electronic noise a little.
    static constexpr double factor[4] = {1.0, 0.97, 0.96, 0.98};
    return pulseShaping >= 0 && pulseShaping < 4 ? factor[pulseShaping] : 1.0;
}

double DeadTimeSeconds(int pulseShaping)
{
    const int k = std::clamp(pulseShaping, 0, 3);
    return 2e-6 * double(1 << k);
}

double PeakFwhmKeV(double e, double shapingFactor)
{
    return shapingFactor * 0.07 * kRefKeV * std::sqrt(std::max(e, 0.0) / kRefKeV);
}

double ChannelOfEnergy(double e, int32_t channels) { return e * channels / FullScaleKeV - 0.5; }

std::vector<double> DetectorResponse(const std::vector<EmissionLine> &sourceLines, int32_t channels,
                                     double shapingFactor, bool leadShield)
{
    std::vector<double> p(static_cast<size_t>(std::max(channels, 0)), 0.0);
    if (p.empty())
        return p;
    std::vector<EmissionLine> lines;
    for (const EmissionLine &l : sourceLines)
        if (l.Intensity > 0 && l.EnergyKeV > 0 && std::isfinite(l.Intensity) && std::isfinite(l.EnergyKeV))
            lines.push_back(l);
    if (leadShield) {
        // The shield's fluorescence: Pb K X-rays excited by what is harder
        // than its K edge.
        double harder = 0;
        for (const EmissionLine &l : lines)
            harder += l.EnergyKeV > kPbKEdgeKeV ? l.Intensity : 0.0;
        double rel = 0;
        for (const EmissionLine &x : kPbXrays)
            rel += x.Intensity;
        if (harder > 0)
            for (const EmissionLine &x : kPbXrays)
                lines.push_back({x.EnergyKeV, harder * kPbXrayYield * x.Intensity / rel});
    }
    double total = 0;
    for (const EmissionLine &l : lines)
        total += l.Intensity;
    if (!(total > 0))
        return p;
    const double w = FullScaleKeV / channels;
    const double g = FullScaleKeV / kGrid;
    std::vector<double> continuum(kGrid, 0.0);
    std::vector<double> kn(kGrid);
    double background = 0;
    const double backscatterShare = kBackscatterShare * (leadShield ? kShieldBackscatter : 1.0);
    const double shares = kComptonShare + kMultipleShare + backscatterShare + kBackgroundShare;
    auto sigma = [shapingFactor](double e) { return PeakFwhmKeV(std::max(e, 30.0), shapingFactor) / kFwhmToSigma; };
    for (const EmissionLine &l : lines) {
        const double share = l.Intensity / total;
        const double e = l.EnergyKeV;
        const double peak = PeakToTotal(e), rest = (1 - peak) / shares;
        AddGaussian(p, w, e, sigma(e), share * peak);

        const double a = e / kElectronKeV;
        const double backscatter = e / (1 + 2 * a);
        AddGaussian(p, w, backscatter, 2 * sigma(backscatter), share * rest * backscatterShare);

        // The single-scatter continuum up to the Compton edge and the
        // multiple-scatter one up to the line (growing with the square of
        // the energy left, so that it fills the valley below the
        // photopeak), smeared on the coarse grid.
        const double edge = e - backscatter;
        double sum = 0, sumMultiple = 0;
        for (int i = 0; i < kGrid; ++i) {
            const double t = (i + 0.5) * g;
            kn[static_cast<size_t>(i)] = t < edge ? KleinNishina(t, e) : 0.0;
            sum += kn[static_cast<size_t>(i)];
            sumMultiple += t < e ? t * t : 0.0;
        }
        for (int i = 0; i < kGrid && (i + 0.5) * g < e; ++i) {
            const double t = (i + 0.5) * g;
            const double single = sum > 0 ? kComptonShare * kn[static_cast<size_t>(i)] / sum : 0.0;
            const double multiple = kMultipleShare * t * t / sumMultiple;
            AddGaussian(continuum, g, t, sigma(t), share * rest * (single + multiple));
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

void Simulator::SetLeadShield(bool on)
{
    shield_ = on;
    tableChannels_ = 0; // rebuilt at the next use
}

int32_t Simulator::FedInputs()
{
    const int32_t inputs = std::clamp(Settings.InputCount, 0, 3);
    // The conversion type as the device menu takes it.
    const DeviceChoices choices = DeviceChoicesFor(Settings);
    if (!choices.Known)
        return inputs;
    const int type = choices.MarkedType;
    uint8_t withChannels = 0, any = 0;
    for (const DeviceConfiguration &row : DeviceConfigurations) {
        if (row.InterfaceKind != Settings.InterfaceKind || row.ParallelConversion != type)
            continue;
        any |= row.Inputs;
        for (int k = 0; k < 3; ++k)
            if ((row.Channels >> k) & 1 && DeviceChannelCounts[k] == Settings.ChannelCount)
                withChannels |= row.Inputs;
    }
    const uint8_t allowed = withChannels ? withChannels : any;
    return std::min(inputs, static_cast<int32_t>(std::bit_width(static_cast<unsigned>(allowed))));
}

void Simulator::EnsureTable()
{
    const int32_t channels = Settings.ChannelCount;
    const int shaping = Settings.PulseShaping;
    if (channels == tableChannels_ && (shaping == tableShaping_ || !fileWeights_.empty()))
        return;
    tableChannels_ = channels;
    tableShaping_ = shaping;
    weights_ = fileWeights_.empty() ? DetectorResponse(lines_, channels, ShapingFactor(shaping), shield_) : fileWeights_;
    table_.Build(weights_);
    double sum = 0;
    for (double &w : weights_) {
        w = std::isfinite(w) && w > 0 ? w : 0.0;
        sum += w;
    }
    for (double &w : weights_)
        w = sum > 0 ? w / sum : 0.0;
    spreadValid_ = false;
    eventsValid_ = false;
}

const std::vector<double> &Simulator::Spread()
{
    EnsureTable();
    const int32_t channels = Settings.ChannelCount;
    if (spreadValid_ && spread_.size() == size_t(std::max(channels, 0)))
        return spread_;
    spreadValid_ = true;
    spread_.assign(size_t(std::max(channels, 0)), 0.0);
    if (channels <= 0 || table_.Empty())
        return spread_;
    // Each bucket of the table spreads evenly over its share of the
    // channels, as SampleHeight places a pulse within it.
    const double width = double(channels) / double(weights_.size());
    for (size_t b = 0; b < weights_.size(); ++b) {
        if (weights_[b] <= 0)
            continue;
        const double lo = double(b) * width, hi = lo + width;
        for (int64_t c = int64_t(lo); c < channels && double(c) < hi; ++c) {
            const double overlap = std::min(hi, double(c + 1)) - std::max(lo, double(c));
            if (overlap > 0)
                spread_[size_t(c)] += weights_[b] * overlap / width;
        }
    }
    return spread_;
}

const std::vector<double> &Simulator::EventProbabilities()
{
    const std::vector<double> &single = Spread();
    const int32_t channels = Settings.ChannelCount;
    const int32_t shift = Settings.DigitalShift;
    const int shaping = Settings.PulseShaping;
    if (eventsValid_ && shift == eventsShift_ && shaping == eventsShaping_ && events_.size() == single.size())
        return events_;
    eventsValid_ = true;
    eventsShift_ = shift;
    eventsShaping_ = shaping;
    events_.assign(single.size(), 0.0);
    if (single.empty())
        return events_;
    // An event is its first pulse plus k piled-up ones, k Poisson with the
    // mean number of arrivals in a dead window. A piled-up pulse adds its
    // height times w: w = 1 for half the window, then uniform in (0, 1).
    // Its law U is half the single law and half that of u * height; the
    // sums are convolved on the coarse grid (heights beyond full scale are
    // lost) and laid over the channels.
    const double q = rate_ * DeadTimeSeconds(shaping);
    const size_t m = std::min<size_t>(kGrid, single.size());
    std::vector<double> s(m, 0.0), u(m, 0.0), v, next(m), piled(m, 0.0);
    for (size_t c = 0; c < single.size(); ++c)
        s[c * m / single.size()] += single[c];
    double above = 0; // of the scaled heights: sum of s[i] / (i + 1/2) over i > j
    for (size_t j = m; j-- > 0;) {
        u[j] = 0.5 * s[j] + 0.5 * (above + 0.5 * s[j] / (double(j) + 0.5));
        above += s[j] / (double(j) + 0.5);
    }
    v = s;
    double poisson = std::exp(-q), given = poisson;
    for (int k = 1; k < 400 && given < 1 - 1e-12; ++k) {
        poisson *= q / k;
        given += poisson;
        std::fill(next.begin(), next.end(), 0.0);
        double mass = 0;
        for (size_t i = 0; i < m; ++i) {
            if (v[i] <= 0)
                continue;
            // The sum of two heights uniform within bins i and j falls half
            // into bin i + j, half into i + j + 1.
            for (size_t j = 0; i + j < m; ++j) {
                const double x = v[i] * u[j] * 0.5;
                next[i + j] += x;
                if (i + j + 1 < m)
                    next[i + j + 1] += x;
            }
        }
        v.swap(next);
        for (size_t i = 0; i < m; ++i) {
            piled[i] += poisson * v[i];
            mass += v[i];
        }
        if (mass < 1e-12)
            break;
    }
    std::vector<double> unshifted(single.size());
    const double ratio = double(m) / double(single.size());
    for (size_t c = 0; c < single.size(); ++c) {
        // The piled-up density at the channel's centre, interpolated between
        // the centres of the coarse bins.
        const double x = (double(c) + 0.5) * ratio - 0.5;
        const size_t i = size_t(std::clamp(std::floor(x), 0.0, double(m > 1 ? m - 2 : 0)));
        const double f = m > 1 ? std::clamp(x - double(i), 0.0, 1.0) : 0.0;
        const double density = piled[i] * (1 - f) + (m > 1 ? piled[i + 1] * f : 0.0);
        unshifted[c] = std::exp(-q) * single[c] + density * ratio;
    }
    for (int64_t c = 0; c < channels; ++c) {
        const int64_t from = c - shift;
        if (from >= 0 && from < channels)
            events_[size_t(c)] = unshifted[size_t(from)];
    }
    return events_;
}

double Simulator::SampleHeight()
{
    const uint64_t bins = table_.Size();
    const double c = double(table_.Sample(rng_())) + std::ldexp(double(rng_() >> 11), -53);
    return bins == uint64_t(Settings.ChannelCount) ? c : c * Settings.ChannelCount / double(bins);
}

bool Simulator::TakeEvent(int i, int32_t &channel)
{
    if (openHeight_[i] < 0)
        return false;
    const int64_t c = static_cast<int64_t>(std::floor(openHeight_[i])) + Settings.DigitalShift;
    openHeight_[i] = -1;
    if (c < 0 || c >= Settings.ChannelCount)
        return false;
    channel = static_cast<int32_t>(c);
    return true;
}

void Simulator::CloseEvent(int i)
{
    int32_t channel;
    if (TakeEvent(i, channel))
        AddPulses(i + 1, &channel, 1);
}

void Simulator::Credit(int i, double from, double to)
{
    EnsureTable();
    const int32_t channels = Settings.ChannelCount;
    if (!(to > from) || channels <= 0 || table_.Empty())
        return;
    const double tauS = DeadTimeSeconds(Settings.PulseShaping) / 2, tauD = 2 * tauS;
    // Share of a pulse piled up at delay d after its event's trigger.
    auto weight = [tauS](double d) { return d < tauS ? 1.0 : std::max(0.0, 2.0 - d / tauS); };
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    // The rest of a dead window that began before this interval.
    if (deadUntil_[i] > from)
        dead_[i] += std::min(deadUntil_[i], to) - from;
    const int64_t arrivals = std::poisson_distribution<int64_t>(rate_ * (to - from))(rng_);
    if (arrivals <= channels) {
        // Pulse by pulse: the arrival times of a Poisson process given their
        // number, from exponential spacings.
        times_.resize(size_t(arrivals) + 1);
        std::exponential_distribution<double> spacing(1.0);
        double sum = 0;
        for (double &t : times_) {
            sum += spacing(rng_);
            t = sum;
        }
        pulses_.clear();
        // The open event joins this interval's pulses, written at once.
        auto close = [&] {
            int32_t channel;
            if (TakeEvent(i, channel))
                pulses_.push_back(channel);
        };
        for (int64_t k = 0; k < arrivals; ++k) {
            const double t = from + (to - from) * times_[size_t(k)] / sum;
            if (t < deadUntil_[i]) {
                if (openHeight_[i] >= 0) // piles up on the open event
                    openHeight_[i] += weight(t - trigger_[i]) * SampleHeight();
                continue; // a pile-up already drawn with its event
            }
            close();
            trigger_[i] = t;
            deadUntil_[i] = t + tauD;
            openHeight_[i] = SampleHeight();
            dead_[i] += std::min(deadUntil_[i], to) - t;
        }
        if (deadUntil_[i] <= to)
            close();
        AddPulses(i + 1, pulses_.data(), pulses_.size());
        return;
    }
    // By their laws. The open event takes the pulses of the rest of its
    // window now; a window beyond `to` then only keeps the input dead.
    if (openHeight_[i] >= 0) {
        const double a = std::max(from - trigger_[i], 0.0), b = deadUntil_[i] - trigger_[i];
        const int64_t late = b > a ? std::poisson_distribution<int64_t>(rate_ * (b - a))(rng_) : 0;
        for (int64_t k = 0; k < late; ++k)
            openHeight_[i] += weight(a + (b - a) * uniform(rng_)) * SampleHeight();
        CloseEvent(i);
    }
    const double live = to - std::max(from, deadUntil_[i]);
    if (!(live > 0))
        return;
    // Events of a non-paralysable analyser: intervals of tauD plus an
    // exponential wait; their number over `live` is normal at these counts.
    const double mean = 1 / rate_ + tauD;
    const double expected = (live + tauD) / mean;
    const double sd = std::sqrt(live / (rate_ * rate_ * mean * mean * mean));
    const double drawn = std::round(expected + sd * std::normal_distribution<double>(0.0, 1.0)(rng_));
    const uint64_t events = drawn > 0 ? static_cast<uint64_t>(std::min(drawn, 9e15)) : 0;
    // Where the interval ends: within a dead window for the share of time
    // the analyser is dead, at a uniform place in it.
    const double deadShare = rate_ * tauD / (1 + rate_ * tauD);
    const double overhang = events > 0 && uniform(rng_) < deadShare ? tauD * uniform(rng_) : 0.0;
    dead_[i] += std::clamp(double(events) * tauD - overhang, 0.0, live);
    deadUntil_[i] = to + overhang;
    // The events split over the channels in one pass: channel by channel a
    // binomial share of what is left, which is the multinomial law of
    // `events` events drawn one by one.
    const std::vector<double> &p = EventProbabilities();
    std::vector<uint64_t> hits(size_t(channels), 0);
    uint64_t left = events;
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
    AddChannelCounts(i + 1, hits);
}

void Simulator::Sample(int64_t count, std::vector<int32_t> &out)
{
    out.clear();
    EnsureTable();
    const int32_t channels = Settings.ChannelCount;
    if (table_.Empty() || channels <= 0 || count <= 0)
        return;
    const int64_t shift = Settings.DigitalShift;
    out.reserve(static_cast<size_t>(count));
    for (int64_t i = 0; i < count; ++i) {
        const int64_t c = static_cast<int64_t>(SampleHeight()) + shift;
        if (c >= 0 && c < channels)
            out.push_back(static_cast<int32_t>(c));
    }
}

void Simulator::Begin(double closedDays)
{
    begun_ = true;
    const double now = Now();
    const double tauD = DeadTimeSeconds(Settings.PulseShaping);
    for (int i = 0; i < 3; ++i) {
        lastStart_[i] = Settings.StartTime[i];
        // An exposure that was running before the program started: the time
        // the data memory was kept while the program was closed brings
        // pulses, any time before that none.
        credited_[i] = Settings.Running[i] == 1 ? std::max(0.0, now - Settings.StartTime[i] - std::max(closedDays, 0.0))
                                                : Elapsed[i];
        wasRunning_[i] = Settings.Running[i] == 1;
        // The dead time of that earlier part was measured by the run that
        // counted it and is gone: it is taken at its expected share.
        dead_[i] = wasRunning_[i] ? credited_[i] * 86400 * rate_ * tauD / (1 + rate_ * tauD) : 0.0;
        deadUntil_[i] = credited_[i] * 86400;
        openHeight_[i] = -1;
    }
}

void Simulator::Step()
{
    if (!begun_)
        Begin();
    // While a print is served from a snapshot, the time is credited later.
    if (DataFromMemory == 0)
        return;
    const int32_t fed = FedInputs();
    for (int i = 0; i < 3; ++i) {
        const bool running = Settings.Running[i] == 1;
        // The tick that ends an exposure has already stopped the input.
        const bool active = running || wasRunning_[i];
        wasRunning_[i] = running;
        if (Settings.StartTime[i] != lastStart_[i] || Elapsed[i] < credited_[i]) {
            // A new Start: the event the last exposure left open is written,
            // and the dead time starts from zero.
            if (i < fed)
                CloseEvent(i);
            openHeight_[i] = -1;
            lastStart_[i] = Settings.StartTime[i];
            credited_[i] = 0;
            dead_[i] = 0;
            deadUntil_[i] = 0;
        }
        const double to = std::min(Elapsed[i], Settings.ExposurePreset[i]);
        const double from = credited_[i];
        credited_[i] = std::max(credited_[i], Elapsed[i]);
        if (i >= fed || !active)
            continue;
        if (to > from)
            Credit(i, from * 86400, to * 86400);
        if (!running) // the event triggered before the stop is still converted
            CloseEvent(i);
    }
}

bool Simulator::DeadTime(int32_t n, double &days) const
{
    if (n < 1 || n > 3 || n > FedInputs())
        return false;
    // A Start the next tick will see restarts the exposure from zero.
    days = Settings.StartTime[n - 1] != lastStart_[n - 1] ? 0.0 : dead_[n - 1] / 86400;
    return true;
}

} // namespace device
