// Runs the real kivrel executable as a user would, in a scratch folder of
// its own, and collects what it printed and left behind.
#pragma once

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

struct CliResult {
    int status = -1;  // exit status, or 128 + signal
    std::string out, err;
    std::vector<std::string> errLines() const;
};

// `onTerminal`: stderr (and stdout) is a pseudo-terminal, as in a shell.
CliResult runKivrel(const std::vector<std::string>& args, const std::string& cwd, bool onTerminal = false);

// A fresh folder per test, removed afterwards.
class CliTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    CliResult run(const std::vector<std::string>& args, bool onTerminal = false) {
        return runKivrel(args, dir_, onTerminal);
    }
    std::set<std::string> files() const;  // names in the folder, hidden ones too
    void writeText(const std::string& name, const std::string& text) const;
    std::string readText(const std::string& name) const;

    std::string dir_;
};
