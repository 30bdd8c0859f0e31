// The engine's 333 cdecl exports. Each is a small assembler stub made from its line in
// engine_exports.inc: it hands its descriptor and the address of its first argument to one dispatcher,
// which reads the arguments by the line's kinds, logs them, runs the behaviour handler attached to the
// name (if any) and applies a result override set by a test. Results leave in EDX:EAX, which covers 32-bit
// values, one-byte booleans and 64-bit script values alike; DOUBLE and FLOAT exports go through a second
// dispatcher whose double result the compiler returns on the x87 stack.
#include "engine-standin/exports.h"

#include <windows.h>

#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine-standin/call_log.h"

namespace standin {

struct ExportDescriptor {
    const char* name;
    const char* shape;
    ResultKind result;
};

}  // namespace standin

using standin::ResultKind;

// The descriptors have C names so that the stubs can refer to them.
extern "C" {
#define ENGINE_EXPORT(name, shape, result) \
    __attribute__((used)) standin::ExportDescriptor standin_desc_##name = {#name, shape, ResultKind::result};
#include "engine-standin/engine_exports.inc"
#undef ENGINE_EXPORT
}

extern "C" std::uint64_t __cdecl standin_dispatch(const standin::ExportDescriptor* d, const std::uint8_t* stack);
extern "C" double __cdecl standin_dispatch_real(const standin::ExportDescriptor* d, const std::uint8_t* stack);

// The stubs. cdecl: the caller removes its arguments, so a stub only passes their address on.
#define STANDIN_STUB(name, target)                  \
    asm(".text\n"                                   \
        ".globl _" #name "\n"                       \
        "_" #name ":\n"                             \
        "  leal 4(%esp), %eax\n"                    \
        "  pushl %eax\n"                            \
        "  pushl $_standin_desc_" #name "\n"        \
        "  call _" #target "\n"                     \
        "  addl $8, %esp\n"                         \
        "  ret\n");
#define STANDIN_STUB_NONE(name) STANDIN_STUB(name, standin_dispatch)
#define STANDIN_STUB_INT(name) STANDIN_STUB(name, standin_dispatch)
#define STANDIN_STUB_BOOL(name) STANDIN_STUB(name, standin_dispatch)
#define STANDIN_STUB_TEXT(name) STANDIN_STUB(name, standin_dispatch)
#define STANDIN_STUB_VALUE(name) STANDIN_STUB(name, standin_dispatch)
#define STANDIN_STUB_DOUBLE(name) STANDIN_STUB(name, standin_dispatch_real)
#define STANDIN_STUB_FLOAT(name) STANDIN_STUB(name, standin_dispatch_real)
#define ENGINE_EXPORT(name, shape, result) STANDIN_STUB_##result(name)
#include "engine-standin/engine_exports.inc"
#undef ENGINE_EXPORT

namespace standin {
namespace {

const ExportDescriptor* const kExports[] = {
#define ENGINE_EXPORT(name, shape, result) &standin_desc_##name,
#include "engine-standin/engine_exports.inc"
#undef ENGINE_EXPORT
};
constexpr int kExportCount = static_cast<int>(sizeof(kExports) / sizeof(kExports[0]));
static_assert(kExportCount == 333, "the engine has 333 exports");

struct Override {
    bool set = false;
    bool always = false;
    std::uint64_t value = 0;
};

struct Registry {
    std::unordered_map<std::string_view, int> index_by_name;
    std::vector<Handler> handlers = std::vector<Handler>(kExportCount, nullptr);
    std::vector<Override> overrides = std::vector<Override>(kExportCount);
    std::mutex lock;
    Registry() {
        for (int i = 0; i < kExportCount; ++i) index_by_name.emplace(kExports[i]->name, i);
    }
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

int IndexOf(const ExportDescriptor* d) {
    // The descriptors are few and the table is sorted only case-insensitively: look the name up.
    return ExportIndex(d->name);
}

std::uint64_t Dispatch(const ExportDescriptor* d, const std::uint8_t* stack) {
    Registry& registry = TheRegistry();
    int index = IndexOf(d);
    Arguments args = Arguments::Read(d->shape, stack);
    AppendToLog(d->name, args);
    std::uint64_t result = 0;
    if (Handler h = registry.handlers[index]) result = h(args);
    {
        std::lock_guard<std::mutex> guard(registry.lock);
        Override& o = registry.overrides[index];
        if (o.set) {
            result = o.value;
            if (!o.always) o = Override{};
        }
    }
    switch (d->result) {
        case ResultKind::NONE: return 0;
        case ResultKind::BOOL:
        case ResultKind::INT:
        case ResultKind::TEXT: return result & 0xFFFFFFFFu;
        default: return result;
    }
}

}  // namespace

std::uint64_t DoubleBits(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, 8);
    return bits;
}

double BitsToDouble(std::uint64_t bits) {
    double value;
    std::memcpy(&value, &bits, 8);
    return value;
}

HandlerTable::HandlerTable(const HandlerEntry* entries, std::size_t count) {
    Registry& registry = TheRegistry();
    for (std::size_t i = 0; i < count; ++i) {
        int index = ExportIndex(entries[i].name);
        if (index < 0) {
            // A misspelt name in a handler table is a programming error of this DLL: make it loud.
            OutputDebugStringA("standin: handler for an unknown export: ");
            OutputDebugStringA(entries[i].name);
            std::abort();
        }
        registry.handlers[index] = entries[i].handler;
    }
}

int ExportIndex(std::string_view name) {
    Registry& registry = TheRegistry();
    auto it = registry.index_by_name.find(name);
    return it == registry.index_by_name.end() ? -1 : it->second;
}

int ExportCount() { return kExportCount; }
const char* ExportName(int index) { return index >= 0 && index < kExportCount ? kExports[index]->name : ""; }
const char* ExportShape(int index) { return index >= 0 && index < kExportCount ? kExports[index]->shape : ""; }
ResultKind ExportResult(int index) {
    return index >= 0 && index < kExportCount ? kExports[index]->result : ResultKind::NONE;
}

void SetResultOverride(int index, std::uint64_t value, bool always) {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.lock);
    registry.overrides.at(index) = Override{true, always, value};
}

void ClearResultOverrides() {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.lock);
    for (auto& o : registry.overrides) o = Override{};
}

}  // namespace standin

// The engine's failures are silent: nothing thrown in a handler crosses an export.
extern "C" std::uint64_t __cdecl standin_dispatch(const standin::ExportDescriptor* d, const std::uint8_t* stack) {
    try {
        return standin::Dispatch(d, stack);
    } catch (...) {
        standin::RecordFailure(d->name);
        return 0;
    }
}

extern "C" double __cdecl standin_dispatch_real(const standin::ExportDescriptor* d, const std::uint8_t* stack) {
    try {
        std::uint64_t bits = standin::Dispatch(d, stack);
        if (d->result == ResultKind::FLOAT) return static_cast<float>(standin::BitsToDouble(bits));
        return standin::BitsToDouble(bits);
    } catch (...) {
        standin::RecordFailure(d->name);
        return 0;
    }
}
