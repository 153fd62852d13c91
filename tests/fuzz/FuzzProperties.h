// Properties checked on hostile input: a settings file, a text spectrum file,
// a binary spectrum file and the SPE and N42 files the converter reads. The
// same checks run inside the libFuzzer targets (clang, sanitizers) and in the
// GoogleTest regression executable, which replays the seed corpus and every
// saved finding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzzprops {

// What went wrong, one line per broken property; empty when all held.
using Failures = std::vector<std::string>;

// A private scratch directory for the files the checks write, created on
// first use and removed at process exit.
const std::string &ScratchDir();

// The whole input is the settings file. Loads it the way start-up does, then
// runs what the program does up to the first refresh of a spectrum window.
// Bytes after the 152-byte record are ignored by the loader; the check then
// lays them over the data memory and runs the analysis once more on them.
Failures CheckSettingsInput(const uint8_t *data, size_t size);

// The first ConfigBytes choose the memory layout and the input, the rest is
// a text (CheckTextInput) or binary (CheckBinaryInput) spectrum file.
Failures CheckTextInput(const uint8_t *data, size_t size);
Failures CheckBinaryInput(const uint8_t *data, size_t size);

// The whole input is an IAEA SPE (CheckSpeInput) or N42 (CheckN42Input)
// file, read by the spectrum converter's reader. Either the reader refuses
// it with one non-empty line saying why, or it yields 1024, 4096 or 16384
// counts that come back unchanged when written and read again in each of the
// converter's formats. Defined in FuzzInterchange.cpp (needs Qt Core).
Failures CheckSpeInput(const uint8_t *data, size_t size);
Failures CheckN42Input(const uint8_t *data, size_t size);

inline constexpr size_t ConfigBytes = 2;

struct ReaderConfig {
    int32_t InterfaceKind;
    int32_t InputCount;
    int32_t ChannelCount;
    int32_t Input;
};

// Byte 0: layout (byte0 % 18 picks interface 0 or 3, 1..3 inputs and
// 1024/4096/16384 channels; for the first nine, byte0 / 18 % 3 picks which of
// the equivalent interfaces 0, 1, 2). Byte 1: the input, 1 + byte1 % inputs.
ReaderConfig ConfigFromPrefix(uint8_t b0, uint8_t b1);
// The prefix byte that selects exactly this layout with interface 0 or 3.
uint8_t PrefixForLayout(int32_t interfaceKind, int32_t inputCount, int32_t channelCount);

// Reference conversion of a count field, written from the file format's
// rules independently of the reader: leading spaces; then an optional sign
// and decimal digits within int32, or unsigned hex after $, x, X, 0x or 0X
// up to FFFFFFFF; nothing after.
bool ReferenceCount(const std::string &field, int32_t &value);

// Reference reading of a text spectrum: the count fields of the first
// `channels` lines, up to and including the first one that does not convert.
struct TextParse {
    std::vector<int32_t> Values;  // channels 0..Values.size()-1 convert
    bool ConversionError = false; // line Values.size() failed to convert
    std::string BadField;         // that line's count field
};
TextParse ReferenceTextParse(const uint8_t *data, size_t size, int32_t channels);

// The text line the writer must produce for a channel and count, CR LF
// included.
std::string ReferenceTextLine(int32_t channel, int32_t count);

// Whether every (input, channel, plane) of the layout has a byte of its own.
bool LayoutOverlapFree(int32_t interfaceKind, int32_t inputCount, int32_t channelCount);

// Reference tick search of the vertical scale, bounded: false where the
// search as the scale drawing runs it would never end.
struct RefTicks {
    int32_t e = 0, s = 0, m = 0, n = 0;
};
bool ReferenceTickSearch(int32_t vertScale, RefTicks &t);

// Empty when r satisfies every invariant the windows rely on (doubles must
// be finite as well); otherwise the first broken one.
std::string BrokenInvariant(const uint8_t *record152);

} // namespace fuzzprops
