#include "link/logger_connection.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "link/link_internal.h"
#include "log/tarsa_log.h"
#include "serial/timing.h"

namespace tarsa {

using link_detail::Log;

namespace {

constexpr uint32_t kBaudTable[] = {0, 1200, 9600, 19200, 38400, 57600, 115200, 230400, 460800};

constexpr DeviceTypeEntry kDeviceTypes[] = {
    {0, nullptr, "Unknown"},       {1, nullptr, "Unknown Logger"},
    {2, "TALO", "Talo"},           {3, "TALOX", "Talox"},
    {4, "BR", "Brisen"},           {5, "LM", "Lumet"},
    {6, "TALOB", "Talob"},         {7, nullptr, "Generic"},
    {8, "TCD", "Terrel Comm Dev"}, {9, "TERREL_CAL", "Terrel Calibrator"},
    {10, "HD", "Handra"},          {11, "KEL7", "kel7"},
    {12, "OXB", "Oxbel"},
};

constexpr size_t kIdentityAnswerSize = 32;
constexpr size_t kShowAnswerSize = 180;
constexpr uint32_t kShowTimeoutMs = 1500;
constexpr uint32_t kVerWaitCableMs = 400;
constexpr uint32_t kVerWaitRadioMs = 800;
constexpr uint32_t kVerRetryPauseMs = 400;
constexpr uint32_t kLoaderPromptPauseMs = 3000;
constexpr int kMaxBarePrompts = 3;
constexpr uint32_t kBaudTimeoutMs = 1500;
constexpr uint32_t kBaudSettleMs = 100;
constexpr uint32_t kConnectSettleMs = 100;
constexpr uint32_t kModemTimeoutMs = 1500;
constexpr uint32_t kModemSaveTimeoutMs = 2000;
constexpr uint32_t kModemSettleMs = 100;
constexpr uint32_t kLogoutPauseMs = 100;
constexpr int kNoCommandModeExit = -1;

bool IsCodeInTable(int code) {
    return code >= 0 && code < static_cast<int>(sizeof kBaudTable / sizeof kBaudTable[0]);
}

void ClearIdentity(LoggerSettings& s) {
    s.newFirmware = 0;
    s.typeCode = kDevTypeUnknown;
    s.versionText[0] = '\0';
    s.versionNumber = 0;
}

int Elapsed(uint32_t start) {
    return static_cast<int>(TickMs() - start);
}

void MarkDisconnected(Terrel_Protocol& link) {
    TSClose(link.port);
    link.connection.linkKind = kLinkNone;
}

// One modem exchange with a 32-byte answer; `answer` receives the text.
int ModemCommand(Terrel_Protocol& link, const char* command, char prompt, uint32_t timeoutMs,
                 char (&answer)[kIdentityAnswerSize]) {
    int length = static_cast<int>(sizeof answer);
    return DeviceCommand(link, command, prompt, timeoutMs, answer, &length, nullptr);
}

// Scans "%d.%1d%1d" (major, first and second decimal). Returns the number
// of items read; with three or more `number` is major * 100 + d1 * 10 + d2
// (a missing second decimal counts 0).
int ScanVersionNumber(const char* text, int32_t& number) {
    const char* p = link_detail::SkipSpace(text);
    bool negative = false;
    if (*p == '-' || *p == '+') negative = *p++ == '-';
    if (!isdigit(static_cast<unsigned char>(*p))) return 0;
    int64_t major = 0;
    while (isdigit(static_cast<unsigned char>(*p))) {
        if (major < 1000000) major = major * 10 + (*p - '0');
        ++p;
    }
    if (negative) major = -major;
    int items = 1;
    int d1 = 0, d2 = 0;
    if (p[0] == '.' && isdigit(static_cast<unsigned char>(p[1]))) {
        d1 = p[1] - '0';
        ++items;
        if (isdigit(static_cast<unsigned char>(p[2]))) {
            d2 = p[2] - '0';
            ++items;
        }
    }
    if (items >= 2) number = static_cast<int32_t>(major * 100 + d1 * 10 + d2);
    return items;
}

// Scans "%s %d.%1d%1d": the type word, then the version number. Returns the
// number of items read.
int ScanVersionLine(const char* line, char (&word)[kVersionTextMax + 1], int32_t& number) {
    const char* p = link_detail::SkipSpace(line);
    const size_t wordLength = link_detail::ReadWord(p, word, kVersionTextMax);
    if (wordLength == 0) return 0;
    return 1 + ScanVersionNumber(p + wordLength, number);
}

}  // namespace

uint32_t BaudForCode(int code) {
    return IsCodeInTable(code) ? kBaudTable[code] : 0;
}

const DeviceTypeEntry* DeviceTypes(size_t& count) {
    count = sizeof kDeviceTypes / sizeof kDeviceTypes[0];
    return kDeviceTypes;
}

int DeviceTypeForWord(const char* upperWord) {
    if (!upperWord) return kDevTypeUnknown;
    for (const DeviceTypeEntry& e : kDeviceTypes) {
        if (e.word && strcmp(e.word, upperWord) == 0) return e.code;
    }
    return kDevTypeUnknown;
}

const char* DeviceTypeName(int code) {
    for (const DeviceTypeEntry& e : kDeviceTypes) {
        if (e.code == code) return e.name;
    }
    return kDeviceTypes[0].name;
}

uint32_t CapabilitiesFor(int typeCode, int32_t v, bool newFirmware) {
    switch (typeCode) {
        case kDevTypeTalo:
            return newFirmware ? 0x371F : 0x331C;
        case kDevTypeTalox: {
            uint32_t mask = 0x7737;
            if (v >= 202) mask |= 0x4000000;
            if (v >= 200) mask |= 0x1000000;
            if (v >= 119) mask |= 0x200000;
            if (v >= 118) mask |= 0xC00000;
            if (v >= 114) mask |= 0x70000;
            if (v >= 112) mask |= 0x8800;
            if (v >= 108) mask |= 0x40;
            if (v >= 105) mask |= 0x80;
            return mask;
        }
        case kDevTypeBrisen: {
            uint32_t mask = 0x4503;
            if (v >= 109) mask |= 0x20000;
            if (v >= 105) mask |= 0x80;
            return mask;
        }
        case kDevTypeTalob:
            return v >= 204 ? 0x74BE | 0x40000 : 0x74BE;
        case 8:
            return 0x3007;
        case 9:
            return 0x10026;
        case 10:
            return 0x1D3083;
        case kDevTypeKel7:
            return 0x5E3FFF7;
        case 12:
            return 0x7C3F6F7;
        default:
            return 0x1005;
    }
}

void DeriveCapabilities(Terrel_Protocol& link) {
    LoggerSettings& s = link.settings;
    s.capabilities = CapabilitiesFor(s.typeCode, s.versionNumber, s.newFirmware != 0);
}

int ParseShowCommand(Terrel_Protocol& link, char* nameBuffer) {
    LoggerSettings& s = link.settings;
    if (s.typeCode != kDevTypeTalo || s.newFirmware) {
        Log(link, kLogOutcome,
            "ParseShowCommand doesn't work with devices running \"new\" firmware.");
        return kDCOutOfRange;
    }
    char answer[kShowAnswerSize];
    int length = static_cast<int>(sizeof answer);
    uint32_t elapsed = 0;
    const int rc = DeviceCommand(link, "show\r", '>', kShowTimeoutMs, answer, &length, &elapsed);
    int errors = 0;
    if (rc > 0) {
        const char* p = link_detail::ValueAfterLabel(answer, "ID:");
        if (nameBuffer) {
            // Only the name is wanted (identity check before an erase): a
            // missing label is as bad as an empty one.
            nameBuffer[0] = '\0';
            return p && link_detail::ReadWord(p, nameBuffer, kDeviceNameMax) > 0 ? kDCOk
                                                                                 : kDCBadAnswer;
        }
        if (p && link_detail::ReadWord(p, s.deviceName, kDeviceNameMax) == 0) errors += 1;

        p = link_detail::ValueAfterLabel(answer, "Version:");
        if (p) {
            int32_t number = 0;
            if (link_detail::ReadWord(p, s.versionText, kVersionTextMax) > 0 &&
                ScanVersionNumber(s.versionText, number) == 3) {
                s.versionNumber = number;
            } else {
                errors += 2;
            }
        }
        if (s.versionNumber < 110) return kDCNotSupported;

        int32_t value = 0;
        if ((p = link_detail::ValueAfterLabel(answer, "Radio:"))) {
            if (link_detail::ReadInt32(p, value))
                s.radioMode = value;
            else
                errors += 4;
        }
        if ((p = link_detail::ValueAfterLabel(answer, "Wake:"))) {
            if (link_detail::ReadInt32(p, value))
                s.measurementInterval = value;
            else
                errors += 8;
        }
        if ((p = link_detail::ValueAfterLabel(answer, "Resets:"))) {
            if (link_detail::ReadInt32(p, value))
                link.resets = value;
            else
                errors += 16;
        }
    }
    s.serialNumber[0] = '\0';
    if (rc <= 0 || errors != 0) {
        Log(link, kLogOutcome, "ParseShowCommand failed with errors %d and %d (%d ms)", rc, errors,
            static_cast<int>(elapsed));
        s.deviceName[0] = '\0';
        s.versionText[0] = '\0';
        s.versionNumber = -1;
        s.measurementInterval = -1;
        s.radioMode = 0;
        return kDCBadAnswer;
    }
    Log(link, kLogOutcome, "ParseShowCommand found %s:%s:%d:%d:%d (%d ms)", s.deviceName,
        s.versionText, s.radioMode, s.measurementInterval, link.resets, static_cast<int>(elapsed));
    return kDCOk;
}

int VerCommand(Terrel_Protocol& link, int noShow) {
    LoggerSettings& s = link.settings;
    if (s.typeCode == kDevTypeTalo && !s.newFirmware) return ParseShowCommand(link, nullptr);

    const uint32_t start = TickMs();
    const uint32_t wait =
        link.connection.linkKind == kLinkRadio ? kVerWaitRadioMs : kVerWaitCableMs;
    int result = kDCOk;
    bool identified = false;
    int barePrompts = 0;
    for (uint32_t attempt = 0; attempt < link.tries + 3; ++attempt) {
        char answer[kIdentityAnswerSize];
        int length = static_cast<int>(sizeof answer);
        const int code = DeviceCommand(link, "get -ver\r", '>', wait, answer, &length, nullptr);
        if (link.tries == 1 && code == kDCNoAnswer) {
            result = kDCNoAnswer;
            continue;
        }
        if (answer[0] != '\0' && answer[1] == '>') {
            result = kDCEcho;
            continue;
        }
        if (strcmp(answer, "\r") == 0 || strcmp(answer, ">") == 0) {
            result = kDCBadAnswer;
            if (++barePrompts >= kMaxBarePrompts) break;
            attempt = 0;  // the next attempt counts as the second
            DelayMs(wait);
            continue;
        }
        if (code > 0 || code == kDCRejected) {
            if (strchr(answer, '.')) {
                const char* text = answer;
                while (*text == '\r') ++text;
                const char* cr = strchr(text, '\r');
                if (!cr) {
                    DelayMs(kVerRetryPauseMs);
                    continue;
                }
                size_t n = static_cast<size_t>(cr - text);
                if (n > kVersionTextMax) n = kVersionTextMax;
                char version[kVersionTextMax + 1];
                memcpy(version, text, n);
                version[n] = '\0';
                char word[kVersionTextMax + 1];
                int32_t number = 0;
                if (ScanVersionLine(version, word, number) < 3) {
                    result = kDCBadAnswer;
                    DelayMs(kVerRetryPauseMs);
                    continue;
                }
                memcpy(s.versionText, version, n + 1);
                s.versionNumber = number;
                s.newFirmware = 1;
                for (char* c = word; *c; ++c)
                    *c = static_cast<char>(toupper(static_cast<unsigned char>(*c)));
                s.typeCode = static_cast<int8_t>(DeviceTypeForWord(word));
                link_detail::CopyText(s.typeName, sizeof s.typeName, DeviceTypeName(s.typeCode));
                DeriveCapabilities(link);
                Log(link, kLogDetail, "VerCommand found \"%s\" ver %d (%d ms)", s.versionText,
                    s.versionNumber, Elapsed(start));
                result = kDCOk;
                identified = true;
                break;
            }
            if (strchr(answer, '+')) {
                const char* text = answer;
                while (*text == '\r') ++text;
                if (text[0] == '+' && strlen(text) >= 4) {
                    result = kDCLoaderAnswered;
                    break;
                }
                continue;
            }
            if (strchr(answer, '$')) {
                if (result == kDCLoaderPrompt) break;
                result = kDCLoaderPrompt;
                DelayMs(kLoaderPromptPauseMs);
                continue;
            }
            if (code == kDCRejected) {
                if (result == kDCOk) {
                    result = kDCBadAnswer;
                    DelayMs(kVerRetryPauseMs);
                    continue;
                }
                s.newFirmware = 0;
                s.typeCode = kDevTypeTalo;
                link_detail::CopyText(s.typeName, sizeof s.typeName, DeviceTypeName(kDevTypeTalo));
                Log(link, kLogDetail, "VerCommand found Talo with old firmware (%d ms)",
                    Elapsed(start));
                if (!noShow) ParseShowCommand(link, nullptr);
                DeriveCapabilities(link);
                result = kDCOk;
                identified = true;
                break;
            }
            result = kDCBadAnswer;
            Log(link, kLogDetail, "VerCommand couldn't decipher \"%s\" (%d ms)", answer,
                Elapsed(start));
            continue;
        }
        if (code == kDCNoAnswer) {
            result = kDCNoAnswer;
            break;
        }
        result = code;
    }
    // Tries that all heard a version line without its end (or a lone "+")
    // leave nothing identified: that is not a success.
    if (result > 0 && !identified) result = kDCBadAnswer;
    if (result < 0) {
        Log(link, kLogOutcome, "VerCommand failed with error %d (%d ms)", result, Elapsed(start));
        ClearIdentity(s);
    }
    return result;
}

int SetBaudCommand(Terrel_Protocol& link, uint32_t rate) {
    const uint32_t start = TickMs();
    if (!link.settings.newFirmware) {
        Log(link, kLogDetail, "SetBaudCommand: device (%s) can't change baud rate",
            link.settings.deviceName);
        return kDCNoBaudChange;
    }
    int code = 0;
    switch (rate) {
        case 9600:
            code = 0;
            break;
        case 19200:
            code = 1;
            break;
        case 38400:
            code = 2;
            break;
        case 57600:
            code = 3;
            break;
        case 115200:
            code = 4;
            break;
        case 230400:
            code = 5;
            break;
        case 460800:
            code = 6;
            break;
        default:
            Log(link, kLogDetail, "SetBaudCommand: unsupported baud rate %d, using 9600",
                static_cast<int>(rate));
            code = 0;
    }
    char command[32];
    snprintf(command, sizeof command, "set -baud %d\r", code);
    int result = kDCNoAnswer;
    for (uint32_t attempt = 0; attempt < link.tries; ++attempt) {
        char answer[kIdentityAnswerSize];
        int length = static_cast<int>(sizeof answer);
        const int rc = DeviceCommand(link, command, 'K', kBaudTimeoutMs, answer, &length, nullptr);
        if (rc == kDCNoAnswer) {
            if (rate == 9600) {
                // The device may have switched already and answered at the new speed.
                result = kDCOk;
                break;
            }
            result = kDCNoAnswer;
            if (link.port.baud == 9600) DelayMs(kBaudTimeoutMs);
            continue;
        }
        if (rc <= 0) {
            result = rc;
            continue;
        }
        if (strstr(answer, "OK")) {
            Log(link, kLogDetail, "SetBaudCommand set device baud rate to %d (%d ms)",
                static_cast<int>(rate), Elapsed(start));
            result = kDCOk;
            break;
        }
        if (strstr(answer, "\r>")) {
            result = kDCBadAnswer;
            Log(link, kLogDetail, "SetBaudCommand failed (heard prompt): trying again (%d ms)",
                Elapsed(start));
            continue;
        }
        Log(link, kLogDetail, "SetBaudCommand failed: heard: %s (%d ms)", answer, Elapsed(start));
        result = kDCBadAnswer;
        break;
    }
    if (result < 0) {
        Log(link, kLogOutcome, "SetBaudCommand failed with error %d (%d ms)", result,
            Elapsed(start));
    }
    DelayMs(kBaudSettleMs);
    return result;
}

int DeviceLogin(Terrel_Protocol& link, char* name, const char* /*ignored*/, int8_t* baudCode) {
    if (!name) return kDCMissingArgument;
    int rc = TSHostBaud(link.port, 9600);
    if (rc < 0) {
        Log(link, kLogDetail, "DeviceLogin: host reports it can't change baud (error %d)", rc);
        return kDCNoListener;
    }
    LoggerSettings& s = link.settings;

    if (link.connection.linkKind == kLinkRadio) {
        bool firstPass = true;
        int result = kDCLastTrySilent;
        for (;;) {
            bool haveName = name[0] != '\0';
            if (!haveName) {
                char heard[kDeviceNameMax + 1] = {};
                rc = QueryCommand(link, heard, 1);
                if (rc > 0) {
                    link_detail::CopyText(name, kDeviceNameMax + 1, heard);
                    haveName = true;
                } else if (rc == kDCNoAnswer || rc == kDCLastTrySilent) {
                    result = rc;
                } else if (rc == kDCCancelled) {
                    return kDCCancelled;
                } else {
                    result = rc;
                    break;
                }
            }
            if (haveName) {
                rc = LoginCommand(link, name);
                if (rc > 0) {
                    link_detail::CopyText(s.deviceName, sizeof s.deviceName, name);
                    result = kDCOk;
                    break;
                }
                result = rc;
                if (rc != kDCNoAnswer) break;
            }
            if (!firstPass) break;
            firstPass = false;
            rc = SendWake(link);
            if (rc < 0) return rc;  // cancelled, or the port failed
        }
        if (result == kDCNoAnswer || result == kDCLastTrySilent) {
            Log(link, kLogDetail, "DeviceLogin: nothing is listening over the radio");
            return kDCNoListener;
        }
        if (result == kDCEcho) {
            Log(link, kLogOutcome, "DeviceLogin thinks a relay must be active");
            return kDCRelayActive;
        }
        if (result < 0) {
            Log(link, kLogDetail, "DeviceLogin failed with error %d", result);
            return result;
        }
        if (s.deviceName[0] == '\0') {
            Log(link, kLogDetail, "DeviceLogin: nothing is listening over the radio");
            return kDCNoListener;
        }
        if (baudCode) *baudCode = kBaudCode9600;
    } else {
        rc = VerCommand(link, 1);
        if (rc == kDCNoAnswer) {
            Log(link, kLogDetail, "DeviceLogin: nothing is listening over the serial port");
            return kDCNoListener;
        }
        if (rc < 0) {
            Log(link, kLogDetail, "DeviceLogin failed with error %d", rc);
            return rc;
        }
        // Codes 0 and 1 are not line speeds a device can be asked for.
        int code = baudCode ? *baudCode : kBaudCode9600;
        if (code < kBaudCode9600 || !IsCodeInTable(code)) code = kBaudCode9600;
        const uint32_t rate = BaudForCode(code);
        if ((s.capabilities & kCapBaudChange) && rate != link.port.baud) {
            rc = SetBaudCommand(link, rate);
            if (rc > 0) {
                rc = TSHostBaud(link.port, rate);
                if (rc < 0) {
                    Log(link, kLogOutcome,
                        "DeviceLogin: host reports it can't change baud (error %d)", rc);
                    return kDCNoListener;
                }
            } else {
                Log(link, kLogDetail, "DeviceLogin: device didn't change baud rate (error %d)", rc);
                code = kBaudCode9600;
            }
        } else {
            code = kBaudCode9600;
        }
        if (baudCode) *baudCode = static_cast<int8_t>(code);
    }
    Log(link, kLogDetail, "DeviceLogin communicating with a device running %s at %d baud",
        s.versionText, static_cast<int>(link.port.baud));
    return kDCOk;
}

int ConnectDevice(Terrel_Protocol& link, ConnectionRequest* request) {
    if (!request) return kDCMissingArgument;
    if (!link.reply) return kDCNoBuffer;
    link.settings = LoggerSettings{};
    link.resets = 0;
    switch (request->linkKind) {
        case kLinkNone:
            return kDCOutOfRange;
        case kLinkCable:
            link.tries = link.options.serialTries;
            break;
        case kLinkRadio:
            link.tries = link.options.radioTries;
            break;
        case 20:
        case 40:
        case 100:
        case 110:
        case 120:
            return kDCNotSupported;
        default:
            return kDCMissingArgument;
    }
    if (request->baudCode == 0) request->baudCode = kBaudCode9600;
    if (link.connection.linkKind == kLinkNone) {
        const int rc = TSOpen(link.port, request->portName, 9600);
        if (rc < 0) {
            TSClose(link.port);  // a port that opened but could not be set up
            return rc;
        }
    }
    link.connection = *request;
    DelayMs(kConnectSettleMs);

    if (link.connection.linkKind == kLinkRadio && link.connection.configureRadio) {
        link.tries = 3;
        uint32_t bits = kSetRadioChannel | kSetRadioSubChannel;
        const int rc = Zl4Config(link, &link.connection.radioChannel,
                                 &link.connection.radioSubChannel, nullptr, 1, &bits);
        if (rc != kDCOk) {
            if (!link.options.keepPortOpen) MarkDisconnected(link);
            return kDCRadioConfig;
        }
        link.tries = link.options.radioTries;
    }
    const int rc = DeviceLogin(link, link.connection.deviceName, link.connection.secondText,
                               &link.connection.baudCode);
    link_detail::CopyText(request->deviceName, sizeof request->deviceName,
                          link.connection.deviceName);
    request->baudCode = link.connection.baudCode;
    if (rc < 0 && !link.options.keepPortOpen) MarkDisconnected(link);
    return rc;
}

int DisconnectDevice(Terrel_Protocol& link, int silent) {
    if (link.connection.linkKind == kLinkNone) return kTSNothing;
    const bool traceSent = link.options.trace == 2 || link.options.trace == 3;
    const bool traceReceived = link.options.trace == 1 || link.options.trace == 3;
    int result = kDCLastTrySilent;
    if (link.connection.linkKind == kLinkCable) {
        if (link.port.baud != 9600) SetBaudCommand(link, 9600);
        result = kDCOk;
    } else if (!silent) {
        char login[32];
        snprintf(login, sizeof login, "login %s\r", link.settings.deviceName);
        for (uint32_t attempt = 0; attempt < link.tries; ++attempt) {
            TSFlush(link.port, 1);
            link.reply[0] = '\0';
            size_t written = 0;
            TSWrite(link.port, "logout\r", 7, written);
            if (traceSent && link.traceSink) link.traceSink("logout\r");
            DelayMs(kLogoutPauseMs);
            TSWrite(link.port, login, strlen(login), written);
            if (traceSent && link.traceSink) link.traceSink(login);
            size_t received = 0;
            const int rc = TSRead(link.port, link.reply.get(), 31, received);
            link.reply[rc > 0 ? received : 0] = '\0';
            if (traceReceived && link.traceSink && received > 0) link.traceSink(link.reply.get());
            if (rc >= 0 && received == 0) {
                result = kDCOk;
                break;
            }
            Log(link, kLogDetail, "DisconnectDevice: Device didn't disconnect, retrying");
        }
    }
    link.settings = LoggerSettings{};
    link.resets = 0;
    if (link.options.keepPortOpen) {
        const int rc = TSHostBaud(link.port, 9600);
        if (rc < 0) {
            MarkDisconnected(link);
            Log(link, kLogOutcome,
                "DisconnectDevice: Error setting host baud rate; can't keep port open (error %d)",
                rc);
        }
    } else {
        MarkDisconnected(link);
    }
    if (result > 0) Log(link, kLogDetail, "DisconnectDevice successful");
    return result;
}

int Zl4Config(Terrel_Protocol& link, int32_t* channel, int32_t* subChannel, char* version,
              int direction, uint32_t* bits) {
    if (!bits) return kDCMissingArgument;
    const uint32_t start = TickMs();
    const uint32_t wanted = *bits;
    char answer[kIdentityAnswerSize];
    bool inCommandMode = false;
    for (int attempt = 0; attempt < 2 && !inCommandMode; ++attempt) {
        const int rc = ModemCommand(link, "+++", 'K', kModemTimeoutMs, answer);
        inCommandMode = rc > 0 && strstr(answer, "OK");
    }
    if (!inCommandMode) {
        Log(link, kLogOutcome, "Zl4Config failed to get into AT command mode: %d (%d ms)",
            kDCRadioConfig, Elapsed(start));
        *bits = 0;
        return kDCRadioConfig;
    }

    int result = kDCOk;
    int errors = 0;
    uint32_t done = 0;
    char command[32];
    if (direction == 1) {
        if ((wanted & kSetRadioChannel) && channel) {
            snprintf(command, sizeof command, "ATHP%X\r", static_cast<unsigned>(*channel));
            const int rc = ModemCommand(link, command, 'K', kModemTimeoutMs, answer);
            if (rc > 0 && strstr(answer, "OK")) {
                Log(link, kLogDetail, "Zl4Config set rch to %d (%d ms)", *channel, Elapsed(start));
                done |= kSetRadioChannel;
            } else {
                errors += 1;
                if (rc < 0) result = rc;
            }
        }
        if ((wanted & kSetRadioSubChannel) && subChannel) {
            snprintf(command, sizeof command, "ATDT%X\r", static_cast<unsigned>(*subChannel));
            const int rc = ModemCommand(link, command, 'K', kModemTimeoutMs, answer);
            if (rc > 0 && strstr(answer, "OK")) {
                Log(link, kLogDetail, "Zl4Config set rsch to %d (%d ms)", *subChannel,
                    Elapsed(start));
                done |= kSetRadioSubChannel;
            } else {
                errors += 2;
                if (rc < 0) result = rc;
            }
        }
        const int rc = ModemCommand(link, "ATWR\r", 'K', kModemSaveTimeoutMs, answer);
        if (rc > 0 && strstr(answer, "OK")) {
            Log(link, kLogDetail, "Zl4Config saved configuration (%d ms)", Elapsed(start));
        } else {
            errors += 8;
            if (rc < 0) result = rc;
        }
    } else {
        if ((wanted & kSetRadioChannel) && channel) {
            const int rc = ModemCommand(link, "ATHP\r", '\r', kModemTimeoutMs, answer);
            uint32_t value = 0;
            if (rc > 0 && link_detail::ReadHex(answer, value) && value <= INT32_MAX) {
                *channel = static_cast<int32_t>(value);
                Log(link, kLogDetail, "Zl4Config found rch %d (%d ms)", *channel, Elapsed(start));
                done |= kSetRadioChannel;
            } else {
                Log(link, kLogDetail, "Zl4Config could not find rch (%d ms)", Elapsed(start));
                errors += 1;
                if (rc < 0) result = rc;
            }
        }
        if ((wanted & kSetRadioSubChannel) && subChannel) {
            const int rc = ModemCommand(link, "ATDT\r", '\r', kModemTimeoutMs, answer);
            uint32_t value = 0;
            if (rc > 0 && link_detail::ReadHex(answer, value) && value <= INT32_MAX) {
                *subChannel = static_cast<int32_t>(value);
                Log(link, kLogDetail, "Zl4Config found rsch %d (%d ms)", *subChannel,
                    Elapsed(start));
                done |= kSetRadioSubChannel;
            } else {
                Log(link, kLogDetail, "Zl4Config could not find rsch (%d ms)", Elapsed(start));
                errors += 2;
                if (rc < 0) result = rc;
            }
        }
        if ((wanted & kSetRadioVersion) && version) {
            const int rc = ModemCommand(link, "ATVR\r", '\r', kModemTimeoutMs, answer);
            char word[kDeviceNameMax + 1];
            if (rc > 0 && link_detail::ReadWord(answer, word, kDeviceNameMax) > 0) {
                memcpy(version, word, strlen(word) + 1);
                Log(link, kLogDetail, "Zl4Config found rver %s (%d ms)", version, Elapsed(start));
                done |= kSetRadioVersion;
            } else {
                Log(link, kLogDetail, "Zl4Config could not find rver (%d ms)", Elapsed(start));
                errors += 4;
                if (rc < 0) result = rc;
            }
        }
    }

    int rc = ModemCommand(link, "ATCN\r", 'K', kModemTimeoutMs, answer);
    if (rc > 0 && !strstr(answer, "OK")) rc = kNoCommandModeExit;
    if (rc < 0) {
        Log(link, kLogOutcome, "Zl4Config failed to get out of AT command mode: %d (%d ms)", rc,
            Elapsed(start));
        *bits = done;
        return rc;
    }
    if (result < 0 || errors != 0) {
        // Nothing of what was asked is a failed configuration, not a success.
        result = done ? kDCPartial : (result < 0 ? result : kDCRadioConfig);
        Log(link, kLogOutcome, "Zl4Config failed with error %d and %d (%d ms)", result, errors,
            Elapsed(start));
    }
    *bits = done;
    DelayMs(kModemSettleMs);
    return result;
}

}  // namespace tarsa
