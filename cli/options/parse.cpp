#include "options/parse.h"

#include <cstdio>
#include <string_view>

#include "options/ffmpeg_options.h"
#include "options/option_table.h"
#include "options/option_values.h"
#include "output/output.h"

Status checkEndAfterStart(const Options& options, double startSeconds) {
    if (!options.endTime || *options.endTime > startSeconds) return {};
    std::string at;
    if (!options.start.isTime) at = ", which is at " + formatSeconds(startSeconds) + " s";
    return Status::fail("-to " + formatSeconds(*options.endTime) + " is not after -ss " + options.start.text +
                        at);
}

Status parseCommandLine(int argc, const char* const* argv, Options& options, Action& action,
                        bool manyInputs) {
    options = Options{};
    action = Action::Run;
    bool optionsEnded = false;
    auto addInput = [&options, manyInputs](std::string_view arg) {
        if (!options.input.empty() && !manyInputs)
            return Status::fail("more than one input: " + quoted(options.input) + " and " + quoted(arg));
        if (arg.empty()) return Status::fail("the input file name is empty");
        if (options.input.empty()) options.input = arg;
        options.inputs.emplace_back(arg);
        return Status();
    };
    auto apply = [&options, &action](const OptionEntry& entry, std::string_view value,
                                     std::string_view shown) {
        const std::string_view name = entry.name;
        if (name == "help" || name == "version") {
            action = name == "help" ? Action::Help : Action::Version;
            return Status();
        }
        return applyOption(entry, options, value, shown);
    };

    // FFmpeg's rule: what comes before -i describes that input. The output
    // options that may mean the input (-f, -pix_fmt, -start_number) move to
    // it there; the input's own (-s, -r ...) wait in `pending` until then.
    std::vector<DemuxerOption> pending;
    bool inputFlagSeen = false;
    auto takeInputFlag = [&](std::string_view file) {
        const bool described = !options.format.empty() || !options.pixelFormat.empty() ||
                               options.startNumber.has_value() || !pending.empty();
        if (inputFlagSeen && described)
            return Status::fail(
                "options before a second -i: every input is read alike; give -f, -pix_fmt, -s, -r and "
                "-start_number once, before the first -i");
        inputFlagSeen = true;
        if (!options.format.empty()) options.inputFormat = std::exchange(options.format, {});
        if (!options.pixelFormat.empty())
            pending.push_back({"pixel_format", std::exchange(options.pixelFormat, {}), "-pix_fmt"});
        if (options.startNumber) options.inputStartNumber = std::exchange(options.startNumber, std::nullopt);
        for (DemuxerOption& o : pending) {
            if (Status s = checkDemuxerValue(o); !s.ok()) return s;
            options.demuxerOptions.push_back(std::move(o));
        }
        pending.clear();
        return addInput(file);
    };

    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (!optionsEnded && arg == kInputFlag) {
            if (i + 1 >= argc) return Status::fail("-i needs a value");
            if (Status s = takeInputFlag(argv[++i]); !s.ok()) return s;
            continue;
        }
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            if (Status s = addInput(arg); !s.ok()) return s;
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg[1] == '-') {
            std::string_view name = arg.substr(2);
            std::optional<std::string_view> value;
            if (const size_t eq = name.find('='); eq != std::string_view::npos) {
                value = name.substr(eq + 1);
                name = name.substr(0, eq);
            }
            const OptionEntry* entry = findLong(name, Dashes::Two);
            std::string_view switchValue = "on";
            if (entry == nullptr && name.substr(0, 3) == "no-") {
                entry = findLong(name.substr(3), Dashes::Two);
                if (entry != nullptr && entry->arg != Arg::Switch) entry = nullptr;
                if (entry != nullptr && value)
                    return Status::fail("--" + std::string(name) + " takes no value");
                switchValue = "off";
            }
            if (entry == nullptr) return Status::fail("unknown option " + quoted(arg));
            const std::string shown = "--" + std::string(entry->name);
            switch (entry->arg) {
            case Arg::None:
                if (value) return Status::fail(shown + " takes no value");
                break;
            case Arg::Switch:
                if (!value) value = switchValue;
                break;
            case Arg::Required:
                if (!value) {
                    if (i + 1 >= argc) return Status::fail(shown + " needs a value");
                    value = argv[++i];
                }
                break;
            }
            if (Status s = apply(*entry, value.value_or(""), shown); !s.ok()) return s;
            continue;
        }
        // FFmpeg's own spelling, one dash and a word, perhaps with a stream
        // specifier ("-frames:v"): the value is the next argument.
        const std::string_view word = arg.substr(1);
        const size_t colon = word.find(':');
        const std::string_view base = word.substr(0, colon);
        const OptionEntry* entry = findLong(base, Dashes::One);
        const Refusal* refusal = entry == nullptr ? findRefusal(base) : nullptr;
        if (const InputOnly* in = findInputOnly(base); in != nullptr) {
            if (colon != std::string_view::npos)
                if (Status s = checkSpecifier(arg, word.substr(colon + 1), true); !s.ok()) return s;
            if (!inputFlagSeen) {
                if (i + 1 >= argc) return Status::fail(std::string(arg) + " needs a value");
                pending.push_back({in->key, argv[++i], std::string(arg)});
                continue;
            }
            if (refusal == nullptr)
                return Status::fail(std::string(arg) + ": it describes the input: give it before -i FILE");
        }
        if (colon != std::string_view::npos && (entry != nullptr || refusal != nullptr))
            if (Status s = checkSpecifier(arg, word.substr(colon + 1), entry == nullptr || entry->perStream);
                !s.ok())
                return s;
        if (refusal != nullptr) return Status::fail(std::string(arg) + ": " + std::string(refusal->why));
        if (entry != nullptr) {
            const std::string shown(arg);
            std::string_view value = "on";
            if (entry->arg == Arg::Required) {
                if (i + 1 >= argc) return Status::fail(shown + " needs a value");
                value = argv[++i];
            }
            if (Status s = apply(*entry, value, shown); !s.ok()) return s;
            continue;
        }
        // Short options: flags may be grouped ("-yq"); a value may follow
        // directly ("-dvideo") or as the next argument.
        for (size_t k = 1; k < arg.size(); ++k) {
            const OptionEntry* entry = findShort(arg[k]);
            // The word is named too: "-hide_banner" is not "-h" and an unknown "-i".
            if (entry == nullptr && k == 1) return Status::fail("unknown option " + quoted(arg));
            if (entry == nullptr)
                return Status::fail("unknown option " + quoted("-" + std::string(1, arg[k])) + " in " +
                                    quoted(arg));
            const std::string shown = "-" + std::string(1, arg[k]);
            if (entry->arg != Arg::Required) {
                if (Status s = apply(*entry, "on", shown); !s.ok()) return s;
                continue;
            }
            std::string_view value = arg.substr(k + 1);
            if (!value.empty() && !entry->joinedValue) return Status::fail("unknown option " + quoted(arg));
            if (value.empty()) {
                if (i + 1 >= argc) return Status::fail(shown + " needs a value");
                value = argv[++i];
            }
            if (Status s = apply(*entry, value, shown); !s.ok()) return s;
            break;
        }
    }
    if (!pending.empty()) {
        const std::string shown = pending.front().shown;
        const std::string name = shown.substr(1, shown.find(':') - 1);
        const Refusal* refusal = findRefusal(name);
        return Status::fail(shown + ": " +
                            (refusal != nullptr ? std::string(refusal->why) + "; before " : "") +
                            (refusal != nullptr ? "-i FILE it describes a raw input"
                                                : "it describes the input: give it before -i FILE"));
    }
    if (!inputFlagSeen) options.inputStartNumber = options.startNumber;  // a positional input: both
    if (options.overwrite && options.neverOverwrite) return Status::fail("-y and -n cannot go together");
    if (options.duration && options.endTime) return Status::fail("-t and -to cannot go together");
    if (options.start.isTime)
        if (Status s = checkEndAfterStart(options, options.start.seconds); !s.ok()) return s;
    if (options.nullOutput && !options.output.empty())
        return Status::fail("--null and --output cannot go together");
    if (!options.format.empty()) {
        const OutputFormat* format = nullptr;
        std::string muxer;
        if (Status s = outputFormatByName(options.format, format, muxer); !s.ok()) return s;
        if (options.nullOutput && format->name != kNullOutputName)
            return Status::fail("--null and -f " + options.format + " cannot go together");
        if (format->name == kNullOutputName && !options.output.empty())
            return Status::fail("-f null writes nothing: leave out -o");
    }
    if (!options.input.empty() && options.cardWidth > 0)
        return Status::fail("--card-size is for the built-in test card, not for " + quoted(options.input));
    return {};
}

bool hasConfigOverrides(const Options& options) {
    for (const auto& v : options.config)
        if (v) return true;
    return false;
}

void applyConfigOverrides(const Options& options, ConfigArgs& args) {
    for (size_t i = 0; i < args.size(); ++i)
        if (options.config[i]) args[i] = *options.config[i];
}
