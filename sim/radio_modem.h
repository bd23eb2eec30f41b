// The Zl4 radio modem's AT command mode, as used by the radio link device
// (radio_link.h) and by loggers that carry a modem of their own.
//
// In data mode the modem passes bytes through. "+++" on its own (no other
// byte before the next one arrives) switches to command mode and is answered
// "OK\r". In command mode it takes lines ending in a carriage return:
// "ATHP" (channel, hexadecimal, 0 to 6), "ATDT" (sub-channel, hexadecimal,
// 0 to FFFF) read with no argument and set with one; "ATVR" reads the
// firmware version; "ATWR" saves the current values; "ATCN" returns to data
// mode; "AT" answers "OK". Reads answer the value and a carriage return, sets
// and the others "OK\r", anything else "ERROR\r". Ten seconds without a
// command end command mode by themselves.
//
// This is state and text only: no timers of its own (the time-out is checked
// when the next bytes come), no knowledge of what lies beyond the radio.
#pragma once

#include <cstdint>
#include <string>

namespace tarsa::sim {

inline constexpr int kZl4MaxChannel = 6;
inline constexpr int kZl4MaxSubChannel = 0xFFFF;
inline constexpr uint64_t kZl4CommandModeTimeoutMs = 10000;

struct Zl4Modem {
    int channel = 1;
    int subChannel = 0x10;
    int savedChannel = 1;  // what "ATWR" last saved
    int savedSubChannel = 0x10;
    std::string version = "1046";
    bool commandMode = false;
    uint64_t lastCommandMs = 0;
};

// What Zl4Take found at the front of the host's bytes.
enum class Zl4Input {
    None,    // nothing complete yet (or "+" / "++" that may become an escape)
    Escape,  // "+++" with nothing after it
    Line,    // a line without its carriage return
};

// Moves the next escape or line from `input` into `line`. Checks the command
// mode time-out first.
Zl4Input Zl4Take(Zl4Modem& modem, std::string& input, std::string& line, uint64_t nowMs);

// The escape "+++": enters command mode, returns "OK\r".
std::string Zl4Escape(Zl4Modem& modem, uint64_t nowMs);

// One command-mode line; returns the modem's answer.
std::string Zl4Command(Zl4Modem& modem, const std::string& line, uint64_t nowMs);

}  // namespace tarsa::sim
