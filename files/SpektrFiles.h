// Spectrum files: the fixed-column text format and the raw binary format,
// and the I/O half of the save and read commands of a spectrum window.
//
// No windowing code here. Each operation returns what the window must show
// afterwards: first the message box named by `box` (if any), with
// BoxText()/BoxCaption(), then the general error report with `generalError`
// (if not empty). Counts go through ReadChannel/WriteChannel of core.
//
// The text format (extension exactly ".txt") and the binary format (any
// other name) are encoded and decoded by files/SpectrumCodec. A save writes
// a new file beside the old one and renames it over the old one only when
// every record is written, so that a failed save leaves the old file as it
// was (files/FileReplace); where no file can be made beside it, the old file
// itself is written.
#pragma once

#include "files/FileReplace.h"
#include "files/SpectrumCodec.h"

#include <cstdint>
#include <string>
#include <vector>

// Message box texts and captions of the file commands.
inline constexpr const char *OpenErrorText = "Ошибка открытия файла";
inline constexpr const char *WriteErrorText = "Ошибка записи файла";
inline constexpr const char *ReadErrorText = "Ошибка чтения файла";
inline constexpr const char *SaveFailedCaption = "  Спектр не сохранен !!!";
inline constexpr const char *ReadFailedCaption = "  Спектр не прочитан !!!";

// Message of the general error report for a count field that is not an
// integer; %s stands for the field's text as it was taken from the line.
inline constexpr const char *NotAnIntegerFormat = "'%s' is not a valid integer value";

enum class SpectrumFileOp { Save, Read };

enum class SpectrumFileBox {
    None,
    OpenError,  // OpenErrorText: the file could not be opened or created
    WriteError, // WriteErrorText: a text line could not be written
    ReadError   // ReadErrorText: the file could not be read whole
};

struct SpectrumFileResult {
    SpectrumFileOp op = SpectrumFileOp::Save;
    // Box to show first (question icon, Yes/No; the answer changes nothing).
    SpectrumFileBox box = SpectrumFileBox::None;
    // Text for the general error report, shown after the box; empty = none.
    // The window appends the full stop. A conversion message holds the
    // field's bytes as they were in the file (not necessarily UTF-8).
    std::string generalError;

    // "" when box is None.
    const char *BoxText() const;
    // SaveFailedCaption or ReadFailedCaption, after op.
    const char *BoxCaption() const;
    // Nothing to report: the whole spectrum was saved or read.
    bool Succeeded() const { return box == SpectrumFileBox::None && generalError.empty(); }
};

// True when the extension of path is exactly ".txt". The extension is the
// part from the last "." standing after the last "/", "\" and ":" to the end.
bool IsTextSpectrumPath(const std::string &path);

// Save channels 0..ChannelCount-1 of input (ReadChannel) to path, in the
// format its extension selects. An existing file is replaced, keeping its
// permissions (a link keeps pointing to the new file); a name that is not a
// regular file, or a file without any write permission bit or that this
// user may not write, fails with OpenError.
SpectrumFileResult SaveSpectrum(const std::string &path, int32_t input);

// Read the file at path into channels 0..ChannelCount-1 of input
// (WriteChannel), in the format its extension selects. The file is opened
// for reading only; anything but a regular file fails with OpenError.
SpectrumFileResult ReadSpectrum(const std::string &path, int32_t input);

// Channels 0..ChannelCount-1 of input, as a save takes them (ReadChannel).
std::vector<int32_t> ChannelsOf(int32_t input);

// The single formats, for callers that already know which one they want.
SpectrumFileResult SaveTextSpectrum(const std::string &path, int32_t input);
SpectrumFileResult SaveBinarySpectrum(const std::string &path, int32_t input);
SpectrumFileResult ReadTextSpectrum(const std::string &path, int32_t input);
SpectrumFileResult ReadBinarySpectrum(const std::string &path, int32_t input);
