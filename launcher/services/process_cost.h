#pragma once
// What this process has cost so far, for the diagnostic log at the update's milestones: support and the
// benchmarks read the processor time and memory the launcher itself counted, not a wrapper's.
#include <string>

namespace vantorix::services {

// "cpu 1.234 s, peak working set 45.6 MB" (user and kernel time of this process).
std::wstring ProcessCostText();

// "1.234": seconds with three decimals, as the cost lines write them.
std::wstring SecondsText(double seconds);

}  // namespace vantorix::services
