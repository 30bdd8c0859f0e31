#pragma once
// The receiver's reads and writes of engine-owned text: plain strings at an address, engine string
// objects (through the receiver's own engine table), and the platform strings a host may pass as a
// registration parameter.
#include <cstdint>
#include <string>

#include "Velview_G_201.h"
#include "win/com_ptr.h"

namespace velview::events {

class EngineText {
public:
    // Creates the engine table (which runs the engine file check, with its message when node.dll is missing).
    EngineText();
    EngineText(const EngineText&) = delete;
    EngineText& operator=(const EngineText&) = delete;
    ~EngineText();

    // Zero-terminated text in the system code page at `address`; empty for 0.
    static std::wstring Plain(std::uint32_t address);
    // A length-prefixed platform string (BSTR) at `address`, copied whole; empty for 0.
    static std::wstring Platform(std::uint32_t address);

    // An engine string object read as UTF-16 (wkeGetStringW); empty for 0 or without an engine.
    std::wstring Read(std::uint32_t engineString);
    // Overwrites an engine string object with exactly `text`: wkeSetStringW with the text's length in
    // UTF-16 units, so the engine reads the text and nothing past it. Nothing is written to a 0 object.
    void Write(std::uint32_t engineString, const std::wstring& text);

private:
    vantorix::win::com_ptr<_MiniblinkAPI> engine_;
};

}  // namespace velview::events
