// The SDI-12 exchange: break, command, answer, and the "?!" probe between
// silent tries. Parsing of answers belongs to sensor_operations.cpp.
#include "sdi12/tarsa_sdi12.h"

#include <cstdarg>
#include <cstring>

#include "link/terrel_protocol.h"
#include "log/tarsa_log.h"
#include "sdi12/sdi12_log.h"
#include "serial/serial_port.h"
#include "serial/timing.h"

namespace tarsa {
namespace {

constexpr int kProbeBreaks = 3;

// Writes all of `bytes`; a port without a link counts as a closed port.
int WriteBytes(TarsaSDI12& sdi, const char* bytes, size_t count) {
    if (!sdi.link) return kTSErrClosed;
    size_t written = 0;
    int rc = TSWrite(sdi.link->port, bytes, count, written);
    if (rc < 0) return rc;
    return written == count ? kSDIOk : kTSErrClosed;
}

// Waits for a carriage return and reads what arrived into the reply. Returns
// the byte count or a serial code; `failedStep` names the failed call.
int ReceiveReply(TarsaSDI12& sdi, uint32_t timeoutMs, const char** failedStep) {
    TarsaSerial& port = sdi.link->port;
    int rc = TSWait(port, timeoutMs, '\r');
    if (rc < 0) {
        *failedStep = "TCommWait";
        return rc;
    }
    size_t received = 0;
    // One byte is kept for the terminator.
    rc = TSRead(port, sdi.reply, kSDIReplySize - 1, received);
    if (rc < 0) {
        *failedStep = "TCommRead";
        return rc;
    }
    sdi.reply[received] = '\0';
    return static_cast<int>(received);
}

// Three breaks 30 ms apart, then "?!". Returns the bytes heard or a serial code.
int ProbeBus(TarsaSDI12& sdi, const char** failedStep) {
    for (int i = 0; i < kProbeBreaks; ++i) {
        int rc = WriteBytes(sdi, &kSDIBreak, 1);
        if (rc < 0) {
            *failedStep = "TCommWrite";
            return rc;
        }
        DelayMs(kSDIProbeBreakPauseMs);
    }
    TSFlush(sdi.link->port, 1);
    sdi.reply[0] = '\0';
    int rc = WriteBytes(sdi, "?!", 2);
    if (rc < 0) {
        *failedStep = "TCommWrite";
        return rc;
    }
    return ReceiveReply(sdi, kSDIProbeTimeoutMs, failedStep);
}

}  // namespace

void SDILog(const TarsaSDI12& sdi, const char* format, ...) {
    if (!sdi.log) return;
    va_list args;
    va_start(args, format);
    sdi.log->WriteV(kLogDetail, kSDITag, format, args);
    va_end(args);
}

TarsaSDI12::TarsaSDI12(TarsaLog* logPtr, Terrel_Protocol* linkPtr) : log(logPtr), link(linkPtr) {}

TarsaSDI12::~TarsaSDI12() {
    log = nullptr;
    link = nullptr;
}

int SDIWriteCharacter(TarsaSDI12& sdi, char character) {
    return WriteBytes(sdi, &character, 1);
}

int SDISendCommand(TarsaSDI12& sdi, const char* command, char* answer, int* length,
                   uint32_t* elapsedMs) {
    const uint32_t start = TickMs();
    const uint32_t tries = sdi.tries > 0 ? sdi.tries : 1;
    int result = kSDIOk;
    int received = 0;
    bool sendBreak = true;
    sdi.reply[0] = '\0';

    if (!sdi.link || !command) {
        result = kTSErrClosed;
        SDILog(sdi, "SDISendCommand got unexpected response (%d) from TCommWrite", result);
    }
    for (uint32_t attempt = 0; sdi.link && command && attempt < tries; ++attempt) {
        if (sendBreak) {
            int rc = WriteBytes(sdi, &kSDIBreak, 1);
            if (rc < 0) {
                SDILog(sdi, "SDISendCommand got unexpected response (%d) from TCommWrite", rc);
                result = rc;
                break;
            }
            DelayMs(kSDIBreakPauseMs);
            TSFlush(sdi.link->port, 1);
            sdi.reply[0] = '\0';
        }
        int rc = WriteBytes(sdi, command, strlen(command));
        if (rc < 0) {
            SDILog(sdi, "SDISendCommand got unexpected response (%d) from TCommWrite", rc);
            result = rc;
            break;
        }
        SDILog(sdi, "SDISendCommand sent \"%s\"", command);

        const char* failedStep = "";
        rc = ReceiveReply(sdi, sdi.timeoutMs, &failedStep);
        if (rc < 0) {
            SDILog(sdi, "SDISendCommand got unexpected response (%d) from %s", rc, failedStep);
            result = rc;
            break;
        }
        if (rc > 0) {
            received = rc;
            SDILog(sdi, "SDISendCommand received \"%s\"", sdi.reply);
            result = kSDIOk;
            break;
        }

        if (attempt == 1) result = kSDIProbeOnly;
        rc = ProbeBus(sdi, &failedStep);
        if (rc < 0) {
            SDILog(sdi, "SDISendCommand got unexpected response (%d) from %s", rc, failedStep);
            result = rc;
            break;
        }
        if (rc == 0) {
            result = kSDINoAnswer;
            break;
        }
        // The probe's answer is not the command's.
        sdi.reply[0] = '\0';
        sendBreak = !sendBreak;
    }

    if (elapsedMs) *elapsedMs = TickMs() - start;
    if (result < 0) {
        if (answer) answer[0] = '\0';
        if (length) *length = 0;
        return result;
    }
    if (!answer || !length || *length <= 0) return received;

    const size_t cap = static_cast<size_t>(*length) - 1;
    strncpy(answer, sdi.reply, cap);
    answer[cap] = '\0';
    const size_t copied = strlen(answer);
    *length = static_cast<int>(copied);
    if (copied < static_cast<size_t>(received)) {
        SDILog(sdi, "DeviceCommand got %d more bytes than expected (%s)",
               static_cast<int>(static_cast<size_t>(received) - copied), command);
    }
    return received;
}

}  // namespace tarsa
