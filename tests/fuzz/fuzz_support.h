#pragma once
// What the fuzz targets share: an invariant check that ends the run as a crash (so libFuzzer keeps the
// input that broke it), and the split of an input into the lines that name its fields.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#define FUZZ_CHECK(condition) ((condition) ? (void)0 : ::fuzz_support::Broken(#condition, __FILE__, __LINE__))

namespace fuzz_support {

[[noreturn]] inline void Broken(const char* what, const char* file, int line) {
    std::fprintf(stderr, "broken invariant at %s:%d: %s\n", file, line, what);
    std::abort();
}

inline std::string_view Text(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// The first `count - 1` lines of the input (without their "\n") and, as the last field, everything after
// them; missing fields are absent from the result.
inline std::vector<std::string_view> Fields(std::string_view input, std::size_t count) {
    std::vector<std::string_view> fields;
    while (fields.size() + 1 < count) {
        const std::size_t end = input.find('\n');
        if (end == std::string_view::npos) break;
        fields.push_back(input.substr(0, end));
        input.remove_prefix(end + 1);
    }
    fields.push_back(input);
    return fields;
}

}  // namespace fuzz_support
