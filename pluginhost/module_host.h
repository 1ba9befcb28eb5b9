// The plug-in host: loads a filter module through its two exports, as an
// editor does, and runs instances of the filter it registers through its
// callbacks, in the host's order. Nothing of the module's insides is linked
// or read; only the published interface. The command-line host and the
// test suite both drive the module through this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "pluginhost/frame_buffer.h"
#include "pluginhost/module_library.h"
#include "pluginhost/status.h"
#include "sdk/filter_sdk.h"

// The interface versions this host understands: the records of version 8,
// and modules built for version 4 onwards (the same records, fewer fields used).
inline constexpr int kHostInterfaceVersion = sdk::kFilterDefVersion;
inline constexpr int kHostOldestInterface = sdk::kFilterDefCompatVersion;

class FilterModuleHost {
public:
    // Loads the module file, calls its entry point and checks what it
    // registered. On failure returns null and sets `error`.
    static std::unique_ptr<FilterModuleHost> load(const std::string& path, Status& error);
    // The same for entry points already in this program (`where` names them).
    static std::unique_ptr<FilterModuleHost> open(ModuleEntryPoints entry, const std::string& where,
                                                  Status& error);
    ~FilterModuleHost();  // the module's exit, then unload
    FilterModuleHost(const FilterModuleHost&) = delete;
    FilterModuleHost& operator=(const FilterModuleHost&) = delete;

    const sdk::FilterDefinition& filter() const { return filter_; }
    const std::string& path() const { return path_; }
    // What the module answered: the interface it was built for and the
    // oldest it still works with, and the record size it registered.
    int moduleVersion() const { return version_; }
    int moduleCompatVersion() const { return compatVersion_; }
    int registeredSize() const { return registeredSize_; }
    bool removed() const { return removed_; }
    const sdk::FilterFunctions* functions() const { return &functions_; }

private:
    FilterModuleHost() = default;
    Status start(ModuleEntryPoints entry);
    static sdk::FilterDefinition* KV_CDECL addFilter(sdk::FilterModule*, sdk::FilterDefinition*, int);
    static void KV_CDECL removeFilter(sdk::FilterDefinition*);

    std::string path_;
    ModuleLibrary library_;
    sdk::ModuleDeinitProc deinit_ = nullptr;
    sdk::FilterFunctions functions_{};
    sdk::FilterDefinition filter_{};  // the host's copy of what the module registered
    int registrations_ = 0, registeredSize_ = 0;
    bool initialised_ = false, removed_ = false;
    int version_ = 0, compatVersion_ = 0;
};

// How the host lays out an instance's memory. A real host gives no promise
// about a new record's bytes; tests fill it with a pattern so that a read of
// something never written shows.
struct InstanceLayout {
    uint8_t recordFill = 0;
    uint32_t outputFill = 0;  // the output's pixels before the first frame
};

// One use of the filter: the instance record, its frames and its lifecycle.
// The destructor ends a started run and calls the filter's deinitProc.
// Every call keeps the callback's own result in lastResult().
class FilterInstance {
public:
    explicit FilterInstance(const FilterModuleHost& module, InstanceLayout layout = {});
    ~FilterInstance();
    FilterInstance(const FilterInstance&) = delete;
    FilterInstance& operator=(const FilterInstance&) = delete;

    Status init();  // allocates inst_data_size bytes, then initProc

    // Calls one of the filter's script functions with integer arguments.
    Status callScript(std::string_view function, std::span<const int> args);
    // Runs one script line calling one of the filter's script functions.
    Status runScriptLine(std::string_view line);
    // Runs every "Config" line of a script file; other lines are skipped.
    Status runScriptFile(const std::string& path);
    // The same for a script already open; `path` names it in messages.
    Status runScript(std::istream& in, const std::string& path);

    // stringProc's text alone, into a buffer that starts as `fill` bytes.
    std::string labelText(char fill = 0);
    std::string label();  // the filter's name and its stringProc text
    // fssProc into `size` bytes; bytes past them are guarded, and a write
    // there is a failure. Empty when the filter saves none.
    Status scriptLine(std::string& line, int size = kScriptBufferSize);
    std::string scriptLine();

    // A w x h source, each row followed by `padPixels` words of sentinel,
    // then paramProc; then the output frame at the geometry the filter chose,
    // with `outputPad` words of sentinel after each row of its pitch.
    Status prepare(int32_t w, int32_t h, int32_t padPixels, int32_t outputPad);
    Status prepare(int32_t w, int32_t h, int32_t padPixels) { return prepare(w, h, padPixels, padPixels); }
    FrameBuffer& source() { return source_; }
    // Takes `frame`'s pixels as the next source, leaving the previous
    // source's buffer in `frame`: no copy. The geometry (w, h, pitch) must match.
    void exchangeSource(FrameBuffer& frame);
    FrameBuffer& output() { return output_; }
    const FrameBuffer& output() const { return output_; }
    const sdk::VFBitmap& outputBitmap() const { return dstBitmap_; }

    // configProc with no parent window; `result` is its answer (0 for OK).
    // A filter without a dialog has nothing to configure: result 0.
    Status configure(int& result);

    Status start();
    Status run(int64_t frameNumber);  // runProc on the current source frame
    Status end();

    long lastResult() const { return lastResult_; }
    void* record() { return record_.data(); }
    static constexpr int kScriptBufferSize = 256;  // far more than any script line

private:
    std::string name() const;

    const FilterModuleHost& module_;
    const sdk::FilterDefinition& filter_;
    InstanceLayout layout_;
    std::vector<std::max_align_t> record_;
    sdk::FilterActivation fa_{};
    sdk::VFBitmap srcBitmap_{}, dstBitmap_{};
    FrameBuffer source_, output_;
    long lastResult_ = 0;
    bool initialised_ = false, started_ = false;
};
