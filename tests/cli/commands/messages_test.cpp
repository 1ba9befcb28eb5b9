// What kivrel says when a run stops short is what happened: a reader that
// closed the pipe after taking some of the output, a report interrupted by
// a signal, and options named in messages that the command line takes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "cli/support/cli_runner.h"
#include "cli/support/media.h"
#include "cli/support/process_wait.h"
#include "options/parse.h"
#include "play/play_options.h"
#include "report/report_options.h"

namespace {

constexpr int kClipFps = 10;

// Reads `count` bytes, or up to the first `stop` byte, then closes the pipe as `head` does.
std::string takeThenClose(int fd, size_t count, char stop) {
    std::string got;
    char c = 0;
    while (got.size() < count && ::read(fd, &c, 1) == 1) {
        got += c;
        if (c == stop) break;
    }
    ::close(fd);
    return got;
}

// `source` without its // comments, which name no option to a user.
std::string withoutComments(const std::string& source) {
    std::string code;
    std::istringstream lines(source);
    for (std::string line; std::getline(lines, line);) {
        bool quoted = false;
        for (size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '\\')
                ++i;
            else if (line[i] == '"')
                quoted = !quoted;
            else if (!quoted && line.compare(i, 2, "//") == 0)
                line.resize(i);
        }
        code += line + "\n";
    }
    return code;
}

}  // namespace

class Messages : public CliTest {};

TEST_F(Messages, AReaderClosingThePipeIsNamedWithWhatWentDownIt) {
    // Long enough that the run is still writing when the reader leaves.
    const Args card = {"--card-size", "64x48", "-frames", "2000", "-q"};
    struct Case {
        const char* format;
        size_t take;  // bytes read before closing
        char stop;    // or up to this byte
        std::regex said;
    };
    const Case cases[] = {
        {"nut", 1000, 0,
         std::regex("kivrel: the reader of standard output closed the pipe after ([0-9]+) bytes had gone "
                    "down it; the rest is not written\n")},
        {"md5", 1000, '\n',
         std::regex("kivrel: the reader of standard output closed the pipe after ([0-9]+) frames? "
                    "\\(([0-9]+) bytes\\) had gone down it; the rest is not written\n")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        Args args = {"-f", c.format, "-o", "-"};
        args.insert(args.end(), card.begin(), card.end());
        Child child = spawnKivrel(args, dir_, true);
        const std::string got = takeThenClose(child.out, c.take, c.stop);
        EXPECT_EQ(child.wait(), 128 + SIGPIPE);
        const std::string err = child.takeErr();
        std::smatch m;
        ASSERT_TRUE(std::regex_match(err, m, c.said)) << err;
        // At least what this reader took went down the pipe, and no more than was made.
        const size_t bytes = std::stoull(m[m.size() - 1]);
        EXPECT_GE(bytes, got.size());
        if (m.size() == 3) {
            const int64_t frames = std::stoll(m[1]);
            EXPECT_GE(frames, 1);
            EXPECT_LT(frames, 2000);
        }
        EXPECT_EQ(files(), std::set<std::string>{});
    }
}

TEST_F(Messages, AnInterruptedReportNamesTheSignal) {
    // A clip fed through a FIFO whose writer stays, silent, after it: the
    // report waits for more until a signal stops it.
    ASSERT_EQ(writeClip(path("clip.nut"), patternClip(16, 8, 80), kClipFps), "");
    const std::string nut = readText("clip.nut");
    ASSERT_EQ(::mkfifo(path("in.nut").c_str(), 0600), 0);
    for (const int sig : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(sigabbrev_np(sig));
        Child child = spawnKivrel({"report", "in.nut", "-o", "report.csv"}, dir_, false);
        const int feed = ::open(path("in.nut").c_str(), O_WRONLY);
        ASSERT_EQ(::write(feed, nut.data(), nut.size()), static_cast<ssize_t>(nut.size()));
        ASSERT_TRUE(waitUntilIdle(child.pid)) << "never waited for more input";
        ::kill(child.pid, sig);
        EXPECT_EQ(child.wait(), 128 + sig);
        ::close(feed);
        EXPECT_EQ(child.takeErr(),
                  "kivrel: interrupted by SIG" + std::string(sigabbrev_np(sig)) + "; nothing written\n");
        EXPECT_EQ(files(), (std::set<std::string>{"clip.nut", "in.nut"}));
    }
}

// Every option a message of the host names, in its help or its errors, is
// one its command lines take: each string the sources print is searched for
// "-x" and "--xx" words, and each is handed to both parsers.
TEST_F(Messages, EveryOptionAMessageNamesIsTaken) {
    static const std::regex literal(R"re("((?:[^"\\\n]|\\.)*)")re");
    static const std::regex option(
        R"((^|[\s(\[,|'=])(--?[a-z][a-z0-9_]*([-:][a-z0-9_]+)*)(?![A-Za-z0-9_-]))");
    std::set<std::string> named;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(KIVREL_CLI_SOURCE_DIR)) {
        const std::string ext = entry.path().extension().string();
        if (ext != ".cpp" && ext != ".h") continue;
        std::stringstream text;
        text << std::ifstream(entry.path()).rdbuf();
        const std::string source = withoutComments(text.str());
        for (auto s = std::sregex_iterator(source.begin(), source.end(), literal);
             s != std::sregex_iterator(); ++s) {
            const std::string words = (*s)[1];
            for (auto o = std::sregex_iterator(words.begin(), words.end(), option);
                 o != std::sregex_iterator(); ++o)
                named.insert((*o)[2]);
        }
    }
    ASSERT_TRUE(named.contains("--skip-errors") && named.contains("-ss")) << named.size();
    const auto unknown = [](const Status& s) { return s.message().rfind("unknown option", 0) == 0; };
    std::string missing;
    for (const std::string& name : named) {
        // With a value after it, for those that take one.
        const char* render[] = {"kivrel", name.c_str(), "1"};
        Options options;
        Action action = Action::Run;
        const Status r = parseCommandLine(3, render, options, action);
        const char* report[] = {"report", name.c_str(), "1"};
        ReportOptions reportOptions;
        bool help = false;
        const Status p = parseReportCommandLine(3, report, reportOptions, help);
        std::string word = name, value = "1";
        char* play[] = {const_cast<char*>("play"), word.data(), value.data()};
        PlayOptions playOptions;
        std::vector<char*> rest;
        const bool viewer = takePlayOptions(3, play, playOptions, rest).ok() && rest.size() < 3;
        if (unknown(r) && unknown(p) && !viewer) missing += " " + name;
    }
    EXPECT_EQ(missing, "") << "named in a message but taken by no command line";
}
