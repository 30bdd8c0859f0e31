#include "standin.h"

namespace velview_test {

const Standin& Standin::Get() {
    static const Standin s = [] {
        Standin r;
        HMODULE node = LoadLibraryW(L"node.dll");
        if (!node) return r;
        bool all = true;
#define STANDIN_FN(name)                                                                 \
    r.name = reinterpret_cast<decltype(&::name)>(reinterpret_cast<void*>(GetProcAddress(node, #name))); \
    all = all && r.name != nullptr;
        VELVIEW_TEST_STANDIN_FUNCTIONS(STANDIN_FN)
#undef STANDIN_FN
        r.loaded = all;
        return r;
    }();
    return s;
}

std::vector<std::string> Standin::Names(int from) const {
    std::vector<std::string> names;
    int count = standinLogCount();
    for (int i = from; i < count; ++i) {
        char buf[128] = {};
        standinLogName(i, buf, sizeof buf);
        names.emplace_back(buf);
    }
    return names;
}

std::vector<int> Standin::Find(const char* name, int from) const {
    std::vector<int> found;
    for (int i = standinLogFind(name, from); i >= 0; i = standinLogFind(name, i + 1)) found.push_back(i);
    return found;
}

std::wstring Standin::Text(int entry, int arg) const {
    wchar_t buf[1024] = {};
    int n = standinLogArgText(entry, arg, buf, 1024);
    return n < 0 ? std::wstring() : std::wstring(buf);
}

}  // namespace velview_test
