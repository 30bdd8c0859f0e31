#include "common/integrity/update_keys.h"

namespace vantorix::integrity {

KeySlot SignedBy(const UpdateKeys& keys, std::string_view message, std::string_view signature,
                 const SignatureCheck& check) {
    if (keys.current && check(message, signature, *keys.current)) return KeySlot::Current;
    if (keys.next && check(message, signature, *keys.next)) return KeySlot::Next;
    return KeySlot::None;
}

const char* KeySlotName(KeySlot slot) {
    switch (slot) {
    case KeySlot::Current: return "current key";
    case KeySlot::Next: return "next key";
    case KeySlot::None: break;
    }
    return "no key";
}

}  // namespace vantorix::integrity
