// A host that does what the real one does: registers the module through its
// entry points, allocates instance records of the declared size, presents the
// source geometry to paramProc, derives modulo and size afterwards, and hands
// over output buffers whose row padding holds a sentinel.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "host/scope_instance.h"
#include "sdk/filter_sdk.h"
#include "support/image.h"

struct ModuleEntryPoints {
    sdk::ModuleInitProc init = nullptr;
    sdk::ModuleDeinitProc deinit = nullptr;
};

// The module code linked into the test program.
ModuleEntryPoints linkedModule();

// The built module file, loaded as a host loads it (dlopen / LoadLibrary).
class LoadedModule {
public:
    explicit LoadedModule(const std::string& path);
    ~LoadedModule();
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;
    bool ok() const { return handle_ != nullptr && entry_.init && entry_.deinit; }
    const std::string& error() const { return error_; }
    ModuleEntryPoints entryPoints() const { return entry_; }

private:
    void* handle_ = nullptr;
    ModuleEntryPoints entry_;
    std::string error_;
};

class TestHost {
public:
    explicit TestHost(ModuleEntryPoints module = linkedModule());
    ~TestHost();
    TestHost(const TestHost&) = delete;
    TestHost& operator=(const TestHost&) = delete;

    const sdk::FilterDefinition& filter() const { return *registered_; }
    bool registered() const { return registered_ != nullptr; }
    int initResult() const { return initResult_; }
    int version() const { return version_; }
    int compatVersion() const { return compatVersion_; }
    int addFilterSize() const { return addFilterSize_; }

private:
    static sdk::FilterDefinition* KV_CDECL addFilter(sdk::FilterModule*, sdk::FilterDefinition*, int);
    static void KV_CDECL removeFilter(sdk::FilterDefinition*);

    ModuleEntryPoints module_;
    sdk::FilterFunctions functions_{};
    sdk::FilterDefinition* registered_ = nullptr;
    int initResult_ = -1, version_ = -1, compatVersion_ = -1, addFilterSize_ = 0;
};

using ConfigArgs = std::array<int, 13>;

class TestInstance {
public:
    explicit TestInstance(const TestHost& host);
    ScopeInstance& state() { return *reinterpret_cast<ScopeInstance*>(record_.data()); }
    ScopeSettings& settings() { return state().settings; }

    void config(const ConfigArgs& args);  // through the "Config" script function
    static constexpr char kUntouchedLabelByte = 'q';
    std::string label();                  // stringProc into a buffer of 255 'q's
    std::string scriptLine(int size = 128);

    // Source frame, padded by `padPixels` words per row.
    void setSource(const Image& img, int32_t padPixels = 0);
    // paramProc with the source geometry; allocates the output with `padPixels`
    // of sentinel per row beyond the pitch the module chose.
    long param(int32_t padPixels = 3);
    int run();  // runProc
    int start();
    int end();

    Image output() const { return out_->image(); }
    bool outputPaddingIntact() const { return out_->paddingIntact(); }
    bool sourcePaddingIntact() const { return src_->paddingIntact(); }
    const sdk::VFBitmap& dst() const { return dstBitmap_; }
    StoredFrame& outputFrame() { return *out_; }

    // Convenience: config, source, param, run, and the output.
    Image render(const ConfigArgs& args, const Image& src);

private:
    const sdk::FilterDefinition& filter_;
    std::vector<uint64_t> record_;  // inst_data_size bytes, 8-byte aligned
    sdk::FilterActivation fa_{};
    sdk::VFBitmap srcBitmap_{}, dstBitmap_{};
    std::unique_ptr<StoredFrame> src_, out_;
};

// Config arguments of the default settings, with the mode changed.
ConfigArgs defaultArgs(DisplayMode mode = DisplayMode::Histograms);
