#include "support/test_host.h"

#include <cstring>
#include <stdexcept>

extern "C" int KV_CDECL VirtualdubFilterModuleInit2(sdk::FilterModule*, const sdk::FilterFunctions*,
                                                    int&, int&) noexcept;
extern "C" void KV_CDECL VirtualdubFilterModuleDeinit(sdk::FilterModule*,
                                                      const sdk::FilterFunctions*) noexcept;

ModuleEntryPoints linkedModule() {
    return {VirtualdubFilterModuleInit2, VirtualdubFilterModuleDeinit};
}

namespace {
// The host's copy of the definition, as a real host keeps one per filter.
thread_local sdk::FilterDefinition hostCopy;
thread_local int lastAddSize = 0;
thread_local bool removed = false;
}  // namespace

sdk::FilterDefinition* KV_CDECL TestHost::addFilter(sdk::FilterModule* module,
                                                    sdk::FilterDefinition* def, int size) {
    lastAddSize = size;
    std::memcpy(&hostCopy, def, sizeof hostCopy);
    hostCopy.module = module;
    return &hostCopy;
}

void KV_CDECL TestHost::removeFilter(sdk::FilterDefinition*) { removed = true; }

TestHost::TestHost(ModuleEntryPoints module) : module_(module) {
    functions_.addFilter = addFilter;
    functions_.removeFilter = removeFilter;
    initResult_ = module_.init(nullptr, &functions_, version_, compatVersion_);
    addFilterSize_ = lastAddSize;
    if (initResult_ == 0) registered_ = &hostCopy;
}

TestHost::~TestHost() {
    if (module_.deinit) module_.deinit(nullptr, &functions_);
}

TestInstance::TestInstance(const TestHost& host)
    : filter_(host.filter()),
      record_((static_cast<size_t>(host.filter().inst_data_size.value) + 7) / 8, 0xA5A5A5A5A5A5A5A5ull) {
    fa_.filter = &filter_;
    fa_.filter_data = record_.data();
    fa_.dst = &dstBitmap_;
    fa_.src = &srcBitmap_;
    if (filter_.initProc(&fa_, nullptr) != 0) throw std::runtime_error("initProc failed");
}

void TestInstance::config(const ConfigArgs& args) {
    sdk::CScriptValue argv[13];
    for (size_t i = 0; i < args.size(); ++i) {
        argv[i] = {};
        argv[i].type = sdk::kScriptTypeInt;
        argv[i].u.i = args[i];
    }
    filter_.script_obj->func_list[0].func_ptr(nullptr, &fa_, argv, 13);
}

std::string TestInstance::label() {
    // Pre-filled, so a label that writes nothing shows as the host's own bytes.
    char buf[256];
    std::memset(buf, kUntouchedLabelByte, sizeof buf - 1);
    buf[sizeof buf - 1] = 0;
    filter_.stringProc(&fa_, nullptr, buf);
    return buf;
}

std::string TestInstance::scriptLine(int size) {
    // Guard bytes past the declared size show any write beyond it.
    std::vector<char> buf(static_cast<size_t>(size) + 16, '\x7F');
    buf.back() = 0;
    if (!filter_.fssProc(&fa_, nullptr, buf.data(), size)) throw std::runtime_error("fssProc false");
    for (size_t i = static_cast<size_t>(size); i + 1 < buf.size(); ++i)
        if (buf[i] != '\x7F') throw std::runtime_error("fssProc wrote past its buffer");
    return buf.data();
}

void TestInstance::setSource(const Image& img, int32_t padPixels) {
    src_ = std::make_unique<StoredFrame>(img, padPixels);
    srcBitmap_ = {};
    srcBitmap_.data = src_->data();
    srcBitmap_.depth = 32;
    srcBitmap_.w = img.w;
    srcBitmap_.h = img.h;
    srcBitmap_.pitch = src_->pitch();
    srcBitmap_.modulo = src_->pitch() - 4 * static_cast<ptrdiff_t>(img.w);
    srcBitmap_.size = src_->pitch() * img.h;
}

long TestInstance::param(int32_t padPixels) {
    dstBitmap_ = {};
    dstBitmap_.depth = 32;
    dstBitmap_.w = srcBitmap_.w;
    dstBitmap_.h = srcBitmap_.h;
    dstBitmap_.pitch = srcBitmap_.pitch;
    const long r = filter_.paramProc(&fa_, nullptr);
    // The module chose w, h and pitch; pad beyond its pitch to catch stray writes.
    const int32_t stride = static_cast<int32_t>(dstBitmap_.pitch / 4) + padPixels;
    out_ = std::make_unique<StoredFrame>(dstBitmap_.w, dstBitmap_.h, stride - dstBitmap_.w, 0x5A5A5A5Au);
    dstBitmap_.data = out_->data();
    dstBitmap_.pitch = out_->pitch();
    dstBitmap_.modulo = dstBitmap_.pitch - 4 * static_cast<ptrdiff_t>(dstBitmap_.w);
    dstBitmap_.size = dstBitmap_.pitch * dstBitmap_.h;
    return r;
}

int TestInstance::run() { return filter_.runProc(&fa_, nullptr); }
int TestInstance::start() { return filter_.startProc(&fa_, nullptr); }
int TestInstance::end() { return filter_.endProc(&fa_, nullptr); }

Image TestInstance::render(const ConfigArgs& args, const Image& src) {
    config(args);
    setSource(src, 5);
    param();
    start();
    run();
    end();
    return output();
}

ConfigArgs defaultArgs(DisplayMode mode) {
    return {static_cast<int>(mode), 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1};
}
