#include "link/logger_commands.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "link/link_internal.h"
#include "link/logger_settings.h"
#include "log/tarsa_log.h"
#include "serial/timing.h"

namespace tarsa {

using link_detail::Log;

namespace {

constexpr uint32_t kSettingTimeoutMs = 1500;
constexpr size_t kAnswerSize = 32;
constexpr size_t kCellularAnswerSize = 64;
constexpr size_t kHostAnswerSize = 96;
constexpr size_t kAdcAnswerSize = 128;  // eleven numbers of up to three digits and more
constexpr size_t kMaxAnswerSize = 128;
constexpr const char* kMasked = "****";
constexpr int32_t kKel7RadioMode = 16;
constexpr int kPortCount = 5;

// How a write is confirmed.
enum class Confirm {
    Ok,          // "OK" in the answer
    OkOrPrompt,  // "OK" from new firmware, the prompt from old Talo firmware
    Prompt,      // the prompt
};

// Where a text value starts in a read answer and what a leading ">" means.
enum class TextRule {
    AfterSpace,          // after leading white space; ">" there: only the prompt came back
    AfterCr,             // after the first carriage return (or from the start); ">" there: no value
    AfterCrPromptEmpty,  // as AfterCr, but ">" there means only the prompt came back
};

bool Has(const Terrel_Protocol& link, uint32_t capability) {
    return (link.settings.capabilities & capability) != 0;
}

bool ValidDirection(int direction) {
    return direction == kReadSetting || direction == kWriteSetting;
}

int Exchange(Terrel_Protocol& link, const char* command, char* answer, size_t size, uint32_t& ms) {
    int length = static_cast<int>(size);
    return DeviceCommand(link, command, '>', kSettingTimeoutMs, answer, &length, &ms);
}

// Sends a "set" command. Returns 1 when confirmed, kDCBadAnswer when not, or
// the DeviceCommand failure.
int WriteSetting(Terrel_Protocol& link, const char* command, Confirm confirm, uint32_t& ms,
                 size_t answerSize = kAnswerSize) {
    char answer[kMaxAnswerSize];
    const int rc = Exchange(link, command, answer, answerSize, ms);
    const bool byPrompt = confirm == Confirm::Prompt ||
                          (confirm == Confirm::OkOrPrompt && !link.settings.newFirmware);
    // Old firmware confirms with its prompt alone, which DeviceCommand calls an empty answer.
    if (byPrompt && rc == kDCEmptyAnswer) return kDCOk;
    if (rc < 1) return rc;
    if (byPrompt) return strstr(answer, "\r>") ? kDCOk : kDCBadAnswer;
    return strstr(answer, "OK") ? kDCOk : kDCBadAnswer;
}

// Reads a text setting of at most `max` characters into `field`.
int ReadText(Terrel_Protocol& link, const char* command, TextRule rule, char* field, size_t max,
             size_t answerSize, uint32_t& ms) {
    char answer[kMaxAnswerSize];
    const int rc = Exchange(link, command, answer, answerSize, ms);
    if (rc < 1) return rc;
    const char* p = rule == TextRule::AfterSpace ? link_detail::SkipSpace(answer)
                                                 : link_detail::AfterFirstCr(answer);
    if (*p == '>') return rule == TextRule::AfterCr ? kDCBadAnswer : kDCEmptyAnswer;
    char value[kMaxAnswerSize];
    if (link_detail::ReadLine(p, value, max) == 0) return kDCBadAnswer;
    memcpy(field, value, strlen(value) + 1);
    return kDCOk;
}

// Reads a number answer: 1 and `value`, kDCBadAnswer when the answer holds
// no number, or the DeviceCommand failure.
int ReadNumber(Terrel_Protocol& link, const char* command, bool afterCr, int32_t& value,
               uint32_t& ms) {
    char answer[kAnswerSize];
    const int rc = Exchange(link, command, answer, sizeof answer, ms);
    if (rc < 1) return rc;
    const char* p = afterCr ? link_detail::AfterFirstCr(answer) : answer;
    return link_detail::ReadInt32(p, value) ? kDCOk : kDCBadAnswer;
}

// Reads five port bytes ("%d %d %d %d %d"); values above 255 become 255,
// negative ones 0. Returns 1, kDCBadAnswer with `found` < 5, or a failure.
int ReadFive(Terrel_Protocol& link, const char* command, uint8_t* out, int& found, uint32_t& ms) {
    char answer[kAnswerSize];
    found = 0;
    const int rc = Exchange(link, command, answer, sizeof answer, ms);
    if (rc < 1) return rc;
    int64_t values[kPortCount] = {};
    found = link_detail::ReadInts(answer, values, kPortCount);
    if (found < kPortCount) return kDCBadAnswer;
    for (int i = 0; i < kPortCount; ++i) {
        out[i] = static_cast<uint8_t>(values[i] > 255 ? 255 : (values[i] < 0 ? 0 : values[i]));
    }
    return kDCOk;
}

int Ms(uint32_t ms) {
    return static_cast<int>(ms);
}

}  // namespace

bool IsCellular(const Terrel_Protocol& link) {
    const LoggerSettings& s = link.settings;
    return s.typeCode == kDevTypeTalox && (s.trait & kTraitValid) && (s.trait & kTraitCellular);
}

int NameCommand(Terrel_Protocol& link, char* name, int direction) {
    if (!name) return kDCMissingArgument;
    if (!ValidDirection(direction)) return kDCOutOfRange;
    uint32_t ms = 0;
    int rc;
    if (direction == kWriteSetting) {
        rc = CheckDeviceName(name);
        if (rc != kDCOk) {
            Log(link, kLogOutcome, "NameCommand: \"%s\" is an illegal device name (error %d)", name,
                rc);
            return rc;
        }
        char command[32];
        snprintf(command, sizeof command, "set -i %s\r", name);
        rc = WriteSetting(link, command, Confirm::OkOrPrompt, ms);
        if (rc == kDCOk) {
            Log(link, kLogDetail, "NameCommand set device name to \"%s\" (%d ms)", name, Ms(ms));
        }
    } else {
        char answer[kAnswerSize];
        rc = Exchange(link, "get -i\r", answer, sizeof answer, ms);
        if (rc == kDCEmptyAnswer) return kDCEmptyName;
        if (rc > 0) {
            char word[kDeviceNameMax + 1];
            // A word that starts with the prompt is no name.
            if (link_detail::ReadWord(link_detail::AfterFirstCr(answer), word, kDeviceNameMax) >
                    0 &&
                word[0] != '>') {
                memcpy(name, word, strlen(word) + 1);
                Log(link, kLogDetail, "NameCommand found device named \"%s\" (%d ms)", name,
                    Ms(ms));
                rc = kDCOk;
            } else {
                Log(link, kLogDetail, "NameCommand couldn't find device name (%d ms)", Ms(ms));
                rc = kDCBadAnswer;
            }
        }
    }
    if (rc < 0) Log(link, kLogOutcome, "NameCommand failed with error %d (%d ms)", rc, Ms(ms));
    return rc;
}

int DeviceIDCommand(Terrel_Protocol& link, char* deviceId, int direction) {
    if (!Has(link, kCapSiteGroup)) return kNoSuchSetting;
    if (!deviceId) return kDCMissingArgument;
    if (!ValidDirection(direction)) return kDCOutOfRange;
    uint32_t ms = 0;
    int rc;
    if (direction == kWriteSetting) {
        char command[32];
        snprintf(command, sizeof command, "set -devid %.8s\r", deviceId);
        rc = WriteSetting(link, command, Confirm::Ok, ms);
        if (rc == kDCOk) {
            Log(link, kLogDetail, "DeviceIDCommand set DeviceID to \"%s\" (%d ms)", deviceId,
                Ms(ms));
        }
    } else {
        rc = ReadText(link, "get -devid\r", TextRule::AfterSpace, deviceId, 8, kAnswerSize, ms);
        if (rc == kDCOk) {
            Log(link, kLogDetail, "DeviceIDCommand found DeviceID \"%s\" (%d ms)", deviceId,
                Ms(ms));
        }
    }
    if (rc < 0) Log(link, kLogOutcome, "DeviceIDCommand failed with error %d (%d ms)", rc, Ms(ms));
    return rc;
}

int ReportCommand(Terrel_Protocol& link, int32_t* mode, int direction) {
    if (!Has(link, kCapSiteGroup)) return kNoSuchSetting;
    if (!mode) return kDCMissingArgument;
    if (!ValidDirection(direction)) return kDCOutOfRange;
    uint32_t ms = 0;
    int rc;
    if (direction == kWriteSetting) {
        char command[32];
        snprintf(command, sizeof command, "set -report %d\r", *mode);
        rc = WriteSetting(link, command, Confirm::Ok, ms);
        if (rc == kDCOk) {
            Log(link, kLogDetail, "ReportCommand set report mode to %d (%d ms)", *mode, Ms(ms));
        }
    } else {
        int32_t value = 0;
        rc = ReadNumber(link, "get -report\r", false, value, ms);
        if (rc == kDCOk) {
            *mode = value;
            Log(link, kLogDetail, "ReportCommand found device report mode %d (%d ms)", value,
                Ms(ms));
        } else if (rc == kDCBadAnswer) {
            Log(link, kLogDetail, "ReportCommand could not find device report mode (%d ms)",
                Ms(ms));
        }
    }
    if (rc < 0) Log(link, kLogOutcome, "ReportCommand failed with error %d (%d ms)", rc, Ms(ms));
    return rc;
}

int DepthCommand(Terrel_Protocol& link, uint8_t* depths, int direction) {
    if (!Has(link, kCapSiteGroup)) {
        if (depths && direction == kReadSetting) memset(depths, 255, kPortCount);
        return kNoSuchSetting;
    }
    if (!depths) return kDCMissingArgument;
    if (!ValidDirection(direction)) return kDCOutOfRange;
    uint32_t ms = 0;
    int rc;
    if (direction == kWriteSetting) {
        char command[48];
        snprintf(command, sizeof command, "set -depth %d %d %d %d %d\r", depths[0], depths[1],
                 depths[2], depths[3], depths[4]);
        rc = WriteSetting(link, command, Confirm::Ok, ms);
        if (rc == kDCOk) {
            Log(link, kLogDetail, "DepthCommand set depths to %d %d %d %d %d (%d ms)", depths[0],
                depths[1], depths[2], depths[3], depths[4], Ms(ms));
        }
    } else {
        uint8_t values[kPortCount];
        int found = 0;
        rc = ReadFive(link, "get -depth\r", values, found, ms);
        if (rc == kDCOk) {
            memcpy(depths, values, kPortCount);
            Log(link, kLogDetail, "DepthCommand: depths are %d %d %d %d %d (%d ms)", depths[0],
                depths[1], depths[2], depths[3], depths[4], Ms(ms));
        } else if (rc == kDCBadAnswer) {
            Log(link, kLogDetail, "DepthCommand only found %d of %d port depths (%d ms)", found,
                kPortCount, Ms(ms));
        }
    }
    if (rc < 0) Log(link, kLogOutcome, "DepthCommand failed with error %d (%d ms)", rc, Ms(ms));
    return rc;
}

int SiteCommand(Terrel_Protocol& link, char* site, int direction) {
    if (!Has(link, kCapSiteGroup)) return kNoSuchSetting;
    if (!site) return kDCMissingArgument;
    if (!ValidDirection(direction)) return kDCOutOfRange;
    uint32_t ms = 0;
    int rc;
    if (direction == kWriteSetting) {
        char command[48];
        snprintf(command, sizeof command, "set -site %.25s\r", site);
        rc = WriteSetting(link, command, Confirm::Ok, ms);
        if (rc == kDCOk) {
            Log(link, kLogDetail, "SiteCommand set site to \"%s\" (%d ms)", site, Ms(ms));
        }
    } else {
        rc = ReadText(link, "get -site\r", TextRule::AfterSpace, site, 25, kAnswerSize, ms);
        if (rc == kDCOk) {
            Log(link, kLogDetail, "SiteCommand found site name \"%s\" (%d ms)", site, Ms(ms));
        }
    }
    if (rc < 0) Log(link, kLogOutcome, "SiteCommand failed with error %d (%d ms)", rc, Ms(ms));
    return rc;
}

namespace {

// Latitude and longitude share their shape: "set -lat %+.5f" (exactly 0
// clears the setting with an empty value) and a "%lf" read.
int ReadCoordinate(Terrel_Protocol& link, const char* command, double& value, uint32_t& ms) {
    char answer[kAnswerSize];
    const int rc = Exchange(link, command, answer, sizeof answer, ms);
    if (rc < 1) return rc;
    const char* p = link_detail::SkipSpace(answer);
    char* end = nullptr;
    const double v = strtod(p, &end);
    if (end == p || !std::isfinite(v)) return kDCEmptyAnswer;
    value = v;
    return kDCOk;
}

}  // namespace

int LatitudeCommand(Terrel_Protocol& link, double* latitude, int direction) {
    if (!Has(link, kCapPosition)) return kNoSuchSetting;
    if (!latitude) return kDCMissingArgument;
    if (!ValidDirection(direction)) return kDCOutOfRange;
    uint32_t ms = 0;
    int rc;
    if (direction == kWriteSetting) {
        char command[48];
        if (!std::isfinite(*latitude)) {
            rc = kDCOutOfRange;
        } else {
            if (*latitude == 0.0) {
                snprintf(command, sizeof command, "set -lat \r");
            } else {
                snprintf(command, sizeof command, "set -lat %+.5f\r", *latitude);
            }
            rc = WriteSetting(link, command, Confirm::Ok, ms);
            if (rc == kDCOk) {
                Log(link, kLogDetail, "LatitudeCommand set latitude to %+.5f (%d ms)", *latitude,
                    Ms(ms));
            }
        }
    } else {
        double value = 0;
        rc = ReadCoordinate(link, "get -lat\r", value, ms);
        if (rc == kDCOk) {
            *latitude = value;
            Log(link, kLogDetail, "LatitudeCommand found device latitude %+.5f (%d ms)", value,
                Ms(ms));
        } else if (rc == kDCEmptyAnswer) {
            Log(link, kLogDetail, "LatitudeCommand could not find device latitude (%d ms)", Ms(ms));
        }
    }
    if (rc < 0) Log(link, kLogOutcome, "LatitudeCommand failed with error %d (%d ms)", rc, Ms(ms));
    return rc;
}

int LongitudeCommand(Terrel_Protocol& link, double* longitude, int direction) {
    if (!Has(link, kCapPosition)) return kNoSuchSetting;
    if (!longitude) return kDCMissingArgument;
    if (!ValidDirection(direction)) return kDCOutOfRange;
    uint32_t ms = 0;
    int rc;
    if (direction == kWriteSetting) {
        char command[48];
        if (!std::isfinite(*longitude)) {
            rc = kDCOutOfRange;
        } else {
            if (*longitude == 0.0) {
                snprintf(command, sizeof command, "set -long \r");
            } else {
                snprintf(command, sizeof command, "set -long %+.5f\r", *longitude);
            }
            rc = WriteSetting(link, command, Confirm::Ok, ms);
            if (rc == kDCOk) {
                Log(link, kLogDetail, "LongitudeCommand set longitude to %+.5f (%d ms)", *longitude,
                    Ms(ms));
            }
        }
    } else {
        double value = 0;
        rc = ReadCoordinate(link, "get -long\r", value, ms);
        if (rc == kDCOk) {
            *longitude = value;
            Log(link, kLogDetail, "LongitudeCommand found device longitude %+.5f (%d ms)", value,
                Ms(ms));
        } else if (rc == kDCEmptyAnswer) {
            Log(link, kLogDetail, "LongitudeCommand could not find device longitude (%d ms)",
                Ms(ms));
        }
    }
    if (rc < 0) Log(link, kLogOutcome, "LongitudeCommand failed with error %d (%d ms)", rc, Ms(ms));
    return rc;
}

int TimeZoneCommand(Terrel_Protocol& link, int32_t* zone, int direction) {
    if (!Has(link, kCapSiteGroup)) return kNoSuchSetting;
    if (!zone) return kDCMissingArgument;
    if (!ValidDirection(direction)) return kDCOutOfRange;
    uint32_t ms = 0;
    int rc;
    if (direction == kWriteSetting) {
        if (*zone == -2) *zone = UtcOffsetSeconds() / 900;
        char command[32];
        snprintf(command, sizeof command, "set -tz %d\r", *zone);
        rc = WriteSetting(link, command, Confirm::Ok, ms);
        if (rc == kDCOk) {
            Log(link, kLogDetail, "TimeZoneCommand set time zone to %d (%d ms)", *zone, Ms(ms));
        }
    } else {
        int32_t value = 0;
        rc = ReadNumber(link, "get -tz\r", false, value, ms);
        if (rc == kDCOk) {
            *zone = value;
            Log(link, kLogDetail, "TimeZoneCommand found device time zone %d (%d ms)", value,
                Ms(ms));
        } else if (rc == kDCBadAnswer) {
            Log(link, kLogDetail, "TimeZoneCommand could not find device time zone (%d ms)",
                Ms(ms));
        }
    }
    if (rc < 0) Log(link, kLogOutcome, "TimeZoneCommand failed with error %d (%d ms)", rc, Ms(ms));
    return rc;
}

int SNCommand(Terrel_Protocol& link, char* serial, int direction) {
    if (direction == kWriteSetting && !link.settings.newFirmware) return kNoSuchSetting;
    if (!serial) return kDCMissingArgument;
    if (!ValidDirection(direction)) return kDCOutOfRange;
    uint32_t ms = 0;
    int rc = kDCBadAnswer;
    if (direction == kWriteSetting) {
        char command[40];
        snprintf(command, sizeof command, "set -sn %.15s\r", serial);
        rc = WriteSetting(link, command, Confirm::Ok, ms);
        if (rc == kDCOk) {
            Log(link, kLogDetail, "SNCommand set device serial number to \"%s\" (%d ms)", serial,
                Ms(ms));
        }
    } else {
        // The serial number is the one read that is tried again when the
        // answer holds no value.
        for (uint32_t attempt = 0; attempt < link.tries; ++attempt) {
            rc = ReadText(link, "get -sn\r", TextRule::AfterCr, serial, 15, kAnswerSize, ms);
            if (rc != kDCBadAnswer) break;
        }
        if (rc == kDCOk) {
            Log(link, kLogDetail, "SNCommand found device serial number \"%s\" (%d ms)", serial,
                Ms(ms));
        }
    }
    if (rc < 0) Log(link, kLogOutcome, "SNCommand failed with error %d (%d ms)", rc, Ms(ms));
    return rc;
}

int WakeCommand(Terrel_Protocol& link, int32_t* interval, int direction) {
    if (!Has(link, kCapWakePadc)) return kNoSuchSetting;
    if (!interval) return kDCMissingArgument;
    if (!ValidDirection(direction)) return kDCOutOfRange;
    uint32_t ms = 0;
    int rc;
    if (direction == kWriteSetting) {
        if (*interval < 0) {
            rc = kDCOutOfRange;
        } else {
            char command[32];
            snprintf(command, sizeof command, "set -w %d\r", *interval);
            rc = WriteSetting(link, command, Confirm::OkOrPrompt, ms);
            if (rc == kDCOk) {
                Log(link, kLogDetail, "WakeCommand set device measurement interval to %d (%d ms)",
                    *interval, Ms(ms));
            }
        }
    } else {
        int32_t value = 0;
        rc = ReadNumber(link, "get -w\r", true, value, ms);
        if (rc == kDCOk) {
            *interval = value;
            Log(link, kLogDetail, "WakeCommand found device measurement interval %d (%d ms)", value,
                Ms(ms));
        } else if (rc == kDCBadAnswer) {
            Log(link, kLogDetail, "WakeCommand could not find device measurement interval (%d ms)",
                Ms(ms));
        }
    }
    if (rc < 0) Log(link, kLogOutcome, "WakeCommand failed with error %d (%d ms)", rc, Ms(ms));
    return rc;
}

int PADCCommand(Terrel_Protocol& link, int32_t* hertz, int direction) {
    if (!Has(link, kCapWakePadc)) return kNoSuchSetting;
    if (!hertz) return kDCMissingArgument;
    if (!ValidDirection(direction)) return kDCOutOfRange;
    const bool newFirmware = link.settings.newFirmware != 0;
    if (!newFirmware && link.settings.versionNumber <= 164) {
        *hertz = -1;
        return kNoSuchSetting;
    }
    uint32_t ms = 0;
    int rc;
    if (direction == kWriteSetting) {
        if (*hertz < 0) {
            rc = kDCOutOfRange;
        } else {
            char command[32];
            if (newFirmware) {
                snprintf(command, sizeof command, "set -padc %d\r", *hertz);
            } else {
                snprintf(command, sizeof command, "set -p %d\r", *hertz);
            }
            rc = WriteSetting(link, command, newFirmware ? Confirm::Ok : Confirm::Prompt, ms);
            if (rc == kDCOk) {
                Log(link, kLogDetail, "PADCCommand set device PADC %d Hz (%d ms)", *hertz, Ms(ms));
            }
        }
    } else {
        int32_t value = 0;
        rc = ReadNumber(link, newFirmware ? "get -padc\r" : "hertz\r", true, value, ms);
        if (rc == kDCOk) {
            *hertz = value;
            Log(link, kLogDetail, "PADCCommand found device PADC %d Hz (%d ms)", value, Ms(ms));
        } else if (rc == kDCBadAnswer) {
            Log(link, kLogDetail, "PADCCommand could not find device PADC value (%d ms)", Ms(ms));
        }
    }
    if (rc < 0) Log(link, kLogOutcome, "PADCCommand failed with error %d (%d ms)", rc, Ms(ms));
    return rc;
}

int PortsCommand(Terrel_Protocol& link, uint8_t* ports, int direction) {
    if (!Has(link, kCapPorts)) {
        if (ports && direction == kReadSetting) memset(ports, 0, kPortCount);
        return kNoSuchSetting;
    }
    if (!ports) return kDCMissingArgument;
    if (!ValidDirection(direction)) return kDCOutOfRange;
    uint32_t ms = 0;
    int rc;
    if (direction == kWriteSetting) {
        char command[48];
        snprintf(command, sizeof command, "set -ports %d %d %d %d %d\r", ports[0], ports[1],
                 ports[2], ports[3], ports[4]);
        rc = WriteSetting(link, command, Confirm::Ok, ms);
        if (rc == kDCOk) {
            Log(link, kLogDetail, "PortsCommand set ports to %d %d %d %d %d (%d ms)", ports[0],
                ports[1], ports[2], ports[3], ports[4], Ms(ms));
        }
    } else {
        uint8_t values[kPortCount];
        int found = 0;
        rc = ReadFive(link, "get -ports\r", values, found, ms);
        if (rc == kDCOk) {
            memcpy(ports, values, kPortCount);
            Log(link, kLogDetail, "PortsCommand: ports are %d %d %d %d %d (%d ms)", ports[0],
                ports[1], ports[2], ports[3], ports[4], Ms(ms));
        } else if (rc == kDCBadAnswer) {
            Log(link, kLogDetail, "PortsCommand only found %d of %d ports (%d ms)", found,
                kPortCount, Ms(ms));
        }
    }
    if (rc < 0) Log(link, kLogOutcome, "PortsCommand failed with error %d (%d ms)", rc, Ms(ms));
    return rc;
}

int ADCcalCommand(Terrel_Protocol& link, int kind, uint8_t* first, uint8_t* second, int direction) {
    if (!Has(link, kCapAdcCal)) return kNoSuchSetting;
    const char* name = kind == 1 ? "-adc30" : (kind == 2 ? "-adc15" : nullptr);
    if (!name || !ValidDirection(direction)) return kDCOutOfRange;
    if (!first || !second) return kDCMissingArgument;
    const bool singlePair = Has(link, kCapAdcSinglePair);
    uint32_t ms = 0;
    int rc;
    char command[96];
    if (direction == kWriteSetting) {
        unsigned sum = 0;
        for (int i = 0; i < kPortCount; ++i) sum += first[i] + second[i];
        const unsigned checksum = sum % 256;
        if (singlePair) {
            snprintf(command, sizeof command, "set %s %u %u %u\r", name, first[0], second[0],
                     static_cast<unsigned>((first[0] + second[0]) % 256));
        } else {
            snprintf(command, sizeof command, "set %s %u %u %u %u %u %u %u %u %u %u %u\r", name,
                     first[0], second[0], first[1], second[1], first[2], second[2], first[3],
                     second[3], first[4], second[4], checksum);
        }
        rc = WriteSetting(link, command, Confirm::Ok, ms, kAdcAnswerSize);
        if (rc == kDCOk) {
            Log(link, kLogDetail, "ADCcalCommand set %s %u %u %u %u %u %u %u %u %u %u %u (%d ms)",
                name, first[0], second[0], first[1], second[1], first[2], second[2], first[3],
                second[3], first[4], second[4], checksum, Ms(ms));
        }
    } else {
        snprintf(command, sizeof command, "get %s\r", name);
        char answer[kAdcAnswerSize];
        rc = Exchange(link, command, answer, sizeof answer, ms);
        if (rc > 0) {
            int64_t values[11] = {};
            const int found = link_detail::ReadInts(answer, values, 11);
            const int expected = singlePair ? 3 : 11;
            if (found != expected) {
                Log(link, kLogDetail, "ADCcalCommand only found %d of %d cal %s factors (%d ms)",
                    found, 11, name, Ms(ms));
                rc = kDCBadAnswer;
            } else {
                rc = kDCOk;
                // The single-pair form carries one pair; the other factors are none.
                if (singlePair) {
                    memset(first, 0, kPortCount);
                    memset(second, 0, kPortCount);
                }
                const int pairs = singlePair ? 1 : kPortCount;
                for (int i = 0; i < pairs * 2; ++i) {
                    const int64_t v = values[i];
                    uint8_t stored = static_cast<uint8_t>(v <= 0 ? 0 : (v >= 255 ? 255 : v));
                    if (v < 1 || v > 254) rc = kNoSuchSetting;
                    (i % 2 == 0 ? first : second)[i / 2] = stored;
                }
                const int64_t checksumRead = values[expected - 1];
                unsigned sum = 0;
                for (int i = 0; i < kPortCount; ++i) sum += first[i] + second[i];
                if (static_cast<int64_t>(sum % 256) != checksumRead) rc = kNoSuchSetting;
                const unsigned shownChecksum = static_cast<unsigned>(
                    checksumRead < 0 ? 0 : (checksumRead > 0xFFFF ? 0xFFFF : checksumRead));
                Log(link, kLogDetail,
                    "ADCcalCommand found (%s) %s %u %u %u %u %u %u %u %u %u %u %u (%d ms)",
                    rc == kDCOk ? "valid" : "not valid", name, first[0], second[0], first[1],
                    second[1], first[2], second[2], first[3], second[3], first[4], second[4],
                    shownChecksum, Ms(ms));
            }
        }
    }
    if (rc < 0) {
        Log(link, kLogOutcome, "ADCcalCommand (%s) failed with error %d (%d ms)", name, rc, Ms(ms));
    }
    return rc;
}

int DataParameterCommand(Terrel_Protocol& link, int32_t* value, int direction) {
    if (!Has(link, kCapDataParameter)) return kNoSuchSetting;
    if (!value) return kDCMissingArgument;
    if (!ValidDirection(direction)) return kDCOutOfRange;
    uint32_t ms = 0;
    int rc;
    if (direction == kWriteSetting) {
        char command[32];
        snprintf(command, sizeof command, "set -data %d\r", *value);
        rc = WriteSetting(link, command, Confirm::Ok, ms);
        if (rc == kDCOk) {
            Log(link, kLogDetail, "DataParameterCommand set data parameter to %d (%d ms)", *value,
                Ms(ms));
        }
    } else {
        int32_t v = 0;
        rc = ReadNumber(link, "get -data\r", false, v, ms);
        if (rc == kDCOk) {
            *value = v;
            Log(link, kLogDetail, "DataParameterCommand found data parameter %d (%d ms)", v,
                Ms(ms));
        } else if (rc == kDCBadAnswer) {
            Log(link, kLogDetail,
                "DataParameterCommand could not find device data parameter (%d ms)", Ms(ms));
        }
    }
    if (rc < 0) {
        Log(link, kLogOutcome, "DataParameterCommand failed with error %d (%d ms)", rc, Ms(ms));
    }
    return rc;
}

int TarsaBuildCommand(Terrel_Protocol& link, char* build, int direction) {
    if (!Has(link, kCapBuildId)) return kNoSuchSetting;
    if (!build) return kDCMissingArgument;
    if (!ValidDirection(direction)) return kDCOutOfRange;
    uint32_t ms = 0;
    int rc;
    if (direction == kWriteSetting) {
        char command[40];
        snprintf(command, sizeof command, "set -build %.16s\r", build);
        rc = WriteSetting(link, command, Confirm::Ok, ms);
        if (rc == kDCOk) {
            Log(link, kLogDetail, "TarsaBuildCommand set TarsaBuild number to \"%s\" (%d ms)",
                build, Ms(ms));
        }
    } else {
        rc = ReadText(link, "get -build\r", TextRule::AfterCrPromptEmpty, build, 16, kAnswerSize,
                      ms);
        if (rc == kDCOk) {
            Log(link, kLogDetail, "TarsaBuildCommand found TarsaBuild info \"%s\" (%d ms)", build,
                Ms(ms));
        }
    }
    if (rc < 0)
        Log(link, kLogOutcome, "TarsaBuildCommand failed with error %d (%d ms)", rc, Ms(ms));
    return rc;
}

int TraitCommand(Terrel_Protocol& link, uint32_t* trait, int direction) {
    if (!trait) return kDCMissingArgument;
    if (!ValidDirection(direction)) return kDCOutOfRange;
    uint32_t ms = 0;
    int rc;
    if (direction == kWriteSetting) {
        if (!Has(link, kCapSiteGroup)) {
            rc = kDCNotWritable;
        } else {
            char command[32];
            snprintf(command, sizeof command, "set -trait %d\r", static_cast<int>(~*trait & 0xFF));
            rc = WriteSetting(link, command, Confirm::Ok, ms);
            if (rc == kDCOk) {
                Log(link, kLogDetail, "TraitCommand set trait to %d (%d ms)",
                    static_cast<int>(*trait), Ms(ms));
            }
        }
    } else if (link.settings.typeCode == kDevTypeBrisen) {
        *trait = kTraitValid | kTraitRadio;
        Log(link, kLogDetail, "TraitCommand: set trait to %d for Brisen", static_cast<int>(*trait));
        rc = kDCOk;
    } else if (Has(link, kCapStoresTrait)) {
        int32_t value = 0;
        rc = ReadNumber(link, "get -trait\r", false, value, ms);
        if (rc == kDCOk && (value < 0 || value > 255)) rc = kDCBadAnswer;
        if (rc == kDCOk) {
            *trait = static_cast<uint32_t>(255 - value) | kTraitValid;
            Log(link, kLogDetail, "TraitCommand: found %d (%d ms)", static_cast<int>(*trait),
                Ms(ms));
        }
    } else if (!Has(link, kCapRadioModem)) {
        *trait = kTraitValid;
        rc = kDCOk;
    } else if (link.connection.linkKind == kLinkRadio) {
        *trait = kTraitValid | kTraitRadio;
        Log(link, kLogDetail, "TraitCommand (emulated): knows %d", static_cast<int>(*trait));
        rc = kDCOk;
    } else {
        char version[kDeviceNameMax + 1] = {};
        uint32_t bits = kSetRadioVersion;
        const uint32_t start = TickMs();
        rc = MSRadioCommand(link, nullptr, nullptr, version, kReadSetting, &bits);
        ms = TickMs() - start;
        // A logger that reports no radio is an answer too: the trait has no modem.
        if (rc >= 0 || rc == kDCNoRadio) {
            *trait = (bits & kSetRadioVersion) ? (kTraitValid | kTraitRadio) : kTraitValid;
            Log(link, kLogDetail, "TraitCommand (emulated): found %d", static_cast<int>(*trait));
            rc = kDCOk;
        }
    }
    if (rc < 0) Log(link, kLogOutcome, "TraitCommand failed with error %d (%d ms)", rc, Ms(ms));
    return rc;
}

int APNCommand(Terrel_Protocol& link, char* apn, int direction) {
    if (!IsCellular(link)) return kNoSuchSetting;
    if (!apn) return kDCMissingArgument;
    if (!ValidDirection(direction)) return kDCOutOfRange;
    uint32_t ms = 0;
    int rc;
    if (direction == kWriteSetting) {
        char command[64];
        snprintf(command, sizeof command, "set -apn %.35s\r", apn);
        rc = WriteSetting(link, command, Confirm::Ok, ms, kCellularAnswerSize);
        if (rc == kDCOk) Log(link, kLogDetail, "APNCommand set APN to \"%s\" (%d ms)", apn, Ms(ms));
    } else {
        rc = ReadText(link, "get -apn\r", TextRule::AfterSpace, apn, 35, kCellularAnswerSize, ms);
        if (rc == kDCOk) Log(link, kLogDetail, "APNCommand found APN \"%s\" (%d ms)", apn, Ms(ms));
    }
    if (rc < 0) Log(link, kLogOutcome, "APNCommand failed with error %d (%d ms)", rc, Ms(ms));
    return rc;
}

int APNUserCommand(Terrel_Protocol& link, char* user, int direction) {
    if (!IsCellular(link)) return kNoSuchSetting;
    if (!user) return kDCMissingArgument;
    if (!ValidDirection(direction)) return kDCOutOfRange;
    uint32_t ms = 0;
    int rc;
    if (direction == kWriteSetting) {
        char command[64];
        snprintf(command, sizeof command, "set -user %.35s\r", user);
        rc = WriteSetting(link, command, Confirm::Ok, ms, kCellularAnswerSize);
        if (rc == kDCOk) {
            Log(link, kLogDetail, "APNUserCommand set APN user name to \"%s\" (%d ms)", user,
                Ms(ms));
        }
    } else {
        rc = ReadText(link, "get -user\r", TextRule::AfterSpace, user, 35, kCellularAnswerSize, ms);
        if (rc == kDCOk) {
            Log(link, kLogDetail, "APNUserCommand found APN user name \"%s\" (%d ms)", user,
                Ms(ms));
        }
    }
    if (rc < 0) Log(link, kLogOutcome, "APNUserCommand failed with error %d (%d ms)", rc, Ms(ms));
    return rc;
}

int APNPasswdCommand(Terrel_Protocol& link, char* password, int direction) {
    if (!IsCellular(link)) return kNoSuchSetting;
    if (!password) return kDCMissingArgument;
    if (!ValidDirection(direction)) return kDCOutOfRange;
    uint32_t ms = 0;
    int rc;
    if (direction == kWriteSetting) {
        char command[64];
        snprintf(command, sizeof command, "set -passwd %.35s\r", password);
        rc = WriteSetting(link, command, Confirm::Ok, ms, kCellularAnswerSize);
        if (rc == kDCOk) {
            Log(link, kLogDetail, "APNPasswdCommand set APN password to \"%s\" (%d ms)", kMasked,
                Ms(ms));
        }
    } else {
        rc = ReadText(link, "get -passwd\r", TextRule::AfterSpace, password, 35,
                      kCellularAnswerSize, ms);
        if (rc == kDCOk) {
            Log(link, kLogDetail, "APNPasswdCommand found APN password \"%s\" (%d ms)", kMasked,
                Ms(ms));
        }
    }
    if (rc < 0) Log(link, kLogOutcome, "APNPasswdCommand failed with error %d (%d ms)", rc, Ms(ms));
    return rc;
}

int AuthKeyCommand(Terrel_Protocol& link, char* key, int direction) {
    if (!IsCellular(link)) return kNoSuchSetting;
    if (!key) return kDCMissingArgument;
    if (!ValidDirection(direction)) return kDCOutOfRange;
    constexpr size_t kKeyDigits = 32;
    uint32_t ms = 0;
    int rc;
    if (direction == kWriteSetting) {
        size_t digits = 0;
        while (digits < kKeyDigits && isxdigit(static_cast<unsigned char>(key[digits]))) ++digits;
        if (digits < kKeyDigits) {
            rc = kDCOutOfRange;
        } else {
            char command[64];
            snprintf(command, sizeof command, "set -authkey %.32s\r", key);
            rc = WriteSetting(link, command, Confirm::Ok, ms, kCellularAnswerSize);
            if (rc == kDCOk) {
                Log(link, kLogDetail, "AuthKeyCommand set authkey to \"%s\" (%d ms)", kMasked,
                    Ms(ms));
            }
        }
    } else {
        rc = ReadText(link, "get -authkey\r", TextRule::AfterSpace, key, kKeyDigits,
                      kCellularAnswerSize, ms);
        if (rc == kDCOk) {
            Log(link, kLogDetail, "AuthKeyCommand found authkey \"%s\" (%d ms)", kMasked, Ms(ms));
        } else if (rc == kDCRejected) {
            rc = ReadText(link, "get -teakey\r", TextRule::AfterSpace, key, kKeyDigits,
                          kCellularAnswerSize, ms);
            if (rc == kDCOk) {
                Log(link, kLogDetail, "AuthKeyCommand found authkey (as teakey) \"%s\" (%d ms)",
                    kMasked, Ms(ms));
            }
        }
    }
    if (rc < 0) Log(link, kLogOutcome, "AuthKeyCommand failed with error %d (%d ms)", rc, Ms(ms));
    return rc;
}

int HostCommand(Terrel_Protocol& link, char* host, int direction) {
    if (!IsCellular(link)) return kNoSuchSetting;
    if (!host) return kDCMissingArgument;
    if (!ValidDirection(direction)) return kDCOutOfRange;
    uint32_t ms = 0;
    int rc;
    if (direction == kWriteSetting) {
        char command[96];
        snprintf(command, sizeof command, "set -host %.63s\r", host);
        rc = WriteSetting(link, command, Confirm::Ok, ms, kHostAnswerSize);
        if (rc == kDCOk) {
            Log(link, kLogDetail, "HostCommand set remote host name to \"%s\" (%d ms)", host,
                Ms(ms));
        }
    } else {
        rc = ReadText(link, "get -host\r", TextRule::AfterSpace, host, 63, kHostAnswerSize, ms);
        if (rc == kDCOk) {
            Log(link, kLogDetail, "HostCommand found the remote host name \"%s\" (%d ms)", host,
                Ms(ms));
        }
    }
    if (rc < 0) Log(link, kLogOutcome, "HostCommand failed with error %d (%d ms)", rc, Ms(ms));
    return rc;
}

int IPPortCommand(Terrel_Protocol& link, int32_t* port, int direction) {
    if (!IsCellular(link)) return kNoSuchSetting;
    if (!port) return kDCMissingArgument;
    if (!ValidDirection(direction)) return kDCOutOfRange;
    uint32_t ms = 0;
    int rc;
    if (direction == kWriteSetting) {
        char command[32];
        snprintf(command, sizeof command, "set -ipport %d\r", *port);
        rc = WriteSetting(link, command, Confirm::Ok, ms);
        if (rc == kDCOk)
            Log(link, kLogDetail, "IPPortCommand set ipport to %d (%d ms)", *port, Ms(ms));
    } else {
        int32_t value = 0;
        rc = ReadNumber(link, "get -ipport\r", false, value, ms);
        if (rc == kDCOk) {
            *port = value;
            Log(link, kLogDetail, "IPPortCommand found device ipport %d (%d ms)", value, Ms(ms));
        } else if (rc == kDCBadAnswer) {
            Log(link, kLogDetail, "IPPortCommand could not find device ipport (%d ms)", Ms(ms));
        }
    }
    if (rc < 0) Log(link, kLogOutcome, "IPPortCommand failed with error %d (%d ms)", rc, Ms(ms));
    return rc;
}

int RmodeCommand(Terrel_Protocol& link, int32_t* mode, int direction) {
    if (!Has(link, kCapRadioMode)) return kNoSuchSetting;
    if (!mode) return kDCMissingArgument;
    if (!ValidDirection(direction)) return kDCOutOfRange;
    if (link.settings.typeCode == kDevTypeKel7) {
        if (direction == kReadSetting) *mode = kKel7RadioMode;
        Log(link, kLogDetail, "RmodeCommand found an kel7 that is always mode %d", kKel7RadioMode);
        return kDCOk;
    }
    uint32_t ms = 0;
    int rc;
    if (direction == kWriteSetting) {
        char command[32];
        snprintf(command, sizeof command, "set -r %d\r", *mode);
        rc = WriteSetting(link, command, Confirm::OkOrPrompt, ms);
        if (rc == kDCOk)
            Log(link, kLogDetail, "RmodeCommand set rmode to %d (%d ms)", *mode, Ms(ms));
    } else {
        int32_t value = 0;
        rc = ReadNumber(link, "get -r\r", false, value, ms);
        if (rc == kDCOk) {
            *mode = value;
            Log(link, kLogDetail, "RmodeCommand found rmode %d (%d ms)", value, Ms(ms));
        } else if (rc == kDCBadAnswer) {
            Log(link, kLogDetail, "RmodeCommand could not find device rmode (%d ms)", Ms(ms));
        }
    }
    if (rc < 0) Log(link, kLogOutcome, "RmodeCommand failed with error %d (%d ms)", rc, Ms(ms));
    return rc;
}

}  // namespace tarsa
