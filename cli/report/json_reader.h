// The JSON kivrel writes (RFC 8259), read by nlohmann's JSON library into a
// small value of our own: the merge reads reports made elsewhere, so nesting
// is limited and a key given twice refused. Numbers keep the text written.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pluginhost/status.h"

// A member of an object: its key and its value (defined below, once the
// value's type is complete).
struct JsonMember;

struct JsonValue {
    enum class Kind { Null, Bool, Number, String, Array, Object };
    Kind kind = Kind::Null;
    bool flag = false;
    std::string text;  // a string's decoded UTF-8, a number as written
    std::vector<JsonValue> items;
    std::vector<JsonMember> members;  // in the order written

    const JsonValue* find(std::string_view key) const;
};

struct JsonMember {
    std::string key;
    JsonValue value;
};

// Parses one JSON text, nothing but white space around it.
Status parseJson(std::string_view text, JsonValue& out);
