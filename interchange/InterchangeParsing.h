// Pieces shared by the readers of the interchange formats.
#pragma once

#include "interchange/Interchange.h"

#include <QByteArrayView>

namespace interchange_detail {

// Most channels a spectrum of SPE, N42 or CSV has; readers stop collecting
// counts beyond it. The program's own formats hold at most 16384.
inline constexpr size_t MaxChannels = MaxInterchangeChannels;
inline constexpr size_t MaxProgramChannels = 16384;

// A token as it may be shown in a one-line message: control characters
// become '?', and a long token is cut short with "...".
QString Shown(QByteArrayView token);

// text with every control character (line ends among them) made '?'.
QString OneLine(QString text);

// A count: an optional sign and decimal digits within the signed 32-bit
// range. With wholeNumbers, also a decimal number with a fraction or an
// exponent whose value is a whole number within 1e-6 (N42 and CSV list
// counts as doubles).
// False with why set to what is wrong with the token.
bool ParseCount(QByteArrayView token, bool wholeNumbers, int32_t &value, QString &why);

// "<what>; a spectrum has 1024, 4096 or 16384 channels".
QString ChannelCountProblem(const QString &what);
// "<what>; a spectrum has 1 to 65536 channels".
QString InterchangeChannelCountProblem(const QString &what);
inline bool IsInterchangeChannelCount(size_t n) { return n >= 1 && n <= MaxChannels; }

// A finite decimal number (C locale); false otherwise.
bool ParseNumber(QByteArrayView token, double &value);

// The tokens of text separated by ASCII white space, one at a time (no list
// of them is ever built, whatever the size of the text).
class TokenCursor {
public:
    explicit TokenCursor(QByteArrayView text) : rest_(text) {}
    // The next token, false at the end.
    bool Next(QByteArrayView &token);

private:
    QByteArrayView rest_;
};

inline bool IsAsciiSpace(char ch)
{
    return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n' || ch == '\f' || ch == '\v';
}

} // namespace interchange_detail
