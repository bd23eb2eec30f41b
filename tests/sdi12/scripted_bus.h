// How a ScriptedDevice cuts what the host sends to a sensor bus behind a
// reader in pass-through: "|" is a break, a command runs up to its "!", and
// "]", "[", the grave accent and a "P" right after "]" are steering
// characters for the reader. Breaks and steering characters are recorded as
// marks; each command goes to the script, whose answer (empty: silence) is
// sent back.
#pragma once

#include <string>

#include "support/scripted_device.h"

namespace tarsa::test {

inline ScriptedDevice::Cut BusFraming(std::string& pending, const std::string& last) {
    using Cut = ScriptedDevice::Cut;
    const char c = pending.back();
    if (c == '|') {  // a break cuts short whatever came before it
        pending = "|";
        return Cut::kMark;
    }
    if (pending.size() == 1 && (c == ']' || c == '[' || c == '`' || (c == 'P' && last == "]")))
        return Cut::kMark;
    return c == '!' ? Cut::kMessage : Cut::kMore;
}

}  // namespace tarsa::test
