#pragma once
// What the end-to-end driver does as a user and as an observer of the real client: start it, find its
// windows and message boxes, send the stand-in engine's control commands, read the engine's call log, probe
// the tray, press keys and the mouse, take screenshots.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace client_e2e {

std::wstring Env(const wchar_t* name);
std::wstring Root();             // the prepared scratch folder (has a blank in its name)
std::wstring InstalledBin();     // Root() + "\Vantorix Assist\bin"

struct LogEntry {
    std::string name;
    std::vector<std::pair<char, std::string>> args;  // kind, bytes as hex in memory order
    std::uint32_t Int(std::size_t i) const;
    std::wstring Text(std::size_t i) const;           // 'w' as UTF-16LE, 'a' as UTF-8
};
std::vector<LogEntry> ReadLog(const std::wstring& path);
std::vector<std::string> Names(const std::vector<LogEntry>& log);

class Client {
public:
    // Starts exe with the raw argument text (everything after the quoted program path and one blank);
    // `show_command` (SW_...) is passed in the start-up information as a launcher passes it, -1 for none.
    Client(const std::wstring& exe, const std::wstring& arguments, bool with_blank = true, int show_command = -1);
    ~Client();  // ends the process if it still runs
    DWORD pid() const { return info_.dwProcessId; }
    bool Running() const;
    bool WaitExit(int ms) const;
    HWND Window(const wchar_t* window_class, bool visible_only = false) const;
    int CountWindows(const wchar_t* window_class, bool visible_only) const;
    HWND MainWindow() const { return Window(L"VantorixMainForm"); }
    HWND EngineWindow() const { return GetWindow(MainWindow(), GW_CHILD); }  // the engine's web window
    HWND TrayWindow() const { return Window(L"VantorixTray"); }
    HWND MessageBoxWindow() const { return Window(L"#32770", true); }
    HWND WaitMessageBox(int ms) const;
    HWND WaitMainVisible(int ms) const;
    std::wstring log_path;

    // A control command for the stand-in engine inside this client ("click\tMaximize", "call\tonJsCall\tbtn\tmove").
    LRESULT Standin(const std::wstring& command, int timeout_ms = 15000) const;
    bool WaitStandin(int ms) const;

private:
    PROCESS_INFORMATION info_{};
};

std::wstring BoxText(HWND box);
void PressBoxButton(HWND box, int id);

bool WaitFor(const std::function<bool()>& done, int ms);
bool TrayIconPresent(HWND owner);
RECT WindowRect(HWND window);
// A design length (pixels at 96 dpi) at the screen's scale, as the DPI-aware client lays itself out.
int Scaled(int design_pixels);
// The main window's size when it opens: 1000 x 611 at the screen's scale, no larger than the work area.
SIZE OpeningSize();

void MouseTo(int x, int y);
void MouseButton(bool down, bool right = false);
void Click(int x, int y, bool right = false);
// Centre of the i-th icon of Wine's system tray window (0 = first); false when there is no tray window.
bool TrayIconCentre(int index, POINT* centre);

// Screen to artefacts folder as a 24-bit BMP (the script turns it into PNG).
void Screenshot(const std::wstring& name);

std::string ReadFileUtf8(const std::wstring& path);
void RemoveFile(const std::wstring& path);
bool CopyFileTo(const std::wstring& from, const std::wstring& to);

}  // namespace client_e2e
