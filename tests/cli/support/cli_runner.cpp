#include "cli/support/cli_runner.h"

#include <fcntl.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

// Until EOF, or EIO once a terminal's other side is gone.
std::string drain(int fd) {
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
    return text;
}

void redirect(const std::string& file, int flags, int fd) {
    ::dup2(::open(file.c_str(), flags | O_CLOEXEC, 0600), fd);
}

}  // namespace

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

CliResult runKivrel(Args args, const std::string& cwd, bool onTerminal, const std::string& stdinFile) {
    args.insert(args.begin(), KIVREL_CLI_EXE);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    // Beside the folder, not in it, so they never count as left behind.
    const std::string outFile = cwd + ".out", errFile = cwd + ".err";
    int terminal = -1;
    const pid_t pid = onTerminal ? ::forkpty(&terminal, nullptr, nullptr, nullptr) : ::fork();
    if (pid == 0) {
        if (!onTerminal) {
            redirect(stdinFile.empty() ? "/dev/null" : stdinFile, O_RDONLY, STDIN_FILENO);
            redirect(outFile, O_WRONLY | O_CREAT | O_TRUNC, STDOUT_FILENO);
            redirect(errFile, O_WRONLY | O_CREAT | O_TRUNC, STDERR_FILENO);
        }
        if (::chdir(cwd.c_str()) == 0) ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    CliResult result;
    if (onTerminal) {
        result.err = drain(terminal);  // before waiting, or a full terminal blocks the child
        ::close(terminal);
    }
    int raw = 0;
    struct rusage usage {};
    ::wait4(pid, &raw, 0, &usage);
    result.peakKb = usage.ru_maxrss;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    if (!onTerminal) {
        result.out = readFile(outFile);
        result.err = readFile(errFile);
        std::remove(outFile.c_str());
        std::remove(errFile.c_str());
    }
    return result;
}

void CliTest::SetUp() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "kivrel-cli-XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
}

void CliTest::TearDown() {
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
}

std::set<std::string> CliTest::files() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_))
        names.insert(entry.path().filename().string());
    return names;
}

std::vector<CliResult> CliTest::runAll(const std::vector<Args>& runs, bool pipeOut) {
    constexpr size_t kAtOnce = 4;  // enough to hide the start-up of each behind another's work
    std::vector<CliResult> results(runs.size());
    std::vector<std::pair<size_t, Child>> going;
    auto finishOldest = [&] {
        auto& [k, c] = going.front();
        if (pipeOut) results[k].out = c.drain();
        results[k].status = c.wait();
        results[k].err = c.takeErr();
        going.erase(going.begin());
    };
    for (size_t k = 0; k < runs.size(); ++k) {
        if (going.size() == kAtOnce) finishOldest();
        going.emplace_back(k, spawnKivrel(runs[k], dir_, pipeOut));
    }
    while (!going.empty()) finishOldest();
    return results;
}

void CliTest::writeText(const std::string& name, const std::string& text) const {
    std::ofstream(path(name), std::ios::binary) << text;
}

int Child::wait() const {
    int raw = 0;
    ::waitpid(pid, &raw, 0);
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}

std::string Child::takeErr() const {
    std::string text = readFile(errFile);
    std::remove(errFile.c_str());
    return text;
}

std::string Child::drain() {
    std::string bytes;
    char buf[65536];
    for (ssize_t n; (n = ::read(out, buf, sizeof buf)) > 0;) bytes.append(buf, static_cast<size_t>(n));
    ::close(out);
    return bytes;
}

Child spawnKivrel(Args args, const std::string& cwd, bool pipeOut) {
    args.insert(args.begin(), KIVREL_CLI_EXE);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    Child c;
    // A file of its own: a render run while this child lives would
    // otherwise truncate the child's message before anyone reads it.
    static std::atomic<int> spawned{0};
    c.errFile = cwd + ".spawn" + std::to_string(++spawned) + ".err";
    int fds[2] = {-1, -1};
    if (pipeOut && ::pipe(fds) != 0) return c;
    c.pid = ::fork();
    if (c.pid == 0) {
        ::dup2(::open("/dev/null", O_RDWR), STDIN_FILENO);
        ::dup2(pipeOut ? fds[1] : ::open("/dev/null", O_WRONLY), STDOUT_FILENO);
        ::dup2(::open(c.errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
        if (pipeOut) ::close(fds[0]);
        if (::chdir(cwd.c_str()) == 0) ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    if (pipeOut) {
        ::close(fds[1]);
        c.out = fds[0];
    }
    return c;
}
