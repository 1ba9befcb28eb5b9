// kivrel report --merge: per-file reports made apart (here by GNU parallel,
// running the recipe docs/archives.md prints) merge into the very CSV and JSON
// one run writes, and reports that do not belong together, or are not
// reports, are refused.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

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
    // An archive of awkward names: two inputs of one name in two folders
    // (their reports must not meet), quotes, spaces, a leading dash, a
    // newline, two names that are not UTF-8 and differ only where U+FFFD
    // shows them, and a file that is no video.
    ASSERT_TRUE(
        shell("mkdir -p archive/one archive/two && cp a.mkv archive/one/a.mxf && "
              "cp b.mkv archive/two/a.mxf && cp a.mkv \"archive/two/it's a \\\"tape\\\".mxf\" && "
              "cp b.mkv 'archive/-lead dash.mxf' && cp a.mkv \"$(printf 'archive/new\\nline.mxf')\" && "
              "cp bad.mkv archive/bad.mxf && cp a.mkv \"$(printf 'archive/caf\\351.mxf')\" && "
              "cp b.mkv \"$(printf 'archive/caf\\350.mxf')\""));
    // The recipe as docs/archives.md prints it (its first shell block), run
    // from the archive's root with this build's kivrel first on the PATH.
    std::ifstream doc(KIVREL_DOCS_DIR "/archives.md");
    ASSERT_TRUE(doc) << KIVREL_DOCS_DIR "/archives.md";
    std::string recipe, line;
    bool inBlock = false;
    while (std::getline(doc, line)) {
        if (!inBlock && line == "```sh") {
            inBlock = true;
        } else if (inBlock && line == "```") {
            break;
        } else if (inBlock && !line.starts_with("cd ")) {
            recipe += line + "\n";
        }
    }
    ASSERT_NE(recipe.find("parallel -0"), std::string::npos) << recipe;
    writeText("recipe.sh", recipe);
    const std::string bin = kivrel.substr(0, kivrel.rfind('/'));
    // Its status is the merge's: 1, as a file is unreadable.
    EXPECT_FALSE(shell("cd archive && PATH='" + bin + "':\"$PATH\" bash ../recipe.sh 2>/dev/null"));
    // One run over the same names in the same order.
    EXPECT_FALSE(
        shell("cd archive && find . -type f -name '*.mxf' -print0 | LC_ALL=C sort -z | "
              "xargs -0 -x " +
              kivrel + " report --rule r103 -o ../single.csv 2>/dev/null"));
    EXPECT_FALSE(
        shell("cd archive && find . -type f -name '*.mxf' -print0 | LC_ALL=C sort -z | "
              "xargs -0 -x " +
              kivrel + " report --rule r103 -o ../single.json 2>/dev/null"));
    ASSERT_TRUE(
        shell("cd archive && find . -type f -name '*.mxf' -print0 | LC_ALL=C sort -z | "
              "sed -z 's|^|qc/|; s|$|.json|' > ../reports.list"));
    const std::string archive = path("archive");
    for (const char* out : {"merged.json", "merged.html"}) {
        SCOPED_TRACE(out);
        const CliResult r = runKivrel(
            {"report", "--merge", "--files0-from", "../reports.list", "-o", std::string("../") + out},
            archive);
        EXPECT_EQ(r.status, 1) << r.err;  // as the single run: a file was unreadable
    }
    EXPECT_EQ(readText("archive/archive.csv"), readText("single.csv"));
    EXPECT_EQ(readText("merged.json"), readText("single.json"));
    EXPECT_NE(readText("single.csv").find("new\nline.mxf"), std::string::npos);
    // Each JSON frame ends with its timecode, the CSV row's text (none: null).
    EXPECT_EQ(
        std::system(("/usr/bin/python3 - " + dir_ +
                     " <<'EOF'\n"
                     "import csv, json, sys\n"
                     "d = sys.argv[1]\n"
                     "rows = [r for r in csv.DictReader(open(d + '/single.csv', newline='')) if r['frame'] "
                     "and not r['missing']]\n"
                     "frames = json.load(open(d + '/single.json'))['frames']\n"
                     "assert len(rows) == len(frames) > 0\n"
                     "for r, f in zip(rows, frames):\n"
                     "    assert list(f)[-1] == 'timecode', list(f)\n"
                     "    assert (f['timecode'] or '') == r['timecode'], (f, r['timecode'])\n"
                     "one = [r['timecode'] for r in rows if r['input'] == './one/a.mxf']\n"
                     "assert one == ['01:00:59:0%d' % n for n in range(5, 10)], one\n"
                     "assert {r['timecode'] for r in rows if r['input'] == './two/a.mxf'} == {''}\n"
                     "assert {r['input'] for r in rows} == {'./one/a.mxf', './two/a.mxf', "
                     "'./two/it\\'s a \"tape\".mxf', './-lead dash.mxf', './new\\nline.mxf', "
                     "'./caf\\ufffd.mxf'}, rows\n"
                     "EOF")
                        .c_str()),
        0);
    const std::string page = readText("merged.html");
    EXPECT_NE(page.find("unreadable"), std::string::npos);
    EXPECT_NE(page.find("<svg"), std::string::npos);  // the charts, from the frames' numbers
    // The overview (codecs, sizes, checksums, worst frames) as the single run's page has it.
    EXPECT_FALSE(
        shell("cd archive && find . -type f -name '*.mxf' -print0 | LC_ALL=C sort -z | "
              "xargs -0 -x " +
              kivrel + " report --rule r103 -o ../single.html 2>/dev/null"));
    const auto overviewOf = [](const std::string& html) {
        const size_t from = html.find("<table id=\"overview\""), to = html.find("</table>", from);
        return from == std::string::npos ? std::string() : html.substr(from, to - from);
    };
    EXPECT_NE(overviewOf(page), "");
    EXPECT_EQ(overviewOf(page), overviewOf(readText("single.html")));

    // Every file read: the status is the rule's, as a run's would be.
    const CliResult read =
        runKivrel({"report", "--merge", "qc/./one/a.mxf.json", "qc/./two/a.mxf.json"}, archive);
    EXPECT_EQ(read.status,
              runKivrel({"report", "./one/a.mxf", "./two/a.mxf", "--rule", "r103"}, archive).status);
    EXPECT_NE(read.out.find("overall:"), std::string::npos) << read.out;
    // A rerun keeps the reports already whole and redoes one cut short.
    const std::string cut = "archive/qc/./two/a.mxf.json";
    const std::string whole = readText(cut);
    writeText(cut, whole.substr(0, whole.size() / 2));
    EXPECT_FALSE(shell("cd archive && PATH='" + bin + "':\"$PATH\" bash ../recipe.sh 2>../rerun.err"));
    EXPECT_EQ(readText(cut), whole);
    const std::string rerun = readText("rerun.err");
    size_t kept = 0;
    for (size_t at = rerun.find("kept (--resume)"); at != std::string::npos;
         at = rerun.find("kept (--resume)", at + 1))
        ++kept;
    EXPECT_EQ(kept, 7u) << rerun;  // all but the cut one, and the unreadable file's report among them
    EXPECT_EQ(readText("archive/archive.csv"), readText("single.csv"));
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
    // Numbers measured with other settings, from the command line or from
    // another machine's saved defaults, are not the same numbers.
    ASSERT_EQ(run({"report", "b.mkv", "--rule", "r103", "--max-ire", "120", "-o", "ire.json"}).status, 0);
    expectRefused({"r103.json", "ire.json"},
                  "measured with other settings than r103.json (max_ire 120, not 110)");
    ASSERT_EQ(run({"report", "b.mkv", "--rule", "r103", "--matrix", "709", "-o", "709.json"}).status, 0);
    expectRefused({"r103.json", "709.json"}, "(matrix 709, not source)");
    ASSERT_TRUE(shell("KIVREL_REGISTRY=$PWD/pal.store " + std::string(KIVREL_CLI_EXE) +
                      " defaults --system pal 2>/dev/null && KIVREL_REGISTRY=$PWD/pal.store " KIVREL_CLI_EXE
                      " report b.mkv --rule r103 -o pal.json 2>/dev/null"));
    expectRefused({"r103.json", "pal.json"}, "(system PAL, not NTSC)");
    // A region measured is another set of numbers too.
    ASSERT_EQ(run({"report", "b.mkv", "--rule", "r103", "--crop", "4:4", "-o", "crop.json"}).status, 0);
    expectRefused({"r103.json", "crop.json"}, "(crop 4:4, not the whole picture)");
    // One input twice, under the same report's name or a copy's, would count its frames twice.
    ASSERT_TRUE(shell("cp r103.json copy.json"));
    expectRefused({"r103.json", "r103.json"}, "reports 'a.mkv' again, as r103.json does");
    expectRefused({"r103.json", "copy.json"}, "reports 'a.mkv' again, as r103.json does");
    // A list with an empty name in it is no list of names.
    writeText("empty.list", std::string("r103.json\0\0copy.json", 20));
    const CliResult empty = run({"report", "--merge", "--files0-from", "empty.list"});
    EXPECT_EQ(empty.status, 2) << empty.err;
    EXPECT_NE(empty.err.find("empty.list holds an empty name"), std::string::npos) << empty.err;
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
