// The call bridge against real system libraries and a real COM object, and the text and byte helpers.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>

#include <string>

#include "webview/bridge/my_module.h"
#include "webview/bridge/universal_dll_calls.h"

namespace {

using velview::cUniversalDLLCalls;
using velview::Variant;

// A DLL that no test program loads by itself, so the bridge has to load it.
constexpr wchar_t kUnloadedLibrary[] = L"cards.dll";

Variant TextArg(const wchar_t* text) { return Variant::Text(text, static_cast<UINT>(wcslen(text))); }

TEST(CallFunctionDll, TextReachesTheCalleeAsUtf16OrCodePageAndTheCallersTextStaysIntact) {
    cUniversalDLLCalls calls;
    const wchar_t* text = L"h\u00E9llo \u4E2D";
    Variant arg = TextArg(text);
    // mode 2: a pointer to zero-terminated UTF-16, 7 units
    Variant r = calls.CallFunction_DLL(L"kernel32.dll", L"lstrlenW", velview::kStringUtf16, VT_I4, CC_STDCALL,
                                       arg.get(), 1);
    EXPECT_EQ(r.type(), VT_I4);
    EXPECT_EQ(r.AsInt32(), 7);
    // mode 1: a pointer to zero-terminated text in the system code page, as many bytes as it converts to
    char narrow[32] = {};
    const int bytes = WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof narrow, nullptr, nullptr) - 1;
    r = calls.CallFunction_DLL(L"kernel32.dll", L"lstrlenA", velview::kStringCodePage, VT_I4, CC_STDCALL,
                               arg.get(), 1);
    EXPECT_EQ(r.AsInt32(), bytes);
    EXPECT_STREQ(arg.get()->bstrVal, text) << "the caller's text must survive a code-page call";
    // by reference: the callee gets the referenced variable's current value
    VARIANT ref;
    VariantInit(&ref);
    ref.vt = VT_BSTR | VT_BYREF;
    ref.pbstrVal = &arg.get()->bstrVal;
    r = calls.CallFunction_DLL(L"kernel32.dll", L"lstrlenW", velview::kStringUtf16, VT_I4, CC_STDCALL, &ref, 1);
    EXPECT_EQ(r.AsInt32(), 7);
    // MulDiv(x, 1, 1) gives x back: it shows the very pointer the callee received. A null text is a null
    // pointer, a text a pointer to the characters (not the caller's own storage).
    Variant null = Variant::Text(nullptr, 0);
    Variant one = Variant::Int32(1);
    VARIANT echo[] = {*null.get(), *one.get(), *one.get()};
    r = calls.CallFunction_DLL(L"kernel32.dll", L"MulDiv", velview::kStringUtf16, VT_I4, CC_STDCALL, echo, 3);
    EXPECT_EQ(r.type(), VT_I4);
    EXPECT_EQ(r.AsInt32(), 0);
    // String mode 0 passes the text as it is: a BSTR, whose characters a UTF-16 reader can take.
    r = calls.CallFunction_DLL(L"kernel32.dll", L"lstrlenW", velview::kStringAsIs, VT_I4, CC_STDCALL, arg.get(), 1);
    EXPECT_EQ(r.AsInt32(), 7);
}

TEST(CallFunctionDll, RefusedCallsGiveEmptyAndMakeNoCall) {
    cUniversalDLLCalls calls;
    Variant arg = Variant::Int32(5);
    struct Case {
        const char* what;
        const wchar_t* lib;
        const wchar_t* fn;
        int mode;
        int type;
    } cases[] = {
        {"empty export name", L"kernel32.dll", L"", 0, VT_I4},
        {"empty library name", L"", L"Sleep", 0, VT_I4},
        {"missing export", L"kernel32.dll", L"NoSuchExportAnywhere", 0, VT_I4},
        {"missing library", L"no_such_library_here.dll", L"Sleep", 0, VT_I4},
        {"string mode 3", L"kernel32.dll", L"Sleep", 3, VT_I4},
        {"string mode -1", L"kernel32.dll", L"Sleep", -1, VT_I4},
        {"result type above 16 bits", L"kernel32.dll", L"Sleep", 0, 0x10003},
    };
    for (const Case& c : cases) {
        SetLastError(0);
        Variant r = calls.CallFunction_DLL(c.lib, c.fn, c.mode, c.type, CC_STDCALL, arg.get(), 1);
        EXPECT_TRUE(r.empty()) << c.what;
        EXPECT_EQ(r.AsInt32(), 0) << c.what;
    }
}

