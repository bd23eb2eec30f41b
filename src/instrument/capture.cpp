// Settings capture and restore: what a firmware update must not lose.
//
// The data loggers are read and written as a whole through the logger
// protocol, the digital sensor through the SDI-12 operations, and every
// other instrument one setting at a time with "get -x" / "set -x value"
// commands selected by a 32-bit flag word. The commands, the order in which
// the bits are handled and the flag word of each instrument type are tables
// below; the code walks them. A setting that fails does not stop the others
// (the result is then -35); an echo, a relay or a silent instrument stops
// the walk at once.
//
// Capture writes the settings file; restore reads it when nothing is held
// in memory. Deciding whether a partial capture is good enough is the
// workflow's business, not this file's.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>

#include "instrument/protocol_internal.h"
#include "link/logger_settings.h"
#include "log/tarsa_log.h"
#include "sdi12/sensor_operations.h"

namespace tarsa {

using tp_detail::Exchange;
using tp_detail::Log;

namespace {

constexpr uint32_t kGetTimeoutMs = 2000;
constexpr uint32_t kSetTimeoutMs = 2000;
constexpr size_t kSetAnswerSize = 64;
constexpr uint32_t kSerialTimeoutMs = 4000;
constexpr int kSerialTries = 3;
constexpr size_t kSensorAnswerSize = 32;
constexpr size_t kSerialMax = 15;
constexpr uint32_t kSoluxFullCaptureVersion = 200;
constexpr uint32_t kHygra8UvalsVersion = 205;

// ---- Tables -----------------------------------------------------------------

using TextField = std::span<char> (*)(InstrumentSettings&);
using NumberField = int32_t* (*)(InstrumentSettings&);

// One setting read with one "get" and written with one "set" line. `logName`
// is how the write's log line names it.
struct SettingCommand {
    uint32_t bit;
    const char* get;
    const char* set;  // null: the setting cannot be written
    const char* logName;
    TextField text;  // exactly one of text and number
    NumberField number;
};

#define TEXT(field) [](InstrumentSettings& s) { return std::span<char>(s.field); }, nullptr
#define NUMBER(field) nullptr, [](InstrumentSettings& s) { return &s.field; }

// clang-format off
const SettingCommand kCommands[] = {
    {kInstName,      "get -i",         "set -i",         "name",                  TEXT(name)},
    {kInstLang,      "get -lang",      "set -lang",      "device language",       NUMBER(lang)},
    {kInstContr,     "get -contr",     "set -contr",     "device contrast",       NUMBER(contr)},
    {kInstFvals,     "get -fvals",     "set -fvals",     "fvals",                 TEXT(fvals)},
    {kInstUnits,     "get -units",     "set -units",     "device units",          NUMBER(units)},
    {kInstAdc,       "get -adc",       "set -adc",       "adc",                   TEXT(adc)},
    {kInstInt,       "get -int",       nullptr,          "int",                   NUMBER(int_)},
    {kInstAdccal,    "get -adccal",    "set -adccal",    "adccal",                TEXT(adccal)},
    {kInstConfig,    "get -config",    "set -config",    "config",                TEXT(config)},
    {kInstWtoffset,  "get -wtoffset",  "set -wtoffset",  "wtoffset",              TEXT(wtoffset)},
    {kInstP1offset,  "get -p1offset",  "set -p1offset",  "p1offset",              TEXT(p1offset)},
    {kInstAuto,      "get -auto",      "set -auto",      "autosec",               TEXT(auto_)},
    {kInstUsage,     "get -usage",     "set -usage",     "usage",                 TEXT(usage)},
    {kInstWtfactory, "get -wtfactory", "set -wtfactory", "wtfactory",             TEXT(wtfactory)},
    {kInstAdc15,     "get -adc15",     "set -adc15",     "adc15",                 TEXT(adc15)},
    {kInstAdc30,     "get -adc30",     "set -adc30",     "adc30",                 TEXT(adc30)},
    {kInstSample,    "get -sample",    "set -sample",    "sample",                TEXT(sample)},
    {kInstPCUnits,   "get -units",     "set -units",     "pcUnits",               TEXT(PCUnits)},
    {kInstLocation,  "get -loc",       "set -loc",       "location",              TEXT(location)},
    {kInstChai,      "get -x",         "set -x",         "chai",                  TEXT(chai)},
    {kInstExtCal,    "get -ext",       "set -ext",       "ext",                   TEXT(extCal)},
    {kInstTadj,      "get -tadj",      "set -tadj",      "tadj",                  TEXT(tadj)},
    {kInstSys,       "get -sys",       "set -sys",       "sys",                   TEXT(sys)},
};
// clang-format on

#undef TEXT
#undef NUMBER

// The order in which the capture reads and the restore writes the bits.
constexpr uint32_t kReadOrder[] = {
    0x8,       0x2,       0x10,       0x800,     0x20,       0x40,       0x80,     0x100,
    0x100000,  0x8000,    0x200,      0x400,     0x1000,     0x20000,    0x2000,   0x80000000,
    0x4000,    0x800000,  0x1,        0x40000,   0x80000,    0x4,        0x200000, 0x1000000,
    0x2000000, 0x4000000, 0x10000000, 0x8000000, 0x20000000, 0x40000000, 0x400000,
};
constexpr uint32_t kWriteOrder[] = {
    0x2,       0x8,        0x10,       0x20,     0x800,      0x40,      0x80,       0x100,
    0x100000,  0x8000,     0x400,      0x1000,   0x20000,    0x2000,    0x80000000, 0x4000,
    0x800000,  0x1,        0x40000,    0x80000,  0x4,        0x200000,  0x1000000,  0x2000000,
    0x4000000, 0x20000000, 0x40000000, 0x400000, 0x10000000, 0x8000000,
};

// The seven readings kept in the slots (bit 0x4): command word and slot.
struct SlotCommand {
    const char* word;  // "p0": read "get -p0", written "set -p0 value"
    size_t slot;
    bool onlyWhenHeld;  // written only when the slot holds a value
};
constexpr SlotCommand kSlotCommands[] = {
    {"p0", 0, true},     {"p3", 1, false},      {"p5", 2, false}, {"lwidth", 3, false},
    {"ltemp", 4, false}, {"current", 5, false}, {"p1", 7, true},
};

const SettingCommand* FindCommand(uint32_t bit) {
    for (const SettingCommand& c : kCommands) {
        if (c.bit == bit) return &c;
    }
    return nullptr;
}

bool IsUvalsAsPvuser(int type) {
    return type == kTypeHygra8 || type == kTypeHygra8Lzr;
}

// Calibration entries: "-cal 0" to "-cal 19", or "-cal1" to "-cal7" on type 21.
struct CalForm {
    const char* prefix;
    int first;
    size_t count;
};
CalForm CalFormFor(int type) {
    if (type == kTypeFennik) return {"-cal", 1, 7};
    return {"-cal ", 0, kSlotCount};
}

// ---- Reading --------------------------------------------------------------

int ReadText(Tarsa_protocol& tp, const char* command, std::span<char> field) {
    return GetValueString(tp, command, kGetTimeoutMs, field.data(),
                          static_cast<int>(field.size() - 1));
}

// Reads the setting(s) of one bit. Returns the result that decides how the
// walk goes on; sets the bit in the settings' flags when it was read.
int ReadBit(Tarsa_protocol& tp, uint32_t bit) {
    InstrumentSettings& s = tp.instrumentSettings;
    int rc = kTPOk;
    bool read = false;
    switch (bit) {
        case kInstSn:
            for (int attempt = 0; attempt < kSerialTries; ++attempt) {
                rc = ReadText(tp, "get -sn", s.sn);
                if (rc > 0 && strstr(s.sn, "OK")) {
                    s.sn[0] = '\0';
                    rc = kTPBadAnswer;
                }
                if (rc != kTPBadAnswer) break;
            }
            read = rc > 0;
            break;
        case kInstSlots:
            for (const SlotCommand& c : kSlotCommands) {
                const std::string command = std::string("get -") + c.word;
                rc = ReadText(tp, command.c_str(), s.slots[c.slot]);
                if (rc > 0) read = true;
            }
            break;
        case kInstUvals:
            rc = ReadText(tp, IsUvalsAsPvuser(tp.type) ? "get -pvuser" : "get -uvals", s.uvals);
            read = rc > 0;
            break;
        case kInstSample:
            read = ReadText(tp, "get -sample", s.sample) > 0;
            rc = kTPOk;  // many instruments have no sample setting
            break;
        case kInstCalSlots: {
            const CalForm form = CalFormFor(tp.type);
            size_t got = 0;
            for (; got < form.count; ++got) {
                const std::string command =
                    std::string("get ") + form.prefix + std::to_string(form.first + int(got));
                rc = ReadText(tp, command.c_str(), s.slots[got]);
                if (rc <= 0) break;
            }
            read = got > 0;
            if (read) rc = kTPOk;
            break;
        }
        case kInstCalprefs:
            rc = ReadText(tp, "get -p", s.fvals);
            if (rc > 0 && tp.type == kTypeHygraVx) {
                rc = ReadText(tp, "get -pv", s.uvals);
                if (rc > 0) ReadText(tp, "get -c76", s.calprefs);
            }
            read = rc > 0;
            break;
        case kInstHadj:
            if (ReadText(tp, "get -hadj", s.hadj) > 0) {
                read = GetValueLong(tp, "get -tau", kGetTimeoutMs, &s.tau) > 0;
            }
            rc = kTPOk;
            break;
        case kInstEquations:
            rc = GetRecords_Serial(tp, tp.equations, kRecordKindEquation);
            read = rc > 0;
            break;
        case kInstUsers:
            rc = GetRecords_Serial(tp, tp.users, kRecordKindUser);
            read = rc > 0;
            break;
        default: {
            const SettingCommand* c = FindCommand(bit);
            if (!c) return kTPOk;
            rc = c->text ? ReadText(tp, c->get, c->text(s))
                         : GetValueLong(tp, c->get, kGetTimeoutMs, c->number(s));
            read = rc > 0;
            break;
        }
    }
    if (read) s.flags |= bit;
    return rc;
}

// ---- Writing ----------------------------------------------------------------

// Sends "`word` `value`\r". Returns 1 on "OK" (logged with `logName`), the
// positive byte count of an answer without "OK", or the exchange's error.
// `confirmed` (when given) tells whether the answer held "OK".
int WriteLine(Tarsa_protocol& tp, const std::string& word, const std::string& value,
              const char* logName, bool number, uint32_t timeoutMs = kSetTimeoutMs,
              bool* confirmed = nullptr) {
    const std::string line = word + " " + value + "\r";
    std::string answer;
    uint32_t ms = 0;
    const int rc = Exchange(tp, line, timeoutMs, kSetAnswerSize, answer, ms);
    const bool ok = rc > 0 && answer.find("OK") != std::string::npos;
    if (confirmed) *confirmed = ok;
    if (!ok) return rc;
    if (number) {
        Log(tp, kLogProgress, "SetInstInfo set %s to \"%ld\" (%d ms)", logName,
            strtol(value.c_str(), nullptr, 10), static_cast<int>(ms));
    } else {
        Log(tp, kLogProgress, "SetInstInfo set %s to \"%s\" (%d ms)", logName, value.c_str(),
            static_cast<int>(ms));
    }
    return kTPOk;
}

// The result of several writes of one bit: the first failure, else the last.
int Combine(int sofar, int rc) {
    return sofar < 0 ? sofar : rc;
}

// Clears the instrument's list of `kind` and writes `set` into it. A list
// marked as captured but holding no record is not written: clearing the
// instrument's list for it would only lose what the instrument has.
int WriteRecords(Tarsa_protocol& tp, RecordSet& set, int kind, const char* resetLine) {
    if (set.count == 0) {
        Log(tp, kLogOutcome,
            "SetInstInfo has no \"%s\" records to write; the instrument's list is left alone",
            RecordKindWord(kind));
        return kTPBadAnswer;
    }
    TPCommand(tp, resetLine);
    return SetRecords_Serial(tp, set, kind);
}

// A serial number change of types 15 and 22 corrects the config value for
// the new serial number. `originalConfig` is the config as captured: it is
// written instead when the instrument never confirmed the new serial number,
// so that config and serial number still belong together.
struct SerialChange {
    bool active = false;
    char originalConfig[kConfigSize] = {};
};

int WriteBit(Tarsa_protocol& tp, uint32_t bit, bool& handled, const SerialChange& change) {
    InstrumentSettings& s = tp.instrumentSettings;
    handled = true;
    switch (bit) {
        case kInstSn: {
            int rc = kDCNoAnswer;
            bool confirmed = false;
            for (int attempt = 0; attempt < kSerialTries; ++attempt) {
                rc = WriteLine(tp, "set -sn", s.sn, "device serial number", false, kSerialTimeoutMs,
                               &confirmed);
                if (rc == kDCRejected) rc = kTPSerialRejected;
                if (confirmed || rc == kDCEcho || rc == kDCRelayActive || rc == kDCNoAnswer) {
                    break;
                }
            }
            if (change.active && !confirmed) {
                Log(tp, kLogOutcome,
                    "SetInstInfo: the new serial number \"%s\" was not confirmed; config "
                    "keeps \"%s\"",
                    s.sn, change.originalConfig);
                SetText(s.config, change.originalConfig);
                if (rc > 0) rc = kTPSerialRejected;  // answered, but never confirmed
            }
            return rc;
        }
        case kInstSlots: {
            int rc = kTPOk;
            bool first = true;
            for (const SlotCommand& c : kSlotCommands) {
                const char* value = s.slots[c.slot];
                if (c.onlyWhenHeld && value[0] == '\0') continue;
                const int one = WriteLine(tp, std::string("set -") + c.word, value, c.word, false);
                rc = first ? one : Combine(rc, one);
                first = false;
            }
            return rc;
        }
        case kInstUvals:
            return WriteLine(tp, IsUvalsAsPvuser(tp.type) ? "set -pvuser" : "set -uvals", s.uvals,
                             "uvals/pvuser", false);
        case kInstCalSlots: {
            const CalForm form = CalFormFor(tp.type);
            int rc = kTPOk;
            for (size_t i = 0; i < form.count && s.slots[i][0] != '\0'; ++i) {
                const std::string line = std::string("set ") + form.prefix +
                                         std::to_string(form.first + int(i)) + " " + s.slots[i] +
                                         "\r";
                std::string answer;
                uint32_t ms = 0;
                int one = Exchange(tp, line, kSetTimeoutMs, kSetAnswerSize, answer, ms);
                if (one > 0 && answer.find("OK") != std::string::npos) {
                    Log(tp, kLogProgress, "SetInstInfo set cal %d to \"%s\" (%d ms)",
                        static_cast<int>(i), s.slots[i], static_cast<int>(ms));
                    one = kTPOk;
                }
                rc = i == 0 ? one : Combine(rc, one);
            }
            return rc;
        }
        case kInstCalprefs: {
            int rc = WriteLine(tp, "set -p", s.fvals, "-p", false);
            if (tp.type == kTypeHygraVx) {
                rc = Combine(rc, WriteLine(tp, "set -pv", s.uvals, "-pv", false));
                if (s.calprefs[0] != '\0') {
                    const int c76 = WriteLine(tp, "set -c76", s.calprefs, "-c76", false);
                    rc = Combine(rc, c76 < 0 ? 0 : c76);
                }
            }
            return rc;
        }
        case kInstHadj: {
            const int rc = WriteLine(tp, "set -tau", std::to_string(s.tau), "tau", true);
            return Combine(rc, WriteLine(tp, "set -hadj", s.hadj, "hadj", false));
        }
        case kInstEquations:
            return WriteRecords(tp, tp.equations, kRecordKindEquation, "reset -eqn\r");
        case kInstUsers:
            return WriteRecords(tp, tp.users, kRecordKindUser, "reset -users\r");
        default: {
            const SettingCommand* c = FindCommand(bit);
            if (!c || !c->set) {
                handled = false;
                return kTPOk;
            }
            if (c->text) return WriteLine(tp, c->set, c->text(s).data(), c->logName, false);
            return WriteLine(tp, c->set, std::to_string(*c->number(s)), c->logName, true);
        }
    }
}

// ---- The walk over a flag word ----------------------------------------

bool StopsCapture(int rc) {
    return rc == kDCEcho || rc == kDCNoAnswer;
}

bool StopsRestore(int rc) {
    return rc == kDCEcho || rc == kDCRelayActive || rc == kDCNoAnswer;
}

// Handles the bits of `flags` in `order`, one per pass. Returns 1, -35 when
// some failed, or the stopping code. When the last handled setting failed
// and nothing else failed, the result is -35 if anything succeeded and that
// setting's own error otherwise.
template <size_t N, typename Handle>
int Walk(uint32_t flags, const uint32_t (&order)[N], bool (*stops)(int), bool writing,
         Handle handle) {
    int last = 0;
    int result = kTPOk;
    uint32_t previous = 0;
    bool anySucceeded = false;
    for (;;) {
        if (flags == 0) break;
        if (flags == previous) {
            if (writing) last = kTPBadAnswer;
            break;
        }
        previous = flags;
        if (stops(last)) {
            result = last;
            break;
        }
        if (last < 0) result = kTPPartial;
        for (uint32_t bit : order) {
            if (!(flags & bit)) continue;
            bool handled = true;
            last = handle(bit, handled);
            if (handled && last > 0) anySucceeded = true;
            if (handled) flags &= ~bit;
            break;
        }
    }
    if (result == kTPOk && last < 0) {
        result = (stops(last) || !anySucceeded) ? last : kTPPartial;
    }
    return result;
}

// ---- Serial number change -------------------------------------------------

int CharacterSum(const char* text) {
    int sum = 0;
    for (const char* c = text; *c; ++c) sum += static_cast<signed char>(*c);
    return sum;
}

// The config value of types 15 and 22 carries a checksum over the serial
// number's characters: move it from the old serial number to the new one.
// A config that was not captured or is not a number is left alone.
void CorrectConfigForSerial(Tarsa_protocol& tp, const char* newSerial) {
    InstrumentSettings& s = tp.instrumentSettings;
    char* end = nullptr;
    const long long value = strtoll(s.config, &end, 10);
    if (!(s.flags & kInstConfig) || end == s.config) {
        Log(tp, kLogProgress,
            "TPRestoreInfo has no config value to correct for the new serial "
            "number");
        return;
    }
    const long long sum = value - CharacterSum(s.sn) + CharacterSum(newSerial);
    snprintf(s.config, sizeof s.config, "%u", static_cast<unsigned>(sum));
    s.flags |= kInstConfig;
}

}  // namespace

uint32_t CaptureFlags(const Tarsa_protocol& tp) {
    switch (tp.type) {
        case kTypeTalob:
            return 0x8000077;
        case kTypeTalox:
        case kTypeKel7:
        case kTypeOxbel:
            return 0x7FFEFFF;
        case kTypeBrisen:
            return 0xD07;
        case kTypeHygraMini:
            return 0x4000007A;
        case kTypeThermik:
            return 0x100192;
        case kTypeSoluxR40:
            return 0x7000400 | (tp.identity.version >= kSoluxFullCaptureVersion ? 0x812 : 0);
        case kTypeVennet:
            return 0xB2;
        case kTypeSorbel:
            return 0x80027402;
        case kTypeHygraSeries6:
            return 0xC00;
        case kTypeTcd:
            return 0x3;
        case kTypeHandra:
            return 0x2C0013;
        case kTypeHygra8:
            return 0x38000802 |
                   (tp.loggerSettings.versionNumber >= int32_t{kHygra8UvalsVersion} ? 0x40 : 0);
        case kTypeHygraVx:
            return 0x28400802;
        case kTypePx9t:
        case kTypeHygraVell:
            return 0x802;
        case kTypeHygra8Lzr:
            return 0x38000806;
        case kTypeImbrix:
            return 0x20C08012;
        case kTypeDraxo:
            return 0x2;
        default:
            return 0;
    }
}

int GetInstInfo(Tarsa_protocol& tp, uint32_t flags) {
    if (flags == 0) {
        Log(tp, kLogProgress, "GetInstInfo should be called with non-zero flags");
        return kTPNothing;
    }
    tp.instrumentSettings.type = tp.type;
    const int result = Walk(flags, kReadOrder, StopsCapture, false,
                            [&tp](uint32_t bit, bool&) { return ReadBit(tp, bit); });
    if (result < 0) Log(tp, kLogProgress, "GetInstInfo could not collect all settings");
    return result;
}

namespace {

int WriteSettings(Tarsa_protocol& tp, uint32_t flags, const SerialChange& change) {
    if (flags == 0) {
        Log(tp, kLogProgress, "SetInstInfo should be called with non-zero flags");
        return kTPNothing;
    }
    const int result = Walk(
        flags, kWriteOrder, StopsRestore, true,
        [&tp, &change](uint32_t bit, bool& handled) { return WriteBit(tp, bit, handled, change); });
    if (result < 0) Log(tp, kLogProgress, "SetInstInfo could not restore all settings");
    return result;
}

}  // namespace

int SetInstInfo(Tarsa_protocol& tp, uint32_t flags) {
    return WriteSettings(tp, flags, SerialChange{});
}

int TPSaveInfo(Tarsa_protocol& tp, const char* settingsFilePath) {
    uint32_t flags = CaptureFlags(tp);
    int rc;
    if (IsDataLoggerType(tp.type)) {
        uint32_t mask = flags;
        rc = DeviceSettings(tp.link, &tp.loggerSettings, &mask, 0);
        if (tp.type == kTypeTalox || tp.type == kTypeKel7 || tp.type == kTypeOxbel) {
            tp.captured = 1;
        }
        if (rc == kDCEmptyName) {
            tp.captured = 0;
            tp.savedFlags = 0;
            Log(tp, kLogProgress, "TPSaveInfo does not save data for an uninitialized device");
            return kTPUninitialized;
        }
        flags = mask;
    } else if (tp.type == kTypeDigitalSensor) {
        rc = SDIGetSensorSettings(tp.sdi);
        flags = 0;
    } else if (flags != 0) {
        if (tp.type == kTypeHygra8) {
            std::string answer;
            uint32_t ms = 0;
            int sensor =
                Exchange(tp, "set -sensor 0\r", kSetTimeoutMs, kSensorAnswerSize, answer, ms);
            if (sensor > 0 && answer.find("OK") == std::string::npos) sensor = kTPBadAnswer;
            if (sensor > 0) {
                Log(tp, kLogProgress, "TPSaveInfo set HS8 sensor type to '0' (%d ms)",
                    static_cast<int>(ms));
            } else {
                Log(tp, kLogProgress,
                    "TPSaveInfo received error %d setting HS8 sensor type to '0' (%d ms)", sensor,
                    static_cast<int>(ms));
            }
        }
        ClearInstrumentSettings(tp.instrumentSettings);
        FreeRecords(tp.users);
        FreeRecords(tp.equations);
        rc = GetInstInfo(tp, flags);
        flags = tp.instrumentSettings.flags;
    } else {
        rc = kTPNotApplicable;
    }

    const int result = rc == kTPPartial ? kTPPartial : kTPOk;
    if (rc < 0 && rc != kTPPartial) {
        Log(tp, kLogOutcome, "TPSaveInfo received error %d trying to collect device settings", rc);
        return rc;
    }
    tp.captured = 1;
    tp.savedFlags = flags;
    rc = WriteInfoFile(tp, settingsFilePath);
    if (rc < 0) {
        Log(tp, kLogOutcome,
            "TPSaveInfo received error %d trying to save device settings to a temp file", rc);
        return rc;
    }
    Log(tp, kLogProgress,
        "TPSaveInfo successfully retrieved and saved device settings to a temp "
        "file");
    return result;
}

int TPRestoreInfo(Tarsa_protocol& tp, const char* settingsFilePath, const char* newSerial) {
    if (!tp.captured) {
        const int rc = ReadInfoFile(tp, settingsFilePath);
        if (rc < 0) {
            Log(tp, kLogOutcome,
                "TPRestoreInfo received error %d trying to read device settings "
                "from %s",
                rc, settingsFilePath ? settingsFilePath : "");
            return rc;
        }
        tp.captured = 1;
        tp.loggerSettings.validMask = tp.savedFlags;
    }
    const bool replaceSerial = newSerial && newSerial[0] != '\0';
    char serial[kSerialMax + 1] = {};
    if (replaceSerial) SetText(serial, newSerial);

    int rc;
    if (tp.type <= kTypeTalo || tp.type == kTypeLumet || tp.type > kLastInstrumentType) {
        rc = kTPNotApplicable;
    } else if (IsDataLoggerType(tp.type)) {
        uint32_t mask = tp.savedFlags;
        if (replaceSerial) {
            // A logger with a device identifier keeps its serial number.
            if (mask & kSetDeviceId) {
                Log(tp, kLogProgress,
                    "TPRestoreInfo keeps the serial number of a device with a "
                    "device identifier");
            } else {
                SetText(tp.loggerSettings.serialNumber, serial);
                mask |= kSetSerialNumber;
            }
        }
        rc = DeviceSettings(tp.link, &tp.loggerSettings, &mask, 1);
        if (!((rc >= 0 || rc == kTPPartial) && mask != 0)) {
            Log(tp, kLogOutcome, "TPRestoreInfo received error %d trying to upload device settings",
                rc);
            return rc;
        }
    } else if (tp.type == kTypeDigitalSensor) {
        // Which calibrations a sensor has depends on its type, which the
        // settings file does not keep: ask the sensor when it is not known.
        if (tp.sdi.sensorType == 0) SDIGetSensorType(tp.sdi);
        rc = SDISetSensorSettings(tp.sdi);
    } else {
        InstrumentSettings& s = tp.instrumentSettings;
        SerialChange change;
        if (replaceSerial) {
            if (tp.type == kTypeHygra8 || tp.type == kTypeHygra8Lzr) {
                change.active = true;
                SetText(change.originalConfig, s.config);
                CorrectConfigForSerial(tp, serial);
            }
            SetText(s.sn, serial);
            s.flags |= kInstSn;
        }
        rc = WriteSettings(tp, s.flags, change);
    }
    if (rc >= 0 || rc == kTPPartial) {
        Log(tp, kLogProgress, "TPRestoreInfo successfully restored device setting");
    } else {
        Log(tp, kLogOutcome, "TPRestoreInfo received error %d trying to restore device settings",
            rc);
    }
    return rc;
}

}  // namespace tarsa
