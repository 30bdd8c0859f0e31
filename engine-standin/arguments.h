#pragma once
// The arguments of one engine call, read from the caller's stack by the kinds its table line names.
#include <cstdint>
#include <string>
#include <vector>

namespace standin {

struct Argument {
    char kind = 'i';                 // the kind letter of engine_exports.inc
    bool is_null = false;            // a text pointer that was null
    std::uint64_t slot = 0;          // the raw stack value: 32 bits (64 for 'v' and 'd'); the pointer for text
    std::vector<std::uint8_t> bytes;  // what the log records (see standin_control.h)
};

class Arguments {
public:
    // Reads the arguments of `shape` starting at `stack`, the caller's first argument.
    static Arguments Read(const char* shape, const std::uint8_t* stack);

    std::size_t size() const { return items_.size(); }
    const Argument& at(std::size_t n) const { return items_.at(n); }
    const std::vector<Argument>& items() const { return items_; }

    std::int32_t Int(std::size_t n) const;          // 'i', 'c', or the pointer of a text argument
    std::uint32_t Word(std::size_t n) const { return static_cast<std::uint32_t>(Int(n)); }
    bool Bool(std::size_t n) const;                 // the low byte, as the engine reads a bool
    std::uint64_t Value(std::size_t n) const;       // 'v'
    double Real(std::size_t n) const;               // 'd' or 'f'
    std::wstring Wide(std::size_t n) const;         // 'w' as UTF-16
    std::string Narrow(std::size_t n) const;        // 'a' as its raw bytes
    bool IsNull(std::size_t n) const { return at(n).is_null; }

private:
    std::vector<Argument> items_;
};

}  // namespace standin
