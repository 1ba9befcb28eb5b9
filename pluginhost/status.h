// How the command-line host passes a failure up to main: one line of text
// for the user, naming the problem. No exceptions anywhere in kivrel.
#pragma once

#include <string>
#include <string_view>
#include <utility>

class [[nodiscard]] Status {
public:
    Status() = default;  // success
    static Status fail(std::string message) { return Status(std::move(message)); }
    // A command line that cannot run whatever the files hold: exit status 2.
    static Status usage(std::string message) {
        Status s(std::move(message));
        s.usage_ = true;
        return s;
    }

    bool ok() const { return message_.empty(); }
    bool isUsage() const { return usage_; }
    const std::string& message() const { return message_; }

private:
    explicit Status(std::string message)
        : message_(message.empty() ? std::string("unknown error") : std::move(message)) {}
    std::string message_;
    bool usage_ = false;
};

// A value as a message names it: 'text'. (Appended, not summed: GCC 12
// misreads the sum of a literal and a temporary as an overlapping copy.)
inline std::string quoted(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out.append(1, '\'').append(text).append(1, '\'');
    return out;
}
