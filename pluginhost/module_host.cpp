#include "pluginhost/module_host.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "pluginhost/script_call.h"

namespace {

// Beyond these a module's numbers are a fault, not a request to honour.
constexpr int kMaxInstanceBytes = 64 << 20;
constexpr int32_t kMaxFrameSide = 32768;
constexpr ptrdiff_t kMaxFrameBytes = ptrdiff_t{1} << 30;
constexpr size_t kLabelBufferSize = 256;  // far more than any label
constexpr char kGuardByte = '\x7F';       // fills the bytes past fssProc's buffer
constexpr size_t kGuardBytes = 16;

std::string filterName(const sdk::FilterDefinition& f) {
    return f.name != nullptr ? f.name : "(unnamed filter)";
}

}  // namespace

// --- the module -------------------------------------------------------------

std::unique_ptr<FilterModuleHost> FilterModuleHost::load(const std::string& path, Status& error) {
    std::unique_ptr<FilterModuleHost> host(new FilterModuleHost);
    host->path_ = path;
    if (Status s = host->library_.open(path); !s.ok()) {
        error = s;
        return nullptr;
    }
    ModuleEntryPoints entry;
    entry.init = reinterpret_cast<sdk::ModuleInitProc>(host->library_.symbol(sdk::kModuleInitName));
    entry.deinit = reinterpret_cast<sdk::ModuleDeinitProc>(host->library_.symbol(sdk::kModuleDeinitName));
    if (entry.init == nullptr || entry.deinit == nullptr) {
        error = Status::fail(path + " is not a filter module: it does not export " +
                             (entry.init == nullptr ? sdk::kModuleInitName : sdk::kModuleDeinitName));
        return nullptr;
    }
    if (Status s = host->start(entry); !s.ok()) {
        error = s;
        return nullptr;
    }
    return host;
}

std::unique_ptr<FilterModuleHost> FilterModuleHost::open(ModuleEntryPoints entry, const std::string& where,
                                                         Status& error) {
    std::unique_ptr<FilterModuleHost> host(new FilterModuleHost);
    host->path_ = where;
    if (Status s = host->start(entry); !s.ok()) {
        error = s;
        return nullptr;
    }
    return host;
}

Status FilterModuleHost::start(ModuleEntryPoints entry) {
    const std::string where = "module " + path_;
    deinit_ = entry.deinit;
    functions_.addFilter = addFilter;
    functions_.removeFilter = removeFilter;
    // In: what this host speaks. Out: what the module was built for.
    version_ = kHostInterfaceVersion;
    compatVersion_ = kHostOldestInterface;
    const int result =
        entry.init(reinterpret_cast<sdk::FilterModule*>(this), &functions_, version_, compatVersion_);
    if (result != 0)
        return Status::fail(where + " failed to register its filter (" + sdk::kModuleInitName + " returned " +
                            std::to_string(result) + ")");
    initialised_ = true;

    if (compatVersion_ > kHostInterfaceVersion || version_ < kHostOldestInterface)
        return Status::fail(where + " is built for filter interface version " + std::to_string(version_) +
                            " (compatible down to " + std::to_string(compatVersion_) +
                            "); this host offers versions " + std::to_string(kHostOldestInterface) + " to " +
                            std::to_string(kHostInterfaceVersion));
    if (registrations_ == 0) return Status::fail(where + " registered no filter");
    const sdk::FilterDefinition& f = filter_;
    if (f.inst_data_size.value < 0 || f.inst_data_size.value > kMaxInstanceBytes)
        return Status::fail(where + ": filter " + filterName(f) + " declares an instance record of " +
                            std::to_string(f.inst_data_size.value) + " bytes");
    if (f.runProc == nullptr) return Status::fail(where + ": filter " + filterName(f) + " has no runProc");
    return {};
}

FilterModuleHost::~FilterModuleHost() {
    // The library itself is closed after this, as its member.
    if (initialised_ && deinit_ != nullptr) deinit_(reinterpret_cast<sdk::FilterModule*>(this), &functions_);
}

sdk::FilterDefinition* KV_CDECL FilterModuleHost::addFilter(sdk::FilterModule* module,
                                                            sdk::FilterDefinition* def, int size) {
    auto* host = reinterpret_cast<FilterModuleHost*>(module);
    // One filter per run: a module offering more has its first one hosted.
    if (def == nullptr || size <= 0 || host->registrations_++ > 0) return nullptr;
    host->registeredSize_ = size;
    // An older module's record is shorter: what it lacks stays empty.
    std::memcpy(&host->filter_, def, std::min(static_cast<size_t>(size), sizeof host->filter_));
    host->filter_.next = nullptr;
    host->filter_.prev = nullptr;
    host->filter_.module = module;
    return &host->filter_;
}

// The copy lives as long as the host; there is no list to take it out of.
void KV_CDECL FilterModuleHost::removeFilter(sdk::FilterDefinition* def) {
    if (def == nullptr || def->module == nullptr) return;
    reinterpret_cast<FilterModuleHost*>(def->module)->removed_ = true;
}

