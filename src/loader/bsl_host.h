// The host side of the device-resident bootstrap loader.
//
// `TarsaBSLHost` holds the serial connection to the loader, the firmware image
// that an update writes, and the settings of the current connection. The
// loader speaks one-character commands framed as
//     command, payload, ".", four hex digits of checksum, carriage return
// and answers with a short text that begins with "+" when it accepted. This
// file covers the frame and the single exchange (BSLCommand), the ways of
// holding the port (BSLConnect opens it, BSLHandOff borrows an open one,
// BSLRelease gives it back, BSLDisconnect closes it), the programming steps
// (erase information memory and flash, upload, vectors) and reaching the
// loader from running application firmware (BSLInvocation, BSLAttach,
// BSLCheck).
//
// BSLCommand never retries; every programming step retries up to `tries`
// times with a 175 ms pause. Nothing here undoes a partly done erase or
// upload: the loader's own flash is never touched, so it can always be
// reached again.
//
// User-interface thread only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "loader/firmware_image.h"
#include "serial/serial_port.h"

namespace tarsa {

class TarsaLog;

// Result codes of the loader host (serial codes pass through unchanged).
inline constexpr int kBSLRejected = -1;          // "?" or "-", or not an acceptance
inline constexpr int kBSLMissingArgument = -10;  // no port name, reply buffer, payload or image
inline constexpr int kBSLOutOfRange = -11;      // payload too long, erase start in loader flash ...
inline constexpr int kBSLNoReply = -21;         // not connected, or no reply characters at all
inline constexpr int kBSLNoAttempt = -22;       // no attempt was made (tries is 0)
inline constexpr int kBSLStopped = -40;         // the progress hook asked to stop
inline constexpr int kBSLNoMemory = -60;        // out of memory
inline constexpr int kBSLAlreadyActive = -80;   // the loader already takes commands
inline constexpr int kBSLWaitingForHost = -81;  // the loader waits for a host ("$")
inline constexpr int kBSLImageDamaged = -101;   // compiled-in image failed its check
inline constexpr int kBSLBadAnswer = -110;      // answered, but not as required
inline constexpr int kBSLNoLoader = -112;       // no working loader, or it does not greet

inline constexpr size_t kBSLFrameBufferSize = 544;
inline constexpr size_t kBSLMaxPayload = 512;
inline constexpr size_t kBSLMaxValues = 128;
inline constexpr size_t kBSLReplyChars = 20;     // framed replies: up to 20 characters
inline constexpr size_t kBSLGreetingChars = 31;  // bare greetings: up to 31 characters
inline constexpr uint32_t kBSLSegmentSize = 0x200;
inline constexpr uint32_t kBSLBlockChars = 512;  // image text per "W" frame (256 bytes)
inline constexpr uint32_t kBSLRetryPauseMs = 175;
inline constexpr uint32_t kBSLLoaderFlashStart = 0xFA00;
inline constexpr uint32_t kBSLLoaderFlashEnd = 0xFFFF;
inline constexpr uint32_t kBSLAppBaud = 9600;
inline constexpr const char* kBSLBootWord = "QUAB";

// Phases of the progress hook.
inline constexpr int kPhaseWorking = 1;
inline constexpr int kPhaseDone = 2;

// Called during erase ('X') and upload ('W') when progress is on; returns
// false to stop (honoured in phase 1 only).
using BSLProgressHook =
    std::function<bool(uint32_t total, uint32_t done, int phase, char operation)>;

struct TarsaBSLHost {
    // Loads the compiled-in image; a damaged one leaves constructorError at
    // kBSLImageDamaged (and an empty image).
    explicit TarsaBSLHost(TarsaLog* log);
    ~TarsaBSLHost();  // BSLDisconnect
    TarsaBSLHost(const TarsaBSLHost&) = delete;
    TarsaBSLHost& operator=(const TarsaBSLHost&) = delete;

