// SDI-12 commands to a digital sensor through a reader in pass-through mode.
//
// Once the reader on the serial port has been put into pass-through, every
// byte written to the port goes out on the sensor bus and the sensor's answer
// comes back; the reader turns "|" into a bus break (the wake-up signal)
// instead of passing it on. `TarsaSDI12` holds one sensor's identity and
// settings and owns the single exchange SDISendCommand that every sensor
// operation (sensor_operations.h) is built on.
//
// SDISendCommand sends a break before the command, and after a try that heard
// nothing it probes the bus with "?!": a sensor that answers the probe is on
// the bus and gets another try (every other try without the break), one that
// does not is given up at once. It does not log in to the reader or switch it
// into pass-through; that is the caller's job. It borrows the serial port of
// the command link and never opens or closes it.
//
// User-interface thread only.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarsa {

class TarsaLog;
struct Terrel_Protocol;

// Result codes of the SDI-12 layer (serial codes of failed writes, waits and
// reads pass through unchanged).
inline constexpr int kSDIOk = 1;
inline constexpr int kSDINothingToDo = 0;        // nothing to read or write for this sensor
inline constexpr int kSDIUndetermined = -1;      // type not determined, or firmware not checkable
inline constexpr int kSDIInvalidType = -11;      // the type request names no sensor type
inline constexpr int kSDINoAnswer = -21;         // no answer, and nothing answered the "?!" probe
inline constexpr int kSDIProbeOnly = -22;        // the sensor answers "?!" but not the command
inline constexpr int kSDIBadAnswer = -30;        // the answer was not the one expected
inline constexpr int kSDIRejected = -34;         // the sensor answered "ERROR"
inline constexpr int kSDICorruptFirmware = -66;  // the sensor reports corrupt firmware
inline constexpr int kSDINoLoader = -82;         // the sensor has no bootstrap loader

// Field capacities, terminating NUL included.
inline constexpr size_t kSDIIdentificationSize = 36;
inline constexpr size_t kSDICalibrationSize = 513;
inline constexpr size_t kSDISerialNumberSize = 32;
inline constexpr size_t kSDIReplySize = 256;

inline constexpr uint32_t kSDITimeoutMs = 2000;
inline constexpr uint32_t kSDITries = 5;
inline constexpr uint32_t kSDIBreakPauseMs = 175;
inline constexpr uint32_t kSDIProbeBreakPauseMs = 30;
inline constexpr uint32_t kSDIProbeTimeoutMs = 500;
inline constexpr char kSDIBreak = '|';
inline constexpr const char* kSDITag = "TarsaSDI12";

struct TarsaSDI12 {
    // Keeps both pointers; the object owns neither. Either may be null (a
    // null link makes every exchange fail with the closed-port code).
    TarsaSDI12(TarsaLog* log, Terrel_Protocol* link);
    ~TarsaSDI12();
    TarsaSDI12(const TarsaSDI12&) = delete;
    TarsaSDI12& operator=(const TarsaSDI12&) = delete;

    char address = '0';                                // the sensor's bus address
    char identification[kSDIIdentificationSize] = {};  // "?I!" answer from its 4th character
    char calibration1[kSDICalibrationSize] = {};       // read "?X4!", written "?X5...!"
    char calibration2[kSDICalibrationSize] = {};       // read "?Xa!", written "?Xb...!"
    char calibration3[kSDICalibrationSize] = {};       // read and written "?XO...!"
    uint8_t hasCalibration3 = 0;                       // the sensor answered "?XO!" without "ERROR"
    char serialNumber[kSDISerialNumberSize] = {};
    uint8_t sensorType = 0;        // type number, or the character the sensor reports
    uint32_t firmwareVersion = 0;  // three-digit version field of the identification
    uint8_t numericType = 0;       // the sensor reported its type as digits
    TarsaLog* log = nullptr;
    Terrel_Protocol* link = nullptr;
    char reply[kSDIReplySize] = {};      // the last answer, NUL-terminated
    uint32_t timeoutMs = kSDITimeoutMs;  // wait for each answer
    uint32_t tries = kSDITries;          // attempts per command
};

// Sends one SDI-12 command (for example "?I!") and waits for the answer, which
// keeps the sensor's address character and its line end. Copies at most
// *length - 1 bytes of it into `answer` when given (and *length > 0) and sets
// *length to the copied length; `elapsedMs` may be null.
// Returns the number of bytes received (0 only when the last try heard
// nothing while the sensor still answered the probe), kSDINoAnswer,
// kSDIProbeOnly, or the serial code of a failed write, wait or read.
int SDISendCommand(TarsaSDI12& sdi, const char* command, char* answer, int* length,
                   uint32_t* elapsedMs);

// Writes one steering character to the reader (its meaning is the reader's).
// Returns 1, or the serial code of the failed write.
int SDIWriteCharacter(TarsaSDI12& sdi, char character);

}  // namespace tarsa
