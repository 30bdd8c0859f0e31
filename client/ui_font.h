#pragma once
// The client's dialog font: a face with Chinese glyphs where one is installed (the picker's captions and
// labels are Chinese), else the system's dialog font.
#include <windows.h>

namespace vantorix::client {

// At the given dots per inch; made once per scale and kept until the process ends (the windows that use
// it live as long).
HFONT UiFont(int dpi = 96);

}  // namespace vantorix::client
