#include "report/value_text.h"

#include <cstdio>

namespace {

constexpr unsigned char kDelete = 0x7F;  // a control character JSON allows raw; escaped all the same

}  // namespace

std::string fixed(double v, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

std::string percentText(double share) { return fixed(share, kPercentDecimals); }

std::string validUtf8(const std::string& s) {
    constexpr const char* kReplacement = "\xEF\xBF\xBD";  // U+FFFD
    std::string out;
    out.reserve(s.size());
    const auto byte = [&](size_t i) { return i < s.size() ? static_cast<unsigned char>(s[i]) : 0u; };
    const auto trailing = [&](size_t i) { return (byte(i) & 0xC0) == 0x80; };
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = byte(i);
        // The length of a well-formed sequence starting here (RFC 3629:
        // no overlong forms, no surrogates, nothing above U+10FFFF), or 0.
        size_t n = 0;
        if (c < 0x80) {
            n = 1;
        } else if (c >= 0xC2 && c <= 0xDF) {
            n = trailing(i + 1) ? 2 : 0;
        } else if (c >= 0xE0 && c <= 0xEF) {
            const unsigned char lo = c == 0xE0 ? 0xA0 : 0x80, hi = c == 0xED ? 0x9F : 0xBF;
            n = byte(i + 1) >= lo && byte(i + 1) <= hi && trailing(i + 2) ? 3 : 0;
        } else if (c >= 0xF0 && c <= 0xF4) {
            const unsigned char lo = c == 0xF0 ? 0x90 : 0x80, hi = c == 0xF4 ? 0x8F : 0xBF;
            n = byte(i + 1) >= lo && byte(i + 1) <= hi && trailing(i + 2) && trailing(i + 3) ? 4 : 0;
        }
        if (n == 0) {
            out += kReplacement;
            ++i;
        } else {
            out.append(s, i, n);
            i += n;
        }
    }
    return out;
}

namespace {
constexpr char kEscape = '%';
constexpr unsigned char kFirstPrintable = 0x20, kLastPrintable = 0x7E;
constexpr int kHexBase = 16;
}  // namespace

std::string escapedBytes(const std::string& name) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : name) {
        if (c != kEscape && c >= kFirstPrintable && c <= kLastPrintable) {
            out += static_cast<char>(c);
        } else {
            out += kEscape;
            out += kHex[c / kHexBase];
            out += kHex[c % kHexBase];
        }
    }
    return out;
}

bool namedBytes(const std::string& escaped, std::string& name) {
    name.clear();
    const auto digit = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    };
    for (size_t i = 0; i < escaped.size(); ++i) {
        const auto c = static_cast<unsigned char>(escaped[i]);
        if (c < kFirstPrintable || c > kLastPrintable) return false;
        if (c != kEscape) {
            name += static_cast<char>(c);
            continue;
        }
        const int hi = i + 2 < escaped.size() ? digit(escaped[i + 1]) : -1;
        const int lo = hi >= 0 ? digit(escaped[i + 2]) : -1;
        if (lo < 0) return false;
        name += static_cast<char>(hi * kHexBase + lo);
        i += 2;
    }
    return escapedBytes(name) == escaped;  // one spelling of each name
}

std::string csvField(const std::string& text) {
    const std::string s = validUtf8(text);
    if (s.find_first_of(",\"\n\r") == std::string::npos) return s;
    std::string out = "\"";
    for (char c : s) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

std::string jsonString(const std::string& text) {
    const std::string s = validUtf8(text);
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == kDelete) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string htmlEscaped(const std::string& text) {
    std::string out;
    for (char c : validUtf8(text)) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}
