#include "report/report_options.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string_view>
#include <vector>

#include "options/parse.h"

namespace {

constexpr int kMaxJobs = 64;
constexpr std::string_view kStandardInput = "-";  // as an input's name is

Status parseMaxHot(std::string_view value, ReportRules& rules) {
    if (!PercentLimit::parse(value, rules.maxHot))
        return Status::fail("--max-hot: " + quoted(value) + " is not a percentage from 0 to 100");
    return {};
}

Status parseRangeRule(std::string_view value, ReportRules& rules) {
    if (value != "studio" && value != "on" && value != "off")
        return Status::fail("--range-rule: " + quoted(value) + " is not one of on, studio, off");
    rules.studioRange = value != "off";
    return {};
}

Status parseRule(std::string_view value, ReportRules& rules) {
    const RangeRule* rule = namedRangeRule(value);
    if (rule == nullptr) return Status::fail("--rule: " + quoted(value) + " is not one of strict, r103");
    rules.range = *rule;
    return {};
}

bool parseNumber(std::string_view text, double lowest, double highest, double& v) {
    const auto [end, ec] =
        std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::fixed);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size() && std::isfinite(v) &&
           v >= lowest && v <= highest;
}

constexpr double kTopCode = 255.0;  // limits are given in 8-bit terms

// "LO:HI", code values in 8-bit terms.
Status parseCodeRange(const char* option, std::string_view value, CodeLimits& limits) {
    const size_t colon = value.find(':');
    CodeLimits l{true, 0.0, 0.0};
    if (colon == std::string_view::npos || !parseNumber(value.substr(0, colon), 0.0, kTopCode, l.lo) ||
        !parseNumber(value.substr(colon + 1), 0.0, kTopCode, l.hi) || l.lo > l.hi)
        return Status::fail(std::string(option) + ": " + quoted(value) +
                            " is not LO:HI, 8-bit code values from 0 to 255 with LO no more than HI");
    limits = l;
    return {};
}

Status parseArea(std::string_view value, std::optional<PercentLimit>& area) {
    PercentLimit p;
    if (!PercentLimit::parse(value, p))
        return Status::fail("--area: " + quoted(value) + " is not a percentage from 0 to 100");
    area = p;
    return {};
}

Status parseFailOn(std::string_view value, ReportRules& rules) {
    rules.failOnHot = rules.failOnRange = rules.failOnDamaged = false;
    for (size_t begin = 0; begin <= value.size();) {
        const size_t comma = std::min(value.find(',', begin), value.size());
        const std::string_view rule = value.substr(begin, comma - begin);
        if (rule == "hot") {
            rules.failOnHot = true;
        } else if (rule == "range") {
            rules.failOnRange = true;
        } else if (rule == "damaged") {
            rules.failOnDamaged = true;
        } else {
            return Status::fail("--fail-on: " + quoted(value) +
                                " is not a list of rules (hot, range, damaged)");
        }
        begin = comma + 1;
    }
    return {};
}

Status parseForm(std::string_view value, std::string& form) {
    if (value != "csv" && value != "json")
        return Status::fail("-f: " + quoted(value) +
                            " is not one of csv, json (the forms standard output takes)");
    form = value;
    return {};
}

Status parseJobs(std::string_view value, int& jobs) {
    int v = 0;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), v);
    if (value.empty() || ec != std::errc() || end != value.data() + value.size() || v < 1 || v > kMaxJobs)
        return Status::fail("-j: " + quoted(value) + " is not a whole number from 1 to " +
                            std::to_string(kMaxJobs));
    jobs = v;
    return {};
}

// The report's own options, taken out before the rest goes to the render
// command's parser. Each is "--name value", "--name=value" or, for -j, "-jN".
struct OwnOption {
    std::string_view name;
    Status (*apply)(std::string_view value, ReportOptions& o);
};

