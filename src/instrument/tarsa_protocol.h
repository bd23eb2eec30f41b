// The instrument protocol object: how the update workflows talk to an
// instrument's application firmware.
//
// `Tarsa_protocol` owns the device command link and the SDI-12 object, and
// holds what the workflows learn about the connected instrument: its
// identity, the settings captured before an update (a logger settings record
// for the data loggers, `InstrumentSettings` and two record sets for the
// text-command instruments, the SDI-12 object for the digital sensor) and
// whether those settings are valid for a restore.
//
// The operations come in five groups, one source file each:
//   tarsa_protocol.cpp  connect, log in, disconnect, the three command primitives
//   records.cpp         numbered user and calibration equation records
//   maintenance.cpp     battery, firmware self-check, data erase, clock
//   settings_file.cpp   the settings file (write, read, record sets from a file)
//   capture.cpp         settings capture and restore
// Every command is one text line through DeviceCommand with the prompt ">";
// every outcome is logged with the tag "Tarsa_protocol". Nothing here opens
// the bootstrap loader or decides what a result means to the user.
//
// Single-threaded: every call blocks the calling (user-interface) thread.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string_view>

#include "catalogue/catalogue.h"
#include "instrument/settings_records.h"
#include "link/logger_record.h"
#include "link/terrel_protocol.h"
#include "sdi12/tarsa_sdi12.h"

namespace tarsa {

class TarsaLog;

// Result codes of the instrument protocol. Codes of the command link, the
// serial port and the SDI-12 layer pass through unchanged.
inline constexpr int kTPOk = 1;
inline constexpr int kTPNothing = 0;              // nothing to do (empty flag word, no records)
inline constexpr int kTPCorruptFirmware = -1;     // the instrument reports corrupt firmware
inline constexpr int kTPMissingArgument = -10;    // missing argument
inline constexpr int kTPUnknownKind = -11;        // a record kind other than 1 or 2
inline constexpr int kTPSerialRejected = -12;     // the instrument refused the serial number
inline constexpr int kTPNotApplicable = -13;      // the operation does not apply to this type
inline constexpr int kTPNoListener = -20;         // nothing is listening on the port
inline constexpr int kTPLoginFailed = -25;        // the instrument login failed
inline constexpr int kTPBadAnswer = -30;          // an answer or a file could not be understood
inline constexpr int kTPPartial = -35;            // some settings could not be read or written
inline constexpr int kTPUninitialized = -36;      // the logger has no name: nothing to save
inline constexpr int kTPNoMemory = -60;           // a record set could not be allocated
inline constexpr int kTPDataFlash = -65;          // the instrument's data memory is broken
inline constexpr int kTPLoaderAnswered = -80;     // the bootstrap loader answered ("+")
inline constexpr int kTPLoaderPrompt = -81;       // the loader prompt was heard
inline constexpr int kTPFileNotFound = -102;      // the settings file does not exist
inline constexpr int kTPFileAccessDenied = -105;  // the settings file may not be read
inline constexpr int kTPFileBadHandle = -106;     // the settings file handle is invalid
inline constexpr int kTPNotSupported = -120;      // the device or its firmware is not supported

inline constexpr const char* kTPTag = "Tarsa_protocol";
inline constexpr const char* kAccessCode = "5738";  // the instrument login's access code

struct Tarsa_protocol {
    // Creates the link and the SDI-12 object with `log`; both settings blocks
    // and both record sets start empty, nothing captured.
    explicit Tarsa_protocol(TarsaLog* log);
    // The link disconnects first when it is still connected.
    ~Tarsa_protocol() = default;
    Tarsa_protocol(const Tarsa_protocol&) = delete;
    Tarsa_protocol& operator=(const Tarsa_protocol&) = delete;

    Terrel_Protocol link;                   // every command of this object goes through it
    TarsaSDI12 sdi;                         // the digital sensor, through the link's port
    LoggerSettings loggerSettings;          // a data logger's settings (and identity)
    InstrumentSettings instrumentSettings;  // a text-command instrument's settings
    int8_t type = 0;                        // catalogue type code of the connected instrument
    InstrumentIdentity identity;            // filled by TPConnect
    uint8_t captured = 0;                   // 1: the settings in memory may be restored
    RecordSet users;                        // user records (kind 2, "user")
    RecordSet equations;                    // calibration equation records (kind 1, "eqn")
    TarsaLog* log = nullptr;
    uint32_t savedFlags = 0;  // flag word of what was captured and saved

