// kivrel play as a person uses it: a real X server (Xvfb) started by the
// test, keys sent to the window with xdotool, and the frames the window
// showed read back from --presented-md5, each checked against what a
// render of the same frame with the same settings writes.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "cli/support/cli_runner.h"
#include "cli/support/media.h"

namespace {

// SDL opens the window system's libraries (X11, GL, dbus) with dlopen and
// unloads some at exit; what they keep for the process's life cannot be
// traced to a module, so under the leak checker the viewer runs without it.
// Its reading and rendering are the render's code, whose tests keep it on.
class ViewerLeakCheckOff {
public:
    ViewerLeakCheckOff() {
        const char* was = std::getenv("ASAN_OPTIONS");
        had_ = was != nullptr;
        if (had_) saved_ = was;
        ::setenv("ASAN_OPTIONS", (saved_.empty() ? "" : saved_ + ":").append("detect_leaks=0").c_str(), 1);
    }
    ~ViewerLeakCheckOff() {
        if (had_)
            ::setenv("ASAN_OPTIONS", saved_.c_str(), 1);
        else
            ::unsetenv("ASAN_OPTIONS");
    }

private:
    bool had_ = false;
    std::string saved_;
};

using namespace std::chrono_literals;

// The viewer a test started, stopped when the test ends however it ends (an
// assertion in start() returns before quit() is reached): no window, and no
// process, outlives its test. The viewer starts no processes of its own.
class ViewerProcess {
public:
    ViewerProcess() = default;
    ViewerProcess(const ViewerProcess&) = delete;
    ViewerProcess& operator=(const ViewerProcess&) = delete;
    ~ViewerProcess() { stop(); }
    void start(Child child) {
        stop();
        child_ = child;
    }
    const Child& child() const { return child_; }
    // Its status once it has ended, or -1 while it runs.
    int reap(bool block) {
        if (child_.pid <= 0) return -1;
        int raw = 0;
        if (::waitpid(child_.pid, &raw, block ? 0 : WNOHANG) != child_.pid) return -1;
        child_.pid = -1;
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    }
    // Its status once it has ended, waiting for that (woken by its end, a
    // pidfd's) at most `patience`; -1 while it runs on.
    int reapWithin(std::chrono::milliseconds patience) {
        if (child_.pid <= 0) return -1;
        const int fd = static_cast<int>(::syscall(SYS_pidfd_open, child_.pid, 0));
        if (fd < 0) return -1;
        pollfd p{fd, POLLIN, 0};
        const auto until = std::chrono::steady_clock::now() + patience;
        int ready = 0;
        for (auto left = patience; left.count() > 0;
             left = std::chrono::duration_cast<std::chrono::milliseconds>(until -
                                                                          std::chrono::steady_clock::now())) {
            ready = ::poll(&p, 1, static_cast<int>(left.count()));
            if (ready >= 0 || errno != EINTR) break;
        }
        ::close(fd);
        return ready > 0 ? reap(false) : -1;
    }
    // Kills a viewer still running; its status.
    int stop() {
        if (child_.pid <= 0) return -1;
        if (int status = reap(false); status >= 0) return status;
        ::kill(child_.pid, SIGKILL);
        return reap(true);
    }

private:
    Child child_;
};

// A bounded wait for something the viewer does in its own time; far more
// than it needs, so only a viewer that never does it fails.
constexpr auto kPatience = 30s;
constexpr auto kPoll = 20ms;
constexpr int kClipFrames = 30;
constexpr int kClipFps = 10;

struct Shown {
    int64_t index = 0, pts = 0;
    std::string md5;
};

std::vector<Shown> readHashes(const std::string& text) {
    std::vector<Shown> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        Shown s;
        char md5[33] = {};
        long long index = 0, pts = 0;
        if (std::sscanf(line.c_str(), "%lld,%lld,%32s", &index, &pts, md5) != 3) continue;
        lines.push_back({index, pts, md5});
    }
    return lines;
}

// The output's per-frame hashes a render writes ("frame,pts,md5"), by source frame.
std::map<int64_t, std::string> renderedHashes(const std::vector<Shown>& lines) {
    std::map<int64_t, std::string> byFrame;
    for (const Shown& s : lines) byFrame[s.pts] = s.md5;
    return byFrame;
}

std::string shell(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buf[256];
        while (std::fgets(buf, sizeof buf, p) != nullptr) out += buf;
        ::pclose(p);
    }
    return out;
}

