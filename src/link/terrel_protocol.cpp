#include "link/terrel_protocol.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "link/logger_connection.h"
#include "log/tarsa_log.h"
#include "serial/timing.h"

namespace tarsa {
namespace {

constexpr uint32_t kMaxTries = 12;
constexpr uint32_t kMaxExtraWaitMs = 30000;
constexpr uint32_t kEmptyTryPauseMs = 50;
constexpr uint32_t kQueryTimeoutMs = 3000;
constexpr uint32_t kQuerySettleMs = 2500;
constexpr uint32_t kLoginTimeoutMs = 1500;
constexpr size_t kQueryAnswerSize = 180;
constexpr uint32_t kWakeHookEvery = 18;

void Log(const Terrel_Protocol& link, uint32_t level, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

void Log(const Terrel_Protocol& link, uint32_t level, const char* format, ...) {
    if (!link.log) return;
    va_list args;
    va_start(args, format);
    link.log->WriteV(level, link.port.name, format, args);
    va_end(args);
}

bool IsRejection(const char* reply) {
    return strstr(reply, "ERROR") || strchr(reply, '?') || strstr(reply, "Unsupported");
}

void Trace(const Terrel_Protocol& link, const char* text) {
    if (link.traceSink) link.traceSink(text);
}

bool Progress(const Terrel_Protocol& link, uint32_t total, uint32_t done, int stage) {
    return link.progressHook ? link.progressHook(total, done, stage) : true;
}

}  // namespace

Terrel_Protocol::Terrel_Protocol(TarsaLog* logPtr) : log(logPtr) {
    port.log = logPtr;
    reply = std::make_unique<char[]>(kReplyBufferSize);
    receiveBuffer = std::make_unique<char[]>(kReadBufferSize);
    port.gReadBuffer = receiveBuffer.get();
    port.bufferOwned = false;
}

Terrel_Protocol::~Terrel_Protocol() {
    if (connection.linkKind != kLinkNone) {
        options.keepPortOpen = 0;
        DisconnectDevice(*this, 0);
    }
    TSClose(port);
}

int DeviceOptions(Terrel_Protocol& link, LinkOptions& options, int set) {
    if (set == 0) {
        options = link.options;
        return kDCOk;
    }
    if (options.serialTries > kMaxTries || options.radioTries > kMaxTries || options.trace < 0 ||
        options.trace > 3 || options.extraWaitMs > kMaxExtraWaitMs) {
        return kDCOutOfRange;
    }
    if (options.serialTries == 0) options.serialTries = 3;
    if (options.radioTries == 0) options.radioTries = 5;
    link.options = options;
    link.tries = link.connection.linkKind == kLinkRadio ? options.radioTries : options.serialTries;
    return kDCOk;
}

int DeviceCommand(Terrel_Protocol& link, const char* command, char prompt, uint32_t timeoutMs,
                  char* answer, int* length, uint32_t* elapsedMs) {
    const uint32_t start = TickMs();
    char* reply = link.reply.get();
    const size_t commandLength = strlen(command);
    const bool traceSent = link.options.trace == 2 || link.options.trace == 3;
    const bool traceReceived = link.options.trace == 1 || link.options.trace == 3;
    int result = kDCNoAnswer;
    uint32_t emptyTries = 0;
    size_t received = 0;

    for (uint32_t attempt = 0; attempt < link.tries; ++attempt) {
        TSFlush(link.port, 1);
        reply[0] = '\0';

        size_t written = 0;
        int rc = TSWrite(link.port, command, commandLength, written);
        if (traceSent) Trace(link, command);
        if (rc < 0) {
            Log(link, kLogDetail, "DeviceCommand got unexpected response (%d) from TCommWrite", rc);
            result = rc;
            break;
        }
        rc = TSWait(link.port, timeoutMs + link.options.extraWaitMs, prompt);
        if (rc < 0) {
            Log(link, kLogDetail, "DeviceCommand got unexpected response (%d) from TCommWait", rc);
            result = rc;
            break;
        }
        rc = TSRead(link.port, reply, kReadBufferSize, received);
        if (rc < 0) {
            Log(link, kLogDetail, "DeviceCommand got unexpected response (%d) from TCommRead", rc);
            result = rc;
            break;
        }
        if (received == 0) {
            ++emptyTries;
            DelayMs(kEmptyTryPauseMs);
            result = kDCLastTrySilent;
            continue;
        }
        reply[received] = '\0';
        if (traceReceived) Trace(link, reply);
        if (commandLength > 0 && strstr(reply, command)) {
            Log(link, kLogOutcome,
                "DeviceCommand is hearing echoed commands -- device is broken? Relay active?");
            result = kDCEcho;
            break;
        }
        if (IsRejection(reply)) {
            result = kDCRejected;
            continue;
        }
        result = kDCOk;
        break;
    }

    if (elapsedMs) *elapsedMs = TickMs() - start;
    if (emptyTries == link.tries) result = kDCNoAnswer;
    if (result < 0) {
        if (answer) answer[0] = '\0';
        if (length) *length = 0;
        return result;
    }
    if (answer && length && *length > 0) {
        size_t cap = static_cast<size_t>(*length) - 1;
        strncpy(answer, reply, cap);
        answer[cap] = '\0';
        size_t copied = strlen(answer);
        *length = static_cast<int>(copied);
        if (copied < received) {
            Log(link, kLogDetail, "DeviceCommand got %d more bytes than expected (%s)",
                static_cast<int>(received - copied), command);
        }
    }
    if (strncmp(reply, "\r\r>", 3) == 0) {
        Log(link, kLogDetail, "DeviceCommand: device returned empty answer");
        return kDCEmptyAnswer;
    }
    return static_cast<int>(received);
}

int CheckDeviceName(const char* name) {
    static const char* const kReserved[] = {
        "ERROR", "Unsupported", "volt",   "show", "yes",  "hertz", "time", "dump", "erase",
        "login", "logout",      "query",  "help", "temp", "scan",  "term", "ping", "post",
        "get",   "set",         "teltst", "ack",  "nack", "OK",    "boot"};
    if (!name || name[0] == '\0') return kDCNameEmpty;
    if (strlen(name) > kDeviceNameMax) return kDCNameTooLong;
    for (const char* word : kReserved) {
        if (strcmp(name, word) == 0) return kDCNameReserved;
    }
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p; ++p) {
        if (*p <= 32 || *p == 127 || *p == 255) return kDCNameBadChar;
        if (strchr("?\\\"/<>*|:;,", *p)) return kDCNameBadSymbol;
        if (*p > 127) return kDCNameNonAscii;
    }
    return kDCOk;
}

int QueryCommand(Terrel_Protocol& link, char* buffer, int mode) {
    if (mode <= 0 || !buffer) return kDCMissingArgument;
    const uint32_t start = TickMs();
    const uint32_t savedTries = link.tries;
    link.tries = 1;
    int result = kDCNoAnswer;
    for (uint32_t attempt = 0; attempt < savedTries; ++attempt) {
        if (link.options.progress && !Progress(link, savedTries, attempt + 1, kStageQueryTry)) {
            result = kDCCancelled;
            break;
        }
        if (mode == 1) {
            char heard[kQueryAnswerSize];
            int len = static_cast<int>(sizeof heard);
            result = DeviceCommand(link, "\rquery\r", '\r', kQueryTimeoutMs, heard, &len, nullptr);
            if (result > 0) {
                size_t n = 0;
                while (n < kDeviceNameMax && heard[n] != '\0' && heard[n] != '\r') ++n;
                memcpy(buffer, heard, n);
                buffer[n] = '\0';
                if (CheckDeviceName(buffer) == kDCOk) break;
            } else if (result == kDCEcho) {
                break;
            }
        } else {
            int len = mode;
            result = DeviceCommand(link, "\rquery\r", '>', kQueryTimeoutMs, buffer, &len, nullptr);
            if (result > 0 || result == kDCEcho) break;
        }
    }
    link.tries = savedTries;
    const int elapsed = static_cast<int>(TickMs() - start);

    if (result > 0) {
        Log(link, kLogDetail, "QueryCommand heard from: %s (%d ms)", buffer, elapsed);
        DelayMs(kQuerySettleMs);
        return kDCOk;
    }
    switch (result) {
        case kDCCancelled:
            Log(link, kLogDetail, "QueryCommand canceled by user");
            return kDCCancelled;
        case kDCEcho:
            Log(link, kLogOutcome,
                "QueryCommand is hearing \"query\" -- a relay must be active (%d ms)", elapsed);
            return kDCRelayActive;
        case kDCNoAnswer:
            Log(link, kLogDetail, "QueryCommand didn't get any answers after %d tries (%d ms)",
                static_cast<int>(savedTries), elapsed);
            return kDCLastTrySilent;
        default:
            Log(link, kLogOutcome, "QueryCommand failed with error %d (%d ms)", result, elapsed);
            return result;
    }
}

int LoginCommand(Terrel_Protocol& link, const char* deviceName) {
    if (deviceName && strlen(deviceName) > kDeviceNameMax) {
        Log(link, kLogOutcome, "LoginCommand: Device name %s is wrong length (%d characters)",
            deviceName, static_cast<int>(strlen(deviceName)));
        return kDCNameTooLong;
    }
    char command[32];
    if (deviceName && deviceName[0] != '\0') {
        snprintf(command, sizeof command, "login %s\r", deviceName);
    } else {
        snprintf(command, sizeof command, "login\r");
    }
    char answer[10];
    int len = static_cast<int>(sizeof answer);
    int rc = DeviceCommand(link, command, '>', kLoginTimeoutMs, answer, &len, nullptr);
    if (rc > 0) return strchr(answer, '>') ? kDCOk : kDCBadAnswer;
    if (rc == kDCEmptyAnswer) return kDCOk;
    return rc;
}

int SendWake(Terrel_Protocol& link) {
    const bool traceSent = link.options.trace == 2 || link.options.trace == 3;
    if (traceSent) Trace(link, "\r<Sending Query Mode wake sequence...>\r");
    bool slow = false;
    for (uint32_t packet = 0; packet < kWakePackets; ++packet) {
        uint32_t tick = TickMs();
        if (link.options.progress && !slow && packet % kWakeHookEvery == 0 &&
            !Progress(link, kWakePackets, packet, kStageRunning)) {
            Log(link, kLogDetail, "SendWake canceled by user after sending %d of %d packets",
                static_cast<int>(packet), static_cast<int>(kWakePackets));
            return kDCCancelled;
        }
        size_t written = 0;
        const int rc = TSWrite(link.port, "\r", 1, written);
        if (rc < 0 || written != 1) {
            // A port that vanished (or stopped taking bytes) will not take the
            // rest: end now instead of after 909 failed writes.
            const int code = rc < 0 ? rc : kTSErrClosed;
            Log(link, kLogOutcome, "SendWake stopped after %d of %d packets (error %d)",
                static_cast<int>(packet), static_cast<int>(kWakePackets), code);
            return code;
        }
        uint32_t pause = kWakeIntervalMs;
        if (link.options.progress && !slow) {
            uint32_t spent = TickMs() - tick;
            if (spent >= kWakeIntervalMs) {
                pause = 0;
                slow = true;
            } else {
                pause = kWakeIntervalMs - spent;
            }
        }
        DelayMs(pause);
    }
    if (slow) Log(link, kLogDetail, "SendWake executing too slow to send status (PIG status)!");
    Log(link, kLogDetail, "SendWake sent %d packets", static_cast<int>(kWakePackets));
    if (link.options.progress) Progress(link, kWakePackets, kWakePackets, kStageFinished);
    return kDCOk;
}

}  // namespace tarsa
