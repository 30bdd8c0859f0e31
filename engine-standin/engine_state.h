#pragma once
// Everything the stand-in engine keeps: engine strings, script values and execution states, views, the
// callbacks registered on them, bound functions and network jobs. One instance per process, used on the
// thread that drives the engine (as with the real engine, there are no locks).
#include <windows.h>

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/pagemarkup/page_markup.h"

namespace standin {

// Script value types, as jsTypeOf and jsArgType report them.
enum class JsType : int { Number = 0, String = 1, Boolean = 2, Object = 3, Function = 4, Undefined = 5, Array = 6, Null = 7 };

struct JsValue {
    JsType type = JsType::Undefined;
    double number = 0;  // Number; Boolean as 0/1
    std::wstring text;  // String
    std::map<std::string, std::uint64_t> properties;  // Object
    std::vector<std::uint64_t> items;                 // Array
    std::string utf8;   // the last text handed out by jsToTempString / jsToString
    std::wstring wide;  // the last text handed out by jsToTempStringW / jsToStringW
};

struct ExecState {
    int view = 0;
    std::vector<std::uint64_t> args;
};

struct EngineString {
    std::wstring text;
    std::string utf8;  // what wkeGetString handed out last
};

struct Registration {
    std::uint32_t callback = 0;
    std::uint32_t param = 0;
};

struct Binding {
    std::uint32_t function = 0;
    std::uint32_t param = 0;
    int arg_count = 0;
    bool fastcall = false;  // jsBindFunction: fastcall (es); wkeJsBindFunction: cdecl (es, param)
};

struct Job {
    int view = 0;
    std::wstring url;
    bool hooked = false;
    bool cancelled = false;
    std::string mime{};
    std::string data{};
};

struct View {
    int handle = 0;
    HWND window = nullptr;  // null for a window-less view; owned by the view, destroyed with it
    int window_type = -1;
    HWND host = nullptr;
    bool alive = true;
    int width = 640, height = 480;

    std::wstring url, title, source;
    std::vector<vantorix::pagemarkup::PageCall> buttons;
    std::vector<HWND> button_windows;  // children of `window`, destroyed with it
    bool load_complete = false, document_ready = false, load_failed = false;
    std::vector<std::wstring> alerts;
    std::vector<unsigned int> keys_down;  // virtual-key codes of the WM_KEYDOWN messages its window received

    std::wstring user_agent = L"Mozilla/5.0 (Windows NT 6.1) VantorixStandin/1.0";
    std::wstring name, cookie;
    bool touch = false, mouse = true, transparent = false, editable = false, awake = true, cookie_enabled = true;
    double zoom = 1.0, volume = 1.0;
    std::map<std::string, int> user_values;
    int global_es = 0;

    // Text handed out by pointer stays valid until the next call of the same query on this view.
    std::string out_url, out_title, out_user_agent, out_cookie, out_name, out_source;
    std::wstring out_title_w, out_cookie_w;
};

class Engine {
public:
    static Engine& Get();

    // Engine strings.
    int NewString(std::wstring text);
    EngineString* FindString(int handle);
    void DeleteString(int handle) { strings_.erase(handle); }

    // Script values. A handle is 64 bits: the value's number in the low half and a check of it in the
    // high half, so a handle that lost either half is recognised as no value (and reads as undefined).
    std::uint64_t NewValue(JsValue value);
    JsValue* FindValue(std::uint64_t handle);
    // The whole handle of the value whose low half is `low` (for the calls that pass values as 32 bits).
    static std::uint64_t ValueFromLow(std::uint32_t low);
    std::uint64_t Undefined() { return undefined_; }
    std::uint64_t Number(double n);
    std::uint64_t String(std::wstring text);
    std::uint64_t Boolean(bool b);
    std::uint64_t Null() { return null_; }

    // Execution states.
    int NewExecState(int view, std::vector<std::uint64_t> args);
    ExecState* FindExecState(int es);
    int GlobalExecState(int view);

    // Views.
    View& NewView();
    View* FindView(int handle);  // live views only
    View* ViewOfWindow(HWND window);
    std::vector<View*> LiveViews();

    // Callbacks registered on a view (by any handle, also one the engine never made) and bound functions.
    std::map<std::string, Registration>& RegistrationsOf(int view) { return registrations_[view]; }
    std::map<std::string, Binding> bindings;

    // Network jobs.
    int NewJob(int view, std::wstring url);
    Job* FindJob(int handle);

    bool initialized = false;
    std::map<std::string, std::uint64_t> global_properties;

private:
    Engine();
    std::map<int, EngineString> strings_;
    int next_string_ = 0;
    std::deque<JsValue> values_;
    std::uint64_t undefined_ = 0, null_ = 0;
    std::map<int, ExecState> exec_states_;
    int next_es_ = 0;
    std::vector<std::unique_ptr<View>> views_;
    std::map<int, std::map<std::string, Registration>> registrations_;
    std::map<int, Job> jobs_;
    int next_job_ = 0;
};

}  // namespace standin