// Whether the viewer's main thread waits, with no time limit, on one
// descriptor: Xlib waiting for its server's answer (the kernel's record of
// the call it is blocked in, which a parent may read).
bool waitingOnTheDisplay(pid_t viewer) {
    long number = -1;
    unsigned long fds = 0, nfds = 0, timeout = 0;
    const std::string call = readFile("/proc/" + std::to_string(viewer) + "/syscall");
    if (std::sscanf(call.c_str(), "%ld %lx %lx %lx", &number, &fds, &nfds, &timeout) != 4 || nfds != 1)
        return false;
#ifdef SYS_poll
    if (number == SYS_poll) return static_cast<int>(timeout) == -1;
#endif
    return number == SYS_ppoll && timeout == 0;  // no timespec: no limit
}

// An X server the test starts, on a display number the server picks itself
// and writes down a pipe once it listens (-displayfd): two suites starting
// servers at once cannot take the same number. Stopped by its pid.
struct XServer {
    pid_t pid = -1;
    std::string display;  // ":N", or empty when none could start

    ~XServer() { stop(); }  // a test that returns early leaves none behind

    void start() {
        int ready[2];
        if (::pipe2(ready, O_CLOEXEC) != 0) return;
        pid = ::fork();
        if (pid == 0) {
            ::dup2(::open("/dev/null", O_WRONLY), STDERR_FILENO);
            const int fd = ::dup(ready[1]);  // without close-on-exec: the server writes to it
            ::execlp("Xvfb", "Xvfb", "-displayfd", std::to_string(fd).c_str(), "-screen", "0", "1280x800x24",
                     "-nolisten", "tcp", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(ready[1]);
        // The number and a newline, or nothing when the server dies first.
        std::string number;
        const auto until = std::chrono::steady_clock::now() + kPatience;
        char c = 0;
        while (pid > 0 && std::chrono::steady_clock::now() < until) {
            pollfd p{ready[0], POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(std::chrono::milliseconds(kPatience).count())) <= 0) break;
            if (::read(ready[0], &c, 1) != 1 || c == '\n') break;
            number += c;
        }
        ::close(ready[0]);
        if (c == '\n' && !number.empty()) {
            display = ":" + number;
        } else {
            stop();
        }
    }
    // Ends it (resumed first, should a test have stopped it, so it can exit).
    void stop() {
        if (pid > 0) {
            ::kill(pid, SIGCONT);
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
        pid = -1;
        display.clear();
    }
};

// A server stopped (SIGSTOP): it takes no requests and answers none, as a
// frozen compositor or a remote display gone quiet; resumed when it goes.
class ServerStopped {
public:
    explicit ServerStopped(pid_t server) : server_(server) {
        ::kill(server_, SIGSTOP);
        ::waitpid(server_, nullptr, WUNTRACED);  // the test started it: told once it has stopped
    }
    ~ServerStopped() { ::kill(server_, SIGCONT); }
    ServerStopped(const ServerStopped&) = delete;
    ServerStopped& operator=(const ServerStopped&) = delete;

private:
    pid_t server_;
};

class PlayTest : public CliTest {
protected:
    // One X server for the suite, on a display number it picks itself.
    static void SetUpTestSuite() {
        if (shell("command -v Xvfb").empty() || shell("command -v xdotool").empty()) return;
        suiteServer_.start();
    }
    static void TearDownTestSuite() {
        // --gtest_repeat sets the suite up again: a server of its own then.
        suiteServer_.stop();
    }
    void SetUp() override {
        CliTest::SetUp();
        leakCheckOff_.emplace();
        if (suiteServer_.display.empty()) GTEST_SKIP() << "needs Xvfb and xdotool (scripts/deps.sh cli)";
        ::setenv("DISPLAY", suiteServer_.display.c_str(), 1);
        ASSERT_EQ(writeClip(path("clip.mkv"), patternClip(48, 32, kClipFrames), kClipFps), "");
    }

    void TearDown() override {
        (void)viewer_.stop();
        CliTest::TearDown();
        leakCheckOff_.reset();
    }
    std::optional<ViewerLeakCheckOff> leakCheckOff_;

    // kivrel play, its window found.
    void start(Args args) {
        args.insert(args.begin(), "play");
        args.insert(args.end(), {"--presented-md5", "shown.md5"});
        std::remove(path("shown.md5").c_str());  // a viewer before this one's
        viewer_.start(spawnKivrel(args, dir_, false));
        // Its first frame shown, SDL has settled on its window (it may open
        // and close others while it chooses how to draw): only then is the
        // one mapped window titled kivrel the one keys and the pointer reach.
        const auto until = std::chrono::steady_clock::now() + kPatience;
        while (readHashes(readText("shown.md5")).empty() && std::chrono::steady_clock::now() < until &&
               viewer_.reap(false) < 0)
            std::this_thread::sleep_for(kPoll);
        while (
            (window_ = shell("xdotool search --onlyvisible --name kivrel 2>/dev/null | head -n 1")).empty() &&
            std::chrono::steady_clock::now() < until && viewer_.reap(false) < 0)
            std::this_thread::sleep_for(kPoll);
        while (!window_.empty() && window_.back() == '\n') window_.pop_back();
        ASSERT_FALSE(window_.empty()) << "no window titled kivrel";
    }
    void keys(const std::string& names) {
        ASSERT_EQ(std::system(("xdotool key --window " + window_ + " " + names).c_str()), 0) << names;
    }
    // The frames shown, once there are at least `count`.
    std::vector<Shown> shownWhen(size_t count) {
        const auto until = std::chrono::steady_clock::now() + kPatience;
        std::vector<Shown> lines;
        while ((lines = readHashes(readText("shown.md5"))).size() < count &&
               std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(kPoll);
        return lines;
    }
    // q, then the exit status and what it said.
    int quit(std::string& err) {
        // The window may go before xdotool sends the key's release: no status.
        (void)std::system(("xdotool key --window " + window_ + " q 2>/dev/null").c_str());
        const auto until = std::chrono::steady_clock::now() + kPatience;
        int status = -1;
        while ((status = viewer_.reap(false)) < 0 && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(kPoll);
        if (status < 0) status = viewer_.stop();
        err = viewer_.child().takeErr();
        return status;
    }
    // What a render with `args` writes, frame by frame.
    std::map<int64_t, std::string> render(Args args, const std::string& input = "clip.mkv") {
        args.insert(args.begin(), input);
        args.insert(args.end(), {"-o", "render.md5", "-y", "-q"});
        const CliResult r = run(args);
        EXPECT_EQ(r.status, 0) << r.err;
        return renderedHashes(readHashes(readText("render.md5")));
    }
    // The module's own Config line for `display`, as a render would start from.
    std::string configLine(const std::string& display) {
        const CliResult r = run({"clip.mkv", "-d", display, "--print-config"});
        const size_t at = r.out.find("Config(");
        return at == std::string::npos ? "" : r.out.substr(at, r.out.find('\n', at) - at);
    }

    static XServer suiteServer_;
    ViewerProcess viewer_;
    std::string window_;
};

XServer PlayTest::suiteServer_;

// Replaces argument `k` of a Config line.
std::string withArg(const std::string& line, int k, int value) {
    std::vector<std::string> args;
    std::string inner = line.substr(line.find('(') + 1, line.rfind(')') - line.find('(') - 1), item;
    std::istringstream in(inner);
    while (std::getline(in, item, ',')) args.push_back(item);
    args[static_cast<size_t>(k)] = std::to_string(value);
    std::string out = "Config(";
    for (size_t i = 0; i < args.size(); ++i)
        out += (i ? ", " : "") + args[i].substr(args[i].find_first_not_of(' '));
    return out + ")";
}

TEST_F(PlayTest, PausedStepsAndSeeksShowExactFrames) {
    const std::map<int64_t, std::string> rendered = render({"-d", "waveform"});
    start({"clip.mkv", "-d", "waveform", "--paused"});
    // Frame 0 opens; three steps on, one back; the ends; a minute each way
    // stops at the ends; a step back from the first frame stays there.
    keys("Right Right Right Left End Home Up Down Left");
    const int64_t want[] = {0, 1, 2, 3, 2, kClipFrames - 1, 0, kClipFrames - 1, 0, 0};
    const std::vector<Shown> shown = shownWhen(std::size(want));
    ASSERT_EQ(shown.size(), std::size(want));
    for (size_t i = 0; i < shown.size(); ++i) {
        SCOPED_TRACE("shown " + std::to_string(i));
        EXPECT_EQ(shown[i].index, static_cast<int64_t>(i));
        EXPECT_EQ(shown[i].pts, want[i]);
        EXPECT_EQ(shown[i].md5, rendered.at(want[i])) << "not what the render writes for that frame";
    }
    std::string err;
    EXPECT_EQ(quit(err), 0) << err;
    EXPECT_EQ(err, "kivrel: " + std::to_string(std::size(want)) + " frames shown, 0 dropped\n");
}

TEST_F(PlayTest, SettingsKeysShowWhatTheScriptLineRenders) {
    const std::string line = configLine("waveform");
    ASSERT_FALSE(line.empty());
    // The grid is the Config line's last argument; it starts on.
    const int grid = 12;
    const std::string noGrid = withArg(line, grid, 0);
    writeText("nogrid.vcf", noGrid + "\n");
    writeText("luma.vcf", withArg(withArg(withArg(noGrid, 8, 0), 9, 0), 10, 0) + "\n");
    struct Case {
        const char* keys;
        Args render;
    };
    const Case cases[] = {
        {"g", {"-d", "waveform", "--script", "nogrid.vcf"}},
        {"5", {"-d", "vectorscope", "--script", "nogrid.vcf"}},
        {"4 c", {"-d", "waveform", "--script", "luma.vcf"}},
    };
    start({"clip.mkv", "-d", "waveform", "--paused", "-ss", "5f"});
    size_t count = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys);
        keys(c.keys);
        count += std::count(c.keys, c.keys + std::strlen(c.keys), ' ') + 1;
        const std::vector<Shown> shown = shownWhen(count);
        ASSERT_EQ(shown.size(), count);
        EXPECT_EQ(shown.back().pts, 5);
        EXPECT_EQ(shown.back().md5, render(c.render).at(5));
    }
    std::string err;
    EXPECT_EQ(quit(err), 0) << err;
}

TEST_F(PlayTest, PlaysToTheEndAsTheRenderDoes) {
    const std::map<int64_t, std::string> rendered = render({"-d", "histograms"});
    start({"clip.mkv", "-d", "histograms"});
    std::vector<Shown> shown;
    const auto until = std::chrono::steady_clock::now() + kPatience;
    while (((shown = shownWhen(1)).empty() || shown.back().pts != kClipFrames - 1) &&
           std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(kPoll);
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back().pts, kClipFrames - 1);
    for (size_t i = 0; i < shown.size(); ++i) {
        SCOPED_TRACE("shown " + std::to_string(i));
        if (i > 0) {
            EXPECT_GT(shown[i].pts, shown[i - 1].pts) << "frames in order, none twice";
        }
        EXPECT_EQ(shown[i].md5, rendered.at(shown[i].pts));
    }
    std::string err;
    EXPECT_EQ(quit(err), 0) << err;
    const int64_t dropped = kClipFrames - static_cast<int64_t>(shown.size());
    EXPECT_EQ(err, "kivrel: " + std::to_string(shown.size()) + " frames shown, " + std::to_string(dropped) +
                       " dropped\n");
}

// -i as a render takes it: a raw file read with the options before -i
// shows the frame a render of the same command line writes.
TEST_F(PlayTest, RawInputAfterIShowsWhatTheRenderWrites) {
    constexpr int kW = 48, kH = 32, kFrames = 2;
    std::string grey(static_cast<size_t>(kW * kH * kFrames), '\0');
    for (size_t k = 0; k < grey.size(); ++k) grey[k] = static_cast<char>(k * 7 % 256);  // every level
    writeText("in.gray", grey);
    const Args input = {
        "-f", "rawvideo", "-pix_fmt", "gray",    "-s", std::to_string(kW) + "x" + std::to_string(kH),
        "-r", "10",       "-i",       "in.gray", "-d", "waveform"};
    Args rendering = input;
    rendering.insert(rendering.end(), {"-o", "render.md5", "-y", "-q"});
    const CliResult r = run(rendering);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::map<int64_t, std::string> rendered = renderedHashes(readHashes(readText("render.md5")));
    Args playing = input;
    playing.push_back("--paused");
    start(playing);
    const std::vector<Shown> shown = shownWhen(1);
    ASSERT_FALSE(shown.empty());
    ASSERT_TRUE(rendered.contains(shown.front().pts));
    EXPECT_EQ(shown.front().md5, rendered.at(shown.front().pts));
    std::string err;
    EXPECT_EQ(quit(err), 0) << err;
}

TEST_F(PlayTest, SaveKeyWritesWhatTheRenderWrites) {
    start({"clip.mkv", "-d", "vectorscope", "--paused", "-ss", "4f"});
    keys("s");
    const std::string saved = path("clip.vectorscope.000004.png");
    const auto until = std::chrono::steady_clock::now() + kPatience;
    while (::access(saved.c_str(), F_OK) != 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(kPoll);
    std::string err;
    EXPECT_EQ(quit(err), 0) << err;
    const CliResult r =
        run({"clip.mkv", "-d", "vectorscope", "-ss", "4f", "-frames", "1", "-o", "render.png"});
    ASSERT_EQ(r.status, 0) << r.err;
    const Decoded got = decodeFile(saved), want = decodeFile(path("render.png"));
    ASSERT_EQ(got.frames.size(), 1u) << got.error;
    ASSERT_EQ(want.frames.size(), 1u) << want.error;
    EXPECT_TRUE(samePicture(got.frames[0], want.frames[0]));
}

TEST_F(PlayTest, DragSetsTheRegionAsCropDoes) {
    // As wide as the narrowest window, so the picture fills it at zoom 1:
    // a window pixel is a source pixel. A monitor's first tile sits at its
    // top left, so the same drags land on the same pixels of its picture
    // tile while the whole frame is measured (with a region, the scope
    // beside it narrows and the window centres the smaller output: hence a
    // right click, which clears the region, after each drag).
    constexpr int kWide = 320, kHigh = 48;
    ASSERT_EQ(writeClip(path("wide.mkv"), patternClip(kWide, kHigh, 3), kClipFps), "");
    struct Drag {
        int x0, y0, x1, y1;
    };
    // Either way round; past the tile's edge (into the status line, or the
    // scope beside it) it stops there.
    const Drag drags[] = {
        {10, 5, 200, 40}, {300, 30, 7, 2}, {1, 1, kWide - 1, kHigh + 9}, {2, 3, kWide + 40, 20}};
    for (const char* view : {"video", "picture,waveform"}) {
        SCOPED_TRACE(view);
        const std::string whole = render({"-d", view}, "wide.mkv").at(0);
        start({"wide.mkv", "-d", view, "--paused"});
        size_t count = 1;
        ASSERT_EQ(shownWhen(count).size(), count);
        for (const Drag& d : drags) {
            const std::string move = "mousemove --window " + window_ + " ";
            const std::string drag = "xdotool " + move + std::to_string(d.x0) + " " + std::to_string(d.y0) +
                                     " mousedown 1 " + move + std::to_string(d.x1) + " " +
                                     std::to_string(d.y1) + " mouseup 1";
            SCOPED_TRACE(drag);
            ASSERT_EQ(std::system(drag.c_str()), 0);
            const int x = std::min(d.x0, d.x1), y = std::min(d.y0, d.y1);
            const int w = std::min(std::max(d.x0, d.x1), kWide - 1) - x + 1;
            const int h = std::min(std::max(d.y0, d.y1), kHigh - 1) - y + 1;
            const std::string crop = std::to_string(w) + ":" + std::to_string(h) + ":" + std::to_string(x) +
                                     ":" + std::to_string(y);
            std::vector<Shown> shown = shownWhen(++count);
            ASSERT_EQ(shown.size(), count);
            EXPECT_EQ(shown.back().pts, 0);
            EXPECT_EQ(shown.back().md5, render({"-d", view, "--crop", crop}, "wide.mkv").at(0)) << crop;
            // A right click: the whole frame again, as without --crop.
            ASSERT_EQ(std::system(("xdotool mousemove --window " + window_ + " 50 20 click 3").c_str()), 0);
            shown = shownWhen(++count);
            ASSERT_EQ(shown.size(), count);
            EXPECT_EQ(shown.back().md5, whole);
        }
        std::string err;
        EXPECT_EQ(quit(err), 0) << err;
    }
}

TEST_F(PlayTest, HelpFullScreenAndUnboundKeysLeaveTheFrameAsItIs) {
    const std::map<int64_t, std::string> rendered = render({"-d", "waveform"});
    start({"clip.mkv", "-d", "waveform", "--paused"});
    // The help and the full screen change the window, not the module's
    // output: nothing new is presented but the step's frame 1, and the
    // viewer still quits as asked after going full screen and back.
    keys("question x question question Right");
    const std::vector<Shown> shown = shownWhen(2);
    keys("f f");
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].md5, rendered.at(0));
    EXPECT_EQ(shown[1].pts, 1);
    EXPECT_EQ(shown[1].md5, rendered.at(1));
    std::string err;
    EXPECT_EQ(quit(err), 0) << err;
    EXPECT_EQ(err, "kivrel: 2 frames shown, 0 dropped\n");
}

// A Y4M whose last frame is a byte short, stepped through to its end: the
// viewer stops there with status 1, naming the last good frame; with
// --skip-errors it reaches the end, warns the same, and its closing line
// says the input is damaged.
TEST_F(PlayTest, DamageStopsTheViewerUnlessSkipped) {
    constexpr int kFrames = 8;
    ASSERT_EQ(
        std::system(("cd " + dir_ + " && ffmpeg -v error -f lavfi -i testsrc=size=48x32:rate=10 -frames:v " +
                     std::to_string(kFrames) + " -pix_fmt yuv420p whole.y4m")
                        .c_str()),
        0);
    const std::string y4m = readText("whole.y4m");
    writeText("cut.y4m", y4m.substr(0, y4m.size() - 1));
    const std::string good =
        "cut.y4m: frame 7 is incomplete: the input ends inside it; the last good one before "
        "it is frame 6 at 0.600 s";
    for (const bool skip : {false, true}) {
        SCOPED_TRACE(skip ? "--skip-errors" : "without --skip-errors");
        Args args = {"cut.y4m", "-d", "waveform", "--paused"};
        if (skip) args.push_back("--skip-errors");
        start(args);
        // Frames 1 to 6, then a step onto the damaged frame 7. The viewer may
        // be gone before xdotool sends the key's release: no status.
        keys("Right Right Right Right Right Right");
        ASSERT_EQ(shownWhen(kFrames - 1).size(), static_cast<size_t>(kFrames - 1));
        (void)std::system(("xdotool key --window " + window_ + " Right 2>/dev/null").c_str());
        std::string err;
        if (skip) {
            EXPECT_EQ(quit(err), 0) << err;
            EXPECT_EQ(err, "kivrel: " + good + "\nkivrel: 7 frames shown, 0 dropped; the input is damaged\n");
            continue;
        }
        int status = -1;
        const auto until = std::chrono::steady_clock::now() + kPatience;
        while ((status = viewer_.reap(false)) < 0 && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(kPoll);
        err = viewer_.child().takeErr();
        EXPECT_EQ(status, 1) << err;
        EXPECT_EQ(err, "kivrel: " + good + "; the input is damaged (--skip-errors leaves such frames out)\n");
    }
}

TEST_F(PlayTest, CapitalSSavesTheShownSettingsAsTheDefaults) {
    const std::string suite = std::getenv("KIVREL_REGISTRY") != nullptr ? std::getenv("KIVREL_REGISTRY") : "";
    ::setenv("KIVREL_REGISTRY", path("registry.reg").c_str(), 1);
    const std::string line = configLine("waveform");
    ASSERT_FALSE(line.empty());
    const int grid = 12;  // the Config line's last argument
    start({"clip.mkv", "-d", "waveform", "--paused"});
    keys("g");
    ASSERT_EQ(shownWhen(2).size(), 2u);
    keys("S");
    const auto until = std::chrono::steady_clock::now() + kPatience;
    while (::access(path("registry.reg").c_str(), F_OK) != 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(kPoll);
    std::string err;
    EXPECT_EQ(quit(err), 0) << err;
    const CliResult r = run({"defaults"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(withArg(line, grid, 0)), std::string::npos) << r.out;
    if (suite.empty())
        ::unsetenv("KIVREL_REGISTRY");
    else
        ::setenv("KIVREL_REGISTRY", suite.c_str(), 1);
}

// A grid of a picture larger than the test's screen (1280x800), beside a
// scope that fits it (a waveform is as wide as the frame, with four tiles
// two rows of scopes are taller than the screen: no picture size helps): the viewer
// says which picture size it chose, shows what a render with that
// --picture-size writes, and that output fits the screen. A size given is kept.
TEST_F(PlayTest, AMonitorLargerThanTheScreenTakesAPictureSizeThatFits) {
    constexpr int kWide = 1280, kHigh = 720;
    constexpr int kScreenW = 1280, kScreenH = 800;  // the server's, set up above
    ASSERT_EQ(writeClip(path("big.mkv"), patternClip(kWide, kHigh, 1), kClipFps), "");
    const Args grid = {"big.mkv", "-d", "picture,vectorscope", "--layout", "grid"};
    struct Case {
        const char* given;  // --picture-size, or none
        bool chosen;        // whether the viewer says it chose one
    };
    const Case cases[] = {{nullptr, true}, {"640x360", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.given ? c.given : "no --picture-size");
        Args args = grid;
        if (c.given) args.insert(args.end(), {"--picture-size", c.given});
        Args play = args;
        play.push_back("--paused");
        start(play);
        const std::vector<Shown> shown = shownWhen(1);
        ASSERT_EQ(shown.size(), 1u);
        // A scope alone, chosen by its key, drops the picture's size (it has no picture to size).
        std::vector<Shown> scope;
        if (c.given) {
            keys("4");
            scope = shownWhen(2);
        }
        // Renders only once the viewer has ended: they share its standard error's file.
        std::string err;
        EXPECT_EQ(quit(err), 0) << err;
        if (c.given) {
            ASSERT_EQ(scope.size(), 2u);
            EXPECT_EQ(scope[1].md5, render({"-d", "waveform", "--layout", "grid"}, "big.mkv").at(0));
        }
        int w = 0, h = 0, screenW = 0, screenH = 0;
        const bool said = std::sscanf(err.c_str(), "kivrel: picture size %dx%d to fit the screen (%dx%d)", &w,
                                      &h, &screenW, &screenH) == 4;
        EXPECT_EQ(said, c.chosen) << err;
        if (!said) continue;
        EXPECT_EQ(screenW, kScreenW);
        EXPECT_EQ(screenH, kScreenH);
        EXPECT_LT(w, kWide);
        // The picture's aspect kept, its height to the nearest even pixel.
        EXPECT_LE(std::abs(int64_t{h} * kWide - int64_t{w} * kHigh), int64_t{kWide}) << w << "x" << h;
        const std::string size = std::to_string(w) + "x" + std::to_string(h);
        args.insert(args.end(), {"--picture-size", size});
        Args rendered(args.begin() + 1, args.end());
        EXPECT_EQ(render(rendered, "big.mkv").at(0), shown[0].md5)
            << "not what a render with " << size << " writes";
        args.insert(args.end(), {"-o", "fit.mkv", "-y", "-q"});
        ASSERT_EQ(run(args).status, 0);
        int outW = 0, outH = 0;
        const std::string probed = shell(
            "ffprobe -v error -select_streams v:0 -show_entries stream=width,height "
            "-of csv=p=0:s=x '" +
            path("fit.mkv") + "'");
        ASSERT_EQ(std::sscanf(probed.c_str(), "%dx%d", &outW, &outH), 2) << probed;
        EXPECT_LE(outW, kScreenW);
        EXPECT_LT(outH, kScreenH) << "with room for the status line";
    }
}

TEST_F(PlayTest, PlaysALiveUdpStream) {
#if defined(KIVREL_SANITIZED)
    // A live stream does not wait: under the sanitizers' slowdown the viewer
    // may not keep up with it in the time the test allows.
    GTEST_SKIP() << "real time, not run under AddressSanitizer";
#endif
    if (shell("command -v ffmpeg").empty()) GTEST_SKIP() << "needs ffmpeg to send the stream";
    // A port of its own for each run, above the ones services take.
    const std::string url = "udp://127.0.0.1:" + std::to_string(20000 + ::getpid() % 20000);
    const pid_t sender = ::fork();
    if (sender == 0) {
        ::dup2(::open("/dev/null", O_WRONLY), STDERR_FILENO);
        ::execlp("ffmpeg", "ffmpeg", "-nostdin", "-re", "-f", "lavfi", "-i", "testsrc2=size=64x48:rate=25",
                 "-f", "mpegts", url.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ASSERT_GT(sender, 0);
    start({"--input-format", "mpegts", url, "-d", "waveform"});
    // Playing on: frames come in order; a seek key is refused, not acted on.
    keys("Left Up Home");
    const std::vector<Shown> shown = shownWhen(kClipFrames);
    std::string err;
    const int status = quit(err);
    ::kill(sender, SIGTERM);
    ::waitpid(sender, nullptr, 0);
    ASSERT_GE(shown.size(), static_cast<size_t>(kClipFrames)) << err;
    for (size_t i = 1; i < shown.size(); ++i) EXPECT_GT(shown[i].pts, shown[i - 1].pts) << "shown " << i;
    EXPECT_EQ(status, 0) << err;
    EXPECT_NE(err.find(" frames shown, "), std::string::npos) << err;
    EXPECT_NE(err.find(" dropped\n"), std::string::npos) << err;
}

// Ended by a signal whatever its display does: one that answers, or one
// stopped (as a frozen compositor or a dead remote display: every call to
// it waits, and the viewer is in one when the signal comes). Within half a
// second, with a render's status and line.
TEST_F(PlayTest, SignalsEndItInTimeWhateverTheDisplayDoes) {
    constexpr auto kStopWithin = 500ms;
    for (const bool stalled : {false, true}) {
        for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
            const std::string name = "SIG" + std::string(sigabbrev_np(sig));
            SCOPED_TRACE(name + (stalled ? ", the display stopped" : ", the display answering"));
            start({"clip.mkv", "-d", "waveform"});
            std::optional<ServerStopped> stopped;
            if (stalled) {
                stopped.emplace(suiteServer_.pid);
                const auto until = std::chrono::steady_clock::now() + kPatience;
                while (!waitingOnTheDisplay(viewer_.child().pid) && std::chrono::steady_clock::now() < until)
                    std::this_thread::sleep_for(kPoll);
                ASSERT_TRUE(waitingOnTheDisplay(viewer_.child().pid))
                    << "never waited on the stopped display";
            }
            const auto sent = std::chrono::steady_clock::now();
            ASSERT_EQ(::kill(viewer_.child().pid, sig), 0);
            int status = viewer_.reapWithin(kStopWithin);
            const auto took = std::chrono::steady_clock::now() - sent;
            EXPECT_GE(status, 0) << "still running after "
                                 << std::chrono::duration_cast<std::chrono::milliseconds>(took).count()
                                 << " ms";
            if (status < 0) status = viewer_.stop();
            EXPECT_EQ(status, 128 + sig);
            const std::string err = viewer_.child().takeErr();
            EXPECT_EQ(err, "kivrel: interrupted by " + name + "\n");
        }
    }
}

// Its display's server gone while it plays, or while it waits paused: the
// viewer ends at once, saying which display it lost.
TEST_F(PlayTest, ALostDisplayEndsItWithALineNamingIt) {
    constexpr auto kEndsWithin = 5s;  // the next call to the display fails; a slow machine has room
    for (const bool paused : {false, true}) {
        SCOPED_TRACE(paused ? "paused" : "playing");
        XServer lost;
        lost.start();
        ASSERT_FALSE(lost.display.empty());
        ::setenv("DISPLAY", lost.display.c_str(), 1);
        Args args = {"clip.mkv", "-d", "waveform"};
        if (paused) args.push_back("--paused");
        start(args);
        ::setenv("DISPLAY", suiteServer_.display.c_str(), 1);
        ASSERT_EQ(::kill(lost.pid, SIGKILL), 0);
        ::waitpid(lost.pid, nullptr, 0);
        // Killed, it leaves its lock and socket behind: they go with it.
        const std::string number = lost.display.substr(1);
        std::remove(("/tmp/.X" + number + "-lock").c_str());
        std::remove(("/tmp/.X11-unix/X" + number).c_str());
        lost.pid = -1;
        int status = viewer_.reapWithin(kEndsWithin);
        EXPECT_GE(status, 0) << "still running";
        if (status < 0) status = viewer_.stop();
        EXPECT_EQ(status, 1);
        const std::string err = viewer_.child().takeErr();
        EXPECT_EQ(err,
                  "kivrel: lost the display " + lost.display + ": the connection to its server is gone\n");
    }
}

TEST_F(CliTest, PlayWithoutADisplaySaysSoAndFails) {
    const ViewerLeakCheckOff leakCheckOff;
    const char* was = std::getenv("DISPLAY");
    const std::string saved = was != nullptr ? was : "";
    for (const char* display : {"", ":4077"}) {
        SCOPED_TRACE(display);
        if (*display == 0)
            ::unsetenv("DISPLAY");
        else
            ::setenv("DISPLAY", display, 1);
        ::unsetenv("WAYLAND_DISPLAY");
        const CliResult r = run({"play", "--card-size", "32x24"});
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(r.oneLine()) << r.err;
        EXPECT_NE(r.err.find("no display"), std::string::npos) << r.err;
    }
    if (was != nullptr) ::setenv("DISPLAY", saved.c_str(), 1);
}

}  // namespace
