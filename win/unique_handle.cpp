#include "win/unique_handle.h"
// Header-only owners; this unit makes sure the header compiles on its own.
