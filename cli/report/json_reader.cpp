#include "report/json_reader.h"

namespace {

// Our reports nest four deep; anything far deeper is not ours, and a limit
// keeps a hostile file from exhausting the stack.
constexpr int kMaxDepth = 32;

constexpr unsigned kSurrogateFirst = 0xD800, kLowSurrogateFirst = 0xDC00, kSurrogateEnd = 0xE000;
constexpr unsigned kSurrogateBits = 10;
constexpr unsigned kSupplementaryFirst = 0x10000;

class Reader {
public:
    explicit Reader(std::string_view text) : s_(text) {}

    Status document(JsonValue& out) {
        if (!value(out, 0)) return failure();
        space();
        if (at_ != s_.size()) return fail("text after the end"), failure();
        return {};
    }

private:
    std::string_view s_;
    size_t at_ = 0;
    std::string error_;

    Status failure() const { return Status::fail(error_ + " at byte " + std::to_string(at_)); }
    bool fail(const char* why) {
        if (error_.empty()) error_ = why;
        return false;
    }
    bool more() const { return at_ < s_.size(); }
    char peek() const { return more() ? s_[at_] : '\0'; }
    void space() {
        while (more() && (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r')) ++at_;
    }
    bool take(char c) {
        if (peek() != c || !more()) return false;
        ++at_;
        return true;
    }
    bool word(std::string_view w) {
        if (s_.substr(at_, w.size()) != w) return fail("not a JSON value");
        at_ += w.size();
        return true;
    }
    bool digits() {
        const size_t from = at_;
        while (more() && peek() >= '0' && peek() <= '9') ++at_;
        return at_ > from;
    }

    bool value(JsonValue& out, int depth) {
        if (depth > kMaxDepth) return fail("nested too deep");
        space();
        switch (peek()) {
        case '{': return object(out, depth);
        case '[': return array(out, depth);
        case '"': out.kind = JsonValue::Kind::String; return string(out.text);
        case 't':
            out.kind = JsonValue::Kind::Bool;
            out.flag = true;
            return word("true");
        case 'f': out.kind = JsonValue::Kind::Bool; return word("false");
        case 'n': out.kind = JsonValue::Kind::Null; return word("null");
        default: out.kind = JsonValue::Kind::Number; return number(out.text);
        }
    }

    bool number(std::string& out) {
        const size_t from = at_;
        take('-');
        if (!take('0') && !digits()) return fail("not a JSON value");
        if (take('.') && !digits()) return fail("a number without digits after its point");
        if ((take('e') || take('E')) && ((take('+') || take('-')), !digits()))
            return fail("a number without digits in its exponent");
        out.assign(s_.substr(from, at_ - from));
        return true;
    }

    bool hex4(unsigned& v) {
        v = 0;
        for (int i = 0; i < 4; ++i, ++at_) {
            const char c = peek();
            if (!more()) return fail("a \\u escape cut short");
            v <<= 4;
            if (c >= '0' && c <= '9')
                v |= static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f')
                v |= static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                v |= static_cast<unsigned>(c - 'A' + 10);
            else
                return fail("a \\u escape with a character that is not hexadecimal");
        }
        return true;
    }

    static void utf8(unsigned cp, std::string& out) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < kSupplementaryFirst) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    bool escape(std::string& out) {
        const char c = peek();
        if (!more()) return fail("a string cut short");
        ++at_;
        constexpr std::string_view kFrom = "\"\\/bfnrt", kTo = "\"\\/\b\f\n\r\t";
        if (const size_t k = kFrom.find(c); k != std::string_view::npos) {
            out += kTo[k];
            return true;
        }
        if (c != 'u') return fail("an unknown escape in a string");
        unsigned cp = 0;
        if (!hex4(cp)) return false;
        if (cp >= kSurrogateFirst && cp < kSurrogateEnd) {
            unsigned low = 0;
            if (cp >= kLowSurrogateFirst || !take('\\') || !take('u') || !hex4(low) ||
                low < kLowSurrogateFirst || low >= kSurrogateEnd)
                return fail("a lone UTF-16 surrogate");
            cp =
                kSupplementaryFirst + ((cp - kSurrogateFirst) << kSurrogateBits) + (low - kLowSurrogateFirst);
        }
        utf8(cp, out);
        return true;
    }

    bool string(std::string& out) {
        ++at_;  // the opening quote
        out.clear();
        for (;;) {
            if (!more()) return fail("a string cut short");
            const auto c = static_cast<unsigned char>(s_[at_]);
            if (c == '"') {
                ++at_;
                return true;
            }
            if (c < 0x20) return fail("a control character in a string");
            ++at_;
            if (c == '\\') {
                if (!escape(out)) return false;
            } else {
                out += static_cast<char>(c);
            }
        }
    }

    bool array(JsonValue& out, int depth) {
        out.kind = JsonValue::Kind::Array;
        ++at_;
        space();
        if (take(']')) return true;
        for (;;) {
            out.items.emplace_back();
            if (!value(out.items.back(), depth + 1)) return false;
            space();
            if (take(']')) return true;
            if (!take(',')) return fail("expected , or ] in an array");
        }
    }

    bool object(JsonValue& out, int depth) {
        out.kind = JsonValue::Kind::Object;
        ++at_;
        space();
        if (take('}')) return true;
        for (;;) {
            space();
            if (peek() != '"' || !more()) return fail("expected a key in an object");
            std::string key;
            if (!string(key)) return false;
            if (out.find(key) != nullptr) return fail("a key twice in one object");
            space();
            if (!take(':')) return fail("expected : after a key");
            out.members.push_back({std::move(key), JsonValue{}});
            if (!value(out.members.back().value, depth + 1)) return false;
            space();
            if (take('}')) return true;
            if (!take(',')) return fail("expected , or } in an object");
        }
    }
};

}  // namespace

const JsonValue* JsonValue::find(std::string_view key) const {
    for (const auto& [k, v] : members)
        if (k == key) return &v;
    return nullptr;
}

Status parseJson(std::string_view text, JsonValue& out) {
    out = JsonValue{};
    return Reader(text).document(out);
}