TEST(CallFunctionDll, NoResultTypeGivesTheIntegerZero) {
    cUniversalDLLCalls calls;
    Variant arg = Variant::Int32(0);
    Variant r = calls.CallFunction_DLL(L"kernel32.dll", L"Sleep", 0, VT_EMPTY, CC_STDCALL, arg.get(), 1);
    EXPECT_EQ(r.type(), VT_I4);
    EXPECT_EQ(r.AsInt32(), 0);
}

TEST(CallFunctionDll, CachesOneLibraryAndReleasesOnlyWhatItLoaded) {
    ASSERT_EQ(GetModuleHandleW(kUnloadedLibrary), nullptr) << "the test needs a library nobody loaded";
    cUniversalDLLCalls calls;
    Variant arg = Variant::Int32(0);
    // Found already loaded: cached, not loaded here.
    calls.CallFunction_DLL(L"kernel32.dll", L"Sleep", 0, VT_EMPTY, CC_STDCALL, arg.get(), 1);
    EXPECT_EQ(calls.CachedLibrary(), L"kernel32.dll");
    EXPECT_EQ(calls.CachedModule(), GetModuleHandleW(L"kernel32.dll"));
    EXPECT_FALSE(calls.LoadedHere());
    // Another library: the bridge loads it (a missing export still leaves the module cached).
    calls.CallFunction_DLL(kUnloadedLibrary, L"NoSuchExport", 0, VT_I4, CC_STDCALL);
    EXPECT_EQ(calls.CachedLibrary(), kUnloadedLibrary);
    EXPECT_TRUE(calls.LoadedHere());
    HMODULE loaded = GetModuleHandleW(kUnloadedLibrary);
    EXPECT_NE(loaded, nullptr);
    EXPECT_EQ(calls.CachedModule(), loaded);
    // The same name again: the cached handle is used as it is.
    calls.CallFunction_DLL(kUnloadedLibrary, L"NoSuchExport", 0, VT_I4, CC_STDCALL);
    EXPECT_EQ(calls.CachedModule(), loaded);
    // Back to kernel32: the library this instance loaded is released.
    calls.CallFunction_DLL(L"kernel32.dll", L"Sleep", 0, VT_EMPTY, CC_STDCALL, arg.get(), 1);
    EXPECT_EQ(GetModuleHandleW(kUnloadedLibrary), nullptr);
    EXPECT_FALSE(calls.LoadedHere());
    // A library that cannot be found clears the cache.
    calls.CallFunction_DLL(L"no_such_library_here.dll", L"X", 0, VT_I4, CC_STDCALL);
    EXPECT_TRUE(calls.CachedLibrary().empty());
    EXPECT_EQ(calls.CachedModule(), nullptr);
}

TEST(CallFunctionDll, PassesDoublesAndReturnsThem) {
    cUniversalDLLCalls calls;
    Variant args[] = {Variant::Double(2.0), Variant::Double(10.0)};
    VARIANT raw[] = {*args[0].get(), *args[1].get()};
    Variant r = calls.CallFunction_DLL(L"msvcrt.dll", L"pow", 0, VT_R8, CC_CDECL, raw, 2);
    EXPECT_EQ(r.type(), VT_R8);
    EXPECT_DOUBLE_EQ(r.AsDouble(), 1024.0);
}

TEST(CallFunctionCom, CallsAMethodOfARealObjectByItsOffset) {
    IStream* stream = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
    cUniversalDLLCalls calls;
    // IUnknown::AddRef at offset 4 and Release at 8: the returned counts prove the call reached the object.
    Variant r = calls.CallFunction_COM(stream, 4, VT_UI4, CC_STDCALL);
    EXPECT_EQ(r.AsInt32(), 2);
    r = calls.CallFunction_COM(stream, 8, VT_UI4, CC_STDCALL);
    EXPECT_EQ(r.AsInt32(), 1);
    // ISequentialStream::Write(pv, cb, pcbWritten) at offset 16.
    const char data[] = "bridge";
    ULONG written = 0;
    Variant args[] = {Variant::Int32(static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(data))),
                      Variant::Int32(6),
                      Variant::Int32(static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(&written)))};
    VARIANT raw[] = {*args[0].get(), *args[1].get(), *args[2].get()};
    r = calls.CallFunction_COM(stream, 16, VT_ERROR, CC_STDCALL, raw, 3);
    EXPECT_EQ(r.get()->scode, S_OK);
    EXPECT_EQ(written, 6u);
    STATSTG stat{};
    stream->Stat(&stat, STATFLAG_NONAME);
    EXPECT_EQ(stat.cbSize.QuadPart, 6u);
    // Refused: null pointer, negative offset, result type above 16 bits.
    EXPECT_TRUE(calls.CallFunction_COM(nullptr, 4, VT_UI4, CC_STDCALL).empty());
    EXPECT_TRUE(calls.CallFunction_COM(stream, -4, VT_UI4, CC_STDCALL).empty());
    EXPECT_TRUE(calls.CallFunction_COM(stream, 4, 0x10013, CC_STDCALL).empty());
    EXPECT_EQ(stream->Release(), 0u) << "the refused calls must not have touched the count";
}

