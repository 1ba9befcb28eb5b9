#include "pluginhost/script_call.h"

#include <cctype>
#include <charconv>

namespace {

bool isSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
bool isIdentStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0 || c == '_'; }
bool isIdentChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'; }

std::string_view trim(std::string_view s) {
    while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
    return s;
}

// Cuts a "//" comment, unless it sits inside a quoted string.
std::string_view withoutComment(std::string_view s) {
    bool quoted = false;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '"') quoted = !quoted;
        if (!quoted && s[i] == '/' && i + 1 < s.size() && s[i + 1] == '/') return s.substr(0, i);
    }
    return s;
}

// An object path in front of the name: identifiers, "[n]" subscripts and dots.
bool isCallee(std::string_view s) {
    size_t i = 0;
    for (;;) {
        if (i >= s.size() || !isIdentStart(s[i])) return false;
        while (i < s.size() && isIdentChar(s[i])) ++i;
        if (i < s.size() && s[i] == '[') {
            const size_t close = s.find(']', i);
            if (close == std::string_view::npos) return false;
            i = close + 1;
        }
        if (i == s.size()) return true;
        if (s[i] != '.') return false;
        ++i;
    }
}

}  // namespace

LineKind parseScriptCall(std::string_view line, ScriptCall& call) {
    std::string_view s = trim(withoutComment(line));
    if (s.empty()) return LineKind::Blank;
    if (s.back() == ';') s = trim(s.substr(0, s.size() - 1));
    const size_t open = s.find('(');
    if (open == std::string_view::npos || s.back() != ')') return LineKind::Other;
    const std::string_view callee = trim(s.substr(0, open));
    if (!isCallee(callee)) return LineKind::Other;
    const size_t dot = callee.rfind('.');
    call.function = std::string(dot == std::string_view::npos ? callee : callee.substr(dot + 1));

    call.args.clear();
    const std::string_view inner = trim(s.substr(open + 1, s.size() - open - 2));
    if (inner.empty()) return LineKind::Call;
    bool quoted = false;
    size_t begin = 0;
    for (size_t i = 0; i <= inner.size(); ++i) {
        if (i < inner.size() && inner[i] == '"') quoted = !quoted;
        if (i == inner.size() || (!quoted && inner[i] == ',')) {
            call.args.emplace_back(trim(inner.substr(begin, i - begin)));
            begin = i + 1;
        }
    }
    return quoted ? LineKind::Other : LineKind::Call;
}

bool parseScriptInt(std::string_view text, int& value) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-') return false;
    }
    if (text.empty()) return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

Status configArgsOf(const ScriptCall& call, ConfigArgs& args) {
    if (call.function != kConfigFunction)
        return Status::fail("expected a " + std::string(kConfigFunction) + " call, found " + call.function);
    if (call.args.size() != args.size())
        return Status::fail(std::string(kConfigFunction) + " takes " + std::to_string(args.size()) +
                            " integers, found " + std::to_string(call.args.size()));
    for (size_t i = 0; i < args.size(); ++i)
        if (!parseScriptInt(call.args[i], args[i]))
            return Status::fail("argument " + std::to_string(i + 1) + " of " + std::string(kConfigFunction) +
                                " is not an integer: '" + call.args[i] + "'");
    return {};
}

bool configArgsOfLine(std::string_view line, ConfigArgs& args) {
    ScriptCall call;
    return parseScriptCall(line, call) == LineKind::Call && configArgsOf(call, args).ok();
}

std::string formatConfigLine(const ConfigArgs& args) {
    std::string line(kConfigFunction);
    line += '(';
    for (size_t i = 0; i < args.size(); ++i) {
        if (i > 0) line += ", ";
        line += std::to_string(args[i]);
    }
    line += ')';
    return line;
}