const OwnOption kOwnOptions[] = {
    {"--max-hot", [](std::string_view v, ReportOptions& o) { return parseMaxHot(v, o.rules); }},
    {"--range-rule", [](std::string_view v, ReportOptions& o) { return parseRangeRule(v, o.rules); }},
    {"--rule", [](std::string_view v, ReportOptions& o) { return parseRule(v, o.rules); }},
    {"--luma-range", [](std::string_view v,
                        ReportOptions& o) { return parseCodeRange("--luma-range", v, o.customRange.luma); }},
    {"--rgb-range", [](std::string_view v,
                       ReportOptions& o) { return parseCodeRange("--rgb-range", v, o.customRange.rgb); }},
    {"--area", [](std::string_view v, ReportOptions& o) { return parseArea(v, o.customRange.area); }},
    {"--fail-on", [](std::string_view v, ReportOptions& o) { return parseFailOn(v, o.rules); }},
    {"--jobs", [](std::string_view v, ReportOptions& o) { return parseJobs(v, o.jobs); }},
    {"-j", [](std::string_view v, ReportOptions& o) { return parseJobs(v, o.jobs); }},
    {"-f", [](std::string_view v, ReportOptions& o) { return parseForm(v, o.form); }},
    {"--files0-from",
     [](std::string_view v, ReportOptions& o) {
         o.inputList = v;
         return Status{};
     }},
};

// The names in `path` (standard input for "-"), each ended by a NUL (the
// last may be left open), as `find -print0` writes them: a name may hold
// any other byte, a newline included.
Status readNameList(const std::string& path, std::vector<std::string>& names) {
    std::string text;
    if (path == kStandardInput) {
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        if (std::cin.bad()) return Status::fail("--files0-from: cannot read standard input");
    } else {
        std::ifstream in(path, std::ios::binary);
        if (!in) return Status::fail("--files0-from: cannot read " + path);
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad()) return Status::fail("--files0-from: cannot read " + path);
    }
    if (!text.empty() && text.back() == '\0') text.pop_back();
    if (text.empty()) return {};
    for (size_t begin = 0; begin <= text.size();) {
        const size_t end = std::min(text.find('\0', begin), text.size());
        if (end == begin)
            return Status::fail(
                "--files0-from: " + (path == kStandardInput ? std::string("standard input") : path) +
                " holds an empty name (each name ends with a NUL byte)");
        names.emplace_back(text, begin, end - begin);
        begin = end + 1;
    }
    return {};
}

}  // namespace

