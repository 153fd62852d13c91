// Shared state of the program: the settings record and its file, the data
// memory with its channel access, the acquisition flags and timing, the
// mapping between channels and plot columns, and the clock.
//
// State is plain global data read and written by name. Arrays indexed by
// input or marker number are 0-based in C++: element 0 is input 1 (marker 1).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

static_assert(std::endian::native == std::endian::little,
              "the settings file and the data memory are little-endian byte images");

// ---------------------------------------------------------------------------
// Settings record: 152 bytes, its layout is the settings file format.
struct SettingsRecord {
    double ExposurePreset[3];   // days
    int32_t VertScale;          // counts at full plot height
    int32_t ViewFirst;          // first channel shown
    uint16_t ActionInput;       // 1..3
    uint16_t ViewWidth;         // channels shown
    uint8_t ShowHints;          // bool8
    uint8_t HistogramMode;      // 1 histogram, 0 points
    uint8_t Reserved26[2];
    int32_t Marker[2];          // marker 1, marker 2
    int32_t LeftPeakFrom;
    int32_t LeftPeakTo;
    int32_t RightPeakFrom;
    int32_t RightPeakTo;
    double LeftPeakEnergy;      // keV
    double RightPeakEnergy;     // keV
    double LeftPeakCentroid;    // channels
    double RightPeakCentroid;   // channels
    int32_t InputCount;         // 1..3
    int32_t ChannelCount;       // 1024, 4096, 16384
    int32_t InterfaceKind;      // 0 ISA, 1 PCI, 2 PCMCIA, 3 printer port
    uint8_t ParallelConversion; // bool8
    uint8_t Reserved6D[3];
    uint8_t Running[3];         // 1 = running
    uint8_t ActOnAllInputs;     // bool8
    uint8_t Reserved74[4];
    double StartTime[3];        // days since 1899-12-30
    int32_t DigitalShift;
    uint8_t PulseShaping;       // 0 = 1 us .. 3 = 8 us
    uint8_t Reserved95[3];
};

static_assert(std::is_standard_layout_v<SettingsRecord>);
static_assert(sizeof(SettingsRecord) == 152);
static_assert(offsetof(SettingsRecord, ExposurePreset) == 0);
static_assert(offsetof(SettingsRecord, VertScale) == 24);
static_assert(offsetof(SettingsRecord, ViewFirst) == 28);
static_assert(offsetof(SettingsRecord, ActionInput) == 32);
static_assert(offsetof(SettingsRecord, ViewWidth) == 34);
static_assert(offsetof(SettingsRecord, ShowHints) == 36);
static_assert(offsetof(SettingsRecord, HistogramMode) == 37);
static_assert(offsetof(SettingsRecord, Reserved26) == 38);
static_assert(offsetof(SettingsRecord, Marker) == 40);
static_assert(offsetof(SettingsRecord, LeftPeakFrom) == 48);
static_assert(offsetof(SettingsRecord, LeftPeakTo) == 52);
static_assert(offsetof(SettingsRecord, RightPeakFrom) == 56);
static_assert(offsetof(SettingsRecord, RightPeakTo) == 60);
static_assert(offsetof(SettingsRecord, LeftPeakEnergy) == 64);
static_assert(offsetof(SettingsRecord, RightPeakEnergy) == 72);
static_assert(offsetof(SettingsRecord, LeftPeakCentroid) == 80);
static_assert(offsetof(SettingsRecord, RightPeakCentroid) == 88);
static_assert(offsetof(SettingsRecord, InputCount) == 96);
static_assert(offsetof(SettingsRecord, ChannelCount) == 100);
static_assert(offsetof(SettingsRecord, InterfaceKind) == 104);
static_assert(offsetof(SettingsRecord, ParallelConversion) == 108);
static_assert(offsetof(SettingsRecord, Reserved6D) == 109);
static_assert(offsetof(SettingsRecord, Running) == 112);
static_assert(offsetof(SettingsRecord, ActOnAllInputs) == 115);
static_assert(offsetof(SettingsRecord, Reserved74) == 116);
static_assert(offsetof(SettingsRecord, StartTime) == 120);
static_assert(offsetof(SettingsRecord, DigitalShift) == 144);
static_assert(offsetof(SettingsRecord, PulseShaping) == 148);
static_assert(offsetof(SettingsRecord, Reserved95) == 149);

