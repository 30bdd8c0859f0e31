#pragma once
// The client's dialog font: a face with Chinese glyphs where one is installed (the picker's captions and
// labels are Chinese), else the system's dialog font.
#include <windows.h>

namespace vantorix::client {

// Made once and kept until the process ends (the windows that use it live as long).
HFONT UiFont();

}  // namespace vantorix::client
