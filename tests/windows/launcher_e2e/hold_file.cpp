// hold_file.exe <file> <mark> <seconds>: opens the file for reading without sharing, as another program may
// hold the installation's state, creates <mark> once it holds it, and lets go after the time (or when it is
// ended). Exit 1 when the file cannot be opened.
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) return 2;
    HANDLE file = CreateFileW(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    HANDLE mark = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (mark != INVALID_HANDLE_VALUE) CloseHandle(mark);
    Sleep(static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10)) * 1000);
    CloseHandle(file);
    return 0;
}
