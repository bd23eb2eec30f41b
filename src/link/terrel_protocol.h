// The device command link: the object through which every text command of the
// program travels to a logger, the reader or an instrument.
//
// A command is one line ending in a carriage return; the device answers with
// text and ends with a prompt character (normally ">"). DeviceCommand is the
// one prompted exchange every other command is built on: it retries silent
// and rejected tries, never retries an echo (a relay or a broken device
// repeating what is sent), and logs each outcome with the port name as tag.
// The radio primitives (QueryCommand, SendWake) and the login line live here
// too. Opening, identifying and closing a connection (logger_connection.h),
// the setting commands (logger_commands.h) and the settings as a whole
// (logger_settings.h) build on this object.
//
// Single-threaded: one exchange at a time, on the user-interface thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "link/logger_record.h"
#include "serial/serial_port.h"

namespace tarsa {

// Result codes shared by every device command (negative codes of the serial
// port pass through unchanged).
inline constexpr int kDCOk = 1;
inline constexpr int kDCNoBaudChange = -1;      // the device cannot change its baud rate
inline constexpr int kDCMissingArgument = -10;  // missing argument
inline constexpr int kDCOutOfRange = -11;       // option out of range; link kind 0
inline constexpr int kDCNotWritable = -12;  // this setting cannot be written on this link or device
inline constexpr int kDCNotSupported = -13;      // link kind or firmware not supported
inline constexpr int kDCNoListener = -20;        // nothing is listening
inline constexpr int kDCNoAnswer = -21;          // no answer at all in any try
inline constexpr int kDCLastTrySilent = -22;     // the last try heard nothing
inline constexpr int kDCRadioConfig = -23;       // the radio modem could not be configured
inline constexpr int kDCBadAnswer = -30;         // the answer could not be understood
inline constexpr int kDCEmptyAnswer = -31;       // only carriage return, carriage return, ">"
inline constexpr int kDCEcho = -32;              // the device or a relay echoed the command
inline constexpr int kDCRelayActive = -33;       // a relay must be active
inline constexpr int kDCRejected = -34;          // "ERROR", "Unsupported" or "?"
inline constexpr int kDCPartial = -35;           // some of the requested settings failed
inline constexpr int kDCEmptyName = -36;         // the device returned an empty name answer
inline constexpr int kDCIdentityMismatch = -37;  // the device is not the one in the record
inline constexpr int kDCCancelled = -40;         // cancelled through the progress hook
inline constexpr int kDCNoRadio = -45;           // the logger reports that no radio is fitted
inline constexpr int kDCNameBadChar = -50;       // space, control character, 127 or 255
inline constexpr int kDCNameBadSymbol = -51;     // one of ? \ " / < > * | : ; ,
inline constexpr int kDCNameReserved = -52;      // a reserved command word
inline constexpr int kDCNameEmpty = -53;         // null or empty name
inline constexpr int kDCNameTooLong = -54;       // longer than 8 characters
inline constexpr int kDCNameNonAscii = -56;      // another byte above 127
inline constexpr int kDCNoBuffer = -60;          // no buffer
inline constexpr int kDCDataFlash = -65;         // the logger's data memory is broken
inline constexpr int kDCLoaderAnswered = -80;    // the bootstrap loader answered ("+")
inline constexpr int kDCLoaderPrompt = -81;      // the loader prompt "$" was heard twice

// Link kinds of a connection.
inline constexpr uint8_t kLinkNone = 0;
inline constexpr uint8_t kLinkCable = 10;
inline constexpr uint8_t kLinkRadio = 30;

inline constexpr size_t kReplyBufferSize = 2049;
inline constexpr size_t kDeviceNameMax = 8;
inline constexpr uint32_t kWakePackets = 909;
inline constexpr uint32_t kWakeIntervalMs = 55;

// Stages passed to the progress hook.
inline constexpr int kStageRunning = 1;
inline constexpr int kStageFinished = 2;
inline constexpr int kStageQueryTry = 4;

struct LinkOptions {
    uint8_t keepPortOpen = 0;  // DisconnectDevice leaves the port open at 9600 baud
    uint32_t serialTries = 3;  // 1..12; 0 means 3
    uint32_t radioTries = 5;   // 1..12; 0 means 5
    uint8_t progress = 0;      // long operations call the progress hook
    int8_t trace = 0;          // 0 none, 1 received, 2 sent, 3 both
    uint32_t extraWaitMs = 0;  // 0..30000, added to every prompt wait
};

// The connection request of the current connection; its link kind is the
// connected state (kLinkNone: not connected).
struct ConnectionRequest {
    // A Linux device path such as /dev/serial/by-id/... is longer than a COM
    // name, so the field holds as much as the port object does.
    char portName[kPortNameSize + 1] = {};
    uint8_t linkKind = kLinkNone;
    int8_t baudCode = 0;
    char deviceName[9] = {};
    char secondText[24] = {};
    int32_t radioChannel = 0;
    int32_t radioSubChannel = 0;
    uint8_t configureRadio = 0;
};

// Called by long operations: (total, done, stage); returns false to cancel.
using LinkProgressHook = std::function<bool(uint32_t total, uint32_t done, int stage)>;
// Receives sent and received texts when tracing is on.
using LinkTraceSink = std::function<void(const char* text)>;

struct Terrel_Protocol {
    explicit Terrel_Protocol(TarsaLog* log);
    // Disconnects a connected object (keep-port-open cleared first, so the
    // port always closes).
    ~Terrel_Protocol();
    Terrel_Protocol(const Terrel_Protocol&) = delete;
    Terrel_Protocol& operator=(const Terrel_Protocol&) = delete;

