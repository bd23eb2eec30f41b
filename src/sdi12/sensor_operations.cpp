// Sensor operations on top of SDISendCommand: command texts, answer parsing,
// the default calibrations of old firmware and the write retries.
#include "sdi12/sensor_operations.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "sdi12/sdi12_log.h"
#include "serial/timing.h"

namespace tarsa {
namespace {

// Sensor types (as the sensors report them) that the operations treat apart.
constexpr uint32_t kTypeNoCalibration = 94;
constexpr uint32_t kTypeWithCalibration3 = 93;
constexpr uint32_t kTypeCalibration2Required = 121;
constexpr std::initializer_list<uint32_t> kGroupR = {122, 120};
constexpr std::initializer_list<uint32_t> kGroupW = {119};
constexpr std::initializer_list<uint32_t> kCalibration2Group = {121, 108, 107, 119, 104,
                                                                103, 122, 120, 92,  93};
constexpr std::initializer_list<uint32_t> kCalibration2WriteGroup = {121, 107, 119, 104, 103,
                                                                     122, 120, 92,  93};
constexpr std::initializer_list<uint32_t> kReformatGroup = {117, 116};

struct Family {
    uint32_t request;
    std::initializer_list<uint32_t> members;
};
constexpr Family kFamilies[] = {
    {kSensorFamilyNrx, {115, 114, 111, 110}}, {kSensorFamilyWpt, {121, 108}},
    {kSensorFamilyKtv, {116, 106, 105, 101}}, {kSensorFamilyHq, {112, 102}},
    {kSensorFamilyVeyra3x, {104, 103}},
};

// Calibration 2 texts put in for old firmware that lost or never had one;
// they are stored like an answer, so the leading "a" and blank are skipped.
constexpr const char* kDefaultOne = "a 1 1.44832 1.91683 2.35961 2.991";
constexpr const char* kDefaultTwo = "a 1 1.39619 2.03054 2.54573 2.9907";
constexpr const char* kDefaultThree = "a 1 1.4724 2.03944 2.5652 2.9907";
constexpr const char* kOldDefault = " 1 1.44832 1.91683 2.35961 2.991";
constexpr size_t kOldDefaultLength = 32;
// A calibration 2 answer shorter than this holds no calibration.
constexpr size_t kShortCalibration2 = 9;

// Version bands of the default calibration 2.
constexpr uint32_t kGroupRDefaultTwoFrom = 356;
constexpr uint32_t kGroupRDefaultTwoTo = 399;
constexpr uint32_t kGroupWDefaultOneTo = 352;
constexpr uint32_t kGroupWDefaultThreeTo = 401;

constexpr int kAttentionTries = 3;
constexpr uint32_t kLoaderTimeoutMs = 1000;
constexpr uint32_t kSteeringPauseMs = 100;
constexpr size_t kVersionFieldStart = 17;  // the three-digit version field of "?I!"
constexpr size_t kVersionFieldDigits = 3;
constexpr size_t kIdentificationStart = 3;
constexpr size_t kTypeTextMax = 3;
constexpr size_t kSerialCommandSize = 63;
constexpr size_t kCalibrationCommandSize = kSDICalibrationSize + 8;

bool IsOneOf(uint32_t value, std::initializer_list<uint32_t> set) {
    for (uint32_t member : set) {
        if (member == value) return true;
    }
    return false;
}

bool Contains(const char* text, const char* word) {
    return strstr(text, word) != nullptr;
}

// Copies `source` up to its line end (carriage return or line feed), at most
// capacity - 1 characters, always terminated.
void CopyLine(char* dest, size_t capacity, const char* source) {
    size_t n = 0;
    while (n + 1 < capacity && source[n] != '\0' && source[n] != '\r' && source[n] != '\n') {
        dest[n] = source[n];
        ++n;
    }
    dest[n] = '\0';
}

// The value of an answer: after the address character and one blank (the
// line end is not a blank: it ends an empty value).
const char* AnswerValue(const char* answer) {
    if (answer[0] == '\0') return answer;
    const char* value = answer + 1;
    if (*value == ' ' || *value == '\t') ++value;
    return value;
}

// Sensors of group R report an unset coefficient as -1, which new firmware
// would take as a real value: each "-1 " and the first "-1" before the line
// end become "+0". A "-1" that is an exponent ("2.5e-1 ") is left alone.
bool ReplaceMinusOne(char* answer) {
    bool replaced = false;
    bool lineEndDone = false;
    for (char* p = answer; p[0] != '\0' && p[1] != '\0'; ++p) {
        if (p[0] != '-' || p[1] != '1') continue;
        if (p > answer && (p[-1] == 'e' || p[-1] == 'E')) continue;
        const bool beforeBlank = p[2] == ' ';
        const bool beforeLineEnd = p[2] == '\r' && !lineEndDone;
        if (!beforeBlank && !beforeLineEnd) continue;
        if (beforeLineEnd) lineEndDone = true;
        p[0] = '+';
        p[1] = '0';
        replaced = true;
    }
    return replaced;
}

enum class WriteKind { kCalibration1, kCalibration2, kCalibration3, kSerialNumber };

void LogWriteConfirmed(const TarsaSDI12& sdi, WriteKind kind, const char* text) {
    switch (kind) {
        case WriteKind::kCalibration1:
            SDILog(sdi, "SDISetSensorCalibration successfully set sensor X5 calibration to \"%s\"",
                   text);
            break;
        case WriteKind::kCalibration2:
            SDILog(sdi, "SDISetSensorCalibration successfully set sensor Xb calibration to \"%s\"",
                   text);
            break;
        case WriteKind::kCalibration3:
            SDILog(sdi, "SDISetSensorCalibration successfully set sensor XO calibration to \"%s\"",
                   text);
            break;
        case WriteKind::kSerialNumber:
            SDILog(sdi, "SDISetSensorSN successfully set sensor serial number to \"%s\"", text);
            break;
    }
}

void LogWriteFailed(const TarsaSDI12& sdi, WriteKind kind, int code) {
    switch (kind) {
        case WriteKind::kCalibration1:
            SDILog(sdi, "SDISetSensorCalibration received error %i for X5", code);
            break;
        case WriteKind::kCalibration2:
            SDILog(sdi, "SDISetSensorCalibration received error %i for Xb", code);
            break;
        case WriteKind::kCalibration3:
            SDILog(sdi, "SDISetSensorCalibration received error %i for XO", code);
            break;
        case WriteKind::kSerialNumber:
            SDILog(sdi, "SDISetSensorSN received error %i setting serial number.", code);
            break;
    }
}

// Sends a write command up to `tries` times until an answer confirms it.
// Returns 1 when confirmed; otherwise kSDIRejected after an "ERROR" answer,
// kSDIProbeOnly when no try was confirmed, or the failed last exchange's code.
int WriteConfirmed(TarsaSDI12& sdi, WriteKind kind, const char* command, const char* text) {
    int result = 0;
    const uint32_t tries = sdi.tries > 0 ? sdi.tries : 1;
    int rc = 0;
    for (uint32_t attempt = 0; attempt < tries; ++attempt) {
        char answer[kSDIReplySize];
        int length = static_cast<int>(sizeof answer);
        rc = SDISendCommand(sdi, command, answer, &length, nullptr);
        if (rc >= 0) {
            if (Contains(answer, "OK")) {
                LogWriteConfirmed(sdi, kind, text);
                result = kSDIOk;
                break;
            }
            if (Contains(answer, "ERROR")) result = kSDIRejected;
        }
        if (result == 0) result = kSDIProbeOnly;
    }
    if (rc < 0) {
        LogWriteFailed(sdi, kind, rc);
        result = rc;
    }
    return result;
}

// The outcome of several writes: the first error stands, so one confirmed
// write never hides another that was refused or never confirmed.
int Combine(int sofar, int next) {
    return sofar < 0 ? sofar : next;
}

// The default calibration 2 answer for a sensor of group R or W, or null
// when the answer it gave stands. `failed` tells that "?Xa!" failed.
const char* DefaultCalibration2(const TarsaSDI12& sdi, const char* answer, bool failed) {
    const uint32_t v = sdi.firmwareVersion;
    const bool shortAnswer = failed || strlen(answer) < kShortCalibration2;
    const bool isOld =
        answer[0] != '\0' && strncmp(answer + 1, kOldDefault, kOldDefaultLength) == 0;
    if (IsOneOf(sdi.sensorType, kGroupR)) {
        const bool secondBand = v >= kGroupRDefaultTwoFrom && v <= kGroupRDefaultTwoTo;
        if (shortAnswer && v < kGroupRDefaultTwoFrom) return kDefaultOne;
        if (shortAnswer && secondBand) return kDefaultTwo;
        if (secondBand && isOld) return kDefaultTwo;
        return nullptr;
    }
    if (IsOneOf(sdi.sensorType, kGroupW)) {
        const bool secondBand = v > kGroupWDefaultOneTo && v <= kGroupWDefaultThreeTo;
        if (shortAnswer && v <= kGroupWDefaultOneTo) return kDefaultOne;
        if (shortAnswer && secondBand) return kDefaultThree;
        if (secondBand && isOld) return kDefaultThree;
    }
    return nullptr;
}

}  // namespace

int SDIGetSensorVersion(TarsaSDI12& sdi) {
    char answer[kSDIReplySize];
    int length = static_cast<int>(sizeof answer);
    int rc = SDISendCommand(sdi, "?I!", answer, &length, nullptr);
    if (rc < 0) {
        SDILog(sdi, "SDIGetSensorVersion received error %i", rc);
        return rc;
    }
    const size_t n = strlen(answer);
    if (n > 0) sdi.address = answer[0];
    CopyLine(sdi.identification, sizeof sdi.identification,
             n > kIdentificationStart ? answer + kIdentificationStart : "");

    uint32_t version = 0;
    size_t digits = 0;
    while (digits < kVersionFieldDigits && kVersionFieldStart + digits < n &&
           isdigit(static_cast<unsigned char>(answer[kVersionFieldStart + digits]))) {
        version = version * 10 + static_cast<uint32_t>(answer[kVersionFieldStart + digits] - '0');
        ++digits;
    }
    if (digits == 0) {
        char shown[kSDIReplySize];
        CopyLine(shown, sizeof shown, answer);
        SDILog(sdi, "SDIGetSensorVersion could not read the version field of \"%s\"", shown);
        return kSDIBadAnswer;
    }
    sdi.firmwareVersion = version;
    SDILog(sdi, "SDIGetSensorVersion found sensor info: %s", sdi.identification);
    return static_cast<int>(version);
}

int SDISetSensorAddress(TarsaSDI12& sdi, char address) {
    char command[8];
    snprintf(command, sizeof command, "0A%c!", address);
    char answer[kSDIReplySize];
    int length = static_cast<int>(sizeof answer);
    int rc = SDISendCommand(sdi, command, answer, &length, nullptr);
    if (rc < 0) {
        SDILog(sdi, "SDISetSensorAddress received error %i", rc);
        return rc;
    }
    if (answer[0] == address && address != '\0') {
        SDILog(sdi, "SDISetSensorAddress successfully set sensor address to '%c'", address);
        return kSDIOk;
    }
    SDILog(sdi, "SDISetSensorAddress could not set sensor address to '%c'", address);
    return kSDIBadAnswer;
}

int SDIGetSensorCalibration(TarsaSDI12& sdi) {
    if (sdi.sensorType == kTypeNoCalibration) {
        SDILog(sdi, "SDIGetSensorCalibration no calibration for version PQ-3");
        return kSDINothingToDo;
    }
    char answer[kSDIReplySize];
    int length = 0;
    int rc = 0;
    for (int i = 0; i < kAttentionTries; ++i) {
        length = static_cast<int>(sizeof answer);
        rc = SDISendCommand(sdi, "?!", answer, &length, nullptr);
        if (rc > 0) break;
    }
    if (rc <= 0) {
        SDILog(sdi, "SDIGetSensorCalibration \"attention sequence\" received error %i", rc);
    }

    length = static_cast<int>(sizeof answer);
    rc = SDISendCommand(sdi, "?X4!", answer, &length, nullptr);
    if (rc < 0) {
        SDILog(sdi, "SDIGetSensorCalibration received error %i looking for X4", rc);
        return rc;
    }
    if (IsOneOf(sdi.sensorType, kGroupR) && ReplaceMinusOne(answer)) {
        SDILog(sdi, "SDIGetSensorCalibration updated X4 to remove '-1'");
    }
    CopyLine(sdi.calibration1, sizeof sdi.calibration1, AnswerValue(answer));
    SDILog(sdi, "SDIGetSensorCalibration found calibration X4 \"%s\"", sdi.calibration1);

    if (IsOneOf(sdi.sensorType, kCalibration2Group)) {
        length = static_cast<int>(sizeof answer);
        rc = SDISendCommand(sdi, "?Xa!", answer, &length, nullptr);
        if (rc < 0) {
            SDILog(sdi, "SDIGetSensorCalibration received error %i looking for Xa", rc);
            if (sdi.sensorType == kTypeCalibration2Required) return rc;
        }
        const char* fallback = DefaultCalibration2(sdi, answer, rc < 0);
        const char* source = fallback ? fallback : answer;
        CopyLine(sdi.calibration2, sizeof sdi.calibration2, AnswerValue(source));
        SDILog(sdi, "SDIGetSensorCalibration %s calibration Xa \"%s\"", fallback ? "set" : "found",
               sdi.calibration2);
    }

    if (sdi.sensorType != kTypeWithCalibration3) return kSDIOk;

    length = static_cast<int>(sizeof answer);
    rc = SDISendCommand(sdi, "?XO!", answer, &length, nullptr);
    if (rc < 0) {
        SDILog(sdi, "SDIGetSensorCalibration received error %i looking for XO", rc);
        sdi.hasCalibration3 = 0;
        return kSDIOk;
    }
    if (Contains(answer, "ERROR")) {
        SDILog(sdi, "SDIGetSensorCalibration received \"ERROR\" response looking for XO");
        sdi.hasCalibration3 = 0;
        return kSDIOk;
    }
    sdi.hasCalibration3 = 1;
    CopyLine(sdi.calibration3, sizeof sdi.calibration3, AnswerValue(answer));
    SDILog(sdi, "SDIGetSensorCalibration found calibration XO \"%s\"", sdi.calibration3);
    return kSDIOk;
}

int SDISetSensorCalibration(TarsaSDI12& sdi, const char* calibration1) {
    if (sdi.sensorType == kTypeNoCalibration) {
        SDILog(sdi, "SDISetSensorCalibration skipped PQ-3");
        return kSDINothingToDo;
    }
    const char* text = calibration1 ? calibration1 : sdi.calibration1;
    if (text[0] == '\0') {
        SDILog(sdi, "SDISetSensorCalibration doesn't have a valid X5 calibration string");
        return kSDINothingToDo;
    }
    char command[kCalibrationCommandSize];
    // The precision keeps the closing "!" for a text longer than the field.
    snprintf(command, sizeof command, "?X5%.512s!", text);
    int result = WriteConfirmed(sdi, WriteKind::kCalibration1, command, text);

    // An empty calibration is not written: the sensor would lose the one it has.
    if (IsOneOf(sdi.sensorType, kCalibration2WriteGroup) && sdi.calibration2[0] != '\0') {
        snprintf(command, sizeof command, "?Xb%.512s!", sdi.calibration2);
        result = Combine(result,
                         WriteConfirmed(sdi, WriteKind::kCalibration2, command, sdi.calibration2));
    }
    if (sdi.sensorType == kTypeWithCalibration3 && sdi.hasCalibration3 &&
        sdi.calibration3[0] != '\0') {
        snprintf(command, sizeof command, "?XO%.512s!", sdi.calibration3);
        result = Combine(result,
                         WriteConfirmed(sdi, WriteKind::kCalibration3, command, sdi.calibration3));
    }
    if (result != kSDIOk) SDILog(sdi, "SDISetSensorCalibration did not set sensor calibration");
    return result;
}

int SDIGetSensorSN(TarsaSDI12& sdi) {
    char answer[kSDIReplySize];
    int length = static_cast<int>(sizeof answer);
    int rc = SDISendCommand(sdi, "?X#!", answer, &length, nullptr);
    if (rc < 0) {
        SDILog(sdi, "SDIGetSensorSN received error %i looking for X#", rc);
        return rc;
    }
    char serial[kSDISerialNumberSize];
    CopyLine(serial, sizeof serial, AnswerValue(answer));
    if (serial[0] == '\0') return kSDINothingToDo;
    memcpy(sdi.serialNumber, serial, sizeof serial);
    SDILog(sdi, "SDIGetSensorSN found SN \"%s\"", sdi.serialNumber);
    return kSDIOk;
}

int SDISetSensorSN(TarsaSDI12& sdi) {
    if (sdi.serialNumber[0] == '\0') {
        SDILog(sdi, "SDISetSensorSN didn't find a valid serial number");
        return kSDINothingToDo;
    }
    char command[kSerialCommandSize];
    snprintf(command, sizeof command, "?X#%.31s!", sdi.serialNumber);
    return WriteConfirmed(sdi, WriteKind::kSerialNumber, command, sdi.serialNumber);
}

int SDIInvokeTarsaBSL(TarsaSDI12& sdi) {
    const uint32_t savedTries = sdi.tries;
    const uint32_t savedTimeout = sdi.timeoutMs;
    sdi.tries = 1;
    sdi.timeoutMs = kLoaderTimeoutMs;
    char answer[kSDIReplySize];
    int length = static_cast<int>(sizeof answer);
    // A sensor that starts its loader need not answer, so only "No BSL" counts.
    SDISendCommand(sdi, "?B!", answer, &length, nullptr);
    sdi.tries = savedTries;
    sdi.timeoutMs = savedTimeout;
    if (Contains(answer, "No BSL")) {
        SDILog(sdi, "SDIInvokeTarsaBSL: sensor reported a missing TarsaBSL");
        return kSDINoLoader;
    }
    int rc = SDIWriteCharacter(sdi, ']');
    if (rc < 0) return rc;
    DelayMs(kSteeringPauseMs);
    rc = SDIWriteCharacter(sdi, 'P');
    if (rc < 0) return rc;
    DelayMs(kSteeringPauseMs);
    return kSDIOk;
}

int SDICheckBinary(TarsaSDI12& sdi) {
    char answer[kSDIReplySize];
    int length = static_cast<int>(sizeof answer);
    int rc = SDISendCommand(sdi, "?post!", answer, &length, nullptr);
    if (rc < 0) {
        SDILog(sdi, "SDICheckBinary received error %i", rc);
        return rc;
    }
    if (Contains(answer, "Code Good")) {
        SDILog(sdi, "SDICheckBinary found good firmware");
        return kSDIOk;
    }
    if (Contains(answer, "Code Corrupt")) {
        SDILog(sdi, "SDICheckBinary found corrupt firmware");
        return kSDICorruptFirmware;
    }
    SDILog(sdi, "SDICheckBinary unable to check firmware");
    return kSDIUndetermined;
}

int SDISetSensorType(TarsaSDI12& sdi, uint32_t request) {
    uint32_t type = request;
    bool family = false;
    for (const Family& f : kFamilies) {
        if (f.request != request) continue;
        family = true;
        if (!IsOneOf(sdi.sensorType, f.members)) {
            switch (request) {
                case kSensorFamilyNrx:
                    SDILog(sdi, "SDISetSensorType didn't get a valid NRX Sensor type (%u)",
                           static_cast<unsigned>(sdi.sensorType));
                    break;
                case kSensorFamilyWpt:
                    SDILog(sdi, "SDISetSensorType didn't get a valid WPT Sensor type (%u)",
                           static_cast<unsigned>(sdi.sensorType));
                    break;
                case kSensorFamilyKtv:
                    SDILog(sdi, "SDISetSensorType didn't get a valid KTV Sensor type (%u)",
                           static_cast<unsigned>(sdi.sensorType));
                    break;
                case kSensorFamilyHq:
                    SDILog(sdi, "SDISetSensorType didn't get a valid HQ-x Sensor type (%u)",
                           static_cast<unsigned>(sdi.sensorType));
                    break;
                default:
                    SDILog(sdi, "SDISetSensorType didn't get a valid Veyra 3x Sensor type (%u)",
                           static_cast<unsigned>(sdi.sensorType));
                    break;
            }
            return kSDIBadAnswer;
        }
        type = sdi.sensorType;
    }
    // A sensor type is one byte; 0 and 255 are not types.
    if (!family && (request == 0 || request >= 255)) {
        SDILog(sdi, "SDISetSensorType didn't get a valid sensor type (%u)", request);
        return kSDIInvalidType;
    }

    char command[16];
    // A character the reader or the bus would take for itself (a steering
    // character, the break, the command end) or one that is not printable
    // cannot travel as a character: the type then goes as a number.
    const bool sendable = type > ' ' && type < 127 && !strchr("|![]`", static_cast<int>(type));
    if (sdi.numericType || !sendable) {
        snprintf(command, sizeof command, "?X9 %u!", type);
    } else {
        snprintf(command, sizeof command, "?X9 %c!", static_cast<char>(type));
    }
    char answer[kSDIReplySize];
    int length = static_cast<int>(sizeof answer);
    int rc = SDISendCommand(sdi, command, answer, &length, nullptr);
    if (rc < 0) {
        SDILog(sdi, "SDISetSensorType received error %i", rc);
        return rc;
    }
    if (Contains(answer, "OK")) {
        sdi.sensorType = static_cast<uint8_t>(type);
        SDILog(sdi, "SDISetSensorType successfully set sensor type to \"%u\"", type);
        return kSDIOk;
    }
    SDILog(sdi, "SDISetSensorType could not set sensor type to \"%u\"", type);
    return kSDIBadAnswer;
}

int SDIGetSensorType(TarsaSDI12& sdi) {
    char answer[kSDIReplySize];
    int length = static_cast<int>(sizeof answer);
    int rc = SDISendCommand(sdi, "?X8!", answer, &length, nullptr);
    if (rc >= 0) {
        char text[kTypeTextMax + 1];
        CopyLine(text, sizeof text, AnswerValue(answer));
        if (isdigit(static_cast<unsigned char>(text[0]))) {
            unsigned value = 0;
            for (size_t i = 0; isdigit(static_cast<unsigned char>(text[i])); ++i) {
                value = value * 10 + static_cast<unsigned>(text[i] - '0');
            }
            if (value <= 0xFF) {
                sdi.sensorType = static_cast<uint8_t>(value);
                sdi.numericType = 1;
                SDILog(sdi, "SDIGetSensorType found sensor type as \"%u\"", value);
                return kSDIOk;
            }
        } else if (text[0] != '\0') {
            sdi.sensorType = static_cast<uint8_t>(text[0]);
            sdi.numericType = 0;
            SDILog(sdi, "SDIGetSensorType found sensor type as \"%u\"",
                   static_cast<unsigned>(sdi.sensorType));
            return kSDIOk;
        }
        // An empty or out-of-range type is no better than no answer.
        rc = kSDIBadAnswer;
    }
    SDILog(sdi, "SDIGetSensorType received error %i", rc);

    if (sdi.identification[0] == '\0') SDIGetSensorVersion(sdi);
    if (Contains(sdi.identification, "7QE")) {
        sdi.sensorType = 122;
    } else if (Contains(sdi.identification, "QS-RM")) {
        sdi.sensorType = 125;
    } else if (Contains(sdi.identification, "QS-RE")) {
        sdi.sensorType = 127;
    }
    if (sdi.sensorType == 0) {
        SDILog(sdi, "SDIGetSensorType couldn't detirmine sensor type");
        return kSDIUndetermined;
    }
    SDILog(sdi, "SDIGetSensorType found sensor type as \"%u\"",
           static_cast<unsigned>(sdi.sensorType));
    return kSDIOk;
}

int SDIReformatCalibration(TarsaSDI12& sdi) {
    if (sdi.firmwareVersion >= kReformatBelowVersion) return kSDINothingToDo;
    float a[9] = {};
    const int count = sscanf(sdi.calibration1, "%f %f %f %f %f %f %f %f %f", &a[0], &a[1], &a[2],
                             &a[3], &a[4], &a[5], &a[6], &a[7], &a[8]);
    const int readCount = count < 0 ? 0 : count;
    bool finite = true;
    for (int i = 0; i < readCount; ++i) finite = finite && std::isfinite(a[i]);

    double x = 0, y = 0, z = 0, w = 0;
    // Two equal coefficients would divide by zero: treated as unreadable.
    if (readCount == 9 && finite && a[2] != a[1]) {
        x = -1000.0 * a[1] / (a[2] - a[1]);
        y = 1000.0 / (a[2] - a[1]);
        w = (a[4] + a[5]) * 0.5;
    }
    const double first = readCount >= 1 && std::isfinite(a[0]) ? a[0] : 0.0;
    const double last = readCount == 9 && std::isfinite(a[8]) ? a[8] : 0.0;
    snprintf(sdi.calibration1, sizeof sdi.calibration1, "%0.3f %0.6e %0.6e %0.6e %0.1f %0.1f",
             first, x, y, z, w, last);
    return kSDIOk;
}

int SDIGetSensorSettings(TarsaSDI12& sdi) {
    sdi.identification[0] = '\0';
    sdi.calibration1[0] = '\0';
    sdi.calibration2[0] = '\0';
    sdi.calibration3[0] = '\0';
    sdi.hasCalibration3 = 0;
    sdi.serialNumber[0] = '\0';
    sdi.firmwareVersion = 0;
    sdi.address = '0';
    sdi.sensorType = 0;

    int rc = SDIGetSensorVersion(sdi);
    if (rc < 0) return rc;
    SDIGetSensorType(sdi);
    SDIGetSensorSN(sdi);
    rc = SDIGetSensorCalibration(sdi);
    if (rc < 0) return rc;
    if (IsOneOf(sdi.sensorType, kReformatGroup) && sdi.firmwareVersion < kReformatBelowVersion) {
        SDIReformatCalibration(sdi);
    }
    return kSDIOk;
}

int SDISetSensorSettings(TarsaSDI12& sdi) {
    SDISetSensorSN(sdi);
    const int addressResult = SDISetSensorAddress(sdi, sdi.address);
    const int calibrationResult = SDISetSensorCalibration(sdi, nullptr);
    if (calibrationResult < 0) return calibrationResult;
    if (addressResult < 0) return addressResult;
    return kSDIOk;
}

}  // namespace tarsa
