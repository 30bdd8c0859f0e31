// The downloader's side files. Input, one field a line: a target path, a number, the URL, the text found
// in the settings side file, the text found in the tag side file (as ANSI bytes widened one by one).
// Checks the numbered names, the resume rule, the address and trimming helpers and the tag reader.
#include <set>

#include "common/download/side_files.h"
#include "common/download/validator.h"
#include "fuzz_support.h"

using namespace vantorix::download;

namespace {

std::wstring Widen(std::string_view bytes) {
    std::wstring text;
    for (char c : bytes) text += static_cast<wchar_t>(static_cast<unsigned char>(c));
    return text;
}

bool StartsWith(const std::wstring& text, const std::wstring& prefix) { return text.compare(0, prefix.size(), prefix) == 0; }
bool EndsWith(const std::wstring& text, const std::wstring& suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

void CheckNumberedName(const std::wstring& path, int n) {
    const std::wstring numbered = NumberedName(path, n);
    FUZZ_CHECK(numbered.empty() == !HasFolder(path));
    if (numbered.empty()) return;
    const std::wstring folder = path.substr(0, path.rfind(L'\\') + 1), name = path.substr(folder.size());
    const std::size_t dot = name.rfind(L'.');
    const std::wstring extension = dot == std::wstring::npos ? L"" : name.substr(dot);
    FUZZ_CHECK(numbered != path);
    FUZZ_CHECK(StartsWith(numbered, folder) && EndsWith(numbered, L"(" + std::to_wstring(n) + L")" + extension));
    FUZZ_CHECK(numbered.size() == path.size() + std::to_wstring(n).size() + 2);
}

void CheckPicks(const std::wstring& path, int taken) {
    // The first `taken` numbers are in use (alternately by a data and a settings file).
    std::set<std::wstring> present;
    for (int k = 1; k <= taken; ++k) present.insert(DefaultSideFiles(NumberedName(path, k)).data + (k % 2 ? L"" : L".cfg"));
    const auto exists = [&](const std::wstring& p) { return present.count(p) > 0; };
    const std::optional<SideFiles> picked = PickSideFiles(path, exists);
    FUZZ_CHECK(picked.has_value() == HasFolder(path));
    if (!picked) return;
    FUZZ_CHECK(!exists(picked->data) && !exists(picked->settings));
    FUZZ_CHECK(picked->data == DefaultSideFiles(NumberedName(path, taken + 1)).data);
    FUZZ_CHECK(picked->Validator() == picked->data + L".tag");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto fields = fuzz_support::Fields(fuzz_support::Text(data, size), 5);
    const auto field = [&](std::size_t i) { return i < fields.size() ? Widen(fields[i]) : std::wstring(); };
    const std::wstring path = field(0), url = field(2), stored = field(3), tag = field(4);
    int n = 1;
    for (wchar_t c : field(1)) n = (n * 10 + static_cast<int>(c % 10)) % kMaxNumberedName + 1;

    CheckNumberedName(path, n);
    CheckPicks(path, n % 8);

    const std::wstring trimmed = TrimSpaces(stored);
    FUZZ_CHECK(TrimSpaces(trimmed) == trimmed);
    FUZZ_CHECK(trimmed.empty() || (trimmed.front() != L' ' && trimmed.back() != L' '));
    const std::wstring normal = NormalizeUrl(url);
    FUZZ_CHECK(NormalizeUrl(normal) == normal);
    FUZZ_CHECK(normal == url || normal == L"http://" + url);

    for (int found = 0; found < 4; ++found) {
        const bool data_exists = found & 1, settings_exist = found & 2;
        const ResumeDecision decision = DecideResume(data_exists, settings_exist, stored, url);
        FUZZ_CHECK(!(decision.resume && decision.pickNewNames));
        FUZZ_CHECK(decision.resume == (data_exists && settings_exist && trimmed == TrimSpaces(url)));
        FUZZ_CHECK(decision.pickNewNames == ((data_exists || settings_exist) && !decision.resume));
    }

    // What the tag reader takes goes into a header as it stands: a validator, the file's text exactly.
    const std::optional<std::string> validator = ParseValidatorTag(tag);
    if (validator) {
        FUZZ_CHECK(IsIfRangeValidator(*validator));
        FUZZ_CHECK(Widen(*validator) == tag);
        FUZZ_CHECK(validator->find_first_of("\r\n") == std::string::npos);
    }
    return 0;
}