extern SettingsRecord Settings;

// The settings file name, resolved against the current directory.
inline constexpr const char *SettingsFileName = "RYV_travok.CFG";

// The settings file's path, resolved once at start-up, so that the exit
// writes back to the file that was read even after the current directory
// changed.
extern std::string SettingsFilePath;

// The record filled with the built-in defaults (reserved bytes zero).
SettingsRecord DefaultSettings();

enum class LoadResult {
    FromFile,  // one record read from the file
    Defaults,  // the file could not be opened: defaults taken silently
    IoError    // the file opened but a whole record could not be read
};

// Start-up load: open for reading (a read-only file is read too), read one
// record, close. A path that names something other than a regular file (a
// FIFO, a device) is an IoError. On Defaults the record holds the defaults; on IoError the
// record is untouched and errorText holds the message. A record read from
// the file is then brought inside the invariants by SanitizeSettings.
LoadResult LoadSettings(const std::string &path, std::string &errorText);

// Exit save: writes the whole record through a temporary file and a rename,
// or, where no temporary file can be made beside it, over the existing
// record in place (never a moment without a whole record). A symbolic link
// is written through to its target and stays a link. A read-only file is
// left alone: false with errorText empty (the caller says nothing). A file
// that is not one record (another size, not a regular file) is left alone
// too, with errorText saying why. Otherwise false with errorText holding the
// path and the reason when the record could not be written.
bool SaveSettings(const std::string &path, std::string &errorText);

// Brings every field that breaks the invariants to the nearest sound value
// (or its default); a valid record is left byte for byte as it is. Returns
// the number of fields changed.
int SanitizeSettings(SettingsRecord &r);

// Tick search of the vertical scale: e is the power of ten, s the full
// scale in units of 10^e, m the tick step and n the number of ticks. Returns
// false (outputs unspecified) where the search would never end: full scales
// below 20 and those whose quotients run into 18 or 19 and then 1.
struct VertTicks {
    int32_t e = 0, s = 0, m = 0, n = 0;
};
bool VertTickSearch(int32_t vertScale, VertTicks &t);

// Brings ViewWidth, ViewFirst and the markers inside the current channel
// range (used after ChannelCount changes).
void KeepViewInChannelRange();

// ---------------------------------------------------------------------------
// Data memory: 64 KiB of byte planes. Aligned to 64 KiB so that a shared
// file mapping can be placed over it (any page size up to 64 KiB).
inline constexpr int DataMemorySize = 65536;
alignas(DataMemorySize) extern uint8_t DataMemory[DataMemorySize];

// While DataFromMemory is 0, ReadChannel serves PrintSnapshot.
extern uint8_t DataFromMemory;
extern std::vector<int32_t> PrintSnapshot; // empty unless a print holds a snapshot
extern bool MemoryInitPending;

// Number of ReadChannel/WriteChannel calls with a channel outside
// 0..ChannelCount-1 or an input outside 1..3. Such calls read 0 and write
// nothing; the counter lets tests prove that no caller makes them.
extern uint64_t OutOfRangeChannelAccesses;

// ---------------------------------------------------------------------------
// The device configurations the board allows, one row per interface and
// conversion type (and, for ISA of the other type, per group of input
// counts). Inputs and Channels are sets: bit i of Inputs stands for i + 1
// inputs, bit i of Channels for DeviceChannelCounts[i]. An interface item of
// the device menu sets the first row of its interface in one step.
inline constexpr int32_t DeviceChannelCounts[3] = {1024, 4096, 16384};
struct DeviceConfiguration {
    int32_t InterfaceKind;
    uint8_t ParallelConversion;
    uint8_t Inputs;
    uint8_t Channels;
    // A channel count outside Channels is kept as it is (16384 left by the
    // parallel type): the menu then marks no channel count and leaves the
    // conversion type items alone.
    bool KeepsOtherChannels;
};
inline constexpr DeviceConfiguration DeviceConfigurations[] = {
    {0, 1, 0b001, 0b110, false}, // ISA, parallel: 1 input, 4K or 16K
    {0, 0, 0b001, 0b010, true},  // ISA, other: 1 input, 4K
    {0, 0, 0b110, 0b001, false}, // ISA, other: 2 or 3 inputs, 1K
    {1, 0, 0b100, 0b001, false}, // PCI: 3 inputs, 1K
    {2, 1, 0b001, 0b100, false}, // PCMCIA: 1 input, 16K
    {3, 0, 0b100, 0b001, false}, // printer port: 3 inputs, 1K
};