    TarsaSerial port;
    int32_t loaderVersion = 0;
    FirmwareImage image;
    int32_t constructorError = 0;
    TarsaLog* log = nullptr;
    bool connected = false;
    bool handedOver = false;  // the port belongs to another object (BSLHandOff)
    bool progress = false;
    uint32_t tries = 3;
    std::array<char, kBSLFrameBufferSize> commandBuffer{};
    std::array<char, kBSLFrameBufferSize> blockBuffer{};
    BSLProgressHook progressHook;  // empty: always go on
};

// Checksum of a frame: 46 (".") plus the command and every payload character
// as signed 8-bit values, modulo 65535.
uint16_t BSLChecksum(char command, const char* payload, size_t length);

// Sends one frame with `payload` (null only for "g") and reads the reply (up
// to 20 characters) into `reply` (at least 21 bytes) once `terminator` is
// seen or 1000 ms passed. Returns the reply length when accepted, or
// kBSLRejected, kBSLMissingArgument, kBSLOutOfRange, kBSLNoReply or a serial code.
int BSLCommand(TarsaBSLHost& host, char command, const char* payload, size_t payloadLength,
               char terminator, char* reply, uint32_t* elapsedMs);

// The same with `count` values written as "%04X" (or "%05X" when `extended`).
// kBSLOutOfRange when they would not fit 512 characters (more than 128
// four-digit or 102 five-digit values).
int BSLCommand(TarsaBSLHost& host, char command, const uint32_t* values, size_t count,
               char terminator, char* reply, uint32_t* elapsedMs, bool extended);

// Uses a port another object holds open; a port the host had opened itself
// is closed first. Returns 1, or kBSLOutOfRange for null parameters.
int BSLHandOff(TarsaBSLHost& host, int handle, char* readBuffer, const char* portName,
               bool progress, uint32_t tries);

// Gives a handed-over port back without closing it. Returns 1.
int BSLRelease(TarsaBSLHost& host);

// Closes the port: 0 when not connected, else the TSClose result. A port that
// was handed over is released, never closed.
int BSLDisconnect(TarsaBSLHost& host);

// Erases `count` information segments of `size` bytes from `first`.
int BSLEraseINFO(TarsaBSLHost& host, uint32_t first, uint32_t count, uint32_t size, bool extended);

// Erases the 512-byte segments from `first` below `end`, skipping the loader's
// flash. kBSLOutOfRange when `first` lies in the loader's flash.
int BSLEraseFlash(TarsaBSLHost& host, uint32_t first, uint32_t end, bool extended);

// Sets the loader's write address.
int BSLSendAddress(TarsaBSLHost& host, uint32_t address, bool extended);

// Uploads the image text in 512-character blocks. kBSLMissingArgument with no
// image, kBSLOutOfRange when it does not start with a well-formed "@" record.
int BSLSendFirmware(TarsaBSLHost& host, bool extended);

// Sends the 16 vectors; the loader then restarts the application.
int BSLSendVectors(TarsaBSLHost& host);

// Opens `portName` at 9600 baud, starts or finds the loader, greets it and
// asks its version. Returns the loader version or a negative code (the port
// is closed again on failure); kBSLBadAnswer when no reply told a version.
int BSLConnect(TarsaBSLHost& host, const char* portName, uint32_t loaderBaud, bool progress,
               uint32_t tries);

// Asks running application firmware to start its loader, then greets it.
// Returns 1, kBSLBadAnswer, kBSLNoLoader, kBSLNoAttempt or a serial code.
int BSLInvocation(TarsaBSLHost& host, uint32_t loaderBaud);

// Greets a loader that is already running. Returns 1, kBSLBadAnswer,
// kBSLNoAttempt or a serial code.
int BSLAttach(TarsaBSLHost& host);

// Probes the device's state (connecting first when needed). Returns
// kBSLAlreadyActive, kBSLWaitingForHost, kBSLNoReply or a serial code.
int BSLCheck(TarsaBSLHost& host, const char* portName, uint32_t baud);

// Loads a TI-TXT file as the image (see ti_txt.h for the result codes).
int BSLLoadTIFile(TarsaBSLHost& host, const char* path);

// Writes the image as a TI-TXT style record. Returns 1 or -(errno).
int BSLWriteTIFile(TarsaBSLHost& host, const char* path);

}  // namespace tarsa
