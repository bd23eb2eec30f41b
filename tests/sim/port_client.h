// The host side of a simulator test: a plain descriptor on the pty slave in
// raw mode, with reads bounded by poll(). Deliberately independent of the
// program's serial layer, so that simulator tests do not depend on it.
#pragma once

#include <vector>

#include <cstdint>

#include <termios.h>

#include <string>
#include <string_view>

namespace tarsa::sim::test {

struct PortClient {
    int fd = -1;
    bool eof = false;   // the last read saw end of file or EIO (the device vanished)
    int readErrno = 0;  // errno of the last failed read, 0 when none

    PortClient() = default;
    PortClient(const PortClient&) = delete;
    PortClient& operator=(const PortClient&) = delete;
    ~PortClient();

    // Opens the slave in raw mode at the given speed; false on failure.
    bool Open(const std::string& path, speed_t baud = B9600);
    void Close();
    bool SetBaud(speed_t baud);
    bool Send(std::string_view bytes);
    // Reads until `until` has arrived or `timeoutMs` have passed; returns all bytes read.
    std::string ReadUntil(std::string_view until, int timeoutMs);
    // Reads whatever arrives within `ms`.
    std::string ReadFor(int ms);
    // Sends a command and reads its answer up to the prompt.
    std::string Ask(std::string_view command, int timeoutMs = 2000);
};

// Milliseconds from a monotonic clock.
long long MonoMs();

// A plain TI-TXT reader for the tests, independent of the program's own:
// "@addr" tokens, hex byte pairs, "q" at the end.
struct Section {
    uint32_t address;
    std::vector<uint8_t> bytes;
};
std::vector<Section> ReadTiTxtText(const std::string& text);

}  // namespace tarsa::sim::test
