// The manual page against the options kivrel itself lists, both ways, so
// neither can gain or lose an option without the other.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "cli_runner.h"

namespace {

using Names = std::set<std::string>;

// Every option named anywhere in the text, definitions and mentions alike.
// Placeholders are upper case ("--no-NAME"), so they never count.
Names optionsIn(const std::string& text) {
    static const std::regex option(
        R"((^|[\s(\[,|"'=])(--?[a-z][a-z0-9_]*([-:][a-z0-9_]+)*)(?![A-Za-z0-9_-]))");
    Names names;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), option); it != std::sregex_iterator(); ++it)
        names.insert((*it)[2]);
    return names;
}

// The page as a reader sees its words: no comments, macro names, font
// changes or escaped minus signs.
std::string plainText(const std::string& roff) {
    std::string text;
    std::istringstream lines(roff);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with(".\\\"")) continue;
        if (line.starts_with('.'))
            line = line.find(' ') == std::string::npos ? "" : line.substr(line.find(' '));
        line = std::regex_replace(line, std::regex(R"(\\f[BIRP])"), "");
        line = std::regex_replace(line, std::regex(R"(\\-)"), "-");
        line = std::regex_replace(line, std::regex(R"(\\&|\\~|\\\(..)"), " ");
        text += line + "\n";
    }
    return text;
}

std::string listed(const Names& names) {
    std::string s;
    for (const std::string& n : names) s += " " + n;
    return s.empty() ? " (none)" : s;
}

}  // namespace

class Manual : public CliTest {};

TEST_F(Manual, DocumentsEveryOptionOfHelpAndNoOther) {
    // The report's own help, where it has one, lists what it adds.
    std::string help;
    for (const Args& args : {Args{"--help"}, Args{"report", "--help"}}) {
        const CliResult r = run(args);
        if (r.status == 0) help += r.out;
    }
    const std::string page = readFile(KIVREL_MANUAL_PAGE);
    ASSERT_FALSE(page.empty()) << KIVREL_MANUAL_PAGE;
    const Names inHelp = optionsIn(help);
    const Names inPage = optionsIn(plainText(page));
    ASSERT_TRUE(inHelp.contains("--display") && inPage.contains("--display")) << help;

    // The page already describes the report and the monitor layout, which
    // are built on branches of their own. A feature's options are excused
    // from the help only while none of them is there: once it lands, all
    // of them must be.
    const std::map<std::string, Names> landing = {
        {"kivrel report", {"--max-hot", "--range-rule", "--fail-on", "-j"}},
        {"monitor layout", {"--layout", "--picture-size", "--crop", "--labels"}},
    };
    Names excused;
    for (const auto& [feature, names] : landing) {
        bool landed = false;
        for (const std::string& n : names) landed = landed || inHelp.contains(n);
        if (!landed) excused.insert(names.begin(), names.end());
    }
    Names helpOnly, pageOnly, waiting;
    for (const std::string& n : inHelp)
        if (!inPage.contains(n)) helpOnly.insert(n);
    for (const std::string& n : inPage)
        if (!inHelp.contains(n)) (excused.contains(n) ? waiting : pageOnly).insert(n);
    EXPECT_TRUE(helpOnly.empty() && pageOnly.empty())
        << "in kivrel --help but not in " << KIVREL_MANUAL_PAGE << ":" << listed(helpOnly)
        << "\nin the page but not in kivrel --help:" << listed(pageOnly)
        << "\n(documented for features not yet in this build:" << listed(waiting) << ")";
    if (!waiting.empty())
        std::printf("documented for features not yet in this build:%s\n", listed(waiting).c_str());
}

TEST_F(Manual, FormatsWithoutWarnings) {
    // groff with every warning on; skipped where groff is not installed.
    if (std::system("command -v groff >/dev/null 2>&1") != 0) GTEST_SKIP() << "no groff";
    const std::string command =
        "LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z '" KIVREL_MANUAL_PAGE "' 2>'" + path("warnings") + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(readText("warnings"), "");
}
