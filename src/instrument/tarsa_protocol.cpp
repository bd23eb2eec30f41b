// Creating the instrument protocol object, connecting to an instrument,
// logging in and out, and the command primitives that the settings, record
// and maintenance operations are built on.
//
// The primitives retry a fixed number of times with no pause (TPCommand: one
// second) and read answers with bounds: a value is copied only up to its
// line end and the caller's capacity. Nothing here interprets a setting.
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "instrument/protocol_internal.h"
#include "link/logger_connection.h"
#include "link/logger_settings.h"
#include "log/tarsa_log.h"
#include "serial/timing.h"

namespace tarsa {

namespace tp_detail {

void Log(const Tarsa_protocol& tp, uint32_t level, const char* format, ...) {
    if (!tp.log) return;
    va_list args;
    va_start(args, format);
    tp.log->WriteV(level, kTPTag, format, args);
    va_end(args);
}

int ElapsedSince(uint32_t start) {
    return static_cast<int>(TickMs() - start);
}

int Exchange(Tarsa_protocol& tp, const std::string& line, uint32_t timeoutMs, size_t capacity,
             std::string& answer, uint32_t& elapsedMs) {
    answer.assign(capacity, '\0');
    int length = static_cast<int>(capacity);
    elapsedMs = 0;
    const int rc =
        DeviceCommand(tp.link, line.c_str(), '>', timeoutMs, answer.data(), &length, &elapsedMs);
    answer.resize(strnlen(answer.data(), capacity));
    return rc;
}

bool ReadLong(const char* text, int32_t& out) {
    while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
    const char* p = text;
    if (*p == '+' || *p == '-') ++p;
    if (*p < '0' || *p > '9') return false;
    errno = 0;
    long long value = strtoll(text, nullptr, 10);
    if (value > INT32_MAX) value = INT32_MAX;
    if (value < INT32_MIN) value = INT32_MIN;
    out = static_cast<int32_t>(value);
    return true;
}

}  // namespace tp_detail

using tp_detail::ElapsedSince;
using tp_detail::Exchange;
using tp_detail::Log;

namespace {

constexpr size_t kValueAnswerSize = 512;
constexpr size_t kMaxCommandLength = 511;
constexpr int kValueTries = 3;
constexpr uint32_t kLoginPauseMs = 1000;
constexpr uint32_t kLoginCharacterMs = 250;
constexpr uint32_t kLoginTimeoutMs = 6000;
constexpr size_t kLoginAnswerSize = 32;
constexpr int kLoginTries = 3;
constexpr uint32_t kLogoutTimeoutMs = 2000;
constexpr uint32_t kDisconnectPauseMs = 100;
constexpr uint32_t kTPCommandTimeoutMs = 9500;
constexpr size_t kTPCommandAnswerSize = 128;
constexpr uint32_t kTPCommandRetryMs = 1000;

// The command line of a value read: the command and a carriage return,
// the command cut so the whole line stays within 511 characters.
std::string ValueLine(const char* command) {
    std::string line(command, strnlen(command, kMaxCommandLength - 1));
    line += '\r';
    return line;
}

// Where the value starts: after one leading carriage return, then after one
// line feed.
const char* ValueStart(const char* answer) {
    if (*answer == '\r') ++answer;
    if (*answer == '\n') ++answer;
    return answer;
}

}  // namespace

Tarsa_protocol::Tarsa_protocol(TarsaLog* logPointer)
    : link(logPointer), sdi(logPointer, &link), log(logPointer) {}

int TPConnect(Tarsa_protocol& tp, const char* portName, int baudCode, uint32_t serialTries,
              InstrumentIdentity* identity) {
    if (!portName || portName[0] == '\0' || !identity) return kTPMissingArgument;
    ConnectionRequest request;
    // A name that does not fit the request would open another port.
    if (strlen(portName) >= sizeof request.portName) {
        Log(tp, kLogOutcome, "TPConnect can't use the port name \"%s\" (too long)", portName);
        return kTPMissingArgument;
    }

    LinkOptions options{};
    options.serialTries = serialTries;
    options.radioTries = 0;
    int rc = DeviceOptions(tp.link, options, 1);
    if (rc < 0) {
        Log(tp, kLogOutcome, "TPConnect received error %d trying to configure Terrel_Prototcol",
            rc);
        return rc;
    }

    memcpy(request.portName, portName, strlen(portName) + 1);
    request.linkKind = kLinkCable;
    request.baudCode = static_cast<int8_t>(baudCode);

    LoggerSettings record;
    rc = ConnectDevice(tp.link, &request);
    if (rc > 0) {
        uint32_t mask = 0;
        rc = DeviceSettings(tp.link, &record, &mask, 0);
    }
    if (rc > 0) rc = ParseVersionString(record.versionText, identity);

    if (rc > 0 && !identity->supported) {
        Log(tp, kLogOutcome, "TPConnect this firmware version is not supported");
        return kTPNotSupported;
    }
    if (rc == kDCNoListener) {
        Log(tp, kLogProgress, "TPConnect couldn't connect.");
        return rc;
    }
    if (rc == kDCLoaderAnswered || rc == kDCLoaderPrompt) {
        Log(tp, kLogProgress, "TPConnect found the TarsaBSL listening (%d)", rc);
        return rc;
    }
    if (rc == kDCBadAnswer || rc == kDCEcho) {
        Log(tp, kLogOutcome, "TPConnect this device must not be supported");
        return kTPNotSupported;
    }
    if (rc < 0) {
        Log(tp, kLogOutcome, "TPConnect received error %d trying to connect to device", rc);
        return rc;
    }
    tp.loggerSettings.newFirmware = 1;
    tp.loggerSettings.typeCode = record.typeCode;
    tp.loggerSettings.versionNumber = record.versionNumber;
    memcpy(tp.loggerSettings.versionText, record.versionText, sizeof record.versionText);
    tp.type = identity->type;
    tp.identity = *identity;
    Log(tp, kLogProgress, "TPConnect successfully connected to device");
    return kTPOk;
}

int TPLogin(Tarsa_protocol& tp) {
    const uint32_t start = TickMs();
    DelayMs(kLoginPauseMs);
    int result = kTPLoginFailed;
    std::string answer;
    for (int attempt = 0; attempt < kLoginTries; ++attempt) {
        TSFlush(tp.link.port, 1);
        char line[32];
        snprintf(line, sizeof line, "login *%s", kAccessCode);
        for (const char* c = line; *c; ++c) {
            size_t written = 0;
            TSWrite(tp.link.port, c, 1, written);
            DelayMs(kLoginCharacterMs);
        }
        DelayMs(kLoginCharacterMs);
        uint32_t ms = 0;
        const int rc = Exchange(tp, "\r\n\r", kLoginTimeoutMs, kLoginAnswerSize, answer, ms);
        if (rc > 0 && (answer.find("OK") != std::string::npos ||
                       answer.find(kAccessCode) != std::string::npos)) {
            result = kTPOk;
            break;
        }
    }
    // An answer that confirms nothing is no login, however many bytes it had.
    if (result != kTPOk) {
        Log(tp, kLogOutcome, "TPConnect couldn't log into the device (%d ms): heard \"%s\"",
            ElapsedSince(start), answer.c_str());
    } else {
        Log(tp, kLogOutcome, "TPConnect successfully logged into the device (%d ms)",
            ElapsedSince(start));
    }
    DelayMs(kLoginPauseMs);
    return result;
}

int TPDisconnect(Tarsa_protocol& tp, bool sendLogout) {
    if (tp.identity.needsLogin && sendLogout) {
        std::string answer;
        uint32_t ms = 0;
        Exchange(tp, "logout\r", kLogoutTimeoutMs, kLoginAnswerSize, answer, ms);
    }
    const int rc = DisconnectDevice(tp.link, 0);
    DelayMs(kDisconnectPauseMs);
    return rc;
}

int GetValueString(Tarsa_protocol& tp, const char* command, uint32_t timeoutMs, char* destination,
                   int capacity) {
    if (!command || !destination || capacity < 0) return kTPMissingArgument;
    const std::string line = ValueLine(command);
    int result = kDCNoAnswer;
    uint32_t ms = 0;
    std::string answer;
    destination[0] = '\0';
    for (int attempt = 0; attempt < kValueTries; ++attempt) {
        result = Exchange(tp, line, timeoutMs, kValueAnswerSize, answer, ms);
        if (result <= 0) continue;
        if (answer.find("Error") != std::string::npos) {
            result = kTPBadAnswer;
            continue;
        }
        const char* value = ValueStart(answer.c_str());
        int n = 0;
        while (n < capacity && value[n] != '\0' && value[n] != '\r') {
            destination[n] = value[n];
            ++n;
        }
        destination[n] = '\0';
        if (destination[0] == '>') {
            result = kTPBadAnswer;
            Log(tp, kLogProgress,
                "GetValueString found a leading prompt character executing command \"%s\" (%d ms)",
                command, static_cast<int>(ms));
            continue;
        }
        if (n == 0) {
            result = kTPBadAnswer;
            continue;
        }
        result = kTPOk;
        break;
    }
    if (result == kTPOk) {
        Log(tp, kLogProgress, "GetValueString found %s \"%s\" (%d ms)", command, destination,
            static_cast<int>(ms));
    } else {
        destination[0] = '\0';
        Log(tp, kLogProgress, "GetValueString received error %d executing command \"%s\" (%d ms)",
            result, command, static_cast<int>(ms));
    }
    return result;
}

int GetValueLong(Tarsa_protocol& tp, const char* command, uint32_t timeoutMs,
                 int32_t* destination) {
    if (!command || !destination) return kTPMissingArgument;
    const std::string line = ValueLine(command);
    int result = kDCNoAnswer;
    uint32_t ms = 0;
    std::string answer;
    int32_t value = 0;
    for (int attempt = 0; attempt < kValueTries; ++attempt) {
        result = Exchange(tp, line, timeoutMs, kValueAnswerSize, answer, ms);
        if (result <= 0) continue;
        const char* text = answer.c_str();
        const char* cr = strchr(text, '\r');
        if (cr) text = cr + 1;
        if (*text == '\n') ++text;
        if (tp_detail::ReadLong(text, value)) {
            *destination = value;
            result = kTPOk;
            break;
        }
        result = kTPBadAnswer;
    }
    if (result == kTPOk) {
        Log(tp, kLogProgress, "GetValueLong found %s \"%ld\" (%d ms)", command,
            static_cast<long>(value), static_cast<int>(ms));
    } else {
        Log(tp, kLogProgress, "GetValueLong received error %d executing command \"%s\" (%d ms)",
            result, command, static_cast<int>(ms));
    }
    return result;
}

int TPCommand(Tarsa_protocol& tp, const char* line) {
    if (!line) return kTPMissingArgument;
    int result = kDCNoAnswer;
    std::string answer;
    for (int attempt = 0; attempt < kValueTries; ++attempt) {
        uint32_t ms = 0;
        result = Exchange(tp, line, kTPCommandTimeoutMs, kTPCommandAnswerSize, answer, ms);
        if (strstr(line, "user")) {
            Log(tp, kLogOutcome, "\"%s\" returned %d (%d ms)", line, result, static_cast<int>(ms));
            return result;
        }
        if (result > 0 && answer.find("OK") != std::string::npos) return kTPOk;
        Log(tp, kLogOutcome, "\"%s\" failed with error %d (%d ms)", line, result,
            static_cast<int>(ms));
        if (attempt + 1 < kValueTries) DelayMs(kTPCommandRetryMs);
    }
    return result;
}

}  // namespace tarsa
