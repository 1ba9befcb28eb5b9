// How the command-line host passes a failure up to main: one line of text
// for the user, naming the problem. No exceptions anywhere in the host.
#pragma once

#include <string>
#include <utility>

class [[nodiscard]] Status {
public:
    Status() = default;  // success
    static Status fail(std::string message) { return Status(std::move(message)); }

    bool ok() const { return message_.empty(); }
    const std::string& message() const { return message_; }

private:
    explicit Status(std::string message)
        : message_(message.empty() ? std::string("unknown error") : std::move(message)) {}
    std::string message_;
};
