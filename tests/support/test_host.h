// The test suite's side of the plug-in host library: the module linked into
// the test program (or the built file), instances with the callbacks' raw
// results, and frames as Images. Records start filled with a pattern and
// outputs with another, so a read of something never written shows.
#pragma once

#include <array>
#include <memory>
#include <string>

#include "core/scope_instance.h"
#include "pluginhost/module_host.h"
#include "sdk/filter_sdk.h"
#include "support/image.h"

// The module code linked into the test program.
ModuleEntryPoints linkedModule();

// The built module file, loaded as a host loads it (dlopen / LoadLibrary).
class LoadedModule {
public:
    explicit LoadedModule(const std::string& path);
    bool ok() const { return status_.ok(); }
    const std::string& error() const { return status_.message(); }
    ModuleEntryPoints entryPoints() const { return entry_; }

private:
    ModuleLibrary library_;
    ModuleEntryPoints entry_;
    Status status_;
};

class TestHost {
public:
    explicit TestHost(ModuleEntryPoints module = linkedModule());

    const sdk::FilterDefinition& filter() const { return host_->filter(); }
    const FilterModuleHost& host() const { return *host_; }
    bool registered() const { return host_ != nullptr; }
    int initResult() const { return status_.ok() ? 0 : -1; }
    int version() const { return host_->moduleVersion(); }
    int compatVersion() const { return host_->moduleCompatVersion(); }
    int addFilterSize() const { return host_->registeredSize(); }

private:
    Status status_;
    std::unique_ptr<FilterModuleHost> host_;
};

using ConfigArgs = std::array<int, kConfigArgCount>;

class TestInstance {
public:
    static constexpr uint8_t kRecordFill = 0xA5;
    static constexpr uint32_t kOutputFill = 0x5A5A5A5A;

    explicit TestInstance(const TestHost& host);
    ScopeInstance& state() { return *static_cast<ScopeInstance*>(instance_.record()); }
    ScopeSettings& settings() { return state().settings; }

    void config(const ConfigArgs& args);  // through the "Config" script function
    static constexpr char kUntouchedLabelByte = 'q';
    std::string label();  // stringProc into a buffer of 255 'q's
    std::string scriptLine(int size = 128);

    // Source frame, padded by `padPixels` words per row: for the next param(),
    // or the current frame when it has the prepared size.
    void setSource(const Image& img, int32_t padPixels = 0);
    // paramProc with the source geometry; allocates the output with `padPixels`
    // of sentinel per row beyond the pitch the module chose.
    long param(int32_t padPixels = 3);
    int run();        // runProc
    int configure();  // configProc with no parent window
    int start();
    int end();

    Image output() const { return imageOf(instance_.output().frame()); }
    bool outputPaddingIntact() const { return instance_.output().paddingIntact(); }
    bool sourcePaddingIntact() { return instance_.source().paddingIntact(); }
    const sdk::VFBitmap& dst() const { return instance_.outputBitmap(); }
    FrameBuffer& outputFrame() { return instance_.output(); }

    // Convenience: config, source, param, run, and the output.
    Image render(const ConfigArgs& args, const Image& src);

private:
    void copySource();

    FilterInstance instance_;
    Image pending_;
    int32_t pendingPad_ = 0;
};

// All fourteen values, in the order of the record, for comparing and printing.
std::string describe(const ScopeSettings& s);

// Config arguments of the default settings, with the mode changed.
ConfigArgs defaultArgs(DisplayMode mode = DisplayMode::Histograms);
