#pragma once
// The stand-in engine's test control surface, resolved from the node.dll that the control library loaded
// (one engine state per process), plus a few readers over its call log.
#include <windows.h>

#include <string>
#include <vector>

#include "engine-standin/standin_control.h"

namespace velview_test {

// The control functions these tests use, listed once: declared as members below, resolved in Get().
#define VELVIEW_TEST_STANDIN_FUNCTIONS(X)                                                          \
    X(standinLogCount) X(standinLogClear) X(standinLogEnable) X(standinLogName) X(standinLogFind)  \
    X(standinLogArgValue) X(standinLogArgText) X(standinCallBoundStrings) X(standinFire)           \
    X(standinRegistration) X(standinJobHooked) X(standinViewWindow) X(standinViewCount)            \
    X(standinViewKeys)

struct Standin {
#define STANDIN_FN(name) decltype(&::name) name = nullptr;
    VELVIEW_TEST_STANDIN_FUNCTIONS(STANDIN_FN)
#undef STANDIN_FN

    // Loads node.dll (the same module the library uses) and resolves every function; ok() tells.
    static const Standin& Get();
    bool ok() const { return loaded; }
    bool loaded = false;

    // Names of the logged calls from entry `from` on.
    std::vector<std::string> Names(int from = 0) const;
    // Entries of one export, from `from` on.
    std::vector<int> Find(const char* name, int from = 0) const;
    std::wstring Text(int entry, int arg) const;
};

}  // namespace velview_test
