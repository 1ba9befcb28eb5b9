#include "module_host.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "script_call.h"

namespace {

// Beyond these a module's numbers are a fault, not a request to honour.
constexpr int kMaxInstanceBytes = 64 << 20;
constexpr int32_t kMaxFrameSide = 32768;
constexpr ptrdiff_t kMaxFrameBytes = ptrdiff_t{1} << 30;
constexpr size_t kLabelBufferSize = 256;   // far more than any label
constexpr size_t kScriptBufferSize = 256;  // far more than any script line

std::string quoted(std::string_view s) {
    return "'" + std::string(s) + "'";
}

// dlerror() repeats the file name in front of the reason; keep the reason.
std::string loaderReason(const std::string& file) {
    const char* e = dlerror();
    std::string reason = e != nullptr ? e : "unknown loader error";
    if (reason.rfind(file + ": ", 0) == 0) reason.erase(0, file.size() + 2);
    return reason;
}

std::string filterName(const sdk::FilterDefinition& f) {
    return f.name != nullptr ? f.name : "(unnamed filter)";
}

}  // namespace

// --- the module -------------------------------------------------------------

std::unique_ptr<FilterModuleHost> FilterModuleHost::load(const std::string& path, std::string& error) {
    std::unique_ptr<FilterModuleHost> host(new FilterModuleHost);
    host->path_ = path;
    const std::string where = "module " + path;

    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        error = where + ": " + std::strerror(errno);
        return nullptr;
    }
    if (S_ISDIR(st.st_mode)) {
        error = where + ": is a directory";
        return nullptr;
    }
    // A bare name would send dlopen searching the library path; we mean this file.
    const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    host->library_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (host->library_ == nullptr) {
        error = "cannot load " + where + ": " + loaderReason(file);
        return nullptr;
    }
    auto init = reinterpret_cast<sdk::ModuleInitProc>(dlsym(host->library_, sdk::kModuleInitName));
    host->deinit_ = reinterpret_cast<sdk::ModuleDeinitProc>(dlsym(host->library_, sdk::kModuleDeinitName));
    if (init == nullptr || host->deinit_ == nullptr) {
        error = path + " is not a filter module: it does not export " +
                (init == nullptr ? sdk::kModuleInitName : sdk::kModuleDeinitName);
        return nullptr;
    }

    host->functions_.addFilter = addFilter;
    host->functions_.removeFilter = removeFilter;
    // In: what this host speaks. Out: what the module was built for.
    host->version_ = kHostInterfaceVersion;
    host->compatVersion_ = kHostOldestInterface;
    const int result = init(reinterpret_cast<sdk::FilterModule*>(host.get()), &host->functions_,
                            host->version_, host->compatVersion_);
    if (result != 0) {
        error = where + " failed to register its filter (" + sdk::kModuleInitName + " returned " +
                std::to_string(result) + ")";
        return nullptr;
    }
    host->initialised_ = true;

    if (host->compatVersion_ > kHostInterfaceVersion || host->version_ < kHostOldestInterface) {
        error = where + " is built for filter interface version " + std::to_string(host->version_) +
                " (compatible down to " + std::to_string(host->compatVersion_) +
                "); this host offers versions " + std::to_string(kHostOldestInterface) + " to " +
                std::to_string(kHostInterfaceVersion);
        return nullptr;
    }
    if (host->registrations_ == 0) {
        error = where + " registered no filter";
        return nullptr;
    }
    const sdk::FilterDefinition& f = host->filter_;
    if (f.inst_data_size.value < 0 || f.inst_data_size.value > kMaxInstanceBytes) {
        error = where + ": filter " + filterName(f) + " declares an instance record of " +
                std::to_string(f.inst_data_size.value) + " bytes";
        return nullptr;
    }
    if (f.runProc == nullptr) {
        error = where + ": filter " + filterName(f) + " has no runProc";
        return nullptr;
    }
    return host;
}

FilterModuleHost::~FilterModuleHost() {
    if (initialised_ && deinit_ != nullptr) deinit_(reinterpret_cast<sdk::FilterModule*>(this), &functions_);
    if (library_ != nullptr) dlclose(library_);
}

