// A detector on a sound card: capture from an ALSA PCM or a sound file in a
// thread of its own, pulse-height processing per channel, and the hand-over
// of the pulses to the GUI thread, which writes them into the spectra of the
// running inputs and keeps each input's dead and live time.
//
// The left channel feeds input 1, the right channel input 2.
#pragma once

#include "device/PulseProcessor.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace device {

enum class SampleFormat : uint8_t { S16, S24_3, S32, Float };

struct AudioOptions {
    std::string name;   // an ALSA PCM name, or a sound file's path
    bool file = false;  // name is a sound file (WAV, FLAC, ...)
    int rate = 0;       // PCM only; 0: the highest of 192000, 96000, 48000, 44100 accepted
    PulseSettings pulses;
};

// Whether an --audio value names a sound file rather than a PCM: it exists
// as a file, holds a '/', or ends in a sound file's extension.
bool LooksLikeSoundFile(const std::string &name);

class AudioSource {
public:
    // Opens the PCM (hardware parameters set) or the file; nullptr and a
    // one-line error when that fails. Capture starts with Start().
    static std::unique_ptr<AudioSource> Open(const AudioOptions &options, std::string &error);
    // A source that captures nothing, fed through ProcessFrames (benchmarks).
    AudioSource(int rate, int channels, const PulseSettings &pulses);
    ~AudioSource();
    AudioSource(const AudioSource &) = delete;
    AudioSource &operator=(const AudioSource &) = delete;

    void Start();
    void Stop(); // joins the capture thread

    int Rate() const { return rate_; }
    int Channels() const { return channels_; }
    bool IsFile() const { return file_; }
    const std::string &Name() const { return name_; }

    // What the capture thread has handed over since the last drain.
    struct Batch {
        std::vector<PulseEvent> events;
        int64_t position = 0;  // frames of the stream so far, lost ones included
        uint64_t overruns = 0; // since the start
        bool ended = false;    // a file's end was reached
        bool failed = false;   // the device is gone; failure says why
        std::string failure;
    };
    void Drain(Batch &batch);

    // Converts `frames` interleaved frames of the source's channel count,
    // runs them through the pulse processing and queues the pulses.
    void ProcessFrames(const void *data, size_t frames, SampleFormat format);
    // What the capture reports: `frames` lost in an overrun (dead time for
    // the running inputs), or the device gone. For a source fed by hand too.
    void MarkLost(int64_t frames);
    void Fail(const std::string &why);

    // Pulses kept for the GUI thread at most; older ones are dropped first.
    static constexpr size_t QueueLimit = 1 << 18;

private:
    AudioSource() = default;
    void Init(int rate, int channels, const PulseSettings &pulses);
    void CaptureAlsa();
    void ReadFile();

    std::string name_;
    bool file_ = false;
    int rate_ = 0, channels_ = 0, stride_ = 1; // channels processed, channels interleaved
    SampleFormat format_ = SampleFormat::S16;
    void *pcm_ = nullptr;   // snd_pcm_t
    void *sound_ = nullptr; // SNDFILE
    size_t period_ = 0;

    std::vector<PulseProcessor> processors_;
    std::vector<float> converted_;
    std::vector<PulseEvent> fresh_;
    int64_t frames_ = 0; // capture thread only
    int64_t lost_ = 0;   // frames lost in overruns

    std::mutex mutex_;
    std::deque<PulseEvent> queue_;
    int64_t position_ = 0;
    uint64_t overruns_ = 0;
    bool ended_ = false, failed_ = false, failureTaken_ = false;
    std::string failure_;

    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The GUI thread's side: pulses into the spectra of the running inputs
// through the channel access, dead and live time per input. A pulse counts
// for an input when its trigger falls between the input's Start and its
// Stop (or the end of its preset), measured on the stream's own clock.
class AudioAcquisition {
public:
    explicit AudioAcquisition(AudioSource &source) : source_(source) {}

    enum class Status { Running, DeviceLost };
    // Called after each exposure tick and now and then while nothing runs.
    // DeviceLost once, when the device has gone: its inputs are stopped,
    // every count kept.
    Status Step();

    // Of the current or last exposure of input n (1..3).
    double DeadSeconds(int n) const;
    uint64_t Accepted(int n) const { return accepted_[n - 1]; }
    uint64_t Overruns() const { return overruns_; }
    int64_t Position() const { return batch_.position; } // frames of the stream taken so far
    bool Ended() const { return ended_; }
    const std::string &Failure() const { return failure_; }

private:
    AudioSource &source_;
    AudioSource::Batch batch_;
    std::vector<int32_t> channels_[3];
    int64_t runFrom_[3]{}, runTo_[3]{};
    double lastStart_[3]{};
    bool wasRunning_[3]{};
    int64_t dead_[3]{}; // frames
    uint64_t accepted_[3]{};
    uint64_t overruns_ = 0;
    bool ended_ = false, lost_ = false;
    std::string failure_;
};

} // namespace device
