// kivrel report --merge: per-file reports made apart (here by GNU parallel,
// as docs/archives.md shows) merge into the very CSV and JSON one run writes, and
// reports that do not belong together, or are not reports, are refused.
#include <gtest/gtest.h>

#include <cstdlib>

#include "cli/support/cli_runner.h"

namespace {

class ReportMerge : public CliTest {
protected:
    bool shell(const std::string& command) const {
        return std::system(("cd " + dir_ + " && " + command).c_str()) == 0;
    }
    void SetUp() override {
        CliTest::SetUp();
        // 8 and 10 bits, odd sizes, a picture with levels outside any rule; and a file that is no video.
        ASSERT_TRUE(
            shell("ffmpeg -v error -f lavfi -i testsrc2=s=17x9:r=10:d=0.5 -pix_fmt yuv420p -c:v ffv1 "
                  "-metadata:s:v:0 timecode=01:00:59:05 a.mkv"));
        ASSERT_TRUE(
            shell("ffmpeg -v error -f lavfi -i testsrc2=s=33x8:r=25:d=0.2 -vf lutyuv=y=val*1.3 "
                  "-pix_fmt yuv422p10le -c:v ffv1 b.mkv"));
        writeText("bad.mkv", "not a video\n");
    }
    // A merge that must be refused with one line naming the report, and status 1.
    void expectRefused(const Args& reports, const std::string& why) {
        Args line = {"report", "--merge"};
        line.insert(line.end(), reports.begin(), reports.end());
        line.insert(line.end(), {"-o", "refused.csv"});
        const CliResult r = run(line);
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_TRUE(r.oneLine()) << r.err;
        EXPECT_NE(r.err.find(reports.back() + ": "), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(why), std::string::npos) << r.err;
        EXPECT_EQ(files().count("refused.csv"), 0u);
    }
};

TEST_F(ReportMerge, ParallelPerFileReportsMergeIntoTheSingleRun) {
    const std::string kivrel = KIVREL_CLI_EXE;
    // Two inputs of one name in two folders: their reports must not meet.
    ASSERT_TRUE(shell("mkdir one two && cp a.mkv one/a.mkv && cp b.mkv two/a.mkv"));
    const Args inputs = {"one/a.mkv", "bad.mkv", "two/a.mkv"};
    for (const char* form : {"csv", "json"}) {
        Args single = {"report", "--rule", "r103", "--max-hot", "0.5", "--fail-on", "range", "-o"};
        single.push_back(std::string("single.") + form);
        single.insert(single.begin() + 1, inputs.begin(), inputs.end());
        EXPECT_EQ(run(single).status, 1);  // one file unreadable
    }
    // The per-file step as docs/archives.md gives it, two at a time, in any order;
    // each one's status is its own.
    shell("parallel --will-cite -j2 'mkdir -p qc/{//} && " + kivrel +
          " report {} --rule r103 --max-hot 0.5 --fail-on range -o qc/{.}.json' ::: one/a.mkv bad.mkv "
          "two/a.mkv "
          "2>/dev/null");
    for (const char* out : {"merged.csv", "merged.json", "merged.html"}) {
        SCOPED_TRACE(out);
        const CliResult r =
            run({"report", "--merge", "qc/one/a.json", "qc/bad.json", "qc/two/a.json", "-o", out});
        EXPECT_EQ(r.status, 1) << r.err;  // as the single run: a file was unreadable
    }
    EXPECT_EQ(readText("merged.csv"), readText("single.csv"));
    EXPECT_EQ(readText("merged.json"), readText("single.json"));
    // Each JSON frame ends with its timecode, the CSV row's text (none: null).
    EXPECT_EQ(std::system(("python3 - " + dir_ +
                           " <<'EOF'\n"
                           "import csv, json, sys\n"
                           "d = sys.argv[1]\n"
                           "rows = [r for r in csv.DictReader(open(d + '/single.csv')) if r['frame'] and not "
                           "r['missing']]\n"
                           "frames = json.load(open(d + '/single.json'))['frames']\n"
                           "assert len(rows) == len(frames) > 0\n"
                           "for r, f in zip(rows, frames):\n"
                           "    assert list(f)[-1] == 'timecode', list(f)\n"
                           "    assert (f['timecode'] or '') == r['timecode'], (f, r['timecode'])\n"
                           "one = [r['timecode'] for r in rows if r['input'] == 'one/a.mkv']\n"
                           "assert one == ['01:00:59:0%d' % n for n in range(5, 10)], one\n"
                           "assert {r['timecode'] for r in rows if r['input'] == 'two/a.mkv'} == {''}\n"
                           "EOF")
                              .c_str()),
              0);
    const std::string page = readText("merged.html");
    EXPECT_NE(page.find("unreadable"), std::string::npos);
    EXPECT_NE(page.find("breaks hot and range"), std::string::npos);
    EXPECT_NE(page.find("<svg"), std::string::npos);  // the charts, from the frames' numbers

    // Every file read: the status is the rule's, as a run's would be.
    const CliResult read = run({"report", "--merge", "qc/one/a.json", "qc/two/a.json"});
    EXPECT_EQ(read.status, run({"report", "one/a.mkv", "two/a.mkv", "--rule", "r103", "--max-hot", "0.5",
                                "--fail-on", "range"})
                               .status);
    EXPECT_NE(read.out.find("overall:"), std::string::npos) << read.out;
}

TEST_F(ReportMerge, ReportsThatDoNotBelongTogetherAreRefused) {
    ASSERT_EQ(run({"report", "a.mkv", "--rule", "r103", "-o", "r103.json"}).status, 0);
    ASSERT_EQ(run({"report", "b.mkv", "-o", "strict.json"}).status, 0);
    ASSERT_EQ(run({"report", "b.mkv", "--rule", "r103", "--area", "2", "-o", "area.json"}).status, 0);
    expectRefused({"r103.json", "strict.json"}, "other rules (strict)");
    expectRefused({"r103.json", "area.json"}, "other rules (r103+custom)");
    std::string other = readText("r103.json");
    const std::string version = "\"version\": \"";
    ASSERT_NE(other.find(version), std::string::npos);
    other.insert(other.find(version) + version.size(), "0.0.1-");
    writeText("other.json", other);
    expectRefused({"r103.json", "other.json"}, "made by kivrel 0.0.1-");
    // Rules given again could only disagree with the reports'.
    EXPECT_EQ(run({"report", "--merge", "r103.json", "--rule", "strict"}).status, 2);
}

// How to read media means nothing to a merge of reports: each such option
// is refused, status 2, in one line that says so, and nothing is written.
TEST_F(ReportMerge, ReadingOptionsAreRefused) {
    ASSERT_EQ(run({"report", "a.mkv", "-o", "a.json"}).status, 0);
    const Args kReading[] = {
        {"-j", "2"},
        {"-j2"},
        {"--jobs=3"},
        {"-threads", "2"},
        {"-ss", "0.1"},
        {"-ss", "0"},
        {"-t", "1"},
        {"-to", "2"},
        {"-frames", "3"},
        {"-frames:v", "3"},
        {"-start_number", "4"},
        {"--crop", "8:4:0:0"},
        {"--input-matrix", "709"},
        {"--input-range", "tv"},
        {"-noautorotate"},
        {"--skip-errors"},
    };
    for (const Args& option : kReading) {
        SCOPED_TRACE(option.front());
        Args line = {"report", "--merge", "a.json"};
        line.insert(line.end(), option.begin(), option.end());
        line.insert(line.end(), {"-o", "m.csv"});
        const CliResult r = run(line);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_TRUE(r.oneLine()) << r.err;
        EXPECT_NE(r.err.find("--merge reads reports, not media"), std::string::npos) << r.err;
        EXPECT_EQ(files().count("m.csv"), 0u);
    }
    EXPECT_EQ(run({"report", "--merge", "a.json", "-o", "m.csv"}).status, 0);
}

// Whatever the bytes, a clean refusal: cut short anywhere, garbage, nesting
// deep enough to exhaust a recursive reader, numbers that are no shares.
TEST_F(ReportMerge, BrokenReportsAreRefusedCleanly) {
    ASSERT_EQ(run({"report", "a.mkv", "-o", "good.json"}).status, 0);
    const std::string good = readText("good.json");
    for (size_t cut = 0; cut + 1 < good.size(); cut += good.size() / 37 + 1) {
        SCOPED_TRACE(cut);
        writeText("cut.json", good.substr(0, cut));
        expectRefused({"good.json", "cut.json"}, "not a report kivrel report wrote");
    }
    const std::string shareAt = "\"below16_percent\": ";
    std::string share = good;
    share.replace(share.find(shareAt) + shareAt.size(), 1, "3");  // 3.0000 % of 128 pixels: no count of them
    const std::pair<const char*, std::string> cases[] = {
        {"garbage",
         "\x7F"
         "ELF\x02\x01"},
        {"deep", std::string(1000000, '[')},
        {"not ours", "{\"summary\": 1, \"frames\": []}"},
        {"share", share},
        {"twice", "{\"a\": 1, \"a\": 2}"},
        {"after", good + "x"},
    };
    for (const auto& [name, text] : cases) {
        SCOPED_TRACE(name);
        writeText("broken.json", text);
        expectRefused({"good.json", "broken.json"}, "not a report kivrel report wrote");
    }
}

}  // namespace
