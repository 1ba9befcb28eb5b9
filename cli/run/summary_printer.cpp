#include "run/summary_printer.h"

#include <cstdio>

namespace {

std::string rate(int64_t frames, double seconds) {
    char buf[32];
    if (seconds <= 0.0)
        std::snprintf(buf, sizeof buf, "-");
    else
        std::snprintf(buf, sizeof buf, "%.1f fps", static_cast<double>(frames) / seconds);
    return buf;
}

}  // namespace

void printSummary(const Summary& out, const RunCounts& n, double seconds, const Timing& t) {
    const int64_t frames = n.frames;
    std::string line = out.destination.empty() ? "" : "wrote " + out.destination + ": ";
    line += std::to_string(frames) + (frames == 1 ? " frame " : " frames ") + std::to_string(out.w) + "x" +
            std::to_string(out.h);
    char total[64];
    std::snprintf(total, sizeof total, " in %.2f s (%s)", seconds, rate(frames, seconds).c_str());
    line += total;
    line += "; filter " + rate(frames, t.filter) + ", decode " + rate(frames, t.decode);
    if (out.encoded) line += ", encode " + rate(frames, t.encode);
    if (n.damaged()) {
        std::string what;
        if (n.skipped > 0)
            what = "left out " + std::to_string(n.skipped) + " damaged frame" + (n.skipped == 1 ? "" : "s");
        if (n.cutShort)
            what += (what.empty() ? "" : ", ") + std::string("cut short") +
                    (n.cutAfter.empty() ? "" : " after " + n.cutAfter);
        line += "; the input is damaged: " + what;
    }
    if (!out.source.empty()) line += "; read as " + out.source;
    if (!out.alphaFormat.empty()) line += "; its alpha (" + out.alphaFormat + ") is ignored";
    if (!out.verified.empty()) line += "; every frame matches " + out.verified;
    std::fprintf(stderr, "kivrel: %s\n", line.c_str());
}

Summary summaryOf(const Writer& writer, const OutputFormat& format, const Verifier* verifier,
                  const FrameBuffer& shown, const SourceInfo& info) {
    Summary out;
    out.destination = writer.destination();
    out.verified = verifier != nullptr ? verifier->path() : "";
    out.w = shown.w();
    out.h = shown.h();
    out.encoded = format.name != kNullOutputName;
    out.source = describeLevels(info.levels);
    out.alphaFormat = info.alphaFormat;
    return out;
}
