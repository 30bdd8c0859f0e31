// Loading content into a view. The stand-in reads local files itself (file:/// addresses, with the query
// and fragment a page address may carry) and records every other address without fetching it. Loading is
// synchronous: once a load call returns, the page is complete and its document ready.
#include <windows.h>

#include "engine-standin/text_codec.h"
#include "engine-standin/views.h"
#include "win/unique_handle.h"

namespace standin {
namespace {

constexpr DWORD kMaxPageBytes = 16u << 20;

bool StartsWithNoCase(const std::wstring& s, const wchar_t* prefix) {
    std::size_t n = wcslen(prefix);
    return s.size() >= n && _wcsnicmp(s.c_str(), prefix, n) == 0;
}

int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

// "file:///C:/dir/page.html?x#y" or "file:///C:\dir\page.html" -> "C:\dir\page.html"; "file://host/share/x" ->
// "\\host\share\x". Percent escapes are UTF-8.
std::wstring PathOfFileUrl(const std::wstring& url) {
    std::wstring rest = url.substr(5);  // after "file:"
    std::size_t cut = rest.find_first_of(L"?#");
    if (cut != std::wstring::npos) rest.resize(cut);
    std::wstring prefix;
    if (rest.compare(0, 3, L"///") == 0 || rest.compare(0, 3, L"\\\\\\") == 0) {
        rest.erase(0, 3);
    } else if (rest.compare(0, 2, L"//") == 0) {
        rest.erase(0, 2);
        prefix = L"\\\\";
    }
    std::string bytes;
    std::wstring out = prefix;
    auto flush = [&] {
        if (!bytes.empty()) out += FromPageBytes(bytes);
        bytes.clear();
    };
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == L'%' && i + 2 < rest.size() && HexDigit(rest[i + 1]) >= 0 && HexDigit(rest[i + 2]) >= 0) {
            bytes += static_cast<char>(HexDigit(rest[i + 1]) * 16 + HexDigit(rest[i + 2]));
            i += 2;
            continue;
        }
        flush();
        out += rest[i] == L'/' ? L'\\' : rest[i];
    }
    flush();
    return out;
}

bool ReadFileBytes(const std::wstring& path, std::string& out) {
    vantorix::win::unique_hfile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > kMaxPageBytes) return false;
    out.resize(static_cast<std::size_t>(size.QuadPart));
    DWORD read = 0;
    if (!out.empty() && !ReadFile(file.get(), &out[0], static_cast<DWORD>(out.size()), &read, nullptr)) return false;
    out.resize(read);
    return true;
}

void Show(View& view, const std::wstring& url, const std::wstring& html, bool failed) {
    view.url = url;
    view.source = html;
    std::u16string markup(html.begin(), html.end());
    auto page = vantorix::pagemarkup::ParsePage(markup);
    view.title.assign(page.title.begin(), page.title.end());
    view.buttons = std::move(page.calls);
    view.alerts.clear();
    view.load_failed = failed;
    view.load_complete = true;
    view.document_ready = !failed;
    RepaintPage(view);
    QueueLoadNotifications(view.handle);
}

}  // namespace

void LoadUrl(View& view, const std::wstring& url) {
    if (!StartsWithNoCase(url, L"file:")) {
        Show(view, url, L"", false);
        return;
    }
    std::string bytes;
    if (!ReadFileBytes(PathOfFileUrl(url), bytes)) {
        Show(view, url, L"", true);
        return;
    }
    Show(view, url, FromPageBytes(bytes), false);
}

void LoadFile(View& view, const std::wstring& file) {
    if (StartsWithNoCase(file, L"file:")) {
        LoadUrl(view, file);
        return;
    }
    std::string bytes;
    std::wstring url = L"file:///" + file;
    for (auto& c : url)
        if (c == L'\\') c = L'/';
    if (!ReadFileBytes(file, bytes)) {
        Show(view, url, L"", true);
        return;
    }
    Show(view, url, FromPageBytes(bytes), false);
}

void LoadHtml(View& view, const std::wstring& html, const std::wstring& base_url) { Show(view, base_url, html, false); }

}  // namespace standin
