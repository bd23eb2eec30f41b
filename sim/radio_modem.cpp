// AT command mode of the simulated Zl4 radio modem.
#include "sim/radio_modem.h"

#include <cctype>
#include <cstdio>

namespace tarsa::sim {

namespace {

// Hexadecimal digits of either case, at most `maxValue`.
bool ParseHex(const std::string& text, int maxValue, int& value) {
    if (text.empty() || text.size() > 6) return false;
    long v = 0;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        v = v * 16 + (std::isdigit(static_cast<unsigned char>(c))
                          ? c - '0'
                          : std::toupper(static_cast<unsigned char>(c)) - 'A' + 10);
    }
    if (v > maxValue) return false;
    value = static_cast<int>(v);
    return true;
}

std::string HexLine(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%X\r", value);
    return text;
}

// A register read without argument or set with a hexadecimal one.
std::string Register(int& reg, const std::string& arg, int maxValue) {
    if (arg.empty()) return HexLine(reg);
    int value = 0;
    if (!ParseHex(arg, maxValue, value)) return "ERROR\r";
    reg = value;
    return "OK\r";
}

}  // namespace

Zl4Input Zl4Take(Zl4Modem& modem, std::string& input, std::string& line, uint64_t nowMs) {
    if (modem.commandMode && nowMs - modem.lastCommandMs > kZl4CommandModeTimeoutMs) {
        modem.commandMode = false;
    }
    if (input.empty()) return Zl4Input::None;
    if (input == "+++") {
        input.clear();
        return Zl4Input::Escape;
    }
    if (input == "+" || input == "++") return Zl4Input::None;
    std::size_t cr = input.find('\r');
    if (cr == std::string::npos) {
        // A line that never ends is dropped rather than kept without bound.
        if (input.size() > 256) input.clear();
        return Zl4Input::None;
    }
    line.assign(input, 0, cr);
    input.erase(0, cr + 1);
    while (!input.empty() && input.front() == '\n') input.erase(0, 1);
    return Zl4Input::Line;
}

std::string Zl4Escape(Zl4Modem& modem, uint64_t nowMs) {
    modem.commandMode = true;
    modem.lastCommandMs = nowMs;
    return "OK\r";
}

std::string Zl4Command(Zl4Modem& modem, const std::string& line, uint64_t nowMs) {
    modem.lastCommandMs = nowMs;
    std::string upper;
    for (char c : line) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper.size() < 2 || upper.compare(0, 2, "AT") != 0) return "ERROR\r";
    if (upper == "AT") return "OK\r";
    std::string name = upper.substr(2, 2);
    std::string arg = upper.size() > 4 ? upper.substr(4) : std::string();
    if (name == "HP") return Register(modem.channel, arg, kZl4MaxChannel);
    if (name == "DT") return Register(modem.subChannel, arg, kZl4MaxSubChannel);
    if (!arg.empty()) return "ERROR\r";
    if (name == "VR") return modem.version + "\r";
    if (name == "WR") {
        modem.savedChannel = modem.channel;
        modem.savedSubChannel = modem.subChannel;
        return "OK\r";
    }
    if (name == "CN") {
        modem.commandMode = false;
        return "OK\r";
    }
    return "ERROR\r";
}

}  // namespace tarsa::sim
