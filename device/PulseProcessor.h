// Pulse-height analysis of one sampled channel: the detector's shaped
// pulses as a sound card records them, each turned into one height.
//
// The baseline is tracked while the input is quiet and subtracted. A pulse
// triggers when it rises through the threshold; its shape is learned from
// the first clean pulses, and each later pulse's height is the amplitude of
// that shape fitted to it (a matched filter), so that noise averages out
// over the whole pulse instead of riding on its highest sample. Pulses whose
// shape differs from the learned one (pile-up, spikes) and pulses that reach
// the converter's limits are rejected. Every accepted or rejected pulse
// makes the input dead from its trigger to the end of its window, and on
// while what is left of it keeps the trigger from arming again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace device {

enum class Polarity : uint8_t { Auto, Positive, Negative };

enum class PulseKind : uint8_t {
    Accepted,
    Rejected, // its shape differs from the learned one: pile-up, a spike
    Clipped,  // a sample at the converter's limit
    Lost      // frames the capture lost (an overrun): dead for their length
};

struct PulseEvent {
    int64_t position = 0; // frame of the trigger, counted from the stream's start
    float height = 0;     // peak above the baseline, a fraction of full scale (Accepted)
    uint32_t dead = 0;    // frames from the trigger until the input can trigger again
    uint8_t channel = 0;  // 0 left (input 1), 1 right (input 2)
    PulseKind kind = PulseKind::Accepted;
};

struct PulseSettings {
    int sampleRate = 192000;
    Polarity polarity = Polarity::Auto;
    double threshold = 0.01; // of full scale
};

class PulseProcessor {
public:
    explicit PulseProcessor(const PulseSettings &settings, uint8_t channel = 0);

    // Samples in full-scale units (-1 .. 1), `stride` floats apart; events
    // are appended to out as their windows complete.
    void Process(const float *samples, size_t count, size_t stride, std::vector<PulseEvent> &out);

    // How many clean pulses the shape is averaged from.
    static constexpr int LearnPulses = 16;

private:
    double NoiseRms() const;
    enum class State : uint8_t { Idle, Peak, Window };

    float At(int64_t i) const { return ring_[static_cast<size_t>(i) & mask_]; }
    void Step(float x, std::vector<PulseEvent> &out);
    void Vote(float d);
    void Learn();
    void Fit();

    PulseSettings settings_;
    uint8_t channel_;
    int sign_ = 0; // +1, -1; 0 while auto polarity is still undecided
    int votes_ = 0, positiveVotes_ = 0;
    int64_t holdOff_ = 0;

    std::vector<float> ring_;
    size_t mask_ = 0;
    int64_t pos_ = 0; // frames seen

    // Baseline and noise, updated from samples `delay_` behind the newest.
    double baseline_ = 0, noise2_ = 0;
    bool baselineSet_ = false;
    int delay_ = 0;
    int64_t quietFrom_ = 0; // first frame the baseline may take again
    double gain_ = 0;       // of the baseline's running mean
    int64_t warmUp_ = 0;

    State state_ = State::Idle;
    int quietRun_ = 0, armAfter_ = 2; // samples in a row below half the threshold; how many arm
    bool armed_ = false, above_ = false;
    // The last window's pulse, handed out once the trigger arms again: the
    // input stays dead until then.
    PulseEvent pending_;
    bool hasPending_ = false;
    int64_t trigger_ = 0, peakAt_ = 0, windowFrom_ = 0, windowTo_ = 0, deadUntil_ = 0;
    float peakValue_ = 0;
    double frozenBaseline_ = 0;

    // Learning.
    int pre_ = 0, maxLength_ = 0;
    std::vector<std::vector<float>> learnSet_; // clean pulses, aligned, each divided by its top
    std::vector<double> learnAmp_;

    // The learned shape and what the fit needs of it.
    std::vector<float> shape_, slope_;
    int shapePeak_ = 0;
    double shapeEnergy_ = 0; // sum of the shape's squares
    std::vector<float> window_; // the fitted window, baseline subtracted
    static constexpr int Shift = 3; // frames searched either side of the expected alignment
};

} // namespace device