    // Seconds since 1970 UTC for TPSetTime; empty means the system clock.
    // Returns (time_t)-1 when the clock cannot be read.
    std::function<time_t()> clock;
};

// --- Connection and command primitives ---------------------------------

// Opens `portName` through the link, reads the version answer and fills
// `identity` from the catalogue (also on failure, whenever it was parsed).
// Returns 1, kTPMissingArgument (no port name or identity, or a port name
// longer than the connection request holds), kTPNoListener, kTPLoaderAnswered,
// kTPLoaderPrompt, kTPNotSupported, or another link or serial error.
int TPConnect(Tarsa_protocol& tp, const char* portName, int baudCode, uint32_t serialTries,
              InstrumentIdentity* identity);

// Sends the login line one character at a time, up to three attempts.
// Returns 1 when an answer held "OK" or the access code, else kTPLoginFailed.
int TPLogin(Tarsa_protocol& tp);

// Sends "logout" first when the instrument needs a login and `sendLogout`.
// Returns the result of DisconnectDevice.
int TPDisconnect(Tarsa_protocol& tp, bool sendLogout);

// Sends `command` + "\r" (up to three attempts) and copies the first line of
// the answer, at most `capacity` characters, into `destination` (capacity + 1
// bytes). Returns 1, kTPBadAnswer (an error text, only the prompt, or an
// empty value) or an exchange error.
int GetValueString(Tarsa_protocol& tp, const char* command, uint32_t timeoutMs, char* destination,
                   int capacity);

// As GetValueString, reading one signed decimal number.
// Returns 1, kTPBadAnswer (no number) or an exchange error.
int GetValueLong(Tarsa_protocol& tp, const char* command, uint32_t timeoutMs, int32_t* destination);

// Sends `line` (with its "\r") until an answer holds "OK", up to three
// attempts one second apart; a line that holds "user" gets one attempt and
// its answer is not checked. Returns 1 or the last exchange result.
int TPCommand(Tarsa_protocol& tp, const char* line);

// --- Calibration and user records ---------------------------------------

// Reads the instrument's records of `kind` into `set`. Returns 1, 0 (no
// records), kTPUnknownKind or kTPNoMemory (a count beyond kMaxRecords).
int GetRecords_Serial(Tarsa_protocol& tp, RecordSet& set, int kind);

// Sorts `set` by name and writes its records to the instrument in that order.
// Returns 1, 0 (empty set) or kTPUnknownKind.
int SetRecords_Serial(Tarsa_protocol& tp, RecordSet& set, int kind);

// Derives every record's name from its text. Returns 1, kTPMissingArgument
// (no record array) or kTPUnknownKind.
int ExtractNames(Tarsa_protocol& tp, RecordSet& set, int kind);

// Names the records and sorts them by name without regard to case; records
// with equal names end up in reverse order. Returns 1, kTPMissingArgument or
// kTPUnknownKind.
int AlphabetizeRecords(Tarsa_protocol& tp, RecordSet& set, int kind);

// --- Maintenance commands ----------------------------------------------

// "get -batt". Returns 1 (percent stored), kTPMissingArgument (null
// destination), kTPBadAnswer (no number; percent untouched) or an exchange
// error (percent -1).
int TPCheckBattery(Tarsa_protocol& tp, int32_t* percent);

// "post -init" or "post", up to three attempts one second apart.
// Returns 1 (good code), kTPCorruptFirmware, kTPBadAnswer or an exchange error.
int TPCheckFirmware(Tarsa_protocol& tp, int postInit);

// Erases the stored data. Returns 1, kTPDataFlash, kTPBadAnswer,
// kTPNotApplicable (type without a data erase), or a logger erase or
// exchange error.
int TPEraseData(Tarsa_protocol& tp);

// Sets the instrument clock to now, local time. Returns 1, kTPNotApplicable
// (the identity asks for no clock), kTPBadAnswer, or a logger clock or
// exchange error.
int TPSetTime(Tarsa_protocol& tp);

// --- Settings file -------------------------------------------------------

// Writes the settings of the object's type to `path`, through a temporary
// file in the same folder that replaces the old one only when complete; the
// file is readable by its owner only. Returns 1, kTPMissingArgument, or
// -(errno) of the failed open, write or rename.
int WriteInfoFile(Tarsa_protocol& tp, const char* path);

// Reads `path` into the settings of the object's type (and, for loggers, the
// saved flags); nothing is changed unless the whole read succeeds.
// Returns 1, kTPMissingArgument, kTPFileNotFound, kTPFileAccessDenied,
// kTPFileBadHandle, -(errno), kTPNotApplicable (a type with no settings),
// kTPBadAnswer (no type line for this type, or not a settings file).
int ReadInfoFile(Tarsa_protocol& tp, const char* path);

// Reads the records of `kind` ("eqn00", "user00" ...) from the text of a
// settings file into `set`. Returns 1, 0 (none), kTPUnknownKind or kTPNoMemory.
int GetRecords_File(Tarsa_protocol& tp, RecordSet& set, int kind, std::string_view fileText);

// --- Settings capture and restore ------------------------------------------

// Captures the settings of the connected instrument and writes the settings
// file. Returns 1, kTPPartial (captured with gaps, file written),
// kTPUninitialized, kTPNotApplicable (a type without a capture; no file), or
// the capture's or the file's error.
int TPSaveInfo(Tarsa_protocol& tp, const char* settingsFilePath);

// Writes the captured settings back, reading the settings file first when
// nothing is captured in memory. `newSerial` (or null) replaces the serial
// number. Returns the restore's result, kTPNotApplicable, or the file's error.
int TPRestoreInfo(Tarsa_protocol& tp, const char* settingsFilePath, const char* newSerial);

// Reads the settings selected by `flags` into instrumentSettings and sets
// their bits in its flags word. Returns 1, 0 (empty flag word), kTPPartial,
// or the stopping error (echo, no answer) or the only read's error.
int GetInstInfo(Tarsa_protocol& tp, uint32_t flags);

// Writes the settings selected by `flags` from instrumentSettings.
// Returns 1, 0 (empty flag word), kTPPartial, kTPBadAnswer (a selected bit
// has no write command and nothing else was written), or the stopping error
// (echo, relay, no answer) or the only write's error.
int SetInstInfo(Tarsa_protocol& tp, uint32_t flags);

// The flag word TPSaveInfo captures for the connected type (0: none).
uint32_t CaptureFlags(const Tarsa_protocol& tp);

}  // namespace tarsa
