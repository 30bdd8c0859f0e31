#pragma once
// Reading one value out of a JSON text by a member path such as "Version_date.version" or "a.b[0].c".
// The document is parsed as data, never run as script.
#include <stdexcept>
#include <string>
#include <string_view>

namespace vantorix::manifest {

// The tagged value a lookup yields. Empty is a missing last member; callers turn it into "".
struct JsonValue {
    enum class Kind { Empty, Text, Number, Boolean, Null, Composite };
    Kind kind = Kind::Empty;
    std::string text;     // Text: the string (UTF-8); Composite: the member's JSON
    double number = 0;    // Number
    bool boolean = false; // Boolean
};

// The path or the document cannot be evaluated: empty or malformed JSON, a malformed path, or a missing
// (or null) intermediate member.
class JsonPathError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Documents larger than this or nested deeper are refused as malformed.
inline constexpr size_t kMaxJsonBytes = 4u << 20;
inline constexpr size_t kMaxJsonDepth = 256;

// Path first, document second. Member names match exactly, case included; "[n]" selects an array
// element and "[\"name\"]" a member. Throws JsonPathError.
JsonValue GetJsonValue(std::string_view path, std::string_view json_text);

// True when the text is one well-formed JSON value within the limits above.
bool IsJsonDocument(std::string_view json_text);

// The text a caller stores for a value: Empty "", Text itself, Number its shortest decimal text ("1",
// "1.5", "1E+21"), Boolean "True"/"False". Null and Composite have no text: throws JsonPathError.
std::string ValueToText(const JsonValue& value);

}  // namespace vantorix::manifest
