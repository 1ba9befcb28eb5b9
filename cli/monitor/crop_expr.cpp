#include "monitor/crop_expr.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>

namespace {

constexpr std::string_view kFieldNames[] = {"w|out_w", "h|out_h", "x", "y"};
constexpr size_t kFields = std::size(kFieldNames);
constexpr std::string_view kDefaults[kFields] = {"iw", "ih", "(in_w-out_w)/2", "(in_h-out_h)/2"};
constexpr size_t kW = 0, kH = 1, kX = 2, kY = 3;

struct Vars {
    double inW, inH, outW, outH;
};

// Recursive descent over sum := product (('+'|'-') product)*,
// product := unary (('*'|'/') unary)*, unary := '-' unary | '+' unary | atom.
class Parser {
public:
    Parser(std::string_view text, const Vars& vars) : text_(text), vars_(vars) {}

    Status run(double& value) {
        value = sum();
        skipSpace();
        if (error_.empty() && pos_ < text_.size())
            error_ =
                "unexpected '" + std::string(1, text_[pos_]) + "' at character " + std::to_string(pos_ + 1);
        if (!error_.empty()) return Status::fail(error_);
        return {};
    }

private:
    void skipSpace() {
        while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    }
    bool take(char c) {
        skipSpace();
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    double sum() {
        double v = product();
        for (;;) {
            if (take('+'))
                v += product();
            else if (take('-'))
                v -= product();
            else
                return v;
        }
    }
    double product() {
        double v = unary();
        for (;;) {
            if (take('*'))
                v *= unary();
            else if (take('/'))
                v /= unary();
            else
                return v;
        }
    }
    double unary() {
        // Each sign and parenthesis nests a call: a bound keeps a long
        // command line from exhausting the stack.
        constexpr int kMaxNesting = 256;
        if (!error_.empty()) return 0.0;
        if (nesting_ >= kMaxNesting) {
            error_ = "the expression nests too deeply";
            return 0.0;
        }
        ++nesting_;
        const double v = take('-') ? -unary() : take('+') ? unary() : atom();
        --nesting_;
        return v;
    }
    double atom() {
        constexpr double kNothing = 0.0;
        skipSpace();
        if (!error_.empty()) return kNothing;
        if (pos_ >= text_.size()) {
            error_ = "the expression ends too early";
            return kNothing;
        }
        if (take('(')) {
            const double v = sum();
            if (error_.empty() && !take(')'))
                error_ = "a ')' is missing at character " + std::to_string(pos_ + 1);
            return v;
        }
        const char c = text_[pos_];
        if (std::isdigit(static_cast<unsigned char>(c)) || c == '.') {
            double v = 0.0;
            const auto [end, ec] = std::from_chars(text_.data() + pos_, text_.data() + text_.size(), v);
            if (ec != std::errc()) {
                error_ = "a bad number at character " + std::to_string(pos_ + 1);
                return kNothing;
            }
            pos_ = static_cast<size_t>(end - text_.data());
            return v;
        }
        const size_t begin = pos_;
        while (pos_ < text_.size() &&
               (std::isalnum(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '_'))
            ++pos_;
        const std::string_view name = text_.substr(begin, pos_ - begin);
        if (name == "in_w" || name == "iw") return vars_.inW;
        if (name == "in_h" || name == "ih") return vars_.inH;
        if (name == "out_w" || name == "ow") return vars_.outW;
        if (name == "out_h" || name == "oh") return vars_.outH;
        if (name == "a") return vars_.inW / vars_.inH;
        error_ =
            name.empty()
                ? "unexpected '" + std::string(1, c) + "' at character " + std::to_string(begin + 1)
                : "unknown name '" + std::string(name) + "' (in_w, iw, in_h, ih, out_w, ow, out_h, oh, a)";
        return kNothing;
    }

    std::string_view text_;
    const Vars& vars_;
    size_t pos_ = 0;
    int nesting_ = 0;
    std::string error_;
};

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
    const Vars vars{inW, inH, outW, outH};
    return Parser(expr, vars).run(value);
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
    // Syntax and names, with any frame: values are judged against the real one.
    constexpr double kAnySide = 100.0;
    for (size_t f = 0; f < kFields; ++f) {
        double v = 0.0;
        if (Status s = evalCropExpr(request.exprs[f], kAnySide, kAnySide, kAnySide, kAnySide, v); !s.ok())
            return Status::fail("--crop: '" + request.exprs[f] + "': " + s.message());
    }
    return {};
}

Status resolveCrop(const CropRequest& request, int32_t frameW, int32_t frameH, CropRegion& region) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double iw = frameW, ih = frameH;
    double w = 0.0, h = 0.0, x = 0.0, y = 0.0;
    Status s = evalCropExpr(request.exprs[kW], iw, ih, nan, nan, w);
    if (s.ok()) s = evalCropExpr(request.exprs[kH], iw, ih, w, nan, h);
    if (s.ok()) s = evalCropExpr(request.exprs[kW], iw, ih, w, h, w);
    if (!s.ok()) return Status::usage("--crop " + request.text + ": " + s.message());
    CropRegion r;
    if (Status t = toInt(request, kW, w, r.w); !t.ok()) return t;
    if (Status t = toInt(request, kH, h, r.h); !t.ok()) return t;
    s = evalCropExpr(request.exprs[kX], iw, ih, r.w, r.h, x);
    if (s.ok()) s = evalCropExpr(request.exprs[kY], iw, ih, r.w, r.h, y);
    if (!s.ok()) return Status::usage("--crop " + request.text + ": " + s.message());
    if (Status t = toInt(request, kX, x, r.x); !t.ok()) return t;
    if (Status t = toInt(request, kY, y, r.y); !t.ok()) return t;
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
