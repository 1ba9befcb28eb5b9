// Runs the real kivrel executable as a user would, in a scratch folder of
// its own, and collects what it printed and left behind.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

using Args = std::vector<std::string>;

struct CliResult {
    int status = -1;  // exit status, or 128 + signal
    std::string out, err;
    long peakKb = 0;  // the most memory the process held (its peak resident set)
    bool oneLine() const { return std::count(err.begin(), err.end(), '\n') == 1 && err.back() == '\n'; }
};

std::string readFile(const std::string& path);

// `onTerminal`: stdout and stderr are one pseudo-terminal, as in a shell.
// `stdinFile`: what standard input reads (default /dev/null).
CliResult runKivrel(Args args, const std::string& cwd, bool onTerminal = false,
                    const std::string& stdinFile = "");

// kivrel as a child the test holds, for signals and pipes: its stdin is
// /dev/null, its stdout a pipe (`pipeOut`) or /dev/null, its stderr a file.
struct Child {
    pid_t pid = -1;
    int out = -1;  // its stdout, when asked for
    std::string errFile;
    int wait() const;  // exit status, or 128 + signal
    // What it said on stderr; the file goes.
    std::string takeErr() const;
    // Everything it writes to stdout, until it closes it.
    std::string drain();
};
Child spawnKivrel(Args args, const std::string& cwd, bool pipeOut);

// A fresh folder per test, removed afterwards.
class CliTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    CliResult run(const Args& args, bool onTerminal = false) { return runKivrel(args, dir_, onTerminal); }
    // Many runs, a few at a time (a sweep's cost is mostly process starts),
    // each result in its run's place; `pipeOut`: each one's stdout is kept.
    std::vector<CliResult> runAll(const std::vector<Args>& runs, bool pipeOut = false);
    std::set<std::string> files() const;  // names in the folder, hidden ones too
    void writeText(const std::string& name, const std::string& text) const;
    std::string readText(const std::string& name) const { return readFile(path(name)); }

    std::string dir_;
};
