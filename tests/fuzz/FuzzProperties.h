// Properties checked on hostile input: a settings file, a text spectrum file,
// a binary spectrum file and the SPE and N42 files the converter reads. The
// readers are compared with each other and with round trips through the
// writers. The
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
// The whole input is a CSV spectrum.
Failures CheckCsvInput(const uint8_t *data, size_t size);

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

// The converter's reading of a text (text true) or binary spectrum file:
// false when it refuses the file. Its writing of counts in the same format.
// Defined in FuzzInterchange.cpp (needs Qt Core).
bool ConverterReads(bool text, const uint8_t *data, size_t size, std::vector<int32_t> &counts);
std::string ConverterWrites(bool text, const std::vector<int32_t> &counts);

// Empty when r satisfies every invariant the windows rely on (doubles must
// be finite as well); otherwise the first broken one.
std::string BrokenInvariant(const uint8_t *record152);

} // namespace fuzzprops
