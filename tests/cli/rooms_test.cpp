// kivrel's rooms include only those below them, so that the way a frame
// flows reads top-down from the tree: the readers, the converter, writers and monitor know
// nothing of the command line or the run, and the vocabulary nothing of the
// rest of kivrel at all. Every #include of one of its folders in every source is checked.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>
#include <string>

#include "cli/support/cli_runner.h"

namespace {

using Rooms = std::set<std::string>;

// Each room (a folder of cli/, or "" for the files at its root) and the
// rooms above it, which it must not include.
struct Rule {
    const char* room;
    Rooms above;
};

const Rooms kHostRooms = {"commands", "play",  "options", "run",    "report", "monitor",
                          "convert",  "input", "output",  "filter", "os"};

const Rule kRules[] = {
    {"commands", {}},
    {"play", {"commands"}},
    {"os",
     {"commands", "play", "options", "run", "report", "monitor", "convert", "input", "output", "filter"}},
    {"filter", {"commands", "play", "options", "run", "report", "monitor", "convert", "input", "output"}},
    {"input", {"commands", "play", "options", "run", "report", "monitor", "convert"}},
    {"convert", {"commands", "play", "options", "run", "report", "monitor", "output"}},
    {"output", {"commands", "play", "options", "run", "report", "monitor", "convert"}},
    {"monitor", {"commands", "play", "options", "run", "report"}},
    {"report", {"commands", "play"}},
    {"options", {"commands", "play", "run", "report"}},
    {"run", {"commands", "play", "report"}},
};

}  // namespace

TEST(Rooms, NoRoomIncludesOneAboveIt) {
    static const std::regex include(R"re(#include "([a-z_]+)/)re");
    namespace fs = std::filesystem;
    int checked = 0;
    for (const auto& entry : fs::recursive_directory_iterator(KIVREL_CLI_SOURCE_DIR)) {
        const std::string ext = entry.path().extension().string();
        if (ext != ".cpp" && ext != ".h") continue;
        const fs::path relative = fs::relative(entry.path(), KIVREL_CLI_SOURCE_DIR);
        const std::string room = relative.has_parent_path() ? relative.begin()->string() : "";
        const std::string name = relative.filename().string();
        // The vocabulary is below every room; main.cpp above them all.
        Rooms above;
        bool ruled = room.empty();
        if (room.empty() && name.rfind("vocabulary.", 0) == 0) above = kHostRooms;
        for (const Rule& rule : kRules)
            if (room == rule.room) above = rule.above, ruled = true;
        // A new folder says where it stands before it holds anything.
        EXPECT_TRUE(ruled) << relative.string() << " is in " << room << "/, a room with no rule here";
        const std::string text = readFile(entry.path().string());
        for (auto m = std::sregex_iterator(text.begin(), text.end(), include); m != std::sregex_iterator();
             ++m) {
            SCOPED_TRACE(relative.string());
            EXPECT_FALSE(above.contains((*m)[1])) << "includes " << (*m)[0] << ", a room above its own";
            ++checked;
        }
    }
    EXPECT_GT(checked, 100);  // the sources were found
}

// Within the run, the stages before the writing know nothing of where the
// frames go: the reading, the rendering and the loop through the stages
// include neither the output room nor the stages and printing that come
// after them.
TEST(Rooms, EarlyStagesIncludeNothingOfTheWriting) {
    const char* const early[] = {"run/read.h",     "run/read.cpp",   "run/render.h",
                                 "run/render.cpp", "run/pipeline.h", "run/pipeline.cpp"};
    const std::regex later(
        R"re(#include "(output/[a-z_]+\.h|run/(write|summary_printer|output_name)\.h)")re");
    for (const char* file : early) {
        SCOPED_TRACE(file);
        const std::string text = readFile(std::string(KIVREL_CLI_SOURCE_DIR) + "/" + file);
        ASSERT_FALSE(text.empty()) << "the stage's file is gone: update this list";
        std::smatch m;
        EXPECT_FALSE(std::regex_search(text, m, later)) << "includes " << m[0];
    }
}
