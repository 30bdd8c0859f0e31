#pragma once
// The exception codes this platform reports for two processor faults, measured here and now.
// Windows reports a read of the null page as 0xC0000005 and an integer division by zero as 0xC0000094;
// under an emulator that does not say why a signal came (qemu-user), Wine reports other codes for the
// same faults. A test that checks that a fault kept its code compares against these.

#include <cstdint>

namespace vantorix::wintest {

std::uint32_t CodeOfANullPageRead();
std::uint32_t CodeOfAnIntegerDivisionByZero();

}  // namespace vantorix::wintest
