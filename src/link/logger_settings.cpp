#include "link/logger_settings.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "link/link_internal.h"
#include "link/logger_commands.h"
#include "link/logger_connection.h"
#include "log/tarsa_log.h"
#include "serial/timing.h"

namespace tarsa {

using link_detail::Log;

namespace {

constexpr uint32_t kFailurePauseMs = 100;
constexpr uint32_t kClockTimeoutMs = 1500;
constexpr uint32_t kClockReadTimeoutMs = 3000;
constexpr size_t kClockAnswerSize = 48;
constexpr uint32_t kEraseTimeoutMs = 17000;
constexpr uint32_t kRadioTimeoutMs = 2000;
constexpr uint32_t kTermPauseMs = 500;
constexpr int64_t kEpoch2000 = 946684800;  // 2000-01-01 00:00:00 in seconds since 1970
constexpr int32_t kMaxRadioChannel = 6;
constexpr uint32_t kMaxRadioSubChannel = 0xFFFF;

// Bits an old-firmware Talo's "show" answer covers.
constexpr uint32_t kShowCleared = 0x217;
constexpr uint32_t kShowDone = 0x215;
constexpr uint32_t kShowWanted = 0x211;
constexpr uint32_t kShowParseCleared = 0x213;

// The order in which DeviceSettings handles the settings after the identity.
constexpr uint32_t kSettingOrder[] = {
    kSetName,          kSetDeviceId,    kSetReportMode, kSetDepths,       kSetLatitude,
    kSetLongitude,     kSetTimeZone,    kSetSite,       kSetSerialNumber, kSetWake,
    kSetPadc,          kSetPorts,       kSetTrait,      kSetRadioMode,    kSetRadioGroup,
    kSetDataParameter, kSetBuildId,     kSetAdc30,      kSetAdc15,        kSetApn,
    kSetApnUser,       kSetApnPassword, kSetAuthKey,    kSetHost,         kSetIpPort,
};

int BitCount(uint32_t v) {
    return __builtin_popcount(v);
}

bool IsOldTalo(const LoggerSettings& s) {
    return s.typeCode == kDevTypeTalo && !s.newFirmware;
}

bool IdentityKnown(const LoggerSettings& s) {
    return s.typeCode != kDevTypeUnknown && s.versionText[0] != '\0' && s.versionNumber > 0;
}

int Elapsed(uint32_t start) {
    return static_cast<int>(TickMs() - start);
}

// Runs the member of one setting bit (the radio group as a whole). `doneBits`
// receives the bits that succeeded.
int RunMember(Terrel_Protocol& link, uint32_t bit, uint32_t requested, int direction,
              uint32_t& doneBits) {
    LoggerSettings& s = link.settings;
    doneBits = 0;
    int rc = kDCOk;
    switch (bit) {
        case kSetName:
            rc = NameCommand(link, s.deviceName, direction);
            break;
        case kSetDeviceId:
            rc = DeviceIDCommand(link, s.deviceId, direction);
            break;
        case kSetReportMode:
            rc = ReportCommand(link, &s.reportMode, direction);
            break;
        case kSetDepths:
            rc = DepthCommand(link, s.depths, direction);
            break;
        case kSetLatitude:
            rc = LatitudeCommand(link, &s.latitude, direction);
            break;
        case kSetLongitude:
            rc = LongitudeCommand(link, &s.longitude, direction);
            break;
        case kSetTimeZone:
            rc = TimeZoneCommand(link, &s.timeZone, direction);
            break;
        case kSetSite:
            rc = SiteCommand(link, s.site, direction);
            break;
        case kSetSerialNumber:
            rc = SNCommand(link, s.serialNumber, direction);
            break;
        case kSetWake:
            rc = WakeCommand(link, &s.measurementInterval, direction);
            break;
        case kSetPadc:
            rc = PADCCommand(link, &s.padc, direction);
            break;
        case kSetPorts:
            rc = PortsCommand(link, s.ports, direction);
            break;
        case kSetTrait:
            rc = TraitCommand(link, &s.trait, direction);
            break;
        case kSetRadioMode:
            rc = RmodeCommand(link, &s.radioMode, direction);
            break;
        case kSetRadioGroup: {
            const bool radioFitted = (s.trait & kTraitValid) && (s.trait & kTraitRadio);
            if (direction == kWriteSetting || radioFitted) {
                uint32_t bits = requested & kSetRadioGroup;
                rc = MSRadioCommand(link, &s.radioChannel, &s.radioSubChannel, s.radioVersion,
                                    direction, &bits);
                doneBits = bits;
                return rc;
            }
            return kDCRadioConfig;
        }
        case kSetDataParameter:
            rc = DataParameterCommand(link, &s.dataParameter, direction);
            break;
        case kSetBuildId:
            rc = TarsaBuildCommand(link, s.buildId, direction);
            break;
        case kSetAdc30:
            rc = ADCcalCommand(link, 1, s.adc30First, s.adc30Second, direction);
            break;
        case kSetAdc15:
            rc = ADCcalCommand(link, 2, s.adc15First, s.adc15Second, direction);
            break;
        case kSetApn:
            rc = APNCommand(link, s.apn, direction);
            break;
        case kSetApnUser:
            rc = APNUserCommand(link, s.apnUser, direction);
            break;
        case kSetApnPassword:
            rc = APNPasswdCommand(link, s.apnPassword, direction);
            break;
        case kSetAuthKey:
            rc = AuthKeyCommand(link, s.authKey, direction);
            break;
        case kSetHost:
            rc = HostCommand(link, s.host, direction);
            break;
        case kSetIpPort:
            rc = IPPortCommand(link, &s.ipPort, direction);
            break;
        default:
            return kDCOk;
    }
    if (rc > 0) doneBits = bit;
    // A position or site that could not be read is no longer known.
    if (rc < 0 && direction == kReadSetting &&
        (bit == kSetLatitude || bit == kSetLongitude || bit == kSetSite)) {
        s.validMask &= ~bit;
    }
    return rc;
}

// Takes the caller's record for a write but keeps the identity of the
// connected device when it is fully known: the gates of the members must be
// those of the device being written, not of the one the record was read
// from (its firmware version may differ). A partly known identity (an old
// Talo before "show") leaves the record's.
void TakeRecordForWrite(LoggerSettings& connected, const LoggerSettings& record) {
    const LoggerSettings identity = connected;
    connected = record;
    if (!IdentityKnown(identity)) return;
    connected.capabilities = identity.capabilities;
    connected.typeCode = identity.typeCode;
    memcpy(connected.typeName, identity.typeName, sizeof connected.typeName);
    connected.newFirmware = identity.newFirmware;
    memcpy(connected.versionText, identity.versionText, sizeof connected.versionText);
    connected.versionNumber = identity.versionNumber;
}

}  // namespace

int DeviceSettings(Terrel_Protocol& link, LoggerSettings* record, uint32_t* mask, int direction) {
    if (!record || !mask) return kDCMissingArgument;
    if (direction != kReadSetting && direction != kWriteSetting) return kDCOutOfRange;
    LoggerSettings& s = link.settings;
    if (direction == kWriteSetting) TakeRecordForWrite(s, *record);

    const uint32_t given = *mask;
    uint32_t request = given;
    uint32_t done = 0;
    if (direction == kReadSetting) {
        if (s.versionNumber > 0) {
            done |= kSetIdentity;
        } else {
            request |= kSetIdentity;
        }
        if ((request & kSetRadioGroup) && !(s.validMask & kSetTrait)) request |= kSetTrait;
    }

    const int total = BitCount(request);
    int result = kDCOk;
    int memberRc = kDCOk;
    uint32_t checkpoint = 0;
    bool haveCheckpoint = false;
    int checkpointResult = kDCOk;
    uint32_t silentInARow = 0;
    for (;;) {
        const int remaining = BitCount(request);
        if (link.options.progress && link.progressHook &&
            !link.progressHook(static_cast<uint32_t>(total),
                               static_cast<uint32_t>(total - remaining), kStageRunning)) {
            Log(link, kLogDetail, "DeviceSettings canceled by user after getting %d of %d settings",
                remaining, total);
            link.progressHook(static_cast<uint32_t>(total),
                              static_cast<uint32_t>(total - remaining), kStageFinished);
            *mask = done;
            return kDCCancelled;
        }
        if (memberRc == kDCEcho || memberRc == kDCRelayActive || memberRc == kDCEmptyName) {
            result = memberRc;
            break;
        }
        if (memberRc < 0) {
            result = kDCPartial;
            DelayMs(kFailurePauseMs);
        }
        bool relogged = false;
        if (memberRc == kDCNoAnswer) {
            ++silentInARow;
            if (silentInARow >= link.tries || link.connection.linkKind == kLinkRadio) {
                result = kDCNoAnswer;
                break;
            }
            const int rc = DeviceLogin(link, link.connection.deviceName, link.connection.secondText,
                                       &link.connection.baudCode);
            if (rc < 0) {
                result = rc == kDCNoListener ? kDCNoAnswer : rc;
                break;
            }
            link_detail::Log(link, kLogDetail, "DeviceSettings re-connected to device");
            request = checkpoint;
            result = checkpointResult;
            relogged = true;
        }
        if (!relogged) {
            if (request == 0 || (haveCheckpoint && request == checkpoint)) break;
            checkpoint = request;
            checkpointResult = result;
            haveCheckpoint = true;
            silentInARow = 0;
        }

        memberRc = kDCOk;
        if (request & kSetIdentity) {
            if (direction == kWriteSetting) {
                request &= ~kSetIdentity;
            } else if (IdentityKnown(s)) {
                request &= ~kSetIdentity;
                done |= kSetIdentity;
            } else {
                memberRc = VerCommand(link, 0);
                if (memberRc == kDCNotSupported) {
                    Log(link, kLogDetail, "DeviceSettings: old Stovar model 007 not supported");
                    *mask = done;
                    return kDCNotSupported;
                }
                if (IsOldTalo(s)) {
                    request &= ~kShowCleared;
                    if (memberRc > 0) done |= kShowDone;
                } else {
                    request &= ~kSetIdentity;
                    if (memberRc > 0) done |= kSetIdentity;
                }
            }
            continue;
        }
        if (direction == kReadSetting && IsOldTalo(s) && (request & kShowWanted)) {
            memberRc = ParseShowCommand(link, nullptr);
            request &= ~kShowParseCleared;
            if (memberRc > 0) done |= kShowDone;
            continue;
        }
        for (uint32_t bit : kSettingOrder) {
            if (!(request & bit)) continue;
            uint32_t doneBits = 0;
            memberRc = RunMember(link, bit, request, direction, doneBits);
            request &= ~bit;
            done |= doneBits;
            break;
        }
    }

    if (done == 0 && result == kDCOk && given != 0) result = kNoSuchSetting;
    *mask = done;
    if (direction == kReadSetting) {
        s.validMask |= done;
        *record = s;
    }
    if (link.options.progress && link.progressHook) {
        link.progressHook(static_cast<uint32_t>(total), static_cast<uint32_t>(total),
                          kStageFinished);
    }
    return result;
}

namespace {

// Sends one clock command. Confirmed by "OK", or on old firmware by the
// prompt (`promptAnywhere`: a ">" anywhere in the answer).
int ClockWrite(Terrel_Protocol& link, const char* command, bool promptAnywhere, uint32_t& ms) {
    char answer[kClockAnswerSize];
    int length = static_cast<int>(sizeof answer);
    const int rc = DeviceCommand(link, command, '>', kClockTimeoutMs, answer, &length, &ms);
    const bool oldFirmware = !link.settings.newFirmware;
    if (oldFirmware && rc == kDCEmptyAnswer) return kDCOk;
    if (rc < 1) return rc;
    if (strstr(answer, "OK")) return kDCOk;
    if (oldFirmware && (promptAnywhere ? strchr(answer, '>') : strstr(answer, "\r>"))) return kDCOk;
    return kDCBadAnswer;
}

}  // namespace

int DeviceTime(Terrel_Protocol& link, int64_t* value, int direction) {
    const LoggerSettings& s = link.settings;
    const uint32_t start = TickMs();
    if (!(s.capabilities & kCapClock)) {
        if (value) *value = -1;
        return kNoSuchSetting;
    }
    if (direction != kReadSetting && direction != kWriteSetting) return kDCOutOfRange;
    const bool secondsClock = (s.capabilities & kCapSecondsClock) != 0;
    int rc;
    uint32_t ms = 0;
    if (direction == kWriteSetting) {
        struct tm fields {};
        int64_t seconds = 0;
        if (value && *value != 0) {
            seconds = *value;
            const time_t t = static_cast<time_t>(seconds + kEpoch2000);
            gmtime_r(&t, &fields);
        } else {
            const time_t now = time(nullptr);
            if (now == static_cast<time_t>(-1)) {
                Log(link, kLogOutcome, "DeviceTime failed to get system time with error %d", -1);
                return kDCBadAnswer;
            }
            seconds = static_cast<int64_t>(now) + UtcOffsetSeconds() - kEpoch2000;
            if (value) *value = seconds;
            localtime_r(&now, &fields);
        }
        char command[48];
        rc = kDCOk;
        if (!secondsClock) {
            snprintf(command, sizeof command, "set -t %d:%d:%d\r", fields.tm_hour, fields.tm_min,
                     fields.tm_sec);
            rc = ClockWrite(link, command, false, ms);
            if (rc == kDCOk) {
                Log(link, kLogDetail, "DeviceTime set device time to %d:%02d:%02d (%d ms)",
                    fields.tm_hour, fields.tm_min, fields.tm_sec, static_cast<int>(ms));
            }
        }
        if (rc == kDCOk) {
            if (secondsClock) {
                snprintf(command, sizeof command, "set -sec %lld\r",
                         static_cast<long long>(seconds));
            } else {
                snprintf(command, sizeof command, "set -d %d-%d-%d\r", fields.tm_year + 1900,
                         fields.tm_mon + 1, fields.tm_mday);
            }
            rc = ClockWrite(link, command, true, ms);
            if (rc == kDCOk && secondsClock) {
                Log(link, kLogDetail, "DeviceTime set device tarsaseconds to %d (%d ms)",
                    static_cast<int>(seconds), static_cast<int>(ms));
            } else if (rc == kDCOk) {
                Log(link, kLogDetail, "DeviceTime set device date to %d-%d-%d (%d ms)",
                    fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday, static_cast<int>(ms));
            }
        }
    } else {
        if (!value) return kDCMissingArgument;
        const char* command = secondsClock ? "get -sec\r" : (s.newFirmware ? "get -t\r" : "time\r");
        char answer[kClockAnswerSize];
        int length = static_cast<int>(sizeof answer);
        rc = DeviceCommand(link, command, '>', kClockReadTimeoutMs, answer, &length, &ms);
        if (rc < 1) {
            rc = kDCBadAnswer;
        } else if (secondsClock) {
            int64_t read = 0;
            if (link_detail::ReadInts(answer, &read, 1) != 1) {
                rc = kDCBadAnswer;
            } else if (read < 0 || read > INT32_MAX) {
                // The logger's counter is 32 bits: above that it is negative.
                *value = 0;
                rc = kDCBadAnswer;
            } else {
                *value = read;
                Log(link, kLogDetail, "DeviceTime found device date/timr %ld TarsaSeconds (%d ms)",
                    static_cast<long>(read), static_cast<int>(ms));
                rc = kDCOk;
            }
        } else {
            const char* p = link_detail::ValueAfterLabel(answer, "Date\\Time:");
            if (!p) p = answer;
            // "%d-%d-%d %d:%d:%d": the separators are read as part of the numbers' gaps.
            int64_t n[6] = {};
            int found = 0;
            const char* q = p;
            for (; found < 6; ++found) {
                q = link_detail::SkipSpace(q);
                if (found > 0) {
                    const char sep = found < 3 ? '-' : (found == 3 ? '\0' : ':');
                    if (sep) {
                        if (*q != sep) break;
                        ++q;
                    }
                }
                char* end = nullptr;
                const long long v = strtoll(q, &end, 10);
                if (end == q) break;
                n[found] = v;
                q = end;
            }
            if (found < 6) {
                rc = kDCBadAnswer;
            } else {
                const time_t now = time(nullptr);
                struct tm current {};
                localtime_r(&now, &current);
                struct tm fields {};
                fields.tm_year = static_cast<int>(n[0] - 1900);
                fields.tm_mon = static_cast<int>(n[1] - 1);
                fields.tm_mday = static_cast<int>(n[2]);
                fields.tm_hour = static_cast<int>(n[3]);
                fields.tm_min = static_cast<int>(n[4]);
                fields.tm_sec = static_cast<int>(n[5]);
                fields.tm_isdst = current.tm_isdst;
                bool sane = true;
                for (int64_t x : n) sane = sane && x >= 0 && x < 100000;
                const time_t t = sane ? mktime(&fields) : static_cast<time_t>(-1);
                if (t == static_cast<time_t>(-1)) {
                    *value = 0;
                    rc = kDCBadAnswer;
                } else {
                    *value = static_cast<int64_t>(t) + UtcOffsetSeconds() - kEpoch2000;
                    Log(link, kLogDetail,
                        "DeviceTime found device date/time %d-%d-%d %d:%02d:%02d or %ld (%d ms)",
                        static_cast<int>(n[0]), static_cast<int>(n[1]), static_cast<int>(n[2]),
                        static_cast<int>(n[3]), static_cast<int>(n[4]), static_cast<int>(n[5]),
                        static_cast<long>(*value), static_cast<int>(ms));
                    rc = kDCOk;
                }
            }
        }
        if (rc < 0) *value = -1;
    }
    if (rc < 0) {
        Log(link, kLogOutcome, "DeviceTime failed with error %d (%d ms)", rc, Elapsed(start));
    }
    return rc;
}

int EraseData(Terrel_Protocol& link) {
    const uint32_t start = TickMs();
    const LoggerSettings& s = link.settings;
    char name[kDeviceNameMax + 1] = {};
    int rc;
    char prompt;
    if (s.newFirmware) {
        prompt = '>';
        rc = NameCommand(link, name, kReadSetting);
    } else {
        prompt = '!';
        rc = ParseShowCommand(link, name);
    }
    if (rc < 0) {
        Log(link, kLogOutcome, "EraseData failed checking the identity of device (error %d)", rc);
        return kDCIdentityMismatch;
    }
    if (strncmp(name, s.deviceName, kDeviceNameMax) != 0) {
        Log(link, kLogOutcome, "EraseData: Identity mismatch. Class: %s, Device: %s", s.deviceName,
            name);
        return kDCIdentityMismatch;
    }
    char answer[32];
    int length = static_cast<int>(sizeof answer);
    uint32_t ms = 0;
    rc = DeviceCommand(link, "yes\r", prompt, kEraseTimeoutMs, answer, &length, &ms);
    if (rc > 0 && strstr(answer, "OK")) {
        Log(link, kLogDetail, "InitializeDevice erased device data (%d ms)", Elapsed(start));
        return kDCOk;
    }
    // Only an answer tells of a broken data memory. Silence is a device that
    // stopped answering (power lost, cable pulled) and keeps its own code.
    if ((rc > 0 && strstr(answer, "DataFlash FAIL")) || rc == kDCRejected) {
        Log(link, kLogOutcome, "EraseData failed due to a broken DataFlash (%d ms)",
            Elapsed(start));
        return kDCDataFlash;
    }
    if (rc > 0) rc = kDCBadAnswer;
    Log(link, kLogOutcome, "EraseData failed with error %d (%d ms)", rc, Elapsed(start));
    return rc;
}

namespace {

// The value of a radio answer: the text after the first "K" (of "OK") and one
// more character. Null when there is no "K".
const char* RadioValue(const char* answer) {
    const char* k = strchr(answer, 'K');
    if (!k) return nullptr;
    return k[1] ? k + 2 : k + 1;
}

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

int MSRadioCommand(Terrel_Protocol& link, int32_t* channel, int32_t* subChannel, char* version,
                   int direction, uint32_t* bits) {
    if (!bits) return kDCMissingArgument;
    const uint32_t start = TickMs();
    const LoggerSettings& s = link.settings;
    if (!(s.capabilities & kCapRadioModem)) {
        *bits = 0;
        return kNoSuchSetting;
    }
    const uint32_t wanted = *bits;
    if (link.connection.linkKind == kLinkRadio) {
        if (direction == kWriteSetting) {
            *bits = 0;
            Log(link, kLogOutcome,
                "MSRadioCommand can't set radio parameters while connected over the radio");
            return kDCNotWritable;
        }
        if (version) version[0] = '\0';
        if (link.connection.configureRadio) {
            if (channel) *channel = link.connection.radioChannel;
            if (subChannel) *subChannel = link.connection.radioSubChannel;
            *bits = kSetRadioChannel | kSetRadioSubChannel;
            Log(link, kLogDetail,
                "MSRadioCommand knows the RCH is %d and RSCH is %d (can't get RVER)",
                link.connection.radioChannel, link.connection.radioSubChannel);
            return kDCOk;
        }
        int32_t ch = 0, sch = 0;
        uint32_t modemBits = kSetRadioChannel | kSetRadioSubChannel;
        const int rc = Zl4Config(link, &ch, &sch, nullptr, kReadSetting, &modemBits);
        if (channel && (modemBits & kSetRadioChannel)) *channel = ch;
        if (subChannel && (modemBits & kSetRadioSubChannel)) *subChannel = sch;
        *bits = modemBits;
        Log(link, kLogDetail,
            "MSRadioCommand asked the Zl4 and found the RCH is %d and RSCH is %d (can't get RVER)",
            ch, sch);
        return rc;
    }
    if (!s.newFirmware) {
        if (s.typeCode != kDevTypeTalo) {
            *bits = 0;
            return kDCNoAnswer;
        }
        // "term" connects the line straight through to the logger's radio modem.
        size_t written = 0;
        TSWrite(link.port, "term\r", 5, written);
        DelayMs(kTermPauseMs);
        const int rc = Zl4Config(link, channel, subChannel, version, direction, bits);
        DelayMs(kTermPauseMs);
        DeviceCommand(link, "term\r", '>', kClockTimeoutMs, nullptr, nullptr, nullptr);
        return rc;
    }

    int result = kDCOk;
    uint32_t done = 0;
    uint32_t failed = 0;
    char answer[32];
    char command[32];
    uint32_t ms = 0;
    auto exchange = [&](const char* text) {
        int length = static_cast<int>(sizeof answer);
        return DeviceCommand(link, text, '>', kRadioTimeoutMs, answer, &length, &ms);
    };
    if (direction == kWriteSetting) {
        const char* confirm = s.typeCode == kDevTypeTalo ? "OK\r\rOK" : "OK";
        struct Item {
            uint32_t bit;
            int32_t* value;
        };
        const Item items[] = {{kSetRadioChannel, channel}, {kSetRadioSubChannel, subChannel}};
        for (const Item& item : items) {
            if (!(wanted & item.bit) || !item.value) continue;
            if (item.bit == kSetRadioChannel) {
                snprintf(command, sizeof command, "set -rch %X\r",
                         static_cast<unsigned>(*item.value));
            } else {
                snprintf(command, sizeof command, "set -rsch %X\r",
                         static_cast<unsigned>(*item.value));
            }
            for (uint32_t attempt = 0; attempt < link.tries; ++attempt) {
                const int rc = exchange(command);
                if (rc > 0 && strstr(answer, "No Radio")) {
                    result = kDCNoRadio;
                    break;
                }
                if (rc > 0 && strstr(answer, confirm)) {
                    if (item.bit == kSetRadioChannel) {
                        Log(link, kLogDetail, "MSRadioCommand set rch to %d (%d ms)", *item.value,
                            static_cast<int>(ms));
                    } else {
                        Log(link, kLogDetail, "MSRadioCommand set rsch to %d (%d ms)", *item.value,
                            static_cast<int>(ms));
                    }
                    done |= item.bit;
                    failed &= ~item.bit;
                    break;
                }
                failed |= item.bit;
                if (rc < 0) result = rc;
            }
        }
    } else {
        if ((wanted & kSetRadioVersion) && version) {
            bool found = false;
            for (uint32_t attempt = 0; attempt < link.tries && !found; ++attempt) {
                const int rc = exchange("get -rver\r");
                if (rc == kDCEmptyAnswer) {
                    result = 0;
                    break;
                }
                if (rc > 0 && strstr(answer, "No Radio")) {
                    result = kDCNoRadio;
                    break;
                }
                const char* p = rc > 0 ? RadioValue(answer) : nullptr;
                char word[kDeviceNameMax + 1] = {};
                if (p) link_detail::ReadWord(p, word, kDeviceNameMax);
                if (p && strncmp(word, "00", 2) == 0) {
                    version[0] = '\0';
                    result = kDCNoRadio;
                    break;
                }
                if (p && strlen(word) == 4 && IsHexDigit(word[0]) && IsHexDigit(word[1]) &&
                    IsHexDigit(word[2]) && IsHexDigit(word[3])) {
                    memcpy(version, word, 5);
                    Log(link, kLogDetail, "MSRadioCommand found rver %s (%d ms)", version,
                        static_cast<int>(ms));
                    done |= kSetRadioVersion;
                    failed &= ~kSetRadioVersion;
                    found = true;
                } else {
                    failed |= kSetRadioVersion;
                    if (rc < 0) result = rc;
                }
            }
            if (!found && (failed & kSetRadioVersion)) {
                Log(link, kLogDetail, "MSRadioCommand could not find rver (%d ms)",
                    static_cast<int>(ms));
            }
        }
        struct Item {
            uint32_t bit;
            int32_t* value;
            const char* command;
            uint32_t max;
        };
        const Item items[] = {
            {kSetRadioChannel, channel, "get -rch\r", kMaxRadioChannel},
            {kSetRadioSubChannel, subChannel, "get -rsch\r", kMaxRadioSubChannel}};
        for (const Item& item : items) {
            if (!(wanted & item.bit) || !item.value || result == kDCNoRadio) continue;
            bool found = false;
            for (uint32_t attempt = 0; attempt < link.tries && !found; ++attempt) {
                const int rc = exchange(item.command);
                if (rc > 0 && strstr(answer, "No Radio")) {
                    result = kDCNoRadio;
                    break;
                }
                const char* p = rc > 0 ? RadioValue(answer) : nullptr;
                uint32_t v = 0;
                if (p && link_detail::ReadHex(p, v) && v <= item.max) {
                    *item.value = static_cast<int32_t>(v);
                    if (item.bit == kSetRadioChannel) {
                        Log(link, kLogDetail, "MSRadioCommand found rch %d (%d ms)", *item.value,
                            static_cast<int>(ms));
                    } else {
                        Log(link, kLogDetail, "MSRadioCommand found rsch %d (%d ms)", *item.value,
                            static_cast<int>(ms));
                    }
                    done |= item.bit;
                    failed &= ~item.bit;
                    found = true;
                } else {
                    failed |= item.bit;
                    if (rc < 0) result = rc;
                }
            }
            if (!found && (failed & item.bit)) {
                if (item.bit == kSetRadioChannel) {
                    Log(link, kLogDetail, "MSRadioCommand could not find rch (%d ms)",
                        static_cast<int>(ms));
                } else {
                    Log(link, kLogDetail, "MSRadioCommand could not find rsch (%d ms)",
                        static_cast<int>(ms));
                }
            }
        }
    }

    if ((result != 0 && result != kDCNoRadio) || done != 0) {
        if (result < 0 || failed != 0) {
            // Failures with nothing done are not a success.
            if (done != 0) {
                result = kDCPartial;
            } else if (result > 0) {
                result = kDCBadAnswer;
            }
            Log(link, kLogOutcome, "MSRadioCommand failed with error %d setting %d (%d ms)", result,
                static_cast<int>(failed), Elapsed(start));
        }
    } else {
        Log(link, kLogDetail, "MSRadioCommand couldn't find a radio (%d ms)", Elapsed(start));
    }
    *bits = done;
    return result;
}

}  // namespace tarsa
