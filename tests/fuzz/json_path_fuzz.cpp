// JSON paths over any document (input: the path, a line break, the document). A lookup gives a value or a
// JsonPathError, nothing else; a text that is no document never gives a value; and a value read out of
// one document reads back the same from a document written around it.
#include <nlohmann/json.hpp>

#include "common/manifest/json_path.h"
#include "fuzz_support.h"

using namespace vantorix::manifest;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto fields = fuzz_support::Fields(fuzz_support::Text(data, size), 2);
    if (fields.size() < 2) return 0;
    const std::string_view path = fields[0], document = fields[1];
    JsonValue value;
    try {
        value = GetJsonValue(path, document);
    } catch (const JsonPathError&) {
        return 0;
    }
    FUZZ_CHECK(IsJsonDocument(document));

    nlohmann::json written;
    switch (value.kind) {
        case JsonValue::Kind::Empty: return 0;
        case JsonValue::Kind::Null: written = nullptr; break;
        case JsonValue::Kind::Text: written = value.text; break;
        case JsonValue::Kind::Number: written = value.number; break;
        case JsonValue::Kind::Boolean: written = value.boolean; break;
        case JsonValue::Kind::Composite:
            FUZZ_CHECK(IsJsonDocument(value.text));
            written = nlohmann::json::parse(value.text);
            break;
    }
    const std::string around =
        nlohmann::json{{"v", written}}.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
    const JsonValue back = GetJsonValue("v", around);
    FUZZ_CHECK(back.kind == value.kind);
    FUZZ_CHECK(back.text == value.text);
    FUZZ_CHECK(back.boolean == value.boolean);
    FUZZ_CHECK(back.number == value.number || (back.number != back.number && value.number != value.number));
    if (value.kind == JsonValue::Kind::Text || value.kind == JsonValue::Kind::Boolean)
        FUZZ_CHECK(ValueToText(back) == ValueToText(value));
    return 0;
}