// --- one instance -----------------------------------------------------------

FilterInstance::FilterInstance(const FilterModuleHost& module, InstanceLayout layout)
    : module_(module), filter_(module.filter()), layout_(layout) {}

FilterInstance::~FilterInstance() {
    if (started_) (void)end();
    if (initialised_ && filter_.deinitProc != nullptr) filter_.deinitProc(&fa_, module_.functions());
}

std::string FilterInstance::name() const { return filterName(filter_); }

Status FilterInstance::init() {
    const size_t bytes = static_cast<size_t>(filter_.inst_data_size.value);
    record_.assign(std::max<size_t>(1, (bytes + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t)),
                   std::max_align_t{});
    std::memset(record_.data(), layout_.recordFill, record_.size() * sizeof(std::max_align_t));
    fa_.filter = &filter_;
    fa_.filter_data = record_.data();
    fa_.src = &srcBitmap_;
    fa_.dst = &dstBitmap_;
    lastResult_ = 0;
    if (filter_.initProc != nullptr) {
        lastResult_ = filter_.initProc(&fa_, module_.functions());
        if (lastResult_ != 0)
            return Status::fail("filter " + name() + " could not start an instance (initProc returned " +
                                std::to_string(lastResult_) + ")");
    }
    initialised_ = true;
    return {};
}

Status FilterInstance::callScript(std::string_view function, std::span<const int> args) {
    const sdk::CScriptObject* obj = filter_.script_obj;
    const sdk::ScriptFunctionDef* fn = obj != nullptr ? obj->func_list : nullptr;
    while (fn != nullptr && fn->func_ptr != nullptr && (fn->name == nullptr || function != fn->name)) ++fn;
    const std::string called(function);
    if (fn == nullptr || fn->func_ptr == nullptr)
        return Status::fail("filter " + name() + " has no script function " + quoted(function));

    // The argument list: the result type, then one letter per argument.
    const std::string_view types = fn->arg_list != nullptr && fn->arg_list[0] != 0 ? fn->arg_list + 1 : "";
    if (types.find_first_not_of('i') != std::string_view::npos)
        return Status::fail("script function " + called + " of filter " + name() +
                            " takes arguments other than integers, which this host does not pass");
    if (types.size() != args.size())
        return Status::fail(called + " takes " + std::to_string(types.size()) + " integers, the line has " +
                            std::to_string(args.size()));
    std::vector<sdk::CScriptValue> argv(args.size());
    for (size_t i = 0; i < argv.size(); ++i) {
        argv[i].type = sdk::kScriptTypeInt;
        argv[i].u.i = args[i];
    }
    // The interpreter is the host's own object; this host offers none.
    fn->func_ptr(nullptr, &fa_, argv.data(), static_cast<int>(argv.size()));
    return {};
}

Status FilterInstance::runScriptLine(std::string_view line) {
    ScriptCall call;
    switch (parseScriptCall(line, call)) {
    case LineKind::Blank: return {};
    case LineKind::Other: return Status::fail("not a script call: " + quoted(line));
    case LineKind::Call: break;
    }
    std::vector<int> args(call.args.size());
    for (size_t i = 0; i < args.size(); ++i) {
        if (!parseScriptInt(call.args[i], args[i]))
            return Status::fail("argument " + std::to_string(i + 1) + " of " + call.function +
                                " is not an integer: " + quoted(call.args[i]));
    }
    return callScript(call.function, args);
}

Status FilterInstance::runScriptFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) return Status::fail("cannot read script " + path + ": " + std::strerror(errno));
    return runScript(in, path);
}

Status FilterInstance::runScript(std::istream& in, const std::string& path) {
    std::string line;
    int lineNumber = 0, configLines = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        ScriptCall call;
        const LineKind kind = parseScriptCall(line, call);
        const bool isConfig = kind == LineKind::Call && call.function == kConfigFunction;
        const std::string where = path + ":" + std::to_string(lineNumber) + ": ";
        if (!isConfig) {
            // Saved scripts hold the editor's other commands too; skip those,
            // but not a Config line that we cannot read.
            if (line.find(std::string(kConfigFunction) + "(") != std::string::npos)
                return Status::fail(where + "cannot read this " + std::string(kConfigFunction) + " line");
            continue;
        }
        if (Status s = runScriptLine(line); !s.ok()) return Status::fail(where + s.message());
        ++configLines;
    }
    if (in.bad()) return Status::fail("cannot read script " + path + ": " + std::strerror(errno));
    if (configLines == 0)
        return Status::fail("script " + path + " holds no " + std::string(kConfigFunction) + " line");
    return {};
}

std::string FilterInstance::labelText(char fill) {
    char buf[kLabelBufferSize];
    std::memset(buf, fill, sizeof buf - 1);
    buf[sizeof buf - 1] = 0;
    if (filter_.stringProc != nullptr) filter_.stringProc(&fa_, module_.functions(), buf);
    buf[sizeof buf - 1] = 0;
    return buf;
}

