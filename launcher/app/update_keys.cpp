// The one source compiled per set of keys: the build generates update_keys.inc for each launcher target.
#include "launcher/app/update_key.h"

namespace vantorix::launcher {

integrity::UpdateKeys BuiltInUpdateKeys() {
    integrity::UpdateKeys keys;
#include "launcher/update_keys.inc"
    return keys;
}

}  // namespace vantorix::launcher
