#include "report/json_reader.h"

#include <vector>

#include <nlohmann/json.hpp>

namespace {

// Our reports nest four deep; anything far deeper is not ours, and a limit
// keeps a hostile file from costing the merge its memory.
constexpr size_t kMaxDepth = 32;

// nlohmann's SAX parser reads and checks the text (RFC 8259, UTF-8, escapes);
// this builds our value from its events, refusing what our reports never hold.
class Builder : public nlohmann::json_sax<nlohmann::json> {
public:
    explicit Builder(JsonValue& root) : root_(root) {}

    bool null() override { return place(JsonValue::Kind::Null); }
    bool boolean(bool b) override {
        if (!place(JsonValue::Kind::Bool)) return false;
        last_->flag = b;
        return true;
    }
    bool number_integer(number_integer_t n) override { return number(std::to_string(n)); }
    bool number_unsigned(number_unsigned_t n) override { return number(std::to_string(n)); }
    bool number_float(number_float_t, const string_t& written) override { return number(written); }
    bool string(string_t& s) override {
        if (!place(JsonValue::Kind::String)) return false;
        last_->text = std::move(s);
        return true;
    }
    bool binary(binary_t&) override { return refuse("binary data"); }
    bool start_object(std::size_t) override { return open(JsonValue::Kind::Object); }
    bool key(string_t& k) override {
        JsonValue& object = *open_.back();
        if (object.find(k) != nullptr) return refuse("a key twice in one object");
        object.members.push_back({std::move(k), {}});
        return true;
    }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(JsonValue::Kind::Array); }
    bool end_array() override { return close(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) override {
        // Its words without the "[json.exception.parse_error.101] " tag.
        const std::string what = e.what();
        const size_t tag = what.find("] ");
        return refuse(tag == std::string::npos ? what : what.substr(tag + 2));
    }

    const std::string& error() const { return error_; }

private:
    JsonValue& root_;
    std::vector<JsonValue*> open_;  // the arrays and objects being filled, outermost first
    JsonValue* last_ = nullptr;
    std::string error_;

    bool refuse(const std::string& why) {
        if (error_.empty()) error_ = why;
        return false;
    }
    // The value's place: the document, the next item of an array, or the
    // value of the key just read. Only the innermost open value grows, so
    // the pointers to those around it stay valid.
    bool place(JsonValue::Kind kind) {
        if (open_.empty()) {
            last_ = &root_;
        } else if (JsonValue& parent = *open_.back(); parent.kind == JsonValue::Kind::Array) {
            last_ = &parent.items.emplace_back();
        } else {
            last_ = &parent.members.back().value;
        }
        last_->kind = kind;
        return true;
    }
    bool number(const std::string& written) {
        if (!place(JsonValue::Kind::Number)) return false;
        last_->text = written;
        return true;
    }
    bool open(JsonValue::Kind kind) {
        if (open_.size() >= kMaxDepth) return refuse("nested too deep");
        if (!place(kind)) return false;
        open_.push_back(last_);
        return true;
    }
    bool close() {
        open_.pop_back();
        return true;
    }
};

}  // namespace

const JsonValue* JsonValue::find(std::string_view key) const {
    for (const auto& [k, v] : members)
        if (k == key) return &v;
    return nullptr;
}

Status parseJson(std::string_view text, JsonValue& out) {
    out = JsonValue{};
    Builder builder(out);
    if (!nlohmann::json::sax_parse(text.begin(), text.end(), &builder)) {
        out = JsonValue{};
        return Status::fail(builder.error().empty() ? "not JSON" : builder.error());
    }
    return {};
}