std::string FilterInstance::label() { return name() + labelText(); }

Status FilterInstance::scriptLine(std::string& line, int size) {
    line.clear();
    if (filter_.fssProc == nullptr) return {};
    // Guard bytes past the declared size show any write beyond it.
    std::vector<char> buf(static_cast<size_t>(std::max(size, 0)) + kGuardBytes, kGuardByte);
    buf.back() = 0;
    const bool saved = filter_.fssProc(&fa_, module_.functions(), buf.data(), size);
    lastResult_ = saved ? 1 : 0;
    for (size_t i = static_cast<size_t>(std::max(size, 0)); i + 1 < buf.size(); ++i)
        if (buf[i] != kGuardByte) return Status::fail("filter " + name() + " wrote past fssProc's buffer");
    if (!saved || size <= 0) return {};
    buf[static_cast<size_t>(size) - 1] = 0;
    line = buf.data();
    return {};
}

std::string FilterInstance::scriptLine() {
    std::string line;
    if (!scriptLine(line).ok()) line.clear();
    return line;
}

Status FilterInstance::prepare(int32_t w, int32_t h, int32_t padPixels, int32_t outputPad) {
    source_ = FrameBuffer(w, h, kBytesPerPixel * (static_cast<ptrdiff_t>(w) + padPixels));
    source_.describe(srcBitmap_);
    // The output as the host presents it to paramProc: the source's geometry.
    dstBitmap_ = {};
    dstBitmap_.depth = 32;
    dstBitmap_.w = w;
    dstBitmap_.h = h;
    dstBitmap_.pitch = srcBitmap_.pitch;
    lastResult_ = filter_.paramProc != nullptr ? filter_.paramProc(&fa_, module_.functions())
                                               : sdk::kFilterParamSwapBuffers;
    if (lastResult_ != sdk::kFilterParamSwapBuffers)
        return Status::fail("filter " + name() + " cannot process a " + std::to_string(w) + "x" +
                            std::to_string(h) + " frame (paramProc returned " + std::to_string(lastResult_) +
                            ")");
    const int32_t ow = dstBitmap_.w, oh = dstBitmap_.h;
    const ptrdiff_t pitch = dstBitmap_.pitch;
    const ptrdiff_t padBytes = kBytesPerPixel * static_cast<ptrdiff_t>(outputPad);
    if (ow < 1 || oh < 1 || ow > kMaxFrameSide || oh > kMaxFrameSide ||
        pitch < kBytesPerPixel * static_cast<ptrdiff_t>(ow) || pitch % kBytesPerPixel != 0 ||
        (pitch + padBytes) * oh > kMaxFrameBytes)
        return Status::fail("filter " + name() + " asked for a " + std::to_string(ow) + "x" +
                            std::to_string(oh) + " output frame with a pitch of " + std::to_string(pitch) +
                            " bytes, which this host cannot give");
    // modulo and size follow from the pitch, as the host derives them.
    output_ = FrameBuffer(ow, oh, pitch + padBytes, layout_.outputFill);
    output_.describe(dstBitmap_);
    return {};
}

void FilterInstance::exchangeSource(FrameBuffer& frame) {
    assert(frame.w() == source_.w() && frame.h() == source_.h() && frame.pitch() == source_.pitch());
    std::swap(source_, frame);
    source_.describe(srcBitmap_);
}

Status FilterInstance::configure(int& result) {
    if (!initialised_) return Status::fail("filter " + name() + " has no instance to configure");
    lastResult_ = filter_.configProc != nullptr ? filter_.configProc(&fa_, module_.functions(), nullptr) : 0;
    result = static_cast<int>(lastResult_);
    return {};
}

Status FilterInstance::start() {
    lastResult_ = 0;
    if (filter_.startProc != nullptr) {
        lastResult_ = filter_.startProc(&fa_, module_.functions());
        if (lastResult_ != 0)
            return Status::fail("filter " + name() + " could not start (startProc returned " +
                                std::to_string(lastResult_) + ")");
    }
    started_ = true;
    return {};
}

Status FilterInstance::run(int64_t frameNumber) {
    lastResult_ = filter_.runProc(&fa_, module_.functions());
    const std::string at = " at frame " + std::to_string(frameNumber);
    if (lastResult_ != 0)
        return Status::fail("filter " + name() + " failed" + at + " (runProc returned " +
                            std::to_string(lastResult_) + ")");
    if (!source_.paddingIntact())
        return Status::fail("filter " + name() + " wrote into the source frame's row padding" + at);
    if (!output_.paddingIntact())
        return Status::fail("filter " + name() + " wrote outside its output frame" + at);
    return {};
}

Status FilterInstance::end() {
    if (!started_) return {};
    started_ = false;
    lastResult_ = 0;
    if (filter_.endProc != nullptr) {
        lastResult_ = filter_.endProc(&fa_, module_.functions());
        if (lastResult_ != 0)
            return Status::fail("filter " + name() + " could not end its run (endProc returned " +
                                std::to_string(lastResult_) + ")");
    }
    return {};
}
