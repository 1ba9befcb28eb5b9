// The manual page against the options kivrel itself lists, both ways, so
// neither can gain or lose an option without the other.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "cli/support/cli_runner.h"

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

// The words an option takes, as kivrel lists them when it refuses another
// ("is not one of ntsc, pal"; "is not a list of rules (hot, range)"); none
// for options that take numbers, times or names.
Names valuesNamedIn(const std::string& message) {
    size_t at = std::string::npos;
    for (const char* lead : {"is not one of ", "is not a list of "})
        if (const size_t p = message.find(lead); p != std::string::npos) at = p + std::strlen(lead);
    if (at == std::string::npos) return {};
    std::string list = message.substr(at);
    if (const size_t open = list.find('('); open != std::string::npos && list.find(',') > open)
        list = list.substr(open + 1);  // "channels (luma, red ...)"
    for (const char* end : {" nor ", " or a ", " (", ")", "\n"}) list = list.substr(0, list.find(end));
    static const std::regex word(R"([A-Za-z0-9][A-Za-z0-9_.-]*)");
    Names words;
    for (auto it = std::sregex_iterator(list.begin(), list.end(), word); it != std::sregex_iterator(); ++it)
        if (it->str() != "or" && it->str() != "comma-separated") words.insert(it->str());
    return words;
}

bool hasWord(const std::string& text, const std::string& word) {
    const std::regex whole("(^|[^A-Za-z0-9_-])" + std::regex_replace(word, std::regex(R"([.|])"), R"(\$&)") +
                           "([^A-Za-z0-9_-]|$)");
    return std::regex_search(text, whole);
}

bool definesOption(const std::string& heading, const std::string& option) {
    return hasWord(heading, option) && heading.find(option + ":") == std::string::npos;
}

constexpr size_t kNameColumn = 25;  // where the help's descriptions begin

// The help's entry of an option: its line (the option within the name
// column) and the lines indented under it.
std::string helpEntry(const std::string& help, const std::string& option) {
    std::istringstream lines(help);
    std::string entry;
    bool in = false;
    for (std::string line; std::getline(lines, line);) {
        const size_t indent = line.find_first_not_of(' ');
        if (in && (indent == std::string::npos || indent < kNameColumn - 2)) break;
        if (!in && indent != std::string::npos && indent < kNameColumn - 2 &&
            definesOption(line.substr(0, kNameColumn), option))
            in = true;
        if (in) entry += line + "\n";
    }
    return entry;
}

// The page's entry of an option: from the .TP whose heading names it to
// the next .TP or section.
std::string pageEntry(const std::string& roff, const std::string& option) {
    std::istringstream lines(roff);
    std::string entry;
    bool heading = false, in = false;
    for (std::string line; std::getline(lines, line);) {
        if (line == ".TP" || line.starts_with(".SH") || line.starts_with(".SS")) {
            if (in) break;
            heading = line == ".TP";
            continue;
        }
        if (heading && definesOption(plainText(line), option)) in = true;
        heading = false;
        if (in) entry += line + "\n";
    }
    return plainText(entry);
}

}  // namespace

class Manual : public CliTest {};

// Every word an option takes is in its entry of the help and of the page.
TEST_F(Manual, HelpAndPageNameEveryValueOfEveryOption) {
    const std::string help = run({"--help"}).out + run({"report", "--help"}).out;
    const std::string page = readFile(KIVREL_MANUAL_PAGE);
    int checked = 0;
    for (const std::string& option : optionsIn(help)) {
        // Only an option defined with a value after its name ("--system ntsc|pal", "-f FORMAT").
        const std::string entry = helpEntry(help, option);
        const std::string heading = entry.substr(0, std::min(entry.find('\n'), kNameColumn));
        const size_t after = heading.find(option) + option.size();
        if (entry.empty() || after >= heading.size() || heading[after] == ',' ||
            heading.find_first_not_of(' ', after) == std::string::npos)
            continue;
        for (const Args& command : {Args{}, Args{"report", "x.mkv"}}) {
            Args args = command;
            args.insert(args.end(), {option, "bogus"});
            const Names values = valuesNamedIn(run(args).err);
            if (values.empty()) continue;
            SCOPED_TRACE(option);
            ++checked;
            const std::string inHelp = helpEntry(help, option), inPage = pageEntry(page, option);
            for (const std::string& v : values) {
                EXPECT_TRUE(hasWord(inHelp, v)) << v << " is not in the help's entry:\n" << inHelp;
                EXPECT_TRUE(hasWord(inPage, v)) << v << " is not in the page's entry:\n" << inPage;
            }
            break;
        }
    }
    EXPECT_GE(checked, 10) << "options that name their values";
}

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
