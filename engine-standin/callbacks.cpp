// Registrations (wkeOn..., wkeNetOnResponse, wkeSetUIThreadCallback, ...) and bound functions
// (wkeJsBindFunction, jsBindFunction) are kept as given; firing one calls the host's address with the
// arguments of its kind, as the engine does.
#include "engine-standin/callbacks.h"

#include <cstring>
#include <deque>

#include "engine-standin/engine_state.h"
#include "engine-standin/exports.h"
#include "engine-standin/text_codec.h"

namespace standin {
namespace {

Engine& E() { return Engine::Get(); }

// ---- Keeping registrations and bindings ---------------------------------------------------------------

std::uint64_t Register(const char* name, const Arguments& a) {
    E().RegistrationsOf(a.Int(0))[name] = Registration{a.Word(1), a.Word(2)};
    return 0;
}

#define STANDIN_REGISTRATION(name) \
    {#name, [](const Arguments& a) -> std::uint64_t { return Register(#name, a); }}

std::uint64_t UtilSetUiCallback(const Arguments& a) {
    E().RegistrationsOf(0)["wkeUtilSetUiCallback"] = Registration{a.Word(0), 0};
    return 0;
}

std::uint64_t BindCdecl(const Arguments& a) {
    E().bindings[a.Narrow(0)] = Binding{a.Word(1), a.Word(2), a.Int(3), false};
    return 0;
}

std::uint64_t BindFastcall(const Arguments& a) {
    E().bindings[a.Narrow(0)] = Binding{a.Word(1), 0, a.Int(2), true};
    return 0;
}

std::uint64_t NetHookRequest(const Arguments& a) {
    if (Job* job = E().FindJob(a.Int(0))) job->hooked = true;
    return 0;
}

std::uint64_t NetCancelRequest(const Arguments& a) {
    if (Job* job = E().FindJob(a.Int(0))) job->cancelled = true;
    return 0;
}

std::uint64_t NetSetMIMEType(const Arguments& a) {
    if (Job* job = E().FindJob(a.Int(0))) job->mime = a.Narrow(1);
    return 0;
}

std::uint64_t NetGetMIMEType(const Arguments& a) {
    static const char kEmpty[] = "";
    Job* job = E().FindJob(a.Int(0));
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(job ? job->mime.c_str() : kEmpty));
}

std::uint64_t NetSetData(const Arguments& a) {
    Job* job = E().FindJob(a.Int(0));
    auto* data = reinterpret_cast<const char*>(static_cast<std::uintptr_t>(a.Word(1)));
    int length = a.Int(2);
    if (job && data && length > 0) job->data.assign(data, data + length);
    return 0;
}

std::uint64_t NetGetUrlByJob(const Arguments& a) {
    static const char kEmpty[] = "";
    static std::string out;
    Job* job = E().FindJob(a.Int(0));
    if (!job) return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(kEmpty));
    out = ToUtf8(job->url);
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(out.c_str()));
}

