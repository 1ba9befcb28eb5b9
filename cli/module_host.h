// The plug-in host: loads a filter module through its two exports, as an
// editor does, and runs one instance of the filter it registers. Nothing of
// the module's insides is linked or read; only the published interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "frame_buffer.h"
#include "sdk/filter_sdk.h"
#include "status.h"

// The interface versions this host understands: the records of version 8,
// and modules built for version 4 onwards (the same records, fewer fields used).
inline constexpr int kHostInterfaceVersion = sdk::kFilterDefVersion;
inline constexpr int kHostOldestInterface = sdk::kFilterDefCompatVersion;

class FilterModuleHost {
public:
    // Loads the module file, calls its entry point and checks what it
    // registered. On failure returns null and sets `error` to a user message.
    static std::unique_ptr<FilterModuleHost> load(const std::string& path, std::string& error);
    ~FilterModuleHost();  // the module's exit, then unload
    FilterModuleHost(const FilterModuleHost&) = delete;
    FilterModuleHost& operator=(const FilterModuleHost&) = delete;

    const sdk::FilterDefinition& filter() const { return filter_; }
    const std::string& path() const { return path_; }
    int moduleVersion() const { return version_; }
    const sdk::FilterFunctions* functions() const { return &functions_; }

private:
    FilterModuleHost() = default;
    static sdk::FilterDefinition* KV_CDECL addFilter(sdk::FilterModule*, sdk::FilterDefinition*, int);
    static void KV_CDECL removeFilter(sdk::FilterDefinition*);

    std::string path_;
    void* library_ = nullptr;
    sdk::ModuleDeinitProc deinit_ = nullptr;
    sdk::FilterFunctions functions_{};
    sdk::FilterDefinition filter_{};  // the host's copy of what the module registered
    int registrations_ = 0;
    bool initialised_ = false;
    int version_ = 0, compatVersion_ = 0;
};

// One use of the filter: the instance record, its frames and its lifecycle.
// The destructor ends a started run and calls the filter's deinitProc.
class FilterInstance {
public:
    explicit FilterInstance(const FilterModuleHost& module);
    ~FilterInstance();
    FilterInstance(const FilterInstance&) = delete;
    FilterInstance& operator=(const FilterInstance&) = delete;

    Status init();  // allocates inst_data_size bytes, then initProc

    // Runs one script line calling one of the filter's script functions.
    Status runScriptLine(std::string_view line);
    // Runs every "Config" line of a script file; other lines are skipped.
    Status runScriptFile(const std::string& path);

    std::string label();       // the filter's name and its stringProc text
    std::string scriptLine();  // fssProc; empty when the filter saves none

    // paramProc for a w x h source, then the source and output frames, each
    // row followed by `padPixels` words of sentinel.
    Status prepare(int32_t w, int32_t h, int32_t padPixels);
    FrameBuffer& source() { return source_; }
    const FrameBuffer& output() const { return output_; }

    Status start();
    Status run(int64_t frameNumber);  // runProc on the current source frame
    Status end();

private:
    const FilterModuleHost& module_;
    const sdk::FilterDefinition& filter_;
    std::vector<std::max_align_t> record_;
    sdk::FilterActivation fa_{};
    sdk::VFBitmap srcBitmap_{}, dstBitmap_{};
    FrameBuffer source_, output_;
    bool initialised_ = false, started_ = false;
};
