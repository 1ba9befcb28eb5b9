// The page's closing words on the range rule follow the rule in force, for
// every kind the command line makes: off, strict, r103 and custom limits.
// The limits are EBU R 103's and the studio range's, worked out here: 5 % of
// the nominal 219 below 16 and above 235.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "report/file_phrases.h"
#include "report/report_options.h"

TEST(ReportPage, RangeRuleWordsFollowTheRule) {
    const struct {
        std::vector<const char*> args;
        std::vector<const char*> said, unsaid;
    } cases[] = {
        {{"--range-rule", "off"}, {"No range rule is judged"}, {"Y ", "Cb", "R, G"}},
        {{}, {"strict judges", "Y 16–235", "Cb and Cr 16–240", "any pixel outside"}, {"R, G", "more than"}},
        {{"--rule", "r103"},
         {"r103 judges", "Y 5.05–245.95", "R, G and B made from them", "5.05–245.95", "more than 1 % of its"},
         {"Cb and Cr", "any pixel"}},
        {{"--rgb-range", "10:240"},
         {"strict+custom", "Y 16–235", "Cb and Cr 16–240", "unclipped, 10–240"},
         {}},
        {{"--luma-range", "20.5:230", "--area", "0.25"},
         {"Y 20.5–230", "Cb and Cr 16–240", "more than 0.25 % of its"},
         {"R, G", "any pixel"}},
    };
    for (const auto& c : cases) {
        std::vector<const char*> argv = {"report"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        argv.push_back("a.mkv");
        std::string line;
        for (const char* a : argv) line += std::string(a) + " ";
        SCOPED_TRACE(line);
        ReportOptions options;
        bool help = false;
        ASSERT_TRUE(parseReportCommandLine(static_cast<int>(argv.size()), argv.data(), options, help).ok());
        const std::string words = rangeJudgedText(options.rules);
        for (const char* s : c.said) EXPECT_NE(words.find(s), std::string::npos) << s << " in: " << words;
        for (const char* s : c.unsaid) EXPECT_EQ(words.find(s), std::string::npos) << s << " in: " << words;
    }
}
