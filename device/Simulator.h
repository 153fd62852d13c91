// A simulated detector: gamma sources seen by a scintillator, with Poisson
// arrivals in clock time, written into the spectra of the running inputs
// through the channel access of the current layout.
//
// Full scale is 1600 keV whatever ChannelCount is: channel c covers the
// energies [c, c + 1) * 1600 / ChannelCount. DigitalShift moves every pulse
// by that many channels (pulses leaving the channel range are lost) and
// PulseShaping scales the resolution and sets the dead time.
//
// The analyser is dead for twice the shaping time after each pulse it
// triggers on (non-paralysable: pulses arriving then do not prolong it).
// Those later pulses pile up on the first: one that arrives within the
// shaping time adds its whole height, one later in the dead window a share
// falling linearly to nothing at its end. The recorded event is the sum.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace device {

inline constexpr double FullScaleKeV = 1600.0;

struct EmissionLine {
    double EnergyKeV;
    double Intensity; // relative
};

// The lines of a built-in source: am241, cs137, co60, k40 or mix (all of
// them), gamma lines and X-rays with their emission probabilities per decay.
// False for any other name.
bool BuiltinSourceLines(const std::string &name, std::vector<EmissionLine> &lines);

// Resolution factor of a PulseShaping value (1, 2, 4, 8 us): 1 at 1 us,
// a few per cent better at the longer times.
double ShapingFactor(int pulseShaping);

// Dead time after a triggered pulse, in seconds: twice the shaping time of
// a PulseShaping value.
double DeadTimeSeconds(int pulseShaping);

// Photopeak FWHM in keV at energy e: 7.0 % at 661.66 keV, scaling with
// the square root of the energy, times the shaping factor.
double PeakFwhmKeV(double e, double shapingFactor);

// Channel (centroid convention: channel c stands at c) of energy e.
double ChannelOfEnergy(double e, int32_t channels);

// Probability of each of `channels` channels for the response of a 3x3 inch
// NaI(Tl) detector to the lines: photopeak, single Compton continuum,
// multiple Compton scattering up to the photopeak, backscatter bump and a
// falling low-energy background; the photopeak holds about 0.45 of the
// total at 662 keV. With leadShield the detector sits in a lead castle: Pb
// K X-rays excited by the harder lines and a stronger backscatter bump.
// Sums to at most 1 (what falls above full scale is missing).
std::vector<double> DetectorResponse(const std::vector<EmissionLine> &lines, int32_t channels,
                                     double shapingFactor, bool leadShield = false);

// Walker's alias table: O(1) sampling of a discrete distribution.
class AliasTable {
public:
    // Weights must be finite and not negative; an all-zero table samples
    // nothing (Empty()).
    void Build(const std::vector<double> &weights);
    bool Empty() const { return alias_.empty(); }
    size_t Size() const { return alias_.size(); }
    // One bucket from 64 random bits.
    uint32_t Sample(uint64_t r) const
    {
        const uint32_t i = static_cast<uint32_t>(((r >> 32) * alias_.size()) >> 32);
        return (r & 0xFFFFFFFFu) < threshold_[i] ? i : alias_[i];
    }

private:
    std::vector<uint64_t> threshold_; // keep bucket i when the low 32 bits are below
    std::vector<uint32_t> alias_;
};

// Adds one pulse per entry of channels to input n, with exactly the result
// of WriteChannel(c, n, ReadChannel(c, n) + 1) per pulse in that order, a
// counter saturating at 2^31 - 1. Batched per channel where the input's
// channels share no byte and have all four planes, pulse by pulse otherwise.
// Channels outside the range are ignored.
void AddPulses(int32_t n, const int32_t *channels, size_t count);

// Adds hits[c] pulses to channel c of input n for every channel (hits has
// ChannelCount entries), a counter saturating at 2^31 - 1: the result of
// AddPulses with the pulses in channel order.
void AddChannelCounts(int32_t n, const std::vector<uint64_t> &hits);

class Simulator {
public:
    // A built-in source.
    Simulator(std::vector<EmissionLine> lines, double ratePerSecond, uint64_t seed);
    // A spectrum as source: the probability of each of its channels, spread
    // over the full scale whatever its channel count.
    Simulator(std::vector<double> channelWeights, double ratePerSecond, uint64_t seed);

    // A built-in source seen through a lead shield (see DetectorResponse).
    void SetLeadShield(bool on);

    // Inputs the current device configuration has, of InputCount: the
    // largest input count its row allows for the channel count, no more.
    static int32_t FedInputs();

    // Takes the acquisition state as the program finds it at start-up (call
    // once the settings are loaded). An exposure already running is credited
    // at the next Step with the pulses of the last closedDays before now (the
    // time the program was closed while the board went on counting into a
    // data memory that was kept), up to its preset; the time before that
    // brings none.
    void Begin(double closedDays = 0);
    // Called after each exposure tick: credits each input that was running
    // with Poisson arrivals for the growth of its Elapsed since the last call
    // (or since its Start), up to the end of its exposure preset, through
    // the dead time and pile-up. Elapsed follows a monotonic clock, so
    // wall-clock changes bring none. Where more pulses arrive than the input
    // has channels, the number of events, their spectrum with pile-up and
    // the dead time are drawn from their laws at once (one pass over the
    // channels), so that a tick after a long pause costs no more than that.
    void Step();

    // Dead time of input n's current or last exposure in days (0 after a
    // Start not yet credited); false for an input the device does not have.
    bool DeadTime(int32_t n, double &days) const;

    // `count` single pulses (no dead time, no pile-up) drawn from the
    // current response (ChannelCount, PulseShaping), shifted by
    // DigitalShift; lost pulses are left out.
    void Sample(int64_t count, std::vector<int32_t> &out);

private:
    void EnsureTable();
    // One pulse height from the response, in channels (not shifted).
    double SampleHeight();
    // Credits input i + 1 with the arrivals of [from, to] seconds of its
    // exposure, one by one or by their laws.
    void Credit(int i, double from, double to);
    // Ends input i's open event, if any: true with its channel where it
    // falls within the range after the shift.
    bool TakeEvent(int i, int32_t &channel);
    // Writes input i's open event, if any.
    void CloseEvent(int i);

    // Probability of each channel of the current response, not shifted.
    const std::vector<double> &Spread();
    // Probability of each channel of one recorded event (pile-up included)
    // after the shift (what falls outside is missing from the sum).
    const std::vector<double> &EventProbabilities();

    std::vector<EmissionLine> lines_;
    std::vector<double> fileWeights_;
    double rate_;
    std::mt19937_64 rng_;
    AliasTable table_;
    int32_t tableChannels_ = 0;
    int tableShaping_ = -1;
    bool begun_ = false;
    double lastStart_[3]{};
    double credited_[3]{}; // Elapsed already credited with pulses, days
    bool wasRunning_[3]{};
    bool shield_ = false;
    // Per input, on its exposure's time axis in seconds: the end of the
    // dead window, the trigger time and height (channels) of the event not
    // yet written (height < 0: none), and the dead time so far.
    double deadUntil_[3]{};
    double trigger_[3]{};
    double openHeight_[3]{-1, -1, -1};
    double dead_[3]{};
    std::vector<int32_t> pulses_;
    std::vector<double> times_;
    std::vector<double> weights_; // the table's weights, summing to 1
    std::vector<double> spread_;  // of Spread
    bool spreadValid_ = false;
    std::vector<double> events_;  // of EventProbabilities
    int32_t eventsShift_ = 0;
    int eventsShaping_ = -1;
    bool eventsValid_ = false;
};

} // namespace device
