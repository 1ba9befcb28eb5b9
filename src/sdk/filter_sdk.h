// Our declarations of the host's video-filter plug-in interface
// (filter-definition version 8, compatible down to version 4).
//
// Every record keeps the host's binary layout on each target: the host was
// built against its own headers, so a slip here is a silent memory corruption.
// The static_asserts at the bottom pin every size and offset we rely on, and
// the i686 build compiles them too.
#pragma once

#include <cstddef>
#include <cstdint>

// The host calls everything with the C calling convention; on 32-bit Windows
// that has to be spelled out, elsewhere it is the only convention there is.
#if defined(_WIN32) && !defined(_WIN64)
#define KV_CDECL __cdecl
#else
#define KV_CDECL
#endif

namespace sdk {

inline constexpr int kFilterDefVersion = 8;         // what we implement
inline constexpr int kFilterDefCompatVersion = 4;   // oldest host we work with
inline constexpr long kFilterParamSwapBuffers = 1;  // FILTERPARAM_SWAP_BUFFERS

struct FilterModule;  // owned by the host; we only pass the pointer on
struct FilterDefinition;
struct FilterActivation;
struct FilterFunctions;
struct IScriptInterpreter;  // opaque: the host's script engine
struct CScriptObject;

using HostWindow = void*;  // HWND

// A frame. `data` points at the bottom row of the picture (rows bottom-up).
struct VFBitmap {
    void* hostReserved;  // the host's vtable slot
    uint32_t* data;
    uint32_t* palette;
    int32_t depth;
    int32_t w;
    int32_t h;
    ptrdiff_t pitch;   // bytes from one stored row to the next
    ptrdiff_t modulo;  // bytes from the end of a row's pixels to the next row
    ptrdiff_t size;
    ptrdiff_t offset;
    uint32_t dwFlags;
    void* hdc;
    // The host's record goes on with fields of its own, which we never touch.
};

struct FilterActivation {
    const FilterDefinition* filter;
    void* filter_data;
    VFBitmap* dst;  // a reference in the host's headers: a pointer in the binary
    VFBitmap* src;
    VFBitmap* reserved;
    VFBitmap* last;
    uint32_t x1, y1, x2, y2;
    void* hostFields[3];
};

using FilterInitProc = int(KV_CDECL*)(FilterActivation*, const FilterFunctions*);
using FilterDeinitProc = void(KV_CDECL*)(FilterActivation*, const FilterFunctions*);
using FilterRunProc = int(KV_CDECL*)(const FilterActivation*, const FilterFunctions*);
using FilterParamProc = long(KV_CDECL*)(FilterActivation*, const FilterFunctions*);
using FilterConfigProc = int(KV_CDECL*)(FilterActivation*, const FilterFunctions*, HostWindow);
using FilterStringProc = void(KV_CDECL*)(const FilterActivation*, const FilterFunctions*, char*);
using FilterStartProc = int(KV_CDECL*)(FilterActivation*, const FilterFunctions*);
using FilterEndProc = int(KV_CDECL*)(FilterActivation*, const FilterFunctions*);
using FilterScriptStrProc = bool(KV_CDECL*)(FilterActivation*, const FilterFunctions*, char*, int);
using FilterStringProc2 = void(KV_CDECL*)(const FilterActivation*, const FilterFunctions*, char*, int);
using FilterSerializeProc = int(KV_CDECL*)(FilterActivation*, const FilterFunctions*, char*, int);
using FilterDeserializeProc = void(KV_CDECL*)(FilterActivation*, const FilterFunctions*, const char*, int);
using FilterCopyProc = void(KV_CDECL*)(FilterActivation*, const FilterFunctions*, void*);

// `inst_data_size` is an int in the host's headers; it sits in a pointer-size
// slot, so we keep the padding explicit to hold 22 slots on both word sizes.
struct InstDataSize {
    int value;
#if UINTPTR_MAX > 0xFFFFFFFFu
    int padding = 0;
#endif
};

struct FilterDefinition {
    FilterDefinition* next;
    FilterDefinition* prev;
    FilterModule* module;
    const char* name;
    const char* desc;
    const char* maker;
    void* private_data;
    InstDataSize inst_data_size;
    FilterInitProc initProc;
    FilterDeinitProc deinitProc;
    FilterRunProc runProc;
    FilterParamProc paramProc;
    FilterConfigProc configProc;
    FilterStringProc stringProc;
    FilterStartProc startProc;
    FilterEndProc endProc;
    CScriptObject* script_obj;
    FilterScriptStrProc fssProc;
    FilterStringProc2 stringProc2;
    FilterSerializeProc serializeProc;
    FilterDeserializeProc deserializeProc;
    FilterCopyProc copyProc;
};

struct FilterFunctions {
    FilterDefinition*(KV_CDECL* addFilter)(FilterModule*, FilterDefinition*, int fdl_size);
    void(KV_CDECL* removeFilter)(FilterDefinition*);
    void* unusedSlots[7];  // host services the module never calls
};

// Script binding ----------------------------------------------------------

inline constexpr int kScriptTypeInt = 1;  // T_INT

struct CScriptValue {
    int type;
    CScriptObject* thisPtr;
    union {
        int i;
        char** s;
        int64_t l;
        double d;
    } u;
};

using ScriptFunctionPtr = void(KV_CDECL*)(IScriptInterpreter*, void* activation, const CScriptValue* argv,
                                          int argc);

struct ScriptFunctionDef {
    ScriptFunctionPtr func_ptr;
    const char* name;
    const char* arg_list;
};

struct CScriptObject {
    void* lookup;
    ScriptFunctionDef* func_list;
    void* obj_list;
};

// Module entry points, as the host looks them up by name.
using ModuleInitProc = int(KV_CDECL*)(FilterModule*, const FilterFunctions*, int& version,
                                      int& compatVersion);
using ModuleDeinitProc = void(KV_CDECL*)(FilterModule*, const FilterFunctions*);

inline constexpr const char* kModuleInitName = "VirtualdubFilterModuleInit2";
inline constexpr const char* kModuleDeinitName = "VirtualdubFilterModuleDeinit";

// Layout pins ---------------------------------------------------------------

inline constexpr size_t kPtr = sizeof(void*);
static_assert(kPtr == 4 || kPtr == 8);

static_assert(sizeof(FilterDefinition) == 22 * kPtr);
static_assert(sizeof(FilterDefinition) == (kPtr == 4 ? 88 : 176));
static_assert(offsetof(FilterDefinition, inst_data_size) == 7 * kPtr);
static_assert(offsetof(FilterDefinition, initProc) == 8 * kPtr);
static_assert(offsetof(FilterDefinition, runProc) == 10 * kPtr);
static_assert(offsetof(FilterDefinition, paramProc) == 11 * kPtr);
static_assert(offsetof(FilterDefinition, script_obj) == 16 * kPtr);
static_assert(offsetof(FilterDefinition, fssProc) == 17 * kPtr);
static_assert(offsetof(FilterDefinition, copyProc) == 21 * kPtr);

static_assert(sizeof(FilterFunctions) == 9 * kPtr);

static_assert(offsetof(FilterActivation, filter_data) == 1 * kPtr);
static_assert(offsetof(FilterActivation, dst) == 2 * kPtr);
static_assert(offsetof(FilterActivation, src) == 3 * kPtr);
static_assert(offsetof(FilterActivation, last) == 5 * kPtr);
static_assert(offsetof(FilterActivation, x1) == 6 * kPtr);
static_assert(offsetof(FilterActivation, hostFields) == 6 * kPtr + 16);
static_assert(sizeof(FilterActivation) == 9 * kPtr + 16);

static_assert(offsetof(VFBitmap, data) == 1 * kPtr);
static_assert(offsetof(VFBitmap, palette) == 2 * kPtr);
static_assert(offsetof(VFBitmap, depth) == 3 * kPtr);
static_assert(offsetof(VFBitmap, w) == 3 * kPtr + 4);
static_assert(offsetof(VFBitmap, h) == 3 * kPtr + 8);
static_assert(offsetof(VFBitmap, pitch) == (kPtr == 4 ? 24 : 40));
static_assert(offsetof(VFBitmap, modulo) == (kPtr == 4 ? 28 : 48));
static_assert(offsetof(VFBitmap, size) == (kPtr == 4 ? 32 : 56));
static_assert(offsetof(VFBitmap, offset) == (kPtr == 4 ? 36 : 64));
static_assert(offsetof(VFBitmap, dwFlags) == (kPtr == 4 ? 40 : 72));
static_assert(offsetof(VFBitmap, hdc) == (kPtr == 4 ? 44 : 80));

static_assert(sizeof(ScriptFunctionDef) == 3 * kPtr);
static_assert(sizeof(CScriptObject) == 3 * kPtr);
#if defined(_WIN32)
// Windows aligns the 64-bit union members to 8 bytes on both word sizes.
static_assert(offsetof(CScriptValue, u) == (kPtr == 4 ? 8 : 16));
static_assert(sizeof(CScriptValue) == (kPtr == 4 ? 16 : 24));
#else
static_assert(offsetof(CScriptValue, u) == 2 * kPtr);
#endif

}  // namespace sdk
