#include "webview/bridge/my_module.h"

#include "common/text/utf8.h"

namespace velview::MyModule {

std::vector<std::uint8_t> ByteArrayFromPointer(const void* address, long n) {
    if (!address || n <= 0) return {};
    const auto* bytes = static_cast<const std::uint8_t*>(address);
    return std::vector<std::uint8_t>(bytes, bytes + n);
}

std::wstring PercentEncodeUtf8(const std::wstring& text) {
    const std::u16string encoded = vantorix::text::PercentEncodeUtf8(std::u16string(text.begin(), text.end()));
    return std::wstring(encoded.begin(), encoded.end());
}

}  // namespace velview::MyModule
