#include "common/text/ascii.h"
// Header-only today; the translation unit keeps the module visible to the build.
