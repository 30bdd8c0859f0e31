#include "webview/x86/code_memory.h"

#include <windows.h>

#include <cstring>
#include <mutex>
#include <new>
#include <unordered_map>
#include <vector>

namespace velview::x86 {
namespace {

constexpr std::size_t kRegionSize = 64 * 1024;
constexpr std::size_t kSmallest = 32;
constexpr std::size_t kLargest = 4096;
constexpr int kClasses = 8;  // 32, 64, ..., 4096

// The pages holding [at, at + size) made writable (not executable) for one write, then executable and
// read-only again: generated code is never writable and executable at the same time.
template <class Write>
bool WriteProtected(void* at, std::size_t size, Write write) {
    DWORD old = 0;
    if (!VirtualProtect(at, size, PAGE_READWRITE, &old)) return false;
    write();
    VirtualProtect(at, size, PAGE_EXECUTE_READ, &old);
    FlushInstructionCache(GetCurrentProcess(), at, size);
    return true;
}

int ClassOf(std::size_t size) {
    int c = 0;
    for (std::size_t s = kSmallest; s < size; s <<= 1) ++c;
    return c;
}

class Arena {
public:
    void* Allocate(std::size_t size) {
        if (size == 0 || size > kLargest) return nullptr;
        std::lock_guard<std::mutex> hold(mutex_);
        const int c = ClassOf(size);
        const std::size_t blockSize = kSmallest << c;
        void* block = nullptr;
        if (!free_[c].empty()) {
            block = free_[c].back();
            free_[c].pop_back();
        } else {
            if (!next_ || next_ + blockSize > end_) {
                // The rest of the old region is abandoned; regions live as long as the process.
                auto* region = static_cast<char*>(
                    VirtualAlloc(nullptr, kRegionSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
                if (!region) return nullptr;
                std::memset(region, 0xCC, kRegionSize);  // int3 everywhere no code is written
                DWORD old = 0;
                VirtualProtect(region, kRegionSize, PAGE_EXECUTE_READ, &old);
                next_ = region;
                end_ = region + kRegionSize;
            }
            block = next_;
            next_ += blockSize;
        }
        try {
            live_.emplace(block, c);
        } catch (const std::bad_alloc&) {
            free_[c].push_back(block);
            return nullptr;
        }
        return block;
    }

    bool Free(void* block) {
        std::lock_guard<std::mutex> hold(mutex_);
        auto it = live_.find(block);
        if (it == live_.end()) return false;
        const int c = it->second;
        live_.erase(it);
        const std::size_t size = kSmallest << c;
        // A late call through a freed adapter traps at once.
        WriteProtected(block, size, [&] { std::memset(block, 0xCC, size); });
        free_[c].push_back(block);
        return true;
    }

private:
    std::mutex mutex_;
    char* next_ = nullptr;
    char* end_ = nullptr;
    std::vector<void*> free_[kClasses];
    std::unordered_map<void*, int> live_;
};

Arena& TheArena() {
    static Arena* arena = new Arena;  // never destroyed: code in it may run until the process ends
    return *arena;
}

}  // namespace

void* AllocateCode(std::size_t size) { return TheArena().Allocate(size); }
bool FreeCode(void* block) { return block && TheArena().Free(block); }
bool WriteCode(void* at, const void* code, std::size_t size) {
    return at && code && WriteProtected(at, size, [&] { std::memcpy(at, code, size); });
}

}  // namespace velview::x86
