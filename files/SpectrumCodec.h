// The program's two spectrum file formats, encoded and decoded over byte
// buffers. No file I/O and no Qt: the spectrum window's read and save
// (files/SpektrFiles) and the converter (interchange/) both go through here.
//
// Text format: one line per channel, the channel number right-aligned in
// columns 1-6, two spaces, the count right-aligned in columns 9-20, CR LF;
// 22 bytes a channel. On reading, a line ends at CR, at LF or at CR LF taken
// together, Ctrl-Z ends the text, the channel column is not examined (the
// line's position decides) and the count field is columns 9-20 as far as the
// line reaches.
//
// Binary format: the counts as little-endian signed 32-bit records, nothing
// else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

// Bytes of one text line.
inline constexpr size_t TextSpectrumLineBytes = 22;

// The text lines of counts, channel numbers from 0, appended to out.
void EncodeTextSpectrum(std::span<const int32_t> counts, std::string &out);

// The binary records of counts, appended to out.
void EncodeBinarySpectrum(std::span<const int32_t> counts, std::string &out);

// The counts of the whole records among the first maxCounts records of data;
// a cut-off record at the end is left out.
std::vector<int32_t> DecodeBinarySpectrum(std::span<const uint8_t> data, size_t maxCounts);

// Conversion of a count field: leading spaces, then an optional sign and
// decimal digits within the signed 32-bit range, or, without a sign, a
// hexadecimal number after "$", "x", "X", "0x" or "0X" up to FFFFFFFF,
// taken as its 32 bits. Nothing may follow. False when the text is not such
// a number (value is then left untouched).
bool ConvertCountField(const std::string &field, int32_t &value);

// Reads the count fields of a text spectrum from bytes handed over in any
// pieces. Stops taking bytes at the first field that does not convert, at
// Ctrl-Z, or when maxLines lines have been taken.
class TextSpectrumDecoder {
public:
    explicit TextSpectrumDecoder(size_t maxLines) : maxLines_(maxLines) {}

    // Takes the next bytes of the text.
    void Feed(std::span<const uint8_t> bytes);
    // The text ends here: a last line without its line end counts as a line.
    void Finish();
    // Every line wanted is taken, or the text has ended: the caller need
    // hand over no more bytes (MoreLines is only known after one more).
    bool Done() const { return ended_ || failed_ || counts_.size() == maxLines_; }

    // The counts of the lines taken, in order.
    const std::vector<int32_t> &Counts() const { return counts_; }
    // Line Counts().size() has a count field that does not convert ...
    bool Failed() const { return failed_; }
    // ... and this is that field, as its bytes stood in the text.
    const std::string &BadField() const { return badField_; }
    // maxLines lines were taken and the text goes on with another line.
    bool MoreLines() const { return moreLines_; }

private:
    void EndLine();

    size_t maxLines_;
    std::vector<int32_t> counts_;
    std::string field_;       // the count field of the current line so far
    size_t column_ = 0;       // characters of the current line so far
    bool crSeen_ = false;     // the last line ended at CR: an LF now belongs to it
    bool ended_ = false;      // Ctrl-Z, Finish or maxLines lines
    bool failed_ = false;
    bool moreLines_ = false;
    std::string badField_;
};
