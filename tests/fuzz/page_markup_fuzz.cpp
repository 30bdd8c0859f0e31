// The skin-markup reader over any page (UTF-8 in, read as the UTF-16 the programs keep). Every call it
// reports is one of the bound functions with a label, and its arguments, written out again as script,
// read back as the same call; entity decoding never grows a text; UTF-8 and UTF-16 convert both ways.
#include "common/pagemarkup/page_markup.h"
#include "common/text/utf8.h"
#include "fuzz_support.h"

using namespace vantorix::pagemarkup;

namespace {

std::u16string Written(const CallArgument& arg) {
    if (arg.is_number) return arg.text;
    std::u16string out = u"'";
    for (char16_t c : arg.text) {
        if (c == u'\'' || c == u'\\') out += u'\\';
        if (c == u'\n') {
            out += u"\\n";
            continue;
        }
        out += c;
    }
    return out + u"'";
}

bool SameArguments(const std::vector<CallArgument>& a, const std::vector<CallArgument>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].is_number != b[i].is_number || a[i].text != b[i].text) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes = fuzz_support::Text(data, size);
    const std::u16string html = vantorix::text::DecodeUtf8(bytes);
    const std::string utf8 = vantorix::text::EncodeUtf8(html);
    FUZZ_CHECK(vantorix::text::DecodeUtf8(utf8) == html);
    FUZZ_CHECK(html.find(u'&') != std::u16string::npos || DecodeEntities(html) == html);
    FUZZ_CHECK(DecodeEntities(html).size() <= html.size());

    const Page page = ParsePage(html);
    for (const PageCall& call : page.calls) {
        FUZZ_CHECK(call.function == "onJsCall" || call.function == "jsCall");
        FUZZ_CHECK(!call.label.empty());
        for (char c : call.trigger) FUZZ_CHECK((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '$' || c == '-');
        std::u16string expression = std::u16string(call.function.begin(), call.function.end()) + u"(";
        for (std::size_t i = 0; i < call.args.size(); ++i) {
            CallArgument back;
            FUZZ_CHECK(ParseLiteral(Written(call.args[i]), back));
            FUZZ_CHECK(back.is_number == call.args[i].is_number && back.text == call.args[i].text);
            expression += (i ? u", " : u"") + Written(call.args[i]);
        }
        expression += u")";
        std::string function;
        std::vector<CallArgument> args;
        FUZZ_CHECK(ParseCallExpression(expression, function, args));
        FUZZ_CHECK(function == call.function && SameArguments(args, call.args));
    }
    return 0;
}
