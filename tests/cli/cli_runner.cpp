#include "cli_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

std::string drain(int fd) {
    std::string text;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) break;  // EOF, or EIO once a terminal's other side is gone
        text.append(buf, static_cast<size_t>(n));
    }
    return text;
}

std::vector<char*> argvOf(std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return argv;
}

int statusOf(int raw) {
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}

}  // namespace

std::vector<std::string> CliResult::errLines() const {
    std::vector<std::string> lines;
    std::istringstream in(err);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

CliResult runKivrel(const std::vector<std::string>& args, const std::string& cwd, bool onTerminal) {
    std::vector<std::string> all = {KIVREL_CLI_EXE};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv = argvOf(all);
    CliResult result;
    if (onTerminal) {
        int master = -1;
        const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
        if (pid == 0) {
            if (::chdir(cwd.c_str()) != 0) ::_exit(126);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        result.err = drain(master);  // a terminal merges both streams
        ::close(master);
        int raw = 0;
        ::waitpid(pid, &raw, 0);
        result.status = statusOf(raw);
        return result;
    }
    int outPipe[2], errPipe[2];
    if (::pipe(outPipe) != 0 || ::pipe(errPipe) != 0) return result;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(outPipe[1], STDOUT_FILENO);
        ::dup2(errPipe[1], STDERR_FILENO);
        ::close(outPipe[0]);
        ::close(errPipe[0]);
        const int devNull = ::open("/dev/null", O_RDONLY);
        ::dup2(devNull, STDIN_FILENO);
        if (::chdir(cwd.c_str()) != 0) ::_exit(126);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    // Both pipes at once, so a chatty child never blocks on a full one.
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    while (open > 0) {
        if (::poll(fds, 2, -1) < 0) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buf[4096];
            const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<size_t>(n));
            } else {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int raw = 0;
    ::waitpid(pid, &raw, 0);
    result.status = statusOf(raw);
    return result;
}

void CliTest::SetUp() {
    const char* tmp = std::getenv("TMPDIR");
    std::string tmpl = std::string(tmp != nullptr && *tmp ? tmp : "/tmp") + "/kivrel-cli-XXXXXX";
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

void CliTest::writeText(const std::string& name, const std::string& text) const {
    std::ofstream(path(name), std::ios::binary) << text;
}

std::string CliTest::readText(const std::string& name) const {
    std::ifstream in(path(name), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}
