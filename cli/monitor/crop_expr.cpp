#include "monitor/crop_expr.h"

#include <array>
#include <cctype>
#include <cmath>
#include <limits>
#include <memory>

#include "os/av_support.h"

extern "C" {
#include <libavutil/eval.h>
}

namespace {

constexpr std::string_view kFieldNames[] = {"w|out_w", "h|out_h", "x", "y"};
constexpr size_t kFields = std::size(kFieldNames);
constexpr std::string_view kDefaults[kFields] = {"iw", "ih", "(in_w-out_w)/2", "(in_h-out_h)/2"};
constexpr size_t kW = 0, kH = 1, kX = 2, kY = 3;

// The crop filter's variables, each a slot of the values handed to the evaluator.
enum Var : size_t {
    kInW,
    kInH,
    kOutW,
    kOutH,
    kA,
    kSar,
    kDar,
    kHsub,
    kVsub,
    kPosX,
    kPosY,
    kN,
    kPos,
    kT,
    kVars
};
using Values = std::array<double, kVars>;

// Every name FFmpeg's crop gives its expressions, in its own order.
constexpr struct {
    const char* name;
    Var var;
} kNames[] = {
    {"in_w", kInW},   {"iw", kInW},  {"in_h", kInH}, {"ih", kInH},  {"out_w", kOutW}, {"ow", kOutW},
    {"out_h", kOutH}, {"oh", kOutH}, {"a", kA},      {"sar", kSar}, {"dar", kDar},    {"hsub", kHsub},
    {"vsub", kVsub},  {"x", kPosX},  {"y", kPosY},   {"n", kN},     {"pos", kPos},    {"t", kT},
};
constexpr size_t kNameCount = std::size(kNames);

// The variables a field may not use: w and h are set before the corner
// exists, and x or y of itself would only ever read NaN.
constexpr uint32_t bit(Var v) { return uint32_t{1} << v; }
constexpr uint32_t kBarred[kFields] = {bit(kPosX) | bit(kPosY), bit(kPosX) | bit(kPosY), bit(kPosX),
                                       bit(kPosY)};

// One field's names, null-ended as av_expr_parse takes them, and the slot of each.
struct FieldNames {
    std::array<const char*, kNameCount + 1> names{};
    std::array<Var, kNameCount> vars{};
    size_t count = 0;

    explicit FieldNames(size_t field) {
        for (const auto& n : kNames)
            if ((kBarred[field] & bit(n.var)) == 0) {
                names[count] = n.name;
                vars[count++] = n.var;
            }
    }
    std::string list() const {
        std::string s;
        for (size_t i = 0; i < count; ++i) s += (i ? ", " : "") + std::string(names[i]);
        return s;
    }
};

struct ExprFree {
    void operator()(AVExpr* e) const { av_expr_free(e); }
};
using Expr = std::unique_ptr<AVExpr, ExprFree>;

std::string leadingName(std::string_view text) {
    size_t n = 0;
    while (n < text.size() && (std::isalnum(static_cast<unsigned char>(text[n])) || text[n] == '_')) ++n;
    return std::string(text.substr(0, n));
}

// FFmpeg's complaint (its log's last error, white space already dropped from
// the text it quotes) in the words of kivrel's other messages.
std::string describe(const std::string& logged, const FieldNames& names) {
    const auto quoted = [&](std::string_view lead, std::string_view tail, std::string& text) {
        if (logged.rfind(lead, 0) != 0) return false;
        const size_t end = logged.rfind(tail);
        text = end == std::string::npos || end < lead.size() ? ""
                                                             : logged.substr(lead.size(), end - lead.size());
        return true;
    };
    std::string rest;
    if (quoted("Undefined constant or missing '(' in '", "'", rest)) {
        if (rest.empty()) return "the expression ends too early";
        const std::string name = leadingName(rest);
        if (name.empty()) return "unexpected '" + rest + "'";
        return "unknown name '" + name + "' (" + names.list() + "; a function needs its '(')";
    }
    if (quoted("Unknown function in '", "'", rest)) return "unknown function '" + leadingName(rest) + "'";
    if (quoted("Invalid chars '", "' at the end of expression", rest)) return "unexpected '" + rest + "'";
    if (logged.rfind("Missing ')' or too many args", 0) == 0)
        return "a ')' is missing or a function has too many arguments";
    if (logged.rfind("Missing ')'", 0) == 0) return "a ')' is missing";
    // FFmpeg says nothing of a function short of arguments or of nesting past its bound.
    if (logged.empty()) return "not an expression FFmpeg's evaluator reads (too few arguments or too deep?)";
    return logged;
}

Status parseField(const std::string& text, size_t field, Expr& out) {
    const FieldNames names(field);
    takeLibraryMessage();  // an older error is not this one's
    AVExpr* e = nullptr;
    if (av_expr_parse(&e, text.c_str(), names.names.data(), nullptr, nullptr, nullptr, nullptr, 0, nullptr) <
        0)
        return Status::fail(describe(takeLibraryMessage(), names));
    out.reset(e);
    return {};
}

double evalField(const Expr& e, size_t field, const Values& values) {
    const FieldNames names(field);
    std::array<double, kNameCount> slots{};
    for (size_t i = 0; i < names.count; ++i) slots[i] = values[names.vars[i]];
    return av_expr_eval(e.get(), slots.data(), nullptr);
}

// What the crop filter knows of its input before the first frame.
Values frameValues(double inW, double inH, Rational sar) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    Values v;
    v.fill(nan);
    v[kInW] = inW;
    v[kInH] = inH;
    v[kA] = inW / inH;
    v[kSar] = sar.num != 0 && sar.den != 0 ? static_cast<double>(sar.num) / sar.den : 1.0;
    v[kDar] = v[kA] * v[kSar];
    v[kHsub] = v[kVsub] = 1.0;
    v[kN] = 0.0;
    return v;
}

