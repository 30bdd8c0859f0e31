#pragma once
// The maker's public keys a launcher is built with, and which of them made a signature. The check itself
// belongs to the platform (BCrypt in the launcher); the decisions here only call it.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

namespace vantorix::integrity {

// An ECDSA P-256 public key: its X and Y coordinates, 32 bytes each.
using PublicKey = std::array<uint8_t, 64>;

// `current` signs what the maker publishes today; `next`, when a release carries one, is the key the maker
// moves to. A signature by either is accepted, so the maker can switch keys without stranding a launcher
// (the procedure is in the README). A build names `next` only together with `current`.
struct UpdateKeys {
    std::optional<PublicKey> current, next;
    bool Any() const { return current.has_value() || next.has_value(); }
};

enum class KeySlot { None, Current, Next };

// True when `signature` (raw r || s, 64 bytes) is a valid ECDSA P-256 signature of SHA-256(message) under
// the key.
using SignatureCheck = std::function<bool(std::string_view message, std::string_view signature, const PublicKey& key)>;

// The first built-in key that verifies the signature: Current before Next; None when neither does.
KeySlot SignedBy(const UpdateKeys& keys, std::string_view message, std::string_view signature,
                 const SignatureCheck& check);

// "current key", "next key" or "no key", for logs.
const char* KeySlotName(KeySlot slot);

}  // namespace vantorix::integrity
