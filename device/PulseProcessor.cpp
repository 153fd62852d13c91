#include "device/PulseProcessor.h"

#include <algorithm>
#include <cmath>

namespace device {

namespace {
// A sample this close to the converter's limits is taken as clipped: the
// pulse's true top is unknown.
constexpr float ClipLevel = 0.9995f;
// The shape's window ends where it stays below this fraction of its top.
constexpr double ShapeEnd = 0.005;
// How far a pulse may differ from the learned shape, as a fraction of its
// height (rms over the shape), beyond what the noise explains.
constexpr double ShapeTolerance = 0.03;

int Clamp(double v, int lo, int hi) { return static_cast<int>(std::clamp(v, double(lo), double(hi))); }
} // namespace

PulseProcessor::PulseProcessor(const PulseSettings &settings, uint8_t channel)
    : settings_(settings), channel_(channel)
{
    const double rate = std::max(settings_.sampleRate, 1000);
    pre_ = Clamp(rate * 0.25e-3, 8, 64);         // the longest rise to the top
    maxLength_ = Clamp(rate * 1.5e-3, 32, 1024); // the longest fall from it
    delay_ = pre_ + Shift + 2;
    // The trigger arms once the input has been below half the threshold for
    // about 40 us: noise on the tail of a large pulse must not trigger again.
    armAfter_ = Clamp(rate * 40e-6, 2, 16);
    size_t ring = 1;
    while (ring < static_cast<size_t>(pre_ + maxLength_ + 2 * Shift + delay_ + 16))
        ring <<= 1;
    ring_.assign(ring, 0.0f);
    mask_ = ring - 1;
    // The baseline follows the quiet input with a 2 ms running mean.
    const double k = std::max(64.0, rate * 2e-3);
    gain_ = 1.0 / k;
    warmUp_ = static_cast<int64_t>(4 * k) + delay_;
    if (settings_.polarity == Polarity::Positive)
        sign_ = 1;
    else if (settings_.polarity == Polarity::Negative)
        sign_ = -1;
}

double PulseProcessor::NoiseRms() const { return std::sqrt(noise2_); }

void PulseProcessor::Process(const float *samples, size_t count, size_t stride, std::vector<PulseEvent> &out)
{
    for (size_t i = 0; i < count; ++i)
        Step(samples[i * stride], out);
}

void PulseProcessor::Vote(float d)
{
    const float thr = static_cast<float>(settings_.threshold);
    const float a = std::fabs(d);
    quietRun_ = a < 0.5f * thr ? quietRun_ + 1 : 0;
    armed_ = armed_ || quietRun_ >= armAfter_;
    if (!armed_ || a <= thr || pos_ < holdOff_)
        return;
    armed_ = false;
    // One vote per pulse: its undershoot, of the other sign, is let pass.
    holdOff_ = pos_ + maxLength_;
    ++votes_;
    if (d > 0)
        ++positiveVotes_;
    const int negative = votes_ - positiveVotes_;
    if (std::abs(positiveVotes_ - negative) >= 5 || votes_ >= 15)
        sign_ = positiveVotes_ >= negative ? 1 : -1;
}

void PulseProcessor::Step(float x, std::vector<PulseEvent> &out)
{
    ring_[static_cast<size_t>(pos_) & mask_] = x;
    if (!baselineSet_) {
        baseline_ = x;
        baselineSet_ = true;
    }
    const double thr = settings_.threshold;
    // The baseline takes a sample once it is clear that no pulse window
    // will start before it. Excursions count at most one threshold, so that
    // a pulse that did not trigger pulls it only a little.
    const int64_t k = pos_ - delay_;
    if (state_ == State::Idle && k >= quietFrom_ && k >= 0) {
        const double e = std::clamp(static_cast<double>(At(k)) - baseline_, -thr, thr);
        baseline_ += e * gain_;
        noise2_ += (e * e - noise2_) * gain_;
    }
    if (pos_ < warmUp_) {
        ++pos_;
        return;
    }
    const float d0 = static_cast<float>(x - baseline_);
    if (sign_ == 0) {
        Vote(d0);
        ++pos_;
        return;
    }
    const float d = sign_ > 0 ? d0 : -d0;
    quietRun_ = d < 0.5 * thr ? quietRun_ + 1 : 0;
    armed_ = armed_ || quietRun_ >= armAfter_;
    if (armed_ && hasPending_ && state_ == State::Idle) {
        pending_.dead = static_cast<uint32_t>(std::min<int64_t>(pos_ - pending_.position, UINT32_MAX));
        out.push_back(pending_);
        hasPending_ = false;
    }
    // A pulse triggers where it crosses the threshold: one that crossed it
    // while the last window was still open went by unseen, as the dead time
    // counts it.
    const bool crossing = d > thr && !above_;
    above_ = d > thr;
    switch (state_) {
    case State::Idle:
        if (armed_ && crossing && pos_ >= deadUntil_) {
            armed_ = false;
            trigger_ = peakAt_ = pos_;
            peakValue_ = d;
            state_ = State::Peak;
        }
        break;
    case State::Peak: {
        const bool learning = shape_.empty();
        const int64_t longestRise = learning ? pre_ : shapePeak_ + 2 * Shift + 2;
        if (d > peakValue_) {
            peakValue_ = d;
            peakAt_ = pos_;
        }
        if (d < 0.5f * peakValue_ || pos_ - trigger_ >= longestRise) {
            if (learning) {
                windowFrom_ = peakAt_ - pre_;
                windowTo_ = peakAt_ + maxLength_;
            } else {
                windowFrom_ = peakAt_ - shapePeak_ - Shift;
                windowTo_ = windowFrom_ + static_cast<int64_t>(shape_.size()) + 2 * Shift;
            }
            windowTo_ = std::max(windowTo_, pos_ + 1);
            state_ = State::Window;
        }
        break;
    }
    case State::Window:
        break;
    }
    if (state_ == State::Window && pos_ + 1 >= windowTo_) {
        if (shape_.empty())
            Learn();
        else
            Fit();
        state_ = State::Idle;
        quietFrom_ = windowTo_;
        deadUntil_ = windowTo_;
    }
    ++pos_;
}

void PulseProcessor::Learn()
{
    const double thr = settings_.threshold;
    const double amp = peakValue_;
    const auto d = [&](int64_t i) { return sign_ * (static_cast<double>(At(i)) - baseline_); };
    if (amp < 4 * thr)
        return;
    bool fallen = false;
    for (int64_t i = windowFrom_; i < windowTo_; ++i) {
        if (std::fabs(At(i)) >= ClipLevel)
            return;
        const double v = d(i);
        if (i < trigger_ && v >= thr)
            return; // something before it
        if (i > peakAt_) {
            if (!fallen)
                fallen = v < 0.5 * thr;
            else if (v >= thr)
                return; // another pulse after it
        }
    }
    if (!fallen)
        return;
    // Aligned between samples at the vertex of a parabola fitted to the five
    // samples around the top, and resampled there (Catmull-Rom), so that the
    // mean is not widened by where each pulse fell between samples.
    double s1 = 0, s2 = 0, s0 = 0;
    for (int x = -2; x <= 2; ++x) {
        const double v = d(peakAt_ + x);
        s0 += v;
        s1 += x * v;
        s2 += x * x * v;
    }
    const double a1 = s1 / 10, a2 = (s2 - 2 * s0) / 14;
    const double delta = a2 < 0 ? std::clamp(-a1 / (2 * a2), -1.0, 1.0) : 0.0;
    const int64_t last = windowTo_ - 1;
    std::vector<float> &aligned = learnSet_.emplace_back(static_cast<size_t>(windowTo_ - windowFrom_));
    learnAmp_.push_back(amp);
    for (int64_t i = windowFrom_; i < windowTo_; ++i) {
        const double x = static_cast<double>(i) + delta;
        const int64_t i1 = static_cast<int64_t>(std::floor(x));
        const double f = x - static_cast<double>(i1);
        const auto v = [&](int64_t j) { return d(std::clamp(j, windowFrom_, last)); };
        const double p0 = v(i1 - 1), p1 = v(i1), p2 = v(i1 + 1), p3 = v(i1 + 2);
        aligned[static_cast<size_t>(i - windowFrom_)] = static_cast<float>(
            (p1 + 0.5 * f * (p2 - p0 + f * (2 * p0 - 5 * p1 + 4 * p2 - p3 + f * (3 * (p1 - p2) + p3 - p0)))) / amp);
    }
    if (learnSet_.size() < LearnPulses)
        return;

    // Pulses that looked clean may still hold a second pulse on their flank.
    // The median of the set stands for the shape; the pulses far from it are
    // left out, and the rest averaged, weighted by their heights.
    const size_t len = learnSet_[0].size(), m = learnSet_.size();
    std::vector<double> median(len), dev(m, 0.0);
    std::vector<float> column(m);
    for (size_t i = 0; i < len; ++i) {
        for (size_t j = 0; j < m; ++j)
            column[j] = learnSet_[j][i];
        std::nth_element(column.begin(), column.begin() + static_cast<std::ptrdiff_t>(m / 2), column.end());
        median[i] = column[m / 2];
    }
    for (size_t j = 0; j < m; ++j)
        for (size_t i = 0; i < len; ++i)
            dev[j] += (learnSet_[j][i] - median[i]) * (learnSet_[j][i] - median[i]);
    std::vector<double> sorted = dev;
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(m / 2), sorted.end());
    const double keep = 2.0 * sorted[m / 2];
    std::vector<double> t(len, 0.0);
    double weight = 0, kept = 0;
    for (size_t j = 0; j < m; ++j) {
        if (dev[j] > keep)
            continue;
        ++kept;
        for (size_t i = 0; i < len; ++i)
            t[i] += learnSet_[j][i] * learnAmp_[j];
        weight += learnAmp_[j];
    }
    for (double &v : t)
        v /= weight;
    // Cut where it stays below a small fraction of its top or the noise left
    // in the mean.
    const double noiseLeft = 3.0 * NoiseRms() * std::sqrt(kept) / weight;
    const double lim = std::max(ShapeEnd, noiseLeft);
    int from = pre_;
    while (from > 0 && std::fabs(t[static_cast<size_t>(from - 1)]) >= lim)
        --from;
    from = std::max(0, from - 2);
    // The end: where the mean of the next 8 samples has fallen below it.
    const int size = static_cast<int>(t.size());
    int to = pre_ + 1;
    for (; to + 8 <= size; ++to) {
        double sum = 0;
        for (int i = to; i < to + 8; ++i)
            sum += std::fabs(t[static_cast<size_t>(i)]);
        if (sum < 8 * lim)
            break;
    }
    to = std::min(size, to + 2);
    int top = from;
    for (int i = from; i < to; ++i)
        if (t[static_cast<size_t>(i)] > t[static_cast<size_t>(top)])
            top = i;
    const double peak = t[static_cast<size_t>(top)];
    shape_.resize(static_cast<size_t>(to - from));
    for (int i = from; i < to; ++i)
        shape_[static_cast<size_t>(i - from)] = static_cast<float>(t[static_cast<size_t>(i)] / peak);
    shapePeak_ = top - from;
    const size_t n = shape_.size();
    slope_.assign(n, 0.0f);
    shapeEnergy_ = 0;
    for (size_t i = 0; i < n; ++i) {
        const float prev = i > 0 ? shape_[i - 1] : 0.0f;
        const float next = i + 1 < n ? shape_[i + 1] : 0.0f;
        slope_[i] = 0.5f * (next - prev);
        shapeEnergy_ += double(shape_[i]) * shape_[i];
    }
    learnSet_.clear();
    learnSet_.shrink_to_fit();
    learnAmp_.clear();
}