bool fieldNamed(std::string_view name, size_t& field) {
    for (size_t f = 0; f < kFields; ++f) {
        const std::string_view names = kFieldNames[f];
        const size_t bar = names.find('|');
        if (name == names.substr(0, bar) ||
            (bar != std::string_view::npos && name == names.substr(bar + 1))) {
            field = f;
            return true;
        }
    }
    return false;
}

// FFmpeg's rounding of the crop's values (lrint): to the nearest, halves to even.
Status toInt(const CropRequest& request, size_t field, double v, int32_t& out) {
    const std::string_view names = kFieldNames[field];
    const std::string name(names.substr(0, names.find('|')));
    if (!std::isfinite(v) || v > std::numeric_limits<int32_t>::max() ||
        v < std::numeric_limits<int32_t>::min())
        return Status::usage("--crop " + request.text + ": " + name + " = '" + request.exprs[field] +
                             "' is not a finite number of pixels");
    out = static_cast<int32_t>(std::nearbyint(v));
    return {};
}

}  // namespace

Status evalCropExpr(std::string_view expr, double inW, double inH, double outW, double outH, double& value) {
    Expr e;
    if (Status s = parseField(std::string(expr), kW, e); !s.ok()) return s;
    Values v = frameValues(inW, inH, {1, 1});
    v[kOutW] = outW;
    v[kOutH] = outH;
    value = evalField(e, kW, v);
    return {};
}

Status parseCropRequest(std::string_view text, CropRequest& request) {
    request = CropRequest{};
    request.text = std::string(text);
    for (size_t f = 0; f < kFields; ++f) request.exprs[f] = kDefaults[f];
    size_t next = 0;  // the next positional field
    for (size_t begin = 0; begin <= text.size();) {
        const size_t colon = std::min(text.find(':', begin), text.size());
        std::string_view item = text.substr(begin, colon - begin);
        size_t field = next;
        if (const size_t eq = item.find('='); eq != std::string_view::npos) {
            if (!fieldNamed(item.substr(0, eq), field))
                return Status::fail("--crop: '" + std::string(item.substr(0, eq)) +
                                    "' is not one of w, h, x, y (out_w, out_h)");
            item = item.substr(eq + 1);
        } else if (next >= kFields) {
            return Status::fail("--crop: '" + std::string(text) + "' has more than four fields (W:H:X:Y)");
        }
        if (item.empty()) return Status::fail("--crop: '" + std::string(text) + "' has an empty field");
        request.exprs[field] = std::string(item);
        next = field + 1;
        begin = colon + 1;
    }
    // Syntax and names only: values are judged against the real frame.
    for (size_t f = 0; f < kFields; ++f) {
        Expr e;
        if (Status s = parseField(request.exprs[f], f, e); !s.ok())
            return Status::fail("--crop: '" + request.exprs[f] + "': " + s.message());
    }
    return {};
}

Status resolveCrop(const CropRequest& request, int32_t frameW, int32_t frameH, CropRegion& region,
                   Rational sampleAspect) {
    std::array<Expr, kFields> e;
    for (size_t f = 0; f < kFields; ++f)
        if (Status s = parseField(request.exprs[f], f, e[f]); !s.ok())
            return Status::usage("--crop " + request.text + ": " + s.message());
    Values v = frameValues(frameW, frameH, sampleAspect);
    // The crop filter's order; each sees the unrounded values before it.
    v[kOutW] = evalField(e[kW], kW, v);
    v[kOutH] = evalField(e[kH], kH, v);
    v[kOutW] = evalField(e[kW], kW, v);
    CropRegion r;
    if (Status t = toInt(request, kW, v[kOutW], r.w); !t.ok()) return t;
    if (Status t = toInt(request, kH, v[kOutH], r.h); !t.ok()) return t;
    v[kPosX] = evalField(e[kX], kX, v);
    v[kPosY] = evalField(e[kY], kY, v);
    v[kPosX] = evalField(e[kX], kX, v);
    if (Status t = toInt(request, kX, v[kPosX], r.x); !t.ok()) return t;
    if (Status t = toInt(request, kY, v[kPosY], r.y); !t.ok()) return t;
    const std::string what = "--crop " + request.text + ": the region " + std::to_string(r.w) + "x" +
                             std::to_string(r.h) + " at " + std::to_string(r.x) + "," + std::to_string(r.y);
    if (r.w <= 0 || r.h <= 0) return Status::fail(what + " is empty");
    const int64_t right = int64_t{r.x} + r.w, bottom = int64_t{r.y} + r.h;
    if (r.x < 0 || r.y < 0 || right > frameW || bottom > frameH)
        return Status::fail(what + " (columns " + std::to_string(r.x) + " to " + std::to_string(right - 1) +
                            ", rows " + std::to_string(r.y) + " to " + std::to_string(bottom - 1) +
                            ") is not wholly inside the " + std::to_string(frameW) + "x" +
                            std::to_string(frameH) + " frame");
    region = r;
    return {};
}
