#include "common/manifest/json_path.h"

#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>
#include <variant>
#include <vector>

namespace vantorix::manifest {
namespace {

using nlohmann::json;

// One step of a path: a member name or an array index.
using Step = std::variant<std::string, size_t>;

// Identifier characters of the script language the paths were written for; anything else (operators,
// ";", blanks) makes the path malformed rather than part of a member name.
bool IsNameChar(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$' || c >= 0x80;
}

std::vector<Step> ParsePath(std::string_view path) {
    std::vector<Step> steps;
    size_t i = 0;
    auto fail = [&](const char* why) { throw JsonPathError(std::string("bad path \"") + std::string(path) + "\": " + why); };
    auto name = [&] {
        size_t start = i;
        while (i < path.size() && IsNameChar(static_cast<unsigned char>(path[i]))) ++i;
        if (i == start) fail("member name expected");
        steps.emplace_back(std::string(path.substr(start, i - start)));
    };
    name();
    while (i < path.size()) {
        if (path[i] == '.') {
            ++i;
            name();
        } else if (path[i] == '[') {
            ++i;
            if (i < path.size() && (path[i] == '"' || path[i] == '\'')) {
                char quote = path[i++];
                std::string key;
                while (i < path.size() && path[i] != quote) {
                    if (path[i] == '\\' && i + 1 < path.size()) ++i;
                    key += path[i++];
                }
                if (i >= path.size()) fail("unterminated quoted name");
                ++i;
                steps.emplace_back(std::move(key));
            } else {
                size_t start = i, index = 0;
                while (i < path.size() && path[i] >= '0' && path[i] <= '9') {
                    // Indexes beyond any real array read as missing; saturate instead of overflowing.
                    index = index > (SIZE_MAX - 9) / 10 ? SIZE_MAX : index * 10 + static_cast<size_t>(path[i] - '0');
                    ++i;
                }
                if (i == start) fail("index expected");
                steps.emplace_back(index);
            }
            if (i >= path.size() || path[i] != ']') fail("\"]\" expected");
            ++i;
        } else {
            fail("unexpected character");
        }
    }
    return steps;
}

json ParseDocument(std::string_view text) {
    if (text.size() > kMaxJsonBytes) throw JsonPathError("document too large");
    // Depth is bounded so a hostile document cannot exhaust the stack of whoever walks it later.
    json::parser_callback_t limit_depth = [](int depth, json::parse_event_t, json&) {
        if (static_cast<size_t>(depth) > kMaxJsonDepth) throw JsonPathError("document nested too deeply");
        return true;
    };
    try {
        return json::parse(text.begin(), text.end(), limit_depth);
    } catch (const json::exception& e) {
        throw JsonPathError(std::string("not a JSON document: ") + e.what());
    }
}

// Array members by name follow the script language: a decimal index or "length".
std::optional<const json*> ArrayMember(const json& array, const std::string& name, json& scratch) {
    if (name == "length") {
        scratch = array.size();
        return &scratch;
    }
    if (name.empty() || name.size() > 10 || (name.size() > 1 && name[0] == '0')) return std::nullopt;
    size_t index = 0;
    for (char c : name) {
        if (c < '0' || c > '9') return std::nullopt;
        index = index * 10 + static_cast<size_t>(c - '0');
    }
    if (index >= array.size()) return std::nullopt;
    return &array[index];
}

}  // namespace

bool IsJsonDocument(std::string_view json_text) {
    try {
        ParseDocument(json_text);
        return true;
    } catch (const JsonPathError&) {
        return false;
    }
}

JsonValue GetJsonValue(std::string_view path, std::string_view json_text) {
    const std::vector<Step> steps = ParsePath(path);
    const json document = ParseDocument(json_text);
    json scratch;
    const json* current = &document;
    bool missing = false;
    for (const Step& step : steps) {
        // Reading a member of a missing or null value is the error the caller sees for a document
        // without "Version_date".
        if (missing || current->is_null()) throw JsonPathError("no value to read a member of in path \"" + std::string(path) + "\"");
        const json* next = nullptr;
        if (current->is_object()) {
            std::string key = std::holds_alternative<size_t>(step) ? std::to_string(std::get<size_t>(step)) : std::get<std::string>(step);
            auto it = current->find(key);
            if (it != current->end()) next = &*it;
        } else if (current->is_array()) {
            if (std::holds_alternative<size_t>(step)) {
                size_t index = std::get<size_t>(step);
                if (index < current->size()) next = &(*current)[index];
            } else if (auto member = ArrayMember(*current, std::get<std::string>(step), scratch)) {
                next = *member;
            }
        }
        // Members of a text, number or boolean read as missing.
        if (next)
            current = next;
        else
            missing = true;
    }
    JsonValue value;
    if (missing) return value;
    switch (current->type()) {
        case json::value_t::string:
            value.kind = JsonValue::Kind::Text;
            value.text = current->get<std::string>();
            break;
        case json::value_t::number_integer:
        case json::value_t::number_unsigned:
        case json::value_t::number_float:
            value.kind = JsonValue::Kind::Number;
            value.number = current->get<double>();
            break;
        case json::value_t::boolean:
            value.kind = JsonValue::Kind::Boolean;
            value.boolean = current->get<bool>();
            break;
        case json::value_t::null:
            value.kind = JsonValue::Kind::Null;
            break;
        default:
            value.kind = JsonValue::Kind::Composite;
            value.text = current->dump();
            break;
    }
    return value;
}

std::string ValueToText(const JsonValue& value) {
    switch (value.kind) {
        case JsonValue::Kind::Empty: return "";
        case JsonValue::Kind::Text: return value.text;
        case JsonValue::Kind::Boolean: return value.boolean ? "True" : "False";
        case JsonValue::Kind::Number: {
            double x = value.number;
            if (!std::isfinite(x)) throw JsonPathError("number out of range");
            char buffer[40];
            if (std::fabs(x) < 1e15 && x == std::floor(x)) {
                std::snprintf(buffer, sizeof buffer, "%.0f", x == 0 ? 0.0 : x);
            } else {
                // At most 15 significant digits, exponent written as E+21 / E-07.
                std::snprintf(buffer, sizeof buffer, "%.15G", x);
            }
            return buffer;
        }
        case JsonValue::Kind::Null: throw JsonPathError("null has no text");
        case JsonValue::Kind::Composite: throw JsonPathError("an object or array has no text");
    }
    return "";
}

}  // namespace vantorix::manifest