Status parseReportCommandLine(int argc, const char* const* argv, ReportOptions& options, bool& help) {
    options = ReportOptions{};
    help = false;
    std::vector<const char*> rest = {argv[0]};
    bool ended = false;
    bool ruleGiven = false;
    bool jobsGiven = false;
    // -f before an -i names that input's demuxer (-f rawvideo -i x.yuv), as in a render.
    int lastInputFlag = 0;
    for (int i = 1; i < argc && std::string_view(argv[i]) != "--"; ++i)
        if (std::string_view(argv[i]) == "-i") lastInputFlag = i;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "-f" && i < lastInputFlag && i + 1 < argc) {
            rest.push_back(argv[i]);
            rest.push_back(argv[++i]);
            continue;
        }
        if (ended || arg == "--") {
            ended = true;
            rest.push_back(argv[i]);
            continue;
        }
        if (arg == "-h" || arg == "--help") {
            help = true;
            return {};
        }
        if (arg == "--merge") {
            options.merge = true;
            continue;
        }
        if (arg == "--resume") {
            options.resume = true;
            continue;
        }
        const OwnOption* own = nullptr;
        std::string_view value;
        bool inlineValue = false;
        for (const OwnOption& o : kOwnOptions) {
            if (arg == o.name) {
                own = &o;
            } else if (o.name == "-j" && arg.starts_with(o.name)) {
                own = &o;  // -j4
                value = arg.substr(2);
                inlineValue = true;
            } else if (arg.starts_with(o.name) && arg.size() > o.name.size() && arg[o.name.size()] == '=') {
                own = &o;
                value = arg.substr(o.name.size() + 1);
                inlineValue = true;
            }
            if (own != nullptr) break;
        }
        if (own == nullptr) {
            rest.push_back(argv[i]);
            continue;
        }
        if (!inlineValue) {
            if (i + 1 >= argc) return Status::fail(std::string(own->name) + " needs a value");
            value = argv[++i];
        }
        if (Status s = own->apply(value, options); !s.ok()) return s;
        const bool jobs = own->name == "-j" || own->name == "--jobs";
        jobsGiven = jobsGiven || jobs;
        ruleGiven = ruleGiven || (own->name != "-f" && own->name != "--files0-from" && !jobs);
    }
    // Custom limits change the named rule, wherever they stand on the line.
    const ReportOptions::CustomRange& custom = options.customRange;
    if (custom.luma.judged || custom.rgb.judged || custom.area) {
        RangeRule& r = options.rules.range;
        if (custom.luma.judged) r.luma = custom.luma;
        if (custom.rgb.judged) r.rgb = custom.rgb;
        if (custom.area) r.area = *custom.area;
        r.name += "+custom";
    }
    Action action = Action::Run;
    if (Status s = parseCommandLine(static_cast<int>(rest.size()), rest.data(), options.common, action, true);
        !s.ok())
        return s;
    if (action == Action::Help) help = true;
    if (!options.inputList.empty())
        if (Status s = readNameList(options.inputList, options.common.inputs); !s.ok()) return s;
    const Options& o = options.common;
    if (action == Action::Version) return Status::fail("kivrel report takes no --version; kivrel --version");
    if (o.inputs.empty()) return Status::fail("kivrel report needs at least one input file");
    // The reports carry the rules they were judged by: rules given again could only disagree.
    if (options.merge && ruleGiven)
        return Status::fail(
            "--merge takes the rules from the reports: --max-hot, --range-rule, --rule, "
            "--luma-range, --rgb-range, --area and --fail-on do not apply");
    // The reports hold what was read: how to read media has nothing left to act on.
    const bool readingGiven = jobsGiven || o.threads != 0 || !o.start.text.empty() || o.frames ||
                              o.duration || o.endTime || o.inputStartNumber || o.monitor.crop ||
                              !o.demuxerOptions.empty() || !o.inputFormat.empty() || o.inputLevels.matrix ||
                              o.inputLevels.fullRange || o.inputLevels.fields || o.noAutorotate ||
                              o.skipErrors;
    if (options.merge && readingGiven)
        return Status::fail(
            "--merge reads reports, not media: -j, -threads, -ss, -t, -to, -frames, -start_number, the "
            "input's options before -i, --crop, "
            "--input-matrix, --input-range, --field-order, -noautorotate and --skip-errors do not apply");
    if (!o.format.empty() || !o.codec.empty() || !o.pixelFormat.empty() || o.nullOutput ||
        !o.verifyFile.empty() || o.printConfig || o.keepPartial)
        return Status::fail(
            "kivrel report writes a report, not frames: -f, -c:v, -pix_fmt, --null, --verify, "
            "--print-config and --keep-partial do not apply");
    if (o.cardWidth > 0) return Status::fail("kivrel report reads files; --card-size does not apply");
    // --crop is the region every measure covers; the rest only arranges a monitor.
    MonitorRequest drawn = o.monitor;
    drawn.crop.reset();
    if (drawn.wanted())
        return Status::fail(
            "kivrel report measures every frame, it draws no monitor: a list of displays, -d parade, "
            "--layout, --picture-size and --labels do not apply");
    // What a display shows has no bearing on the numbers: such options would be ignored silently.
    bool displayOnly = o.config[kArgMode].has_value() || o.config[kArgWfmGrid].has_value();
    for (int c = kArgLuma; c <= kArgBlue; ++c) displayOnly = displayOnly || o.config[c].has_value();
    if (displayOnly)
        return Status::fail(
            "kivrel report measures the source and the filter's numbers, not one display: -d, --channels "
            "and --grid do not apply");
    if (options.rules.failOnRange && !options.rules.studioRange)
        return Status::fail("--fail-on range needs the range rule; leave out --range-rule off");
    if (!options.form.empty() && o.output != "-")
        return Status::fail("-f " + options.form +
                            " names the form of a report on standard output: -o - -f " + options.form);
    if (o.output == "-" && options.form.empty())
        return Status::fail("-o -: name the form with -f csv or -f json");
    if (!o.output.empty() && o.output != "-" && !o.output.ends_with(".csv") && !o.output.ends_with(".json") &&
        !o.output.ends_with(".html"))
        return Status::fail("-o " + quoted(o.output) + ": name a .csv, .json or .html file");
    // Only a JSON report tells, read back, what it is the report of.
    if (options.resume && (options.merge || !o.output.ends_with(".json") || o.neverOverwrite))
        return Status::fail(
            "--resume keeps a report of media written to a .json file (-o FILE.json), without -n");
    return {};
}

