#include "launcher/download/win_file_store.h"

#include <windows.h>

#include <string>

#include "win/code_page.h"
#include "win/file_exists.h"
#include "win/unique_handle.h"

namespace vantorix::launcher {
namespace {

using win::unique_hfile;

class FileSink : public download::DataSink {
public:
    explicit FileSink(unique_hfile file) : file_(std::move(file)) {}
    bool SeekTo(std::uint64_t offset) override {
        LARGE_INTEGER to;
        to.QuadPart = static_cast<LONGLONG>(offset);
        return ::SetFilePointerEx(file_.get(), to, nullptr, FILE_BEGIN) != FALSE;
    }
    bool TruncateHere() override { return ::SetEndOfFile(file_.get()) != FALSE; }
    bool Write(const std::uint8_t* bytes, std::size_t count) override {
        while (count > 0) {
            DWORD written = 0;
            const DWORD chunk = count > 0x40000000u ? 0x40000000u : static_cast<DWORD>(count);
            if (!::WriteFile(file_.get(), bytes, chunk, &written, nullptr) || written == 0) return false;
            bytes += written;
            count -= written;
        }
        return true;
    }

private:
    unique_hfile file_;
};

unique_hfile OpenForWriting(const std::wstring& path, DWORD disposition) {
    // No sharing: nobody else writes or renames the file while a run owns it.
    return unique_hfile(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                                      nullptr));
}

}  // namespace

bool WinFileStore::Exists(const std::wstring& path) {
    return win::PathExists(path);
}

std::optional<std::uint64_t> WinFileStore::SizeOf(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::optional<std::wstring> WinFileStore::ReadText(const std::wstring& path) {
    unique_hfile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return std::nullopt;
    LARGE_INTEGER size{};
    // The settings file holds one URL: anything large is not ours.
    if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart > 1 << 20) return std::nullopt;
    std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!bytes.empty() && (!::ReadFile(file.get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr) ||
                           read != bytes.size()))
        return std::nullopt;
    return win::FromCodePage(bytes);
}

bool WinFileStore::WriteText(const std::wstring& path, const std::wstring& text) {
    // Truncated on open: the file must hold exactly the URL, never the tail of a longer older one.
    unique_hfile file = OpenForWriting(path, CREATE_ALWAYS);
    if (!file) return false;
    if (text.empty()) return true;
    const std::string bytes = win::ToCodePage(text);
    DWORD written = 0;
    return ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

std::unique_ptr<download::DataSink> WinFileStore::OpenData(const std::wstring& path) {
    unique_hfile file = OpenForWriting(path, OPEN_ALWAYS);
    if (!file) return nullptr;
    return std::make_unique<FileSink>(std::move(file));
}

bool WinFileStore::Remove(const std::wstring& path) { return ::DeleteFileW(path.c_str()) != FALSE; }

bool WinFileStore::Rename(const std::wstring& from, const std::wstring& to) {
    return ::MoveFileExW(from.c_str(), to.c_str(), 0) != FALSE;  // no MOVEFILE_REPLACE_EXISTING
}

}  // namespace vantorix::launcher