// What the device menu offers for a settings record: the items enabled (as
// sets, like the table's) and the one marked in each submenu (-1: its marks
// stay as they are). Types: bit 0 other, bit 1 parallel; a marked type is
// the ParallelConversion value. Known is false for an interface without a
// row: the menu then changes nothing.
struct DeviceChoices {
    bool Known = false;
    uint8_t Types = 0, Inputs = 0, Channels = 0;
    bool TypesTouched = true;    // false: the type items keep their state
    bool ChannelsTouched = true; // false: the channel items keep their state
    int MarkedType = -1, MarkedInputs = -1, MarkedChannels = -1;
};
DeviceChoices DeviceChoicesFor(const SettingsRecord &r);

// Offset of byte plane k of channel c of input n, or -1 where the current
// configuration gives no place.
int32_t PlaneOffset(int32_t c, int32_t n, int k);

int32_t ReadChannel(int32_t c, int32_t n);
// Reads channels first..first+count-1 of input n into out, exactly as that
// many ReadChannel calls would, with the layout looked up once.
void ReadChannelRange(int32_t first, int32_t count, int32_t n, int32_t *out);
void WriteChannel(int32_t c, int32_t n, int32_t value);
bool AnyInputRunning();

// Fill every byte with 1 (every channel reads 16,843,009).
void FillDataMemory();
// Zero the action input's spectrum, or every input's when ActOnAllInputs is 1.
void ClearSpectra();

// ---------------------------------------------------------------------------
// Acquisition timing.
extern double Elapsed[3]; // days, per input

// "now" in days since 1899-12-30 00:00 local time. Tests may replace the
// provider; nullptr restores the system clock.
using NowProviderFn = double (*)();
void SetNowProvider(NowProviderFn fn);
double Now();
// Local wall-clock reading of the system clock, in the same unit.
double SystemNow();

// A monotonic clock in days from an arbitrary origin: it never goes back and
// ignores changes of the wall clock and of summer time. Elapsed advances
// with it while the program runs. Tests may replace the provider; nullptr
// restores the system's steady clock.
void SetMonotonicProvider(NowProviderFn fn);
double MonotonicNow();

// Start/Stop/tick over Running, StartTime, Elapsed and ExposurePreset.
// Each returns whether the exposure timer must be enabled afterwards.
// Elapsed is never negative.
bool StartAcquisition();          // always true
bool StopAcquisition();           // AnyInputRunning() afterwards
bool ExposureTick();              // false when the timer must stop

// A source of pulses other than the board (a simulated detector), called by
// the exposure timer after each tick; nullptr when there is none.
using PulseFeedFn = void (*)();
extern PulseFeedFn PulseFeed;
// The dead time of input n's current or last exposure, in days, from a
// source that measures it (a sound card, a simulated detector with dead
// time): true and days set, or false where the dead time is unknown.
// nullptr when no source measures dead time.
using DeadTimeFn = bool (*)(int32_t n, double &days);
extern DeadTimeFn DeadTimeOf;
// Live time of input n (1..3) in days: Elapsed less the measured dead time
// (never negative). False where no source measures the dead time: the live
// time is then unknown, not equal to the real time.
bool LiveTime(int32_t n, double &days);
// Sets StartTime of every running input the program has timed to
// Now() - Elapsed, so that a restart continues the exposure where it stood.
// SaveSettings does this before it writes the record.
void StartTimesFromElapsed();

// ---------------------------------------------------------------------------
// Mapping between channels and the 512 plot columns.
struct TRect32 {
    int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
};
void MarkerLineOf(int32_t channel, TRect32 &line);
int32_t ChannelOfColumn(int32_t x);

// ---------------------------------------------------------------------------
// Puts every global of this unit back to its program-start value (the data
// memory zero, the record all zero as before loading).
void ResetCoreState();