const HandlerEntry kHandlers[] = {
    STANDIN_REGISTRATION(wkeOnAlertBox),
    STANDIN_REGISTRATION(wkeOnConfirmBox),
    STANDIN_REGISTRATION(wkeOnConsole),
    STANDIN_REGISTRATION(wkeOnCreateView),
    STANDIN_REGISTRATION(wkeOnDidCreateScriptContext),
    STANDIN_REGISTRATION(wkeOnDocumentReady),
    STANDIN_REGISTRATION(wkeOnDocumentReady2),
    STANDIN_REGISTRATION(wkeOnDownload),
    STANDIN_REGISTRATION(wkeOnDraggableRegionsChanged),
    STANDIN_REGISTRATION(wkeOnLoadingFinish),
    STANDIN_REGISTRATION(wkeOnLoadUrlBegin),
    STANDIN_REGISTRATION(wkeOnLoadUrlEnd),
    STANDIN_REGISTRATION(wkeOnMouseOverUrlChanged),
    STANDIN_REGISTRATION(wkeOnNavigation),
    STANDIN_REGISTRATION(wkeOnOtherLoad),
    STANDIN_REGISTRATION(wkeOnPaintBitUpdated),
    STANDIN_REGISTRATION(wkeOnPaintUpdated),
    STANDIN_REGISTRATION(wkeOnPluginFind),
    STANDIN_REGISTRATION(wkeOnPromptBox),
    STANDIN_REGISTRATION(wkeOnStartDragging),
    STANDIN_REGISTRATION(wkeOnTitleChanged),
    STANDIN_REGISTRATION(wkeOnURLChanged),
    STANDIN_REGISTRATION(wkeOnURLChanged2),
    STANDIN_REGISTRATION(wkeOnWillMediaLoad),
    STANDIN_REGISTRATION(wkeOnWillReleaseScriptContext),
    STANDIN_REGISTRATION(wkeOnWindowClosing),
    STANDIN_REGISTRATION(wkeOnWindowDestroy),
    STANDIN_REGISTRATION(wkeNodeOnCreateProcess),
    STANDIN_REGISTRATION(wkeNetOnResponse),
    STANDIN_REGISTRATION(wkeNetGetFavicon),
    STANDIN_REGISTRATION(wkeSetUIThreadCallback),
    {"wkeUtilSetUiCallback", UtilSetUiCallback},
    {"wkeJsBindFunction", BindCdecl},
    {"jsBindFunction", BindFastcall},
    {"wkeNetHookRequest", NetHookRequest},
    {"wkeNetCancelRequest", NetCancelRequest},
    {"wkeNetSetMIMEType", NetSetMIMEType},
    {"wkeNetGetMIMEType", NetGetMIMEType},
    {"wkeNetSetData", NetSetData},
    {"wkeNetGetUrlByJob", NetGetUrlByJob},
};
const HandlerTable kTable(kHandlers, sizeof(kHandlers) / sizeof(kHandlers[0]));

// ---- Firing -----------------------------------------------------------------------------------------------

// The arguments of each kind after the view, in engine order:
//   V view  P user parameter  U url (plain code-page string)  T/S/K text1/text2/text3 as string objects
//   Q a new empty string object for the prompt's result  a..e ints[0..4]  J job  B buffer  L its length
//   R record address  F ints[0] as the routine of a UI-thread call
struct Kind {
    const char* registration;
    const char* layout;
};
const Kind kKinds[] = {
    {"wkeOnTitleChanged", "VPT"},
    {"wkeOnMouseOverUrlChanged", "VPT"},
    {"wkeOnURLChanged", "VPU"},
    {"wkeOnURLChanged2", "VPaU"},
    {"wkeOnPaintUpdated", "VPabcde"},
    {"wkeOnPaintBitUpdated", "VPBRab"},
    {"wkeOnAlertBox", "VPT"},
    {"wkeOnConfirmBox", "VPT"},
    {"wkeOnPromptBox", "VPTSQ"},
    {"wkeOnNavigation", "VPaU"},
    {"wkeOnCreateView", "VPaUR"},
    {"wkeOnDocumentReady", "VP"},
    {"wkeOnDocumentReady2", "VPa"},
    {"wkeOnDownload", "VPU"},
    {"wkeOnConsole", "VPaTSbK"},
    {"wkeOnLoadUrlBegin", "VPUJ"},
    {"wkeOnLoadUrlEnd", "VPUJBL"},
    {"wkeOnDidCreateScriptContext", "VPabcd"},
    {"wkeOnWillReleaseScriptContext", "VPabc"},
    {"wkeOnWillMediaLoad", "VPUR"},
    {"wkeOnWindowClosing", "VP"},
    {"wkeOnWindowDestroy", "VP"},
    {"wkeNetOnResponse", "VPUJ"},
    {"wkeNetGetFavicon", "VPUR"},
    {"wkeSetUIThreadCallback", "VFP"},
    {"wkeOnDraggableRegionsChanged", "VPabcde"},
    {"wkeOnLoadingFinish", "VPabcde"},
    {"wkeOnOtherLoad", "VPabcde"},
    {"wkeOnPluginFind", "VPabcde"},
    {"wkeOnStartDragging", "VPabcde"},
    {"wkeNodeOnCreateProcess", "VPabcde"},
};

std::uint32_t Address(const void* p) { return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p)); }

}  // namespace