TEST(PointerToString, ReadsCodePageUtf16AndUtf8Text) {
    EXPECT_EQ(cUniversalDLLCalls::PointerToStringA(nullptr), L"");
    EXPECT_EQ(cUniversalDLLCalls::PointerToStringA(""), L"");
    EXPECT_EQ(cUniversalDLLCalls::PointerToStringA("text/html"), L"text/html");
    EXPECT_EQ(cUniversalDLLCalls::PointerToStringW(nullptr), L"");
    EXPECT_EQ(cUniversalDLLCalls::PointerToStringW(L""), L"");
    EXPECT_EQ(cUniversalDLLCalls::PointerToStringW(L"\u4E2D\u6587"), L"\u4E2D\u6587");
    struct Case {
        const char* bytes;
        const wchar_t* text;
    } cases[] = {
        {nullptr, L""},
        {"", L""},
        {"abc", L"abc"},
        {"\xC3\xA9", L"\u00E9"},
        {"\xE4\xB8\xAD\xE6\x96\x87!", L"\u4E2D\u6587!"},
        {"\xF0\x9F\x98\x80", L"\U0001F600"},
        {"bad\xFFtail", L"bad\uFFFDtail"},
    };
    for (const Case& c : cases) EXPECT_EQ(cUniversalDLLCalls::PointerToStringUTF8(c.bytes), c.text) << c.bytes;
    char acpText[8] = {};
    WideCharToMultiByte(CP_ACP, 0, L"\u00E9", -1, acpText, sizeof acpText, nullptr, nullptr);
    wchar_t back[8] = {};
    MultiByteToWideChar(CP_ACP, 0, acpText, -1, back, 8);
    EXPECT_EQ(cUniversalDLLCalls::PointerToStringA(acpText), back);
}

TEST(MyModule, BytesAndBooleansConvertExactly) {
    const unsigned char buffer[] = {0, 1, 2, 3, 4};
    EXPECT_EQ(velview::MyModule::ByteArrayFromPointer(buffer, 4), (std::vector<std::uint8_t>{0, 1, 2, 3}));
    EXPECT_TRUE(velview::MyModule::ByteArrayFromPointer(buffer, 0).empty());
    EXPECT_TRUE(velview::MyModule::ByteArrayFromPointer(buffer, -3).empty());
    EXPECT_TRUE(velview::MyModule::ByteArrayFromPointer(nullptr, 4).empty());
    struct {
        std::uint8_t byte;
        VARIANT_BOOL value;
    } bytes[] = {{0, VARIANT_FALSE}, {1, VARIANT_TRUE}, {2, VARIANT_FALSE}, {255, VARIANT_FALSE}};
    for (const auto& c : bytes) EXPECT_EQ(velview::MyModule::ByteToBool(c.byte), c.value) << int(c.byte);
    struct {
        long value;
        std::uint8_t byte;
    } bools[] = {{0, 0}, {-1, 1}, {1, 1}, {2, 1}, {0x100, 1}};
    for (const auto& c : bools) EXPECT_EQ(velview::MyModule::BoolToByte(c.value), c.byte) << c.value;
}

TEST(MyModule, PercentEncodesAndDecodesCharsets) {
    EXPECT_EQ(velview::MyModule::PercentEncodeUtf8(L""), L"");
    EXPECT_EQ(velview::MyModule::PercentEncodeUtf8(L"a b"), L"a b");
    EXPECT_EQ(velview::MyModule::PercentEncodeUtf8(L"\u4E2D"), L"%E4%B8%AD");
    EXPECT_EQ(velview::MyModule::PercentEncodeUtf8(L"\u00E9"), L"%C3%A9");
    EXPECT_EQ(velview::MyModule::PercentEncodeUtf8(L"\u0800"), L"%E0%A0%80");
    const std::vector<std::uint8_t> utf8 = {0xE4, 0xB8, 0xAD, 'x'};
    EXPECT_EQ(velview::MyModule::BytesToText(utf8, L"UTF-8"), L"\u4E2Dx");
    EXPECT_EQ(velview::MyModule::BytesToText(utf8, L"utf-8"), L"\u4E2Dx");
    EXPECT_EQ(velview::MyModule::BytesToText({}, L"utf-8"), L"");
    EXPECT_EQ(velview::MyModule::BytesToText(utf8, L"no-such-charset"), L"");
}

}  // namespace