    TarsaSerial port;
    int32_t status = kDCOk;  // kDCNoBuffer when a buffer could not be allocated
    LinkOptions options;
    LoggerSettings settings;  // identity and settings as last read or written
    ConnectionRequest connection;
    uint32_t tries = 3;
    int32_t resets = 0;
    std::unique_ptr<char[]> reply;          // kReplyBufferSize bytes: the last answer
    std::unique_ptr<char[]> receiveBuffer;  // kReadBufferSize bytes, the port's gReadBuffer
    TarsaLog* log = nullptr;
    LinkProgressHook progressHook;  // empty: always go on
    LinkTraceSink traceSink;        // empty: trace goes nowhere
};

// With `set` 0 copies the current options out and returns 1. With `set` 1
// takes them: tries above 12, trace outside 0..3 or extra wait above 30000
// return kDCOutOfRange and change nothing; tries of 0 become 3 (serial) and
// 5 (radio).
int DeviceOptions(Terrel_Protocol& link, LinkOptions& options, int set);

// Sends `command` and waits for `prompt` up to `timeoutMs` plus the extra
// wait, retrying silent and rejected tries. Copies at most *length - 1 bytes
// of the answer into `answer` (when given) and sets *length to the copied
// length. Returns the number of bytes received, or kDCNoAnswer, kDCLastTrySilent,
// kDCEmptyAnswer, kDCEcho, kDCRejected or a serial code.
int DeviceCommand(Terrel_Protocol& link, const char* command, char prompt, uint32_t timeoutMs,
                  char* answer, int* length, uint32_t* elapsedMs);

// Asks whoever is awake on the radio channel to answer "query". Mode 1 puts
// the name heard (at most 8 characters) into `buffer`; any other positive mode
// is the buffer's length for the whole answer. Returns 1, kDCMissingArgument,
// kDCCancelled, kDCRelayActive, kDCLastTrySilent or another failure.
int QueryCommand(Terrel_Protocol& link, char* buffer, int mode);

// Sends the login line ("login NAME" or "login"). Returns 1, kDCNameTooLong,
// kDCBadAnswer or a DeviceCommand failure.
int LoginCommand(Terrel_Protocol& link, const char* deviceName);

// Sends the 909-byte carriage-return wake sequence, one byte every 55 ms.
// Returns 1, kDCCancelled, or the code of the first write that failed (the
// sequence stops there).
int SendWake(Terrel_Protocol& link);

// Returns 1 when `name` may be a device name, or kDCNameBadChar,
// kDCNameBadSymbol, kDCNameReserved, kDCNameEmpty, kDCNameTooLong, kDCNameNonAscii.
int CheckDeviceName(const char* name);

}  // namespace tarsa