std::string reportHelpText() {
    return R"(Usage: kivrel report INPUT... [-o FILE] [OPTIONS]
       kivrel report --merge REPORT.json... [-o FILE]

Checks whole files for broadcast legality with the filter's own measures:
for every frame the average luma as the histograms show it ("AVD"), the
lowest and highest luma, red, green and blue present, the hot pixels by the
hot pixel scan's test; and, whatever the filter's settings, the source's own
luma code values below 16 and above 235, its Y, Cb, Cr and R, G, B extremes
in its own code values, and its share of pixels outside the range rule
(src_ columns). Then a summary: frames with hot
pixels, frames damaged or lost, the time ranges that break a rule, the worst
frame of each measure, and what was assumed about the input.

  -i INPUT               an input, as FFmpeg spells it; -f, -pix_fmt, -s and
                         -r before the first -i describe every input (a raw
                         file: -f rawvideo -pix_fmt gray -s 720x576 -r 25)
      --files0-from LIST more inputs (or, with --merge, reports) after those
                         given: the names in file LIST, or standard input for
                         -, each ended by a NUL byte, so that any name passes
  -o, --output FILE      .csv (one row per frame), .json ("summary" and
                         "frames") or .html (one page with charts, the
                         offending time ranges and the worst frames); without
                         it, a summary table on standard output
  -y, --overwrite        replace an existing output file
      --resume           keep an output that is already the whole JSON report
                         of these inputs with these rules and settings (a
                         rerun of an archive skips the files done), replace
                         any other
  -f csv|json            with -o -: the form written to standard output
      --max-hot PERCENT  a frame breaks the hot rule when more than PERCENT of
                         its pixels are hot (default 0: any hot pixel);
                         exactly PERCENT passes, one pixel more breaks
      --range-rule on|off  on (default; also "studio"): judge the range rule;
                         off: no such rule
      --rule strict|r103 what the range rule judges, on the source's own
                         Y'CbCr code values at its depth and the R, G, B they
                         make in those code values (unclipped), unmapped
                         whatever the range tag (a full-range file is also
                         named as a finding): strict (default) Y 16-235, Cb and
                         Cr 16-240, any pixel outside breaks; r103 (EBU R 103
                         v3.0) Y and R, G, B 5-246 (10 bits 20-984, 12 bits
                         81-3935), a frame breaks with more than 1 % outside
      --luma-range LO:HI, --rgb-range LO:HI  the rule's Y or R, G, B limits in
                         8-bit terms, scaled to the source's depth
      --area PERCENT     a frame breaks the range rule only with more than
                         PERCENT of its pixels outside (exactly, as --max-hot)
      --fail-on RULES    hot, range, damaged, or a comma-separated list of
                         them: exit with status 3 when any frame of any input
                         breaks one (damaged: a frame damaged or lost, those
                         a cut takes off the end included)
  -j, --jobs N           check N files at once (default 1)
      --crop W:H:X:Y     every measure covers this region only, in the
                         render's syntax; the page outlines it
      --merge            the inputs are JSON reports (one a file, made anywhere
                         by this kivrel with the same rules): write the CSV or
                         JSON one run over their files writes, or the page
                         without pictures, reading no media

Reading, frame selection and settings as for rendering: -ss, -t, -to,
-frames, -start_number, -threads, --input-matrix, --input-range,
--field-order, -noautorotate, --system, --matrix, --range, --gamma,
--max-ire, --script, --module (kivrel --help describes them). A damaged input is read past, as
--skip-errors would (which is taken and changes nothing): each damage is
named on stderr with the last good frame before it, and every form lists
the frames damaged or lost, those a cut takes off the end among them.

Exit status: 0 done (and no rule --fail-on names is broken), 1 an input
could not be read at all, or the output or the module failed, 2 bad command
line, 3 a rule --fail-on names is broken (1 wins over 3), 128 + N ended by
signal N.

Examples:
  kivrel report clip.mp4 -o report.html
  kivrel report *.mxf --fail-on hot,range --max-hot 0.01 -j 2 -o qc.csv
  parallel kivrel report {} -o qc/{}.json ::: a.mxf b.mxf   # then:
  kivrel report --merge qc/a.mxf.json qc/b.mxf.json -o qc.csv
  (docs/archives.md: whole archives, any file name, many machines)
)";
}