sdk::FilterDefinition* KV_CDECL FilterModuleHost::addFilter(sdk::FilterModule* module,
                                                            sdk::FilterDefinition* def, int size) {
    auto* host = reinterpret_cast<FilterModuleHost*>(module);
    // One filter per run: a module offering more has its first one hosted.
    if (def == nullptr || size <= 0 || host->registrations_++ > 0) return nullptr;
    // An older module's record is shorter: what it lacks stays empty.
    std::memcpy(&host->filter_, def, std::min(static_cast<size_t>(size), sizeof host->filter_));
    host->filter_.next = nullptr;
    host->filter_.prev = nullptr;
    host->filter_.module = module;
    return &host->filter_;
}

// The copy lives as long as the host; there is no list to take it out of.
void KV_CDECL FilterModuleHost::removeFilter(sdk::FilterDefinition*) {}

// --- one instance -----------------------------------------------------------

FilterInstance::FilterInstance(const FilterModuleHost& module) : module_(module), filter_(module.filter()) {}

FilterInstance::~FilterInstance() {
    if (started_) (void)end();
    if (initialised_ && filter_.deinitProc != nullptr) filter_.deinitProc(&fa_, module_.functions());
}

Status FilterInstance::init() {
    const size_t bytes = static_cast<size_t>(filter_.inst_data_size.value);
    record_.assign(std::max<size_t>(1, (bytes + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t)),
                   std::max_align_t{});
    std::memset(record_.data(), 0, record_.size() * sizeof(std::max_align_t));
    fa_.filter = &filter_;
    fa_.filter_data = record_.data();
    fa_.src = &srcBitmap_;
    fa_.dst = &dstBitmap_;
    if (filter_.initProc != nullptr) {
        const int r = filter_.initProc(&fa_, module_.functions());
        if (r != 0)
            return Status::fail("filter " + filterName(filter_) +
                                " could not start an instance (initProc returned " + std::to_string(r) + ")");
    }
    initialised_ = true;
    return {};
}

Status FilterInstance::runScriptLine(std::string_view line) {
    ScriptCall call;
    switch (parseScriptCall(line, call)) {
    case LineKind::Blank: return {};
    case LineKind::Other: return Status::fail("not a script call: " + quoted(line));
    case LineKind::Call: break;
    }
    const std::string name = filterName(filter_);
    const sdk::CScriptObject* obj = filter_.script_obj;
    const sdk::ScriptFunctionDef* fn = obj != nullptr ? obj->func_list : nullptr;
    while (fn != nullptr && fn->func_ptr != nullptr && (fn->name == nullptr || call.function != fn->name))
        ++fn;
    if (fn == nullptr || fn->func_ptr == nullptr)
        return Status::fail("filter " + name + " has no script function " + quoted(call.function));

    // The argument list: the result type, then one letter per argument.
    const std::string_view types = fn->arg_list != nullptr && fn->arg_list[0] != 0 ? fn->arg_list + 1 : "";
    if (types.find_first_not_of('i') != std::string_view::npos)
        return Status::fail("script function " + call.function + " of filter " + name +
                            " takes arguments other than integers, which this host does not pass");
    if (types.size() != call.args.size())
        return Status::fail(call.function + " takes " + std::to_string(types.size()) +
                            " integers, the line has " + std::to_string(call.args.size()));
    std::vector<sdk::CScriptValue> argv(call.args.size());
    for (size_t i = 0; i < argv.size(); ++i) {
        argv[i].type = sdk::kScriptTypeInt;
        if (!parseScriptInt(call.args[i], argv[i].u.i))
            return Status::fail("argument " + std::to_string(i + 1) + " of " + call.function +
                                " is not an integer: " + quoted(call.args[i]));
    }
    // The interpreter is the host's own object; this host offers none.
    fn->func_ptr(nullptr, &fa_, argv.data(), static_cast<int>(argv.size()));
    return {};
}

