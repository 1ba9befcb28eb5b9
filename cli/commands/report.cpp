#include "commands/commands.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "os/av_support.h"
#include "os/paths.h"
#include "os/signals.h"
#include "output/pending_file.h"
#include "report/check_file.h"
#include "report/report_merge.h"
#include "report/report_options.h"
#include "report/report_writers.h"
#include "run/module.h"
#include "vocabulary.h"

namespace {

Status writeReport(const ReportOptions& options, const std::vector<FileReport>& files) {
    const std::string& path = options.common.output;
    const ReportForm form = reportFormOf(options);
    const std::string text = form == ReportForm::Csv    ? csvText(files)
                             : form == ReportForm::Json ? jsonText(options, files)
                                                        : htmlText(options, files);
    if (path == kStandardOutput) {
        const bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
        return std::fflush(stdout) == 0 && written
                   ? Status{}
                   : Status::fail("cannot write the report to standard output");
    }
    WriterSettings ws;
    ws.overwrite = options.common.overwrite || options.resume;
    PendingFile file;
    if (Status s = file.create(path, ws); !s.ok()) return s;
    std::FILE* out = std::fopen(file.temp().c_str(), "wb");
    if (out == nullptr) return Status::fail("cannot write " + path);
    const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    if (std::fclose(out) != 0 || !written) return Status::fail("cannot write " + path + " (disk full?)");
    return file.commit();
}

// The status `files` make: 1 when a file could not be read, else 3 when a
// rule --fail-on names is broken.
int statusOf(const ReportOptions& options, const std::vector<FileReport>& files) {
    for (const FileReport& f : files)
        if (!f.error.empty()) return kExitFailure;
    return failsDelivery(options.rules, files) ? kExitRuleBroken : kExitOk;
}

// The report in the form asked for, and the run's status: 1 when a file
// could not be read, else 3 when a rule --fail-on names is broken.
int finishReport(const ReportOptions& options, const std::vector<FileReport>& files) {
    if (options.common.output.empty()) {
        std::fputs(summaryTable(options, files).c_str(), stdout);
    } else if (Status s = writeReport(options, files); !s.ok()) {
        logLine(s.message());
        return kExitFailure;
    }
    return statusOf(options, files);
}

// --resume: whether the output is already the report this run would write
// (its inputs in order, its rules, its settings), read back whole.
bool alreadyReported(const ReportOptions& options, int& status) {
    const std::string& path = options.common.output;
    if (::access(path.c_str(), F_OK) != 0) return false;
    ReportRules rules;
    MeasureSettings settings;
    std::vector<FileReport> files;
    if (!mergeReports({path}, rules, settings, files).ok()) return false;  // cut short, or not ours: redone
    if (rulesText(rules) != rulesText(options.rules) ||
        !settingsDifference(settings, options.settings).empty() ||
        files.size() != options.common.inputs.size())
        return false;
    for (size_t i = 0; i < files.size(); ++i)
        if (files[i].input != options.common.inputs[i]) return false;
    status = statusOf(options, files);
    return true;
}

// --merge: the files' own reports, made on any machine, read back; no media.
int mergeReportsCommand(ReportOptions& options) {
    std::vector<FileReport> files;
    if (Status s = mergeReports(options.common.inputs, options.rules, options.settings, files); !s.ok()) {
        logLine(s.message());
        return kExitFailure;
    }
    return finishReport(options, files);
}

}  // namespace

int runReportCommand(int argc, char** argv) {
    ReportOptions options;
    bool help = false;
    if (Status s = parseReportCommandLine(argc, argv, options, help); !s.ok()) {
        logLine(s.message() + " (kivrel report --help lists the options)");
        return kExitUsage;
    }
    if (help) {
        std::fputs(reportHelpText().c_str(), stdout);
        return kExitOk;
    }
    installSignalHandlers();
    routeLibraryLog(options.common.logLevel);
    const Options& common = options.common;
    if (!common.output.empty() && common.output != kStandardOutput) {
        // Before any file is read: a taken name should not cost a whole pass.
        WriterSettings ws;
        ws.overwrite = common.overwrite || options.resume;
        if (Status s = checkOutputName(common.output, ws); !s.ok()) {
            logLine(s.message());
            return kExitFailure;
        }
    }
    if (options.merge) return mergeReportsCommand(options);
    std::unique_ptr<FilterModuleHost> module;
    if (Status s = loadModule(common, module); !s.ok()) {
        logLine(s.message());
        return kExitFailure;
    }
    const size_t n = common.inputs.size();
    std::vector<FileReport> files(n);
    std::vector<FileInstances> instances(n);
    for (size_t i = 0; i < n; ++i) {
        files[i].input = common.inputs[i];
        if (Status s = setUpInstances(*module, common, instances[i]); !s.ok()) {
            logLine(s.message());
            return kExitFailure;
        }
    }
    // Every file's instances start alike: the first tells what shapes the numbers.
    if (Status s = measureSettingsOf(*instances[0].waveform, instances[0].maxIre, common, options.settings);
        !s.ok()) {
        logLine(s.message());
        return kExitFailure;
    }
    if (int status = 0; options.resume && alreadyReported(options, status)) {
        if (!common.quiet) logLine(common.output + " is already the whole report; kept (--resume)");
        return status;
    }
    std::vector<Status> results(n);
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i = next++; i < n; i = next++) results[i] = checkFile(options, instances[i], files[i]);
    };
    std::vector<std::thread> workers;
    const size_t jobs = std::min<size_t>(n, static_cast<size_t>(options.jobs));
    for (size_t j = 1; j < jobs; ++j) workers.emplace_back(work);
    work();
    for (std::thread& t : workers) t.join();
    if (const int sig = pendingSignal(); sig != 0) {
        logLine(interruptedBy(sig) + "; nothing written");
        return exitStatusForSignal(sig);
    }
    // A file that cannot be read gets its own row, and the others their verdicts.
    for (size_t i = 0; i < n; ++i)
        if (!results[i].ok()) {
            logLine(results[i].message());
            files[i].error = results[i].message();
            files[i].frames.clear();
        }
    return finishReport(options, files);
}
