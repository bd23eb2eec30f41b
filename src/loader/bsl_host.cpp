#include "loader/bsl_host.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "loader/ti_txt.h"
#include "log/tarsa_log.h"
#include "serial/timing.h"

namespace tarsa {
namespace {

constexpr const char* kTag = "TarsaBSL";
constexpr uint32_t kReplyWaitMs = 1000;
constexpr uint32_t kConnectSettleMs = 1000;
constexpr uint32_t kBootAnswerMs = 750;
constexpr uint32_t kGreetingMs = 100;
constexpr uint32_t kAttachAnswerMs = 200;
constexpr uint32_t kAttachGreetingMs = 175;
constexpr uint32_t kCheckSettleMs = 1000;
constexpr uint32_t kCheckAnswerMs = 200;
constexpr uint32_t kVectorPauseMs = 50;
constexpr uint32_t kDisconnectPauseMs = 100;
constexpr uint32_t kEraseProgressEvery = 10;

void Log(const TarsaBSLHost& host, uint32_t level, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

void Log(const TarsaBSLHost& host, uint32_t level, const char* format, ...) {
    if (!host.log) return;
    va_list args;
    va_start(args, format);
    host.log->WriteV(level, kTag, format, args);
    va_end(args);
}

bool InLoaderFlash(uint32_t address) {
    return address >= kBSLLoaderFlashStart && address <= kBSLLoaderFlashEnd;
}

bool Progress(TarsaBSLHost& host, uint32_t total, uint32_t done, int phase, char operation) {
    return host.progressHook ? host.progressHook(total, done, phase, operation) : true;
}

// Runs `send` up to host.tries times until it returns a positive result,
// pausing after every failed attempt and then calling `afterPause` (which may
// end the loop with its own negative result). Returns the last result.
template <typename Send, typename AfterPause>
int Attempt(TarsaBSLHost& host, Send send, AfterPause afterPause) {
    int result = kBSLNoAttempt;
    for (uint32_t attempt = 0; attempt < host.tries; ++attempt) {
        result = send();
        if (result > 0) break;
        DelayMs(kBSLRetryPauseMs);
        int rc = afterPause();
        if (rc < 0) return rc;
    }
    return result;
}

template <typename Send>
int Attempt(TarsaBSLHost& host, Send send) {
    return Attempt(host, send, [] { return 0; });
}

// Sends the frame built in host.commandBuffer (`used` characters so far) and
// reads the reply.
int Exchange(TarsaBSLHost& host, size_t used, uint16_t checksum, char terminator, char* reply,
             uint32_t* elapsedMs) {
    char* frame = host.commandBuffer.data();
    snprintf(frame + used, host.commandBuffer.size() - used, ".%04X\r", checksum);
    size_t frameLength = used + 6;

    const uint32_t start = TickMs();
    TSFlush(host.port, 1);
    reply[0] = '\0';
    size_t written = 0;
    size_t count = 0;
    int kept = TSWrite(host.port, frame, frameLength, written);
    if (kept < 0) {
        if (elapsedMs) *elapsedMs = 0;
        Log(host, kLogOutcome, "BSLCommand got unexpected response (%d) from TCommWrite", kept);
    } else {
        kept = TSWait(host.port, kReplyWaitMs, terminator);
        if (kept < 0) {
            Log(host, kLogOutcome, "BSLCommand got unexpected response (%d) from TCommWait", kept);
        } else {
            kept = TSRead(host.port, reply, kBSLReplyChars, count);
            if (kept < 0) {
                Log(host, kLogOutcome, "BSLCommand got unexpected response (%d) from TCommRead",
                    kept);
                count = 0;
            }
        }
    }
    reply[count] = '\0';
    if (count == 0 && kept >= 0) kept = kBSLNoReply;
    if (elapsedMs && written > 0) *elapsedMs = TickMs() - start;

    if ((count >= 1 && reply[0] == '+') || (count >= 2 && reply[1] == '+')) {
        return static_cast<int>(count);
    }
    if (reply[0] == '?' || reply[0] == '-') return kBSLRejected;
    return kept < 0 ? kept : kBSLRejected;
}

// Reads up to 31 characters of a bare greeting into `reply` (32 bytes).
int ReadGreeting(TarsaBSLHost& host, char* reply) {
    memset(reply, 0, kBSLGreetingChars + 1);
    size_t count = 0;
    int rc = TSRead(host.port, reply, kBSLGreetingChars, count);
    if (rc < 0) return rc;
    reply[count] = '\0';
    return static_cast<int>(count);
}

int SendBytes(TarsaBSLHost& host, const char* bytes, size_t length) {
    size_t written = 0;
    return TSWrite(host.port, bytes, length, written);
}

// One bare exchange with the device: sends `bytes`, waits `pauseMs`, reads
// up to 31 characters of answer into `reply`. Returns the characters read or
// the port's failure code.
int BareExchange(TarsaBSLHost& host, const char* bytes, size_t length, uint32_t pauseMs,
                 char* reply) {
    int rc = SendBytes(host, bytes, length);
    if (rc < 0) return rc;
    DelayMs(pauseMs);
    return ReadGreeting(host, reply);
}

// Sends one block of image text held in host.blockBuffer; after a refusal the
// loader is given the block's address again so the retry lands in place.
int SendBlock(TarsaBSLHost& host, size_t used, uint32_t address, bool extended) {
    char reply[kBSLReplyChars + 1];
    return Attempt(
        host,
        [&] { return BSLCommand(host, 'W', host.blockBuffer.data(), used, '\r', reply, nullptr); },
        [&] { return BSLSendAddress(host, address, extended); });
}

bool ParseHex(std::string_view digits, uint32_t& value) {
    value = 0;
    for (char c : digits) {
        if (!isxdigit(static_cast<unsigned char>(c))) return false;
        value = value * 16 +
                static_cast<uint32_t>(isdigit(static_cast<unsigned char>(c))
                                          ? c - '0'
                                          : toupper(static_cast<unsigned char>(c)) - 'A' + 10);
    }
    return true;
}

}  // namespace

TarsaBSLHost::TarsaBSLHost(TarsaLog* logPtr) : log(logPtr) {
    port.log = logPtr;
    if (LoadCompiledInImage(image) != kImageOk) constructorError = kBSLImageDamaged;
}

TarsaBSLHost::~TarsaBSLHost() {
    BSLDisconnect(*this);
}

uint16_t BSLChecksum(char command, const char* payload, size_t length) {
    int64_t sum = 46 + static_cast<signed char>(command);
    for (size_t i = 0; i < length; ++i) sum += static_cast<signed char>(payload[i]);
    sum %= 65535;
    if (sum < 0) sum += 65535;
    return static_cast<uint16_t>(sum);
}

int BSLCommand(TarsaBSLHost& host, char command, const char* payload, size_t payloadLength,
               char terminator, char* reply, uint32_t* elapsedMs) {
    if (!host.connected) return kBSLNoReply;
    if (payloadLength > kBSLMaxPayload) return kBSLOutOfRange;
    if (!reply) return kBSLMissingArgument;
    if (!payload && command != 'g') return kBSLMissingArgument;
    if (!payload) payloadLength = 0;

    char* frame = host.commandBuffer.data();
    frame[0] = command;
    if (payloadLength) memcpy(frame + 1, payload, payloadLength);
    return Exchange(host, 1 + payloadLength, BSLChecksum(command, payload, payloadLength),
                    terminator, reply, elapsedMs);
}

int BSLCommand(TarsaBSLHost& host, char command, const uint32_t* values, size_t count,
               char terminator, char* reply, uint32_t* elapsedMs, bool extended) {
    if (!host.connected) return kBSLNoReply;
    const size_t width = extended ? 5 : 4;
    // The values must fit the payload limit of a frame: 128 four-digit
    // values do, 128 five-digit ones (640 characters) would not.
    if (count > kBSLMaxValues || count * width > kBSLMaxPayload) return kBSLOutOfRange;
    if (!reply || (count > 0 && !values)) return kBSLMissingArgument;

    char* frame = host.commandBuffer.data();
    frame[0] = command;
    size_t used = 1;
    for (size_t i = 0; i < count; ++i) {
        // Values wider than the field are cut to it, so a frame never outgrows its buffer.
        uint32_t value = values[i] & (extended ? 0xFFFFFu : 0xFFFFu);
        if (extended) {
            snprintf(frame + used, host.commandBuffer.size() - used, "%05X", value);
        } else {
            snprintf(frame + used, host.commandBuffer.size() - used, "%04X", value);
        }
        used += width;
    }
    return Exchange(host, used, BSLChecksum(command, frame + 1, used - 1), terminator, reply,
                    elapsedMs);
}

int BSLHandOff(TarsaBSLHost& host, int handle, char* readBuffer, const char* portName,
               bool progress, uint32_t tries) {
    if (!readBuffer || !portName) {
        Log(host, kLogOutcome, "BSLHandOff called with some NULL parameters");
        return kBSLOutOfRange;
    }
    // A port the host opened itself is closed first: taking the borrowed
    // handle over it would leak it and keep the device locked.
    if (host.connected && !host.handedOver) BSLDisconnect(host);
    host.port.handle = handle;
    host.port.gReadBuffer = readBuffer;
    host.port.bufferOwned = false;
    host.port.dataPending = false;
    host.port.baud = kBSLAppBaud;
    host.progress = progress;
    host.tries = tries == 0 ? 3 : tries;
    snprintf(host.port.name, sizeof host.port.name, "%s", portName);
    host.connected = true;
    host.handedOver = true;
    return 1;
}

int BSLRelease(TarsaBSLHost& host) {
    host.port.handle = -1;
    host.port.gReadBuffer = nullptr;
    host.port.dataPending = false;
    host.connected = false;
    host.handedOver = false;
    return 1;
}

int BSLDisconnect(TarsaBSLHost& host) {
    if (!host.connected) return 0;
    if (host.handedOver) return BSLRelease(host);
    int rc = TSClose(host.port);
    host.connected = false;
    DelayMs(kDisconnectPauseMs);
    return rc;
}

int BSLEraseINFO(TarsaBSLHost& host, uint32_t first, uint32_t count, uint32_t size, bool extended) {
    const uint32_t start = TickMs();
    int result = kBSLNoAttempt;
    uint32_t address = first;
    char reply[kBSLReplyChars + 1];
    for (uint32_t segment = 0; segment < count; ++segment) {
        result = Attempt(host, [&] {
            return BSLCommand(host, 'X', &address, 1, '\r', reply, nullptr, extended);
        });
        if (result < 0) break;
        address += size;
    }
    long ms = static_cast<long>(TickMs() - start);
    if (result < 0) {
        Log(host, kLogOutcome, "BSLEraseINFO failed with error %d (%ld ms)", result, ms);
    } else {
        Log(host, kLogProgress, "BSLEraseINFO successful: %d segments @ %X (%ld ms)",
            static_cast<int>(count), first, ms);
    }
    return result;
}

int BSLEraseFlash(TarsaBSLHost& host, uint32_t first, uint32_t end, bool extended) {
    if (InLoaderFlash(first)) return kBSLOutOfRange;
    const uint32_t start = TickMs();
    const uint32_t total = end > first ? (end - first) / kBSLSegmentSize : 0;
    int result = kBSLNoAttempt;
    char reply[kBSLReplyChars + 1];
    uint32_t segment = 0;
    for (uint32_t address = first; address < end; ++segment) {
        if (host.progress && segment % kEraseProgressEvery == 0 &&
            !Progress(host, total, (address - first) / kBSLSegmentSize, kPhaseWorking, 'X')) {
            result = kBSLStopped;
            break;
        }
        result = Attempt(host, [&] {
            return BSLCommand(host, 'X', &address, 1, '\r', reply, nullptr, extended);
        });
        if (result < 0) break;
        address += kBSLSegmentSize;
        if (InLoaderFlash(address)) address = 0x10000;
    }
    if (host.progress) Progress(host, total, total, kPhaseDone, 'X');
    long seconds = static_cast<long>((TickMs() - start) / 1000);
    if (result < 0) {
        Log(host, kLogOutcome, "BSLEraseFlash failed with error %d (%ld s)", result, seconds);
    } else {
        Log(host, kLogProgress, "BSLEraseFlash successful: segment %X to %X (%ld s)", first, end,
            seconds);
    }
    return result;
}

int BSLSendAddress(TarsaBSLHost& host, uint32_t address, bool extended) {
    char digits[16];
    if (extended) {
        snprintf(digits, sizeof digits, "%05X", address & 0xFFFFFu);
    } else {
        snprintf(digits, sizeof digits, "%04X", address & 0xFFFFu);
    }
    char reply[kBSLReplyChars + 1];
    int result = Attempt(
        host, [&] { return BSLCommand(host, '@', digits, strlen(digits), '\r', reply, nullptr); });
    if (result < 0) {
        Log(host, kLogOutcome, "BSLSendAddress (%05X) failed with error %d", address, result);
    } else {
        Log(host, kLogProgress, "BSLSendAddress (%05X) successful", address);
    }
    return result;
}

int BSLSendFirmware(TarsaBSLHost& host, bool extended) {
    const uint32_t start = TickMs();
    const std::string& text = host.image.text;
    const uint32_t length = static_cast<uint32_t>(text.size());
    if (text.empty()) return kBSLMissingArgument;
    if (text[0] != '@') return kBSLOutOfRange;

    int result = 1;
    size_t used = 0;
    uint32_t address = 0;
    uint32_t p = 0;
    while (p < length && result >= 0) {
        if (host.progress && p % kBSLBlockChars == 0 &&
            !Progress(host, length, p, kPhaseWorking, 'W')) {
            result = kBSLStopped;
            break;
        }
        if (text[p] == '@') {
            if (used > 0) {
                result = SendBlock(host, used, address, extended);
                used = 0;
                if (result < 0) break;
            }
            // "@" and five address digits; without extended addressing the
            // loader takes the last four.
            if (p + 6 > length ||
                !ParseHex(std::string_view(text).substr(extended ? p + 1 : p + 2, extended ? 5 : 4),
                          address)) {
                result = kBSLOutOfRange;
                break;
            }
            result = BSLSendAddress(host, address, extended);
            if (result < 0) break;
            p += 6;
            continue;
        }
        host.blockBuffer[used++] = text[p++];
        if (used == kBSLBlockChars) {
            result = SendBlock(host, used, address, extended);
            used = 0;
            address += kBSLBlockChars / 2;
        }
    }
    if (used > 0 && result >= 0) result = SendBlock(host, used, address, extended);
    if (host.progress) Progress(host, length, length, kPhaseDone, 'W');
    int seconds = static_cast<int>((TickMs() - start) / 1000);
    if (result < 0) {
        Log(host, kLogOutcome, "BSLSendFirmware failed with error %d (%d s)", result, seconds);
    } else {
        Log(host, kLogProgress, "BSLSendFirmware successful (%d s)", seconds);
    }
    return result;
}

int BSLSendVectors(TarsaBSLHost& host) {
    DelayMs(kVectorPauseMs);
    char reply[kBSLReplyChars + 1];
    int result = Attempt(host, [&] {
        return BSLCommand(host, 'V', host.image.vectors.data(), host.image.vectors.size(), '+',
                          reply, nullptr, false);
    });
    if (result < 0) {
        Log(host, kLogOutcome, "BSLSendVectors failed with error %d", result);
    } else {
        Log(host, kLogProgress, "BSLSendVectors successful");
    }
    return result;
}

int BSLConnect(TarsaBSLHost& host, const char* portName, uint32_t loaderBaud, bool progress,
               uint32_t tries) {
    if (!portName || portName[0] == '\0') return kBSLMissingArgument;
    host.progress = progress;
    host.tries = tries;
    host.loaderVersion = 0;  // only a version read by this call counts
    int rc = TSOpen(host.port, portName, kBSLAppBaud);
    if (rc < 0) {
        Log(host, kLogOutcome, "BSLConnect received error while opening serial port (%d)", rc);
        return rc;
    }
    host.connected = true;
    host.handedOver = false;
    DelayMs(kConnectSettleMs);

    int result = kBSLNoAttempt;
    bool versionRead = false;
    char reply[kBSLReplyChars + 1];
    for (uint32_t repetition = 0; repetition < tries; ++repetition) {
        int r = BSLInvocation(host, loaderBaud);
        if (r < 0) {
            result = r;
            if (BSLCheck(host, portName, loaderBaud) != kBSLAlreadyActive) break;
            result = 1;
        } else {
            result = r;
        }
        rc = BSLCommand(host, 'g', nullptr, 0, '\r', reply, nullptr);
        if (rc < 0) {
            result = rc;
            DelayMs(kBSLRetryPauseMs);
            continue;
        }
        if (strstr(reply, "ERROR")) {
            result = kBSLBadAnswer;
            DelayMs(kBSLRetryPauseMs);
            continue;
        }
        int version = 0;
        if (sscanf(reply, "+%d+", &version) == 1) {
            host.loaderVersion = version;
            result = version;
            versionRead = true;
            break;
        }
    }
    // A loader that never told its version has not been reached as it must.
    if (!versionRead && result >= 0) result = kBSLBadAnswer;
    if (result < 0) {
        BSLDisconnect(host);
        Log(host, kLogOutcome, "BSLConnect failed to connect to device (error %d)", result);
    } else {
        Log(host, kLogProgress, "BSLConnect connected to device running TarsaBSL version %d",
            host.loaderVersion);
    }
    return result;
}

int BSLInvocation(TarsaBSLHost& host, uint32_t loaderBaud) {
    char reply[kBSLGreetingChars + 1] = {};
    char boot[16];
    snprintf(boot, sizeof boot, "boot %s\r", kBSLBootWord);

    // Phase 1: the application firmware, at its own line speed.
    int result = 1;
    uint32_t attempt = 0;
    for (; attempt < host.tries; ++attempt) {
        TSFlush(host.port, 1);
        memset(reply, 0, sizeof reply);
        if (loaderBaud != kBSLAppBaud) TSHostBaud(host.port, kBSLAppBaud);
        int rc = BareExchange(host, boot, strlen(boot), kBootAnswerMs, reply);
        if (rc < 0) {
            result = rc;
            break;
        }
        if (strstr(reply, "ERROR")) {
            result = kBSLBadAnswer;
            DelayMs(kBSLRetryPauseMs);
            continue;
        }
        if (strstr(reply, "TarsaBSL MISSING")) {
            result = kBSLNoLoader;
            break;
        }
        if (strchr(reply, '?')) {
            result = kBSLAlreadyActive;
            break;
        }
        if (reply[0] == '\0') {
            result = kBSLNoLoader;
            DelayMs(kBSLRetryPauseMs);
            continue;
        }
        if (strstr(reply, "OK") || strchr(reply, '$')) result = 1;
        break;
    }
    uint32_t attemptsUsed = attempt < host.tries ? attempt + 1 : attempt;

    if (attempt >= host.tries && result > 0) {
        result = kBSLNoAttempt;
    } else if (attempt < host.tries && result > 0) {
        // Phase 2: greet the loader at its own line speed.
        if (loaderBaud != kBSLAppBaud) TSHostBaud(host.port, loaderBaud);
        uint32_t greeting = 0;
        for (; greeting < host.tries; ++greeting) {
            int rc = BareExchange(host, "\r", 1, kGreetingMs, reply);
            if (rc < 0) {
                result = rc;
                break;
            }
            if (reply[0] != '$') {
                result = kBSLNoLoader;
                continue;
            }
            TSFlush(host.port, 1);
            rc = BareExchange(host, "P", 1, kGreetingMs, reply);
            if (rc < 0) {
                result = rc;
                break;
            }
            if (strchr(reply, '#')) {
                result = 1;
                break;
            }
            result = kBSLBadAnswer;
            DelayMs(kBSLRetryPauseMs);
        }
        attemptsUsed = greeting < host.tries ? greeting + 1 : greeting;
    }

    if (result > 0) {
        Log(host, kLogProgress, "BSLInvocation successful (%d tries)",
            static_cast<int>(attemptsUsed));
    } else if (result == kBSLAlreadyActive) {
        Log(host, kLogProgress, "BSLInvocation found the TarsaBSL already active");
        result = 1;
    } else {
        Log(host, kLogOutcome, "BSLInvocation failed with error %d", result);
    }
    return result;
}

int BSLAttach(TarsaBSLHost& host) {
    char reply[kBSLGreetingChars + 1] = {};
    int result = kBSLNoAttempt;
    uint32_t attempt = 0;
    for (; attempt < host.tries; ++attempt) {
        TSFlush(host.port, 1);
        memset(reply, 0, sizeof reply);
        int rc = BareExchange(host, "\r", 1, kAttachAnswerMs, reply);
        if (rc < 0) {
            result = rc;
            break;
        }
        if (strstr(reply, "?\r")) {
            result = kBSLAlreadyActive;
            break;
        }
        TSFlush(host.port, 1);
        memset(reply, 0, sizeof reply);
        rc = BareExchange(host, "P", 1, kAttachGreetingMs, reply);
        if (rc < 0) {
            result = rc;
            break;
        }
        if (reply[0] == '#') {
            result = 1;
            break;
        }
        result = kBSLBadAnswer;
        DelayMs(kBSLRetryPauseMs);
    }
    if (result > 0) {
        Log(host, kLogProgress, "BSLAttach successful (%d tries)", static_cast<int>(attempt + 1));
    } else if (result == kBSLAlreadyActive) {
        Log(host, kLogProgress, "BSLAttach found the TarsaBSL already active");
        result = 1;
    } else {
        Log(host, kLogOutcome, "BSLAttach failed with error %d", result);
    }
    return result;
}

int BSLCheck(TarsaBSLHost& host, const char* portName, uint32_t baud) {
    if (host.connected) {
        TSHostBaud(host.port, baud);
    } else {
        int rc = TSOpen(host.port, portName ? portName : "", baud);
        if (rc < 0) {
            Log(host, kLogOutcome, "BSLCheck received error while opening serial port (%d)", rc);
            return rc;
        }
        host.connected = true;
        host.handedOver = false;
    }
    DelayMs(kCheckSettleMs);
    TSFlush(host.port, 1);
    char reply[kBSLGreetingChars + 1] = {};
    int rc = BareExchange(host, "\r", 1, kCheckAnswerMs, reply);
    if (rc < 0) return rc;
    if (strchr(reply, '?')) {
        Log(host, kLogProgress, "BSLCheck found the TarsaBSL already active");
        return kBSLAlreadyActive;
    }
    if (strchr(reply, '$')) {
        Log(host, kLogProgress, "BSLCheck found the TarsaBSL waiting for a connection");
        return kBSLWaitingForHost;
    }
    Log(host, kLogDetail, "BSLCheck didn't get a response from the TarsaBSL");
    return kBSLNoReply;
}

int BSLLoadTIFile(TarsaBSLHost& host, const char* path) {
    return LoadTIFile(host.image, host.log, path);
}

int BSLWriteTIFile(TarsaBSLHost& host, const char* path) {
    return WriteTIFile(host.image, host.log, path);
}

}  // namespace tarsa
