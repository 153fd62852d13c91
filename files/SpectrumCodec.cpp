// The text and binary spectrum formats over byte buffers.

#include "files/SpectrumCodec.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr uint8_t CtrlZ = 0x1A;

// Columns 9-20 of a text line hold the count field.
constexpr size_t FieldFirstColumn = 8;
constexpr size_t FieldEndColumn = 20;

} // namespace

void EncodeTextSpectrum(std::span<const int32_t> counts, std::string &out)
{
    out.reserve(out.size() + counts.size() * TextSpectrumLineBytes);
    char line[48];
    for (size_t c = 0; c < counts.size(); ++c) {
        const int n = std::snprintf(line, sizeof line, "%6d  %12d\r\n", static_cast<int>(c),
                                    static_cast<int>(counts[c]));
        out.append(line, static_cast<size_t>(n));
    }
}

void EncodeBinarySpectrum(std::span<const int32_t> counts, std::string &out)
{
    out.reserve(out.size() + counts.size() * 4);
    for (const int32_t count : counts) {
        const auto v = static_cast<uint32_t>(count);
        for (int k = 0; k < 4; ++k)
            out.push_back(static_cast<char>(static_cast<uint8_t>(v >> (8 * k))));
    }
}

std::vector<int32_t> DecodeBinarySpectrum(std::span<const uint8_t> data, size_t maxCounts)
{
    const size_t n = std::min(data.size() / 4, maxCounts);
    std::vector<int32_t> counts(n);
    for (size_t c = 0; c < n; ++c) {
        const uint8_t *p = data.data() + c * 4;
        counts[c] = static_cast<int32_t>(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                                         uint32_t(p[3]) << 24);
    }
    return counts;
}

bool ConvertCountField(const std::string &field, int32_t &value)
{
    const size_t n = field.size();
    size_t i = 0;
    while (i < n && field[i] == ' ')
        ++i;
    if (i == n)
        return false;

    bool hex = false;
    if (field[i] == '$' || field[i] == 'x' || field[i] == 'X') {
        hex = true;
        i += 1;
    } else if (field[i] == '0' && i + 1 < n && (field[i + 1] == 'x' || field[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }

    if (hex) {
        if (i == n)
            return false;
        uint64_t v = 0;
        for (; i < n; ++i) {
            const char ch = field[i];
            int d;
            if (ch >= '0' && ch <= '9')
                d = ch - '0';
            else if (ch >= 'a' && ch <= 'f')
                d = ch - 'a' + 10;
            else if (ch >= 'A' && ch <= 'F')
                d = ch - 'A' + 10;
            else
                return false;
            v = v * 16 + static_cast<uint64_t>(d);
            if (v > 0xFFFFFFFFu)
                return false;
        }
        value = static_cast<int32_t>(static_cast<uint32_t>(v));
        return true;
    }

    bool negative = false;
    if (field[i] == '+' || field[i] == '-') {
        negative = field[i] == '-';
        ++i;
    }
    if (i == n)
        return false;
    int64_t v = 0;
    for (; i < n; ++i) {
        const char ch = field[i];
        if (ch < '0' || ch > '9')
            return false;
        v = v * 10 + (ch - '0');
        if (v > 2147483648LL)
            return false;
    }
    if (negative)
        v = -v;
    if (v > INT32_MAX)
        return false;
    value = static_cast<int32_t>(v);
    return true;
}

void TextSpectrumDecoder::Feed(std::span<const uint8_t> bytes)
{
    for (const uint8_t b : bytes) {
        if (ended_ || failed_)
            return;
        if (counts_.size() == maxLines_) {
            // Every wanted line is taken; what follows only tells whether
            // the text has more lines.
            if (crSeen_ && b == '\n') {
                crSeen_ = false;
                continue;
            }
            moreLines_ = b != CtrlZ;
            ended_ = true;
            return;
        }
        if (crSeen_) {
            crSeen_ = false;
            if (b == '\n')
                continue;
        }
        if (b == CtrlZ) {
            Finish();
            return;
        }
        if (b == '\r' || b == '\n') {
            crSeen_ = b == '\r';
            EndLine();
            continue;
        }
        if (column_ >= FieldFirstColumn && column_ < FieldEndColumn)
            field_.push_back(static_cast<char>(b));
        if (column_ < FieldEndColumn)
            ++column_;
    }
}

void TextSpectrumDecoder::Finish()
{
    if (ended_ || failed_)
        return;
    if (column_ > 0 && counts_.size() < maxLines_)
        EndLine();
    ended_ = true;
}

void TextSpectrumDecoder::EndLine()
{
    int32_t v;
    if (ConvertCountField(field_, v)) {
        counts_.push_back(v);
    } else {
        failed_ = true;
        badField_ = field_;
    }
    field_.clear();
    column_ = 0;
}
