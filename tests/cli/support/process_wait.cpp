#include "cli/support/process_wait.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <utility>

#include "cli/support/cli_runner.h"

namespace {

// Each thread of `pid` by id: its state letter and how often it has left the processor.
std::map<std::string, std::pair<char, std::string>> threadsOf(pid_t pid) {
    std::map<std::string, std::pair<char, std::string>> threads;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    std::error_code ec;
    for (const auto& task : std::filesystem::directory_iterator(tasks, ec)) {
        const std::string stat = readFile(task.path().string() + "/stat");
        const size_t name = stat.rfind(')');  // past the thread's name, which may hold spaces
        const std::string status = readFile(task.path().string() + "/status");
        std::string switches;
        for (const char* field : {"voluntary_ctxt_switches:", "nonvoluntary_ctxt_switches:"})
            if (const size_t at = status.find(field); at != std::string::npos)
                switches += status.substr(at, status.find('\n', at) - at);
        threads[task.path().filename().string()] = {
            name != std::string::npos && name + 2 < stat.size() ? stat[name + 2] : '?', switches};
    }
    return threads;
}

}  // namespace

bool waitUntilIdle(pid_t pid) {
    constexpr auto kLook = std::chrono::milliseconds(5);
    constexpr auto kPatience = std::chrono::seconds(5);
    const auto asleep = [](const std::map<std::string, std::pair<char, std::string>>& threads) {
        return !threads.empty() && std::all_of(threads.begin(), threads.end(),
                                               [](const auto& t) { return t.second.first == 'S'; });
    };
    const auto until = std::chrono::steady_clock::now() + kPatience;
    auto before = threadsOf(pid);
    while (std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(kLook);
        auto now = threadsOf(pid);
        if (asleep(before) && now == before) return true;
        before = std::move(now);
    }
    return false;
}
