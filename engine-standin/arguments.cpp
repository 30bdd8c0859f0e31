#include "engine-standin/arguments.h"

#include <cstring>

namespace standin {
namespace {

std::uint32_t Read32(const std::uint8_t* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

}  // namespace

Arguments Arguments::Read(const char* shape, const std::uint8_t* stack) {
    Arguments list;
    for (const char* k = shape; *k; ++k) {
        Argument a;
        a.kind = *k;
        switch (*k) {
            case 'v':
            case 'd': {
                std::memcpy(&a.slot, stack, 8);
                a.bytes.assign(stack, stack + 8);
                stack += 8;
                break;
            }
            case 'b':
                a.slot = Read32(stack);
                a.bytes.push_back(stack[0]);
                stack += 4;
                break;
            case 'w': {
                a.slot = Read32(stack);
                auto* text = reinterpret_cast<const std::uint16_t*>(static_cast<std::uintptr_t>(a.slot));
                a.is_null = text == nullptr;
                if (text)
                    for (; *text; ++text) {
                        a.bytes.push_back(static_cast<std::uint8_t>(*text & 0xFF));
                        a.bytes.push_back(static_cast<std::uint8_t>(*text >> 8));
                    }
                stack += 4;
                break;
            }
            case 'a': {
                a.slot = Read32(stack);
                auto* text = reinterpret_cast<const std::uint8_t*>(static_cast<std::uintptr_t>(a.slot));
                a.is_null = text == nullptr;
                if (text)
                    for (; *text; ++text) a.bytes.push_back(*text);
                stack += 4;
                break;
            }
            default:  // 'i', 'c', 'f': one 32-bit slot
                a.slot = Read32(stack);
                a.bytes.assign(stack, stack + 4);
                stack += 4;
                break;
        }
        list.items_.push_back(std::move(a));
    }
    return list;
}

std::int32_t Arguments::Int(std::size_t n) const {
    return n < items_.size() ? static_cast<std::int32_t>(static_cast<std::uint32_t>(items_[n].slot)) : 0;
}

bool Arguments::Bool(std::size_t n) const { return n < items_.size() && (items_[n].slot & 0xFF) != 0; }

std::uint64_t Arguments::Value(std::size_t n) const { return n < items_.size() ? items_[n].slot : 0; }

double Arguments::Real(std::size_t n) const {
    if (n >= items_.size()) return 0;
    const Argument& a = items_[n];
    if (a.kind == 'f') {
        float f;
        std::uint32_t w = static_cast<std::uint32_t>(a.slot);
        std::memcpy(&f, &w, 4);
        return f;
    }
    double d;
    std::memcpy(&d, &a.slot, 8);
    return d;
}

std::wstring Arguments::Wide(std::size_t n) const {
    std::wstring text;
    if (n >= items_.size()) return text;
    const auto& b = items_[n].bytes;
    for (std::size_t i = 0; i + 1 < b.size(); i += 2) text.push_back(static_cast<wchar_t>(b[i] | (b[i + 1] << 8)));
    return text;
}

std::string Arguments::Narrow(std::size_t n) const {
    if (n >= items_.size()) return {};
    const auto& b = items_[n].bytes;
    return std::string(b.begin(), b.end());
}

}  // namespace standin
