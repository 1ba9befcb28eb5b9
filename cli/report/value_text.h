// Values as every form of the report writes them: numbers to fixed
// decimals, names made text, and the quoting of CSV and JSON.
#pragma once

#include <string>

inline constexpr int kTimeDecimals = 3;     // milliseconds
inline constexpr int kPercentDecimals = 4;  // one pixel of a 1080p frame is 0.00005 %

std::string fixed(double v, int decimals);
std::string percentText(double share);  // a share as every form prints it
// `s` with every byte that is not part of well-formed UTF-8 replaced by
// U+FFFD: file names are bytes, while JSON, CSV readers and the page want text.
std::string validUtf8(const std::string& s);
// A name's exact bytes in ASCII, for a name that is not UTF-8 (validUtf8 would
// change it): '%' and every byte outside printable ASCII as %XX. Unescaped
// back by namedBytes(), which is false for text escaped otherwise.
std::string escapedBytes(const std::string& name);
bool namedBytes(const std::string& escaped, std::string& name);
// A CSV field (RFC 4180), quoted when it must be.
std::string csvField(const std::string& text);
// A JSON string (RFC 8259), quotes included.
std::string jsonString(const std::string& text);

// Text for HTML: invalid UTF-8 replaced, and & < > " as entities.
std::string htmlEscaped(const std::string& text);