void PulseProcessor::Fit()
{
    const size_t n = shape_.size();
    const size_t span = n + 2 * Shift;
    window_.resize(span);
    float *y = window_.data();
    bool clipped = false;
    const float base = static_cast<float>(baseline_);
    for (size_t i = 0; i < span; ++i) {
        const float v = At(windowFrom_ + static_cast<int64_t>(i));
        clipped |= std::fabs(v) >= ClipLevel;
        y[i] = sign_ > 0 ? v - base : base - v;
    }
    PulseEvent &e = pending_;
    e = PulseEvent{};
    hasPending_ = true;
    e.position = trigger_;
    e.channel = channel_;
    if (clipped) {
        e.kind = PulseKind::Clipped;
        return;
    }
    // The shape's correlation with the window at each alignment; the best
    // one refined between samples by a parabola through its neighbours.
    double c[2 * Shift + 1];
    int best = 0;
    for (int k = 0; k <= 2 * Shift; ++k) {
        double s = 0;
        for (size_t j = 0; j < n; ++j)
            s += double(y[static_cast<size_t>(k) + j]) * shape_[j];
        c[k] = s;
        if (s > c[best])
            best = k;
    }
    double offset = 0, top = c[best];
    if (best > 0 && best < 2 * Shift) {
        const double l = c[best - 1], r = c[best + 1], curv = l - 2 * top + r;
        if (curv < 0) {
            offset = std::clamp(0.5 * (l - r) / curv, -0.5, 0.5);
            top -= 0.25 * (l - r) * offset;
        }
    }
    const double a = top / shapeEnergy_;
    double residual = 0;
    for (size_t j = 0; j < n; ++j) {
        const double r = y[static_cast<size_t>(best) + j] - a * (shape_[j] - offset * slope_[j]);
        residual += r * r;
    }
    const double noise2 = std::max(noise2_, 1.0 / (12.0 * 32768.0 * 32768.0));
    const double allowed = 1.5 * double(n) * noise2 + 6.0 * noise2 * std::sqrt(2.0 * double(n)) +
                           ShapeTolerance * ShapeTolerance * a * a * shapeEnergy_;
    const bool edge = best == 0 || best == 2 * Shift;
    if (a <= 0 || edge || residual > allowed) {
        e.kind = PulseKind::Rejected;
    } else {
        e.kind = PulseKind::Accepted;
        e.height = static_cast<float>(a);
    }
}

} // namespace device