std::uint32_t CallCdecl(std::uint32_t fn, const std::vector<std::uint32_t>& w) {
    using U = std::uint32_t;
    auto at = [&](std::size_t i) { return i < w.size() ? w[i] : 0u; };
    // Only as many arguments as the kind has are pushed: cdecl lets the callee see exactly those.
    switch (w.size()) {
        case 0: return reinterpret_cast<U(__cdecl*)()>(fn)();
        case 1: return reinterpret_cast<U(__cdecl*)(U)>(fn)(at(0));
        case 2: return reinterpret_cast<U(__cdecl*)(U, U)>(fn)(at(0), at(1));
        case 3: return reinterpret_cast<U(__cdecl*)(U, U, U)>(fn)(at(0), at(1), at(2));
        case 4: return reinterpret_cast<U(__cdecl*)(U, U, U, U)>(fn)(at(0), at(1), at(2), at(3));
        case 5: return reinterpret_cast<U(__cdecl*)(U, U, U, U, U)>(fn)(at(0), at(1), at(2), at(3), at(4));
        case 6: return reinterpret_cast<U(__cdecl*)(U, U, U, U, U, U)>(fn)(at(0), at(1), at(2), at(3), at(4), at(5));
        case 7:
            return reinterpret_cast<U(__cdecl*)(U, U, U, U, U, U, U)>(fn)(at(0), at(1), at(2), at(3), at(4), at(5),
                                                                           at(6));
        default:
            return reinterpret_cast<U(__cdecl*)(U, U, U, U, U, U, U, U)>(fn)(at(0), at(1), at(2), at(3), at(4),
                                                                              at(5), at(6), at(7));
    }
}

bool CallBinding(const std::string& name, int view, const std::vector<std::uint64_t>& args, std::uint64_t& result) {
    auto it = E().bindings.find(name);
    if (it == E().bindings.end() || it->second.function == 0) return false;
    Binding binding = it->second;  // the host may bind again while its function runs
    int es = E().NewExecState(view, args);
    if (binding.fastcall)
        result = reinterpret_cast<std::uint64_t(__fastcall*)(int)>(binding.function)(es);
    else
        result = reinterpret_cast<std::uint64_t(__cdecl*)(int, std::uint32_t)>(binding.function)(es, binding.param);
    return true;
}

bool Fire(int view, const std::string& registration, StandinFireArgs& a, std::uint32_t& result) {
    const Kind* kind = nullptr;
    for (const Kind& k : kKinds)
        if (registration == k.registration) kind = &k;
    if (!kind) return false;
    auto& registrations = E().RegistrationsOf(view);
    auto found = registrations.find(registration);
    if (found == registrations.end() || found->second.callback == 0) return false;
    Registration reg = found->second;

    // The url strings stay valid after the call, like the string objects: a test may look at them later.
    static std::deque<std::string> plain;
    auto text = [](const wchar_t* t) { return std::wstring(t ? t : L""); };
    std::vector<std::uint32_t> words;
    for (const char* p = kind->layout; *p; ++p) {
        switch (*p) {
            case 'V': words.push_back(static_cast<std::uint32_t>(view)); break;
            case 'P': words.push_back(reg.param); break;
            case 'U':
                plain.push_back(ToCodePage(text(a.url)));
                words.push_back(Address(plain.back().c_str()));
                break;
            case 'T': words.push_back(static_cast<std::uint32_t>(E().NewString(text(a.text1)))); break;
            case 'S': words.push_back(static_cast<std::uint32_t>(E().NewString(text(a.text2)))); break;
            case 'K': words.push_back(static_cast<std::uint32_t>(E().NewString(text(a.text3)))); break;
            case 'Q':
                a.promptResult = E().NewString(L"");
                words.push_back(static_cast<std::uint32_t>(a.promptResult));
                break;
            case 'J':
                if (!a.job) a.job = E().NewJob(view, text(a.url));
                a.jobUsed = a.job;
                words.push_back(static_cast<std::uint32_t>(a.job));
                break;
            case 'B': words.push_back(Address(a.buffer)); break;
            case 'L': words.push_back(static_cast<std::uint32_t>(a.bufferLength)); break;
            case 'R': words.push_back(Address(a.record)); break;
            case 'F': words.push_back(static_cast<std::uint32_t>(a.ints[0])); break;
            default: words.push_back(static_cast<std::uint32_t>(a.ints[*p - 'a'])); break;
        }
    }
    result = CallCdecl(reg.callback, words);
    return true;
}

}  // namespace standin