Status FilterInstance::runScriptFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) return Status::fail("cannot read script " + path + ": " + std::strerror(errno));
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

std::string FilterInstance::label() {
    char buf[kLabelBufferSize] = {};
    if (filter_.stringProc != nullptr) filter_.stringProc(&fa_, module_.functions(), buf);
    buf[kLabelBufferSize - 1] = 0;
    return filterName(filter_) + buf;
}

std::string FilterInstance::scriptLine() {
    char buf[kScriptBufferSize] = {};
    if (filter_.fssProc == nullptr ||
        !filter_.fssProc(&fa_, module_.functions(), buf, static_cast<int>(sizeof buf)))
        return {};
    buf[kScriptBufferSize - 1] = 0;
    return buf;
}

Status FilterInstance::prepare(int32_t w, int32_t h, int32_t padPixels) {
    source_ = FrameBuffer(w, h, kBytesPerPixel * (static_cast<ptrdiff_t>(w) + padPixels));
    source_.describe(srcBitmap_);
    // The output as the host presents it to paramProc: the source's geometry.
    dstBitmap_ = {};
    dstBitmap_.depth = 32;
    dstBitmap_.w = w;
    dstBitmap_.h = h;
    dstBitmap_.pitch = srcBitmap_.pitch;
    const long r = filter_.paramProc != nullptr ? filter_.paramProc(&fa_, module_.functions())
                                                : sdk::kFilterParamSwapBuffers;
    const std::string name = filterName(filter_);
    if (r != sdk::kFilterParamSwapBuffers)
        return Status::fail("filter " + name + " cannot process a " + std::to_string(w) + "x" +
                            std::to_string(h) + " frame (paramProc returned " + std::to_string(r) + ")");
    const int32_t ow = dstBitmap_.w, oh = dstBitmap_.h;
    const ptrdiff_t pitch = dstBitmap_.pitch;
    if (ow < 1 || oh < 1 || ow > kMaxFrameSide || oh > kMaxFrameSide ||
        pitch < kBytesPerPixel * static_cast<ptrdiff_t>(ow) || pitch % kBytesPerPixel != 0 ||
        (pitch + kBytesPerPixel * static_cast<ptrdiff_t>(padPixels)) * oh > kMaxFrameBytes)
        return Status::fail("filter " + name + " asked for a " + std::to_string(ow) + "x" +
                            std::to_string(oh) + " output frame with a pitch of " + std::to_string(pitch) +
                            " bytes, which this host cannot give");
    // modulo and size follow from the pitch, as the host derives them.
    output_ = FrameBuffer(ow, oh, pitch + kBytesPerPixel * static_cast<ptrdiff_t>(padPixels));
    output_.describe(dstBitmap_);
    return {};
}

Status FilterInstance::start() {
    if (filter_.startProc != nullptr) {
        const int r = filter_.startProc(&fa_, module_.functions());
        if (r != 0)
            return Status::fail("filter " + filterName(filter_) + " could not start (startProc returned " +
                                std::to_string(r) + ")");
    }
    started_ = true;
    return {};
}

Status FilterInstance::run(int64_t frameNumber) {
    const int r = filter_.runProc(&fa_, module_.functions());
    const std::string at = " at frame " + std::to_string(frameNumber);
    if (r != 0)
        return Status::fail("filter " + filterName(filter_) + " failed" + at + " (runProc returned " +
                            std::to_string(r) + ")");
    if (!source_.paddingIntact())
        return Status::fail("filter " + filterName(filter_) + " wrote into the source frame's row padding" +
                            at);
    if (!output_.paddingIntact())
        return Status::fail("filter " + filterName(filter_) + " wrote outside its output frame" + at);
    return {};
}

Status FilterInstance::end() {
    if (!started_) return {};
    started_ = false;
    if (filter_.endProc != nullptr) {
        const int r = filter_.endProc(&fa_, module_.functions());
        if (r != 0)
            return Status::fail("filter " + filterName(filter_) +
                                " could not end its run (endProc returned " + std::to_string(r) + ")");
    }
    return {};
}
