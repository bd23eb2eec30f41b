// The settings file: a small text file that keeps the settings captured
// before a firmware update, so that they survive a failed update or a
// restart of the program. It is the only copy of a device's configuration
// between a failed update and its recovery, so:
//
// - it is written to a temporary file in the same folder (readable by its
//   owner only, since it may hold access-point and server credentials),
//   flushed to disk and then renamed over the old file: a crash leaves either
//   the old file or the new one, never half of one;
// - every value is looked up as a key at the start of a line followed by
//   `="`, and must end with its closing quote on that line: a value that
//   happens to contain another key's text is never taken for that key, and a
//   file cut short loses whole values, never the tail of one;
// - the whole read goes into a copy of the settings that replaces the
//   object's only when the read succeeds.
//
// Three record kinds follow the object's type: data loggers (the logger
// settings record), the digital sensor (the SDI-12 object) and every other
// instrument (InstrumentSettings and the two record sets).
//
// Texts come from the device and may hold anything: a double quote, a
// backslash, a line feed or a carriage return in a value is written as \",
// \\, \n or \r, so no value can end its line early or add a line of its
// own, and every value reads back as it was written. A backslash before any
// other character is read as itself.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "instrument/settings_file.h"

#include "instrument/protocol_internal.h"
#include "log/tarsa_log.h"
#include "platform/file_ops.h"

namespace tarsa {

using tp_detail::Log;

namespace {

constexpr const char* kHeader = "***** Auto-Generated Settings File -- DO NOT EDIT *****\r\n\r\n";
// A settings file holds at most a few hundred short lines; anything larger
// is not one.
// (Two full sets of kMaxRecords records, every character escaped, stay
// below it.)
constexpr size_t kMaxFileSize = 4 << 20;
// A logger's site name holds this many characters.
constexpr size_t kSiteChars = 25;
constexpr size_t kNumbersTextMax = 63;

// ---- Writing -----------------------------------------------------------

void Line(std::string& out, const char* key, std::string_view value) {
    out += key;
    out += "=\"";
    for (char c : value) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
    out += "\"\r\n";
}

void TextLine(std::string& out, const char* key, const char* value) {
    Line(out, key, value);
}

void NumberLine(std::string& out, const char* key, long long value) {
    Line(out, key, std::to_string(value));
}

void FiveLine(std::string& out, const char* key, const uint8_t (&bytes)[5]) {
    char text[32];
    snprintf(text, sizeof text, "%u %u %u %u %u", bytes[0], bytes[1], bytes[2], bytes[3], bytes[4]);
    Line(out, key, text);
}

// "%+.5f", independent of the program's locale.
void DoubleLine(std::string& out, const char* key, double value) {
    char text[64];
    char* p = text;
    if (!std::signbit(value)) *p++ = '+';
    const auto [end, ec] =
        std::to_chars(p, text + sizeof text - 1, value, std::chars_format::fixed, 5);
    *(ec == std::errc() ? end : p) = '\0';
    Line(out, key, text);
}

void WriteLoggerLines(const LoggerSettings& s, std::string& out) {
    const uint32_t mask = s.validMask;
    TextLine(out, "type", s.typeName);
    TextLine(out, "deviceid", s.deviceId);
    TextLine(out, "name", s.deviceName);
    TextLine(out, "sn", s.serialNumber);
    NumberLine(out, "trait", static_cast<int32_t>(s.trait));
    NumberLine(out, "wake", s.measurementInterval);
    NumberLine(out, "padc", s.padc);
    FiveLine(out, "ports", s.ports);
    FiveLine(out, "depth", s.depths);
    if (mask & kSetAdc15) {
        FiveLine(out, "ADC15 slopes", s.adc15First);
        FiveLine(out, "ADC15 offsets", s.adc15Second);
    }
    if (mask & kSetAdc30) {
        FiveLine(out, "ADC30 slopes", s.adc30First);
        FiveLine(out, "ADC30 offsets", s.adc30Second);
    }
    NumberLine(out, "rmode", s.radioMode);
    NumberLine(out, "rch", s.radioChannel);
    NumberLine(out, "rsch", s.radioSubChannel);
    NumberLine(out, "data", s.dataParameter);
    TextLine(out, "site", s.site);
    DoubleLine(out, "lat", s.latitude);
    DoubleLine(out, "lon", s.longitude);
    NumberLine(out, "timezone", s.timeZone);
    NumberLine(out, "report", static_cast<uint32_t>(s.reportMode));
    TextLine(out, "apn", s.apn);
    TextLine(out, "user", s.apnUser);
    TextLine(out, "passwd", s.apnPassword);
    TextLine(out, "host", s.host);
    TextLine(out, "authkey", s.authKey);
    NumberLine(out, "ipport", static_cast<uint32_t>(s.ipPort));
    if (mask & kSetBuildId) TextLine(out, "TarsaBuild", s.buildId);
}

void WriteRecordLines(const RecordSet& set, const char* word, std::string& out) {
    for (int32_t i = 0; i < set.count && set.records[i].text[0] != '\0'; ++i) {
        char key[16];
        snprintf(key, sizeof key, "%s%02d", word, static_cast<int>(i));
        TextLine(out, key, set.records[i].text);
    }
}

void WriteInstrumentLines(const Tarsa_protocol& tp, std::string& out) {
    const InstrumentSettings& s = tp.instrumentSettings;
    TextLine(out, "type", InstrumentMatchWord(tp.type));
    TextLine(out, "name", s.name);
    TextLine(out, "sn", s.sn);
    NumberLine(out, "lang", s.lang);
    TextLine(out, "TarsaBuild", s.build);
    NumberLine(out, "contr", s.contr);
    TextLine(out, "config", s.config);
    TextLine(out, "fvals", s.fvals);
    TextLine(out, "uvals", s.uvals);
    NumberLine(out, "units", s.units);
    TextLine(out, "adc", s.adc);
    TextLine(out, "adccal", s.adccal);
    TextLine(out, "calprefs", s.calprefs);
    TextLine(out, "PCUnits", s.PCUnits);
    TextLine(out, "sample", s.sample);
    TextLine(out, "usage", s.usage);
    TextLine(out, "adc15", s.adc15);
    TextLine(out, "adc30", s.adc30);
    TextLine(out, "location", s.location);
    TextLine(out, "chai", s.chai);
    TextLine(out, "extCal", s.extCal);
    TextLine(out, "tadj", s.tadj);
    NumberLine(out, "tau", s.tau);
    TextLine(out, "hadj", s.hadj);
    // Captured by the Sorbel alone, and lost in its recovery without these
    // lines; every other type's file keeps the fixed layout.
    if (tp.type == kTypeSorbel) {
        TextLine(out, "wtoffset", s.wtoffset);
        TextLine(out, "p1offset", s.p1offset);
        TextLine(out, "auto", s.auto_);
        TextLine(out, "wtfactory", s.wtfactory);
        TextLine(out, "sys", s.sys);
    }
    char key[16];
    if (tp.type == kTypeHandra) {
        for (size_t i = 0; i < kSlotCount && s.slots[i][0] != '\0'; ++i) {
            snprintf(key, sizeof key, "cal%02d", static_cast<int>(i));
            TextLine(out, key, s.slots[i]);
        }
    } else if (tp.type == kTypeHygra8Lzr) {
        for (size_t i = 0; i < kSlotCount; ++i) {
            snprintf(key, sizeof key, "cal%02d", static_cast<int>(i + 1));
            TextLine(out, key, s.slots[i]);
        }
    }
    WriteRecordLines(tp.users, "user", out);
    WriteRecordLines(tp.equations, "eqn", out);
}

void WriteSensorLines(const TarsaSDI12& sdi, std::string& out) {
    TextLine(out, "type", "Digital Sensor");
    TextLine(out, "identity", sdi.identification);
    Line(out, "address", std::string_view(&sdi.address, 1));
    NumberLine(out, "addressInt", sdi.address);
    TextLine(out, "calibration", sdi.calibration1);
    TextLine(out, "calibration2", sdi.calibration2);
    TextLine(out, "sn", sdi.serialNumber);
}

// Writes `content` to a fresh owner-only file beside `path`, flushes it and
// renames it over `path`. Returns 1 or -(errno); `step` names what failed.
int ReplaceFile(const std::string& path, const std::string& content, const char*& step) {
    std::string temp;
    step = "open";
    const int fd = platform::CreateTempBeside(path, temp);
    if (fd < 0) return fd;
    int rc = 1;
    size_t done = 0;
    step = "write";
    while (done < content.size()) {
        const ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            rc = n < 0 ? -errno : -EIO;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (rc > 0) {
        step = "flush";
        if (platform::SyncFile(fd) != 0) rc = -errno;
    }
    if (close(fd) != 0 && rc > 0) rc = -errno;
    if (rc > 0) {
        step = "rename";
        if (platform::RenameOver(temp.c_str(), path.c_str()) != 0) rc = -errno;
    }
    if (rc < 0) {
        unlink(temp.c_str());
        return rc;
    }
    // Make the rename itself durable; a failure here loses nothing written.
    const size_t slash = path.find_last_of('/');
    platform::SyncFolder(slash == std::string::npos ? "." : path.substr(0, slash + 1));
    return 1;
}

// ---- Reading -------------------------------------------------------------

// The value that starts at `at` (just after a key): `="`, then the
// characters up to the closing quote, which must come before the line
// ends; an escaped character is skipped over. The value is returned as
// written (escapes included).
std::optional<std::string_view> ValueAt(std::string_view text, size_t at) {
    if (at > text.size()) return std::nullopt;
    std::string_view rest = text.substr(at);
    if (rest.size() < 2 || rest[0] != '=' || rest[1] != '"') return std::nullopt;
    rest.remove_prefix(2);
    for (size_t i = 0; i < rest.size(); ++i) {
        const char c = rest[i];
        if (c == '"') return rest.substr(0, i);
        if (c == '\r' || c == '\n' || c == '\0') return std::nullopt;
        if (c == '\\' && i + 1 < rest.size() && rest[i + 1] != '\r' && rest[i + 1] != '\n' &&
            rest[i + 1] != '\0') {
            ++i;
        }
    }
    return std::nullopt;
}

// The value of `key`: the key must start a line and be followed by `="`;
// the value runs to the closing quote, which must come before the line ends.
std::optional<std::string_view> FindValue(std::string_view text, std::string_view key) {
    size_t from = 0;
    while (from <= text.size()) {
        const size_t at = text.find(key, from);
        if (at == std::string_view::npos) return std::nullopt;
        from = at + 1;
        if (at != 0 && text[at - 1] != '\n') continue;
        if (auto value = ValueAt(text, at + key.size())) return value;
    }
    return std::nullopt;
}

// A value as written, with its escapes undone.
std::string Unescape(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        char c = raw[i];
        if (c == '\\' && i + 1 < raw.size()) {
            const char next = raw[i + 1];
            if (next == '"' || next == '\\' || next == 'n' || next == 'r') {
                c = next == 'n' ? '\n' : next == 'r' ? '\r' : next;
                ++i;
            }
        }
        out += c;
    }
    return out;
}

// True when the key holds a non-empty value; copies it cut to the field.
bool GetFileString(std::string_view text, const char* key, std::span<char> field) {
    const auto raw = FindValue(text, key);
    if (!raw || raw->empty() || field.empty()) return false;
    const std::string value = Unescape(*raw);
    const size_t n = std::min(value.size(), field.size() - 1);
    memcpy(field.data(), value.data(), n);
    field[n] = '\0';
    return true;
}

template <size_t N>
bool GetFileString(std::string_view text, const char* key, char (&field)[N]) {
    return GetFileString(text, key, std::span<char>(field, N));
}

// True whenever the key is there; a value without digits reads as 0.
// Numbers saturate at the 32-bit range.
bool GetFileLong(std::string_view text, const char* key, int32_t& out) {
    const auto value = FindValue(text, key);
    if (!value) return false;
    std::string_view v = *value;
    while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
    bool negative = false;
    if (!v.empty() && (v.front() == '+' || v.front() == '-')) {
        negative = v.front() == '-';
        v.remove_prefix(1);
    }
    int64_t number = 0;
    for (char c : v) {
        if (c < '0' || c > '9') break;
        number = number * 10 + (c - '0');
        if (number > int64_t{INT32_MAX} + 1) number = int64_t{INT32_MAX} + 1;
    }
    if (negative) number = -number;
    if (number > INT32_MAX) number = INT32_MAX;
    out = static_cast<int32_t>(number);
    return true;
}

// True whenever the key is there; a value that is not a finite number reads as 0.
bool GetFileDouble(std::string_view text, const char* key, double& out) {
    const auto value = FindValue(text, key);
    if (!value) return false;
    std::string_view v = *value;
    if (!v.empty() && v.front() == '+') v.remove_prefix(1);
    double number = 0;
    const auto [ptr, ec] = std::from_chars(v.data(), v.data() + v.size(), number);
    (void)ptr;
    out = (ec == std::errc() && std::isfinite(number)) ? number : 0;
    return true;
}

// Five unsigned byte values after a text of at most 63 characters; true only
// when all five were read and fit a byte.
bool GetFileFive(std::string_view text, const char* key, uint8_t (&bytes)[5]) {
    const auto value = FindValue(text, key);
    if (!value) return false;
    std::string_view v = value->substr(0, kNumbersTextMax);
    uint8_t read[5];
    for (uint8_t& b : read) {
        while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
        unsigned number = 0;
        const auto [ptr, ec] = std::from_chars(v.data(), v.data() + v.size(), number);
        if (ec != std::errc() || number > 255) return false;
        b = static_cast<uint8_t>(number);
        v.remove_prefix(static_cast<size_t>(ptr - v.data()));
    }
    memcpy(bytes, read, sizeof read);
    return true;
}

bool TypeLineIs(std::string_view text, std::string_view word) {
    const auto value = FindValue(text, "type");
    return value && *value == word;
}

bool UsableAdcPair(const uint8_t (&slopes)[5], const uint8_t (&offsets)[5]) {
    return slopes[0] != 0 && slopes[0] != 255 && offsets[0] != 0 && offsets[0] != 255;
}

int ReadLoggerInfo(Tarsa_protocol& tp, std::string_view text) {
    LoggerSettings s = tp.loggerSettings;
    uint32_t mask = 0;
    auto flag = [&mask](bool found, uint32_t bit) {
        if (found) mask |= bit;
    };
    if (tp.type == kTypeTalob) {
        if (!TypeLineIs(text, "Talob")) return kTPBadAnswer;
        flag(GetFileString(text, "name", s.deviceName), kSetName);
        flag(GetFileString(text, "sn", s.serialNumber), kSetSerialNumber);
        flag(GetFileLong(text, "wake", s.measurementInterval), kSetWake);
        flag(GetFileLong(text, "padc", s.padc), kSetPadc);
        // A Talob's capture includes its ports: read them as a Talox's.
        flag(GetFileFive(text, "ports", s.ports), kSetPorts);
        flag(GetFileString(text, "TarsaBuild", s.buildId), kSetBuildId);
        s.capabilities = 0x474BE;
    } else if (tp.type == kTypeBrisen) {
        if (!TypeLineIs(text, "Brisen")) return kTPBadAnswer;
        flag(GetFileString(text, "name", s.deviceName), kSetName);
        flag(GetFileString(text, "sn", s.serialNumber), kSetSerialNumber);
        flag(GetFileLong(text, "rch", s.radioChannel), kSetRadioChannel);
        if (GetFileLong(text, "rsch", s.radioSubChannel)) {
            mask |= kSetRadioSubChannel | kSetTrait;
            s.trait = kTraitValid | kTraitRadio;
        }
        flag(GetFileLong(text, "data", s.dataParameter), kSetDataParameter);
        s.capabilities = 0x24583;
    } else {
        if (!TypeLineIs(text, "Talox") && !TypeLineIs(text, "kel7") && !TypeLineIs(text, "Oxbel")) {
            return kTPBadAnswer;
        }
        int32_t number = 0;
        flag(GetFileString(text, "deviceid", s.deviceId), kSetDeviceId);
        flag(GetFileString(text, "name", s.deviceName), kSetName);
        flag(GetFileString(text, "sn", s.serialNumber), kSetSerialNumber);
        if (GetFileLong(text, "trait", number)) {
            s.trait = static_cast<uint32_t>(number);
            mask |= kSetTrait;
        }
        flag(GetFileLong(text, "wake", s.measurementInterval), kSetWake);
        flag(GetFileLong(text, "padc", s.padc), kSetPadc);
        flag(GetFileFive(text, "ports", s.ports), kSetPorts);
        flag(GetFileFive(text, "depth", s.depths), kSetDepths);
        uint8_t slopes[5] = {};
        uint8_t offsets[5] = {};
        if (GetFileFive(text, "ADC15 slopes", slopes) &&
            GetFileFive(text, "ADC15 offsets", offsets)) {
            memcpy(s.adc15First, slopes, sizeof slopes);
            memcpy(s.adc15Second, offsets, sizeof offsets);
            flag(UsableAdcPair(slopes, offsets), kSetAdc15);
        }
        if (GetFileFive(text, "ADC30 slopes", slopes) &&
            GetFileFive(text, "ADC30 offsets", offsets)) {
            memcpy(s.adc30First, slopes, sizeof slopes);
            memcpy(s.adc30Second, offsets, sizeof offsets);
            flag(UsableAdcPair(slopes, offsets), kSetAdc30);
        }
        flag(GetFileString(text, "TarsaBuild", s.buildId), kSetBuildId);
        flag(GetFileLong(text, "data", s.dataParameter), kSetDataParameter);
        flag(GetFileLong(text, "rmode", s.radioMode), kSetRadioMode);
        // The radio lines are written for every logger; they are settings
        // only when the trait (when there is one) says a radio modem is
        // fitted. Taking them otherwise would restore a trait that claims a
        // modem, and settings the logger does not have.
        const bool radio = !(mask & kSetTrait) || (s.trait & kTraitRadio);
        if (radio) {
            flag(GetFileLong(text, "rch", s.radioChannel), kSetRadioChannel);
            if (GetFileLong(text, "rsch", s.radioSubChannel)) {
                mask |= kSetRadioSubChannel | kSetTrait;
                s.trait |= kTraitValid | kTraitRadio;
            }
        }
        flag(GetFileString(text, "site", std::span<char>(s.site, kSiteChars + 1)), kSetSite);
        flag(GetFileDouble(text, "lat", s.latitude), kSetLatitude);
        flag(GetFileDouble(text, "lon", s.longitude), kSetLongitude);
        flag(GetFileLong(text, "timezone", s.timeZone), kSetTimeZone);
        flag(GetFileLong(text, "report", s.reportMode), kSetReportMode);
        // Likewise the cellular lines and the cellular modem.
        if (!(mask & kSetTrait) || (s.trait & kTraitCellular)) {
            flag(GetFileString(text, "apn", s.apn), kSetApn);
            flag(GetFileString(text, "user", s.apnUser), kSetApnUser);
            flag(GetFileString(text, "passwd", s.apnPassword), kSetApnPassword);
            flag(GetFileString(text, "host", s.host), kSetHost);
            flag(GetFileString(text, "authkey", s.authKey), kSetAuthKey);
            flag(GetFileLong(text, "ipport", s.ipPort), kSetIpPort);
        }
        s.capabilities = 0x707FFF7;
    }
    s.validMask = mask;
    tp.loggerSettings = s;
    tp.savedFlags = mask;
    return kTPOk;
}

int ReadSensorInfo(Tarsa_protocol& tp, std::string_view text) {
    if (!TypeLineIs(text, "Digital Sensor")) return kTPBadAnswer;
    TarsaSDI12& sdi = tp.sdi;
    int32_t address = 0;
    char calibration1[kSDICalibrationSize] = {};
    char calibration2[kSDICalibrationSize] = {};
    char serial[kSDISerialNumberSize] = {};
    GetFileString(text, "calibration", calibration1);
    GetFileString(text, "calibration2", calibration2);
    GetFileString(text, "sn", serial);
    if (GetFileLong(text, "addressInt", address)) sdi.address = static_cast<char>(address & 0xFF);
    memcpy(sdi.calibration1, calibration1, sizeof calibration1);
    memcpy(sdi.calibration2, calibration2, sizeof calibration2);
    memcpy(sdi.serialNumber, serial, sizeof serial);
    return kTPOk;
}

// The instrument keys a type's file restores, each with the flag bit it sets.
enum class Key : uint8_t {
    kName,
    kSn,
    kLang,
    kContr,
    kConfig,
    kFvals,
    kUvals,
    kUnits,
    kAdc,
    kAdccal,
    kCalprefs,
    kPCUnits,
    kSample,
    kUsage,
    kAdc15,
    kAdc30,
    kLocation,
    kChai,
    kExtCal,
    kTadj,
    kHadjTau,
    kWtoffset,
    kP1offset,
    kAuto,
    kWtfactory,
    kSys,
    kContrWithSn,  // type 8: the contrast of a capture that also read the serial number
    kCalFromZero,  // type 14: cal00, cal01 ... into the calibration entries
    kCalFromOne,   // type 22: cal01 ... cal20 into the slots
    kUsers,
    kEquations,
};

struct KeyBit {
    Key key;
    uint32_t bit;
};

constexpr size_t kMaxTypeKeys = 8;

struct TypeKeys {
    int type;
    KeyBit keys[kMaxTypeKeys];  // ends at the first entry with bit 0
};

// Beyond the keys that always came back from a file, sn (types 8, 15, 22),
// config and contr (type 8), fvals (type 9), hadj with tau (type 6),
// wtoffset, p1offset, auto, wtfactory and sys (type 11, written for it) and
// the type-22 slots are read too: the capture
// saves them, and a recovery from the file would otherwise lose them (for
// types 15 and 22 the serial number also feeds the config correction of a
// serial number change). A number is always written, so the file cannot say
// whether it was captured: type 8 captures contr together with sn (from
// version 2.00), so contr is taken only when sn is there.
// clang-format off
const TypeKeys kTypeKeys[] = {
    {kTypeHygraMini,    {{Key::kSn, kInstSn}, {Key::kLang, kInstLang}, {Key::kContr, kInstContr},
                         {Key::kFvals, kInstFvals}, {Key::kUvals, kInstUvals},
                         {Key::kHadjTau, kInstHadj}}},
    {kTypeVennet,       {{Key::kSn, kInstSn}, {Key::kContr, kInstContr}, {Key::kUnits, kInstUnits},
                         {Key::kFvals, kInstFvals}}},
    {kTypeThermik,      {{Key::kSn, kInstSn}, {Key::kContr, kInstContr}, {Key::kUnits, kInstUnits},
                         {Key::kAdc, kInstAdc}, {Key::kSample, kInstSample}}},
    {kTypeSorbel,       {{Key::kSn, kInstSn}, {Key::kAdccal, kInstAdccal}, {Key::kAuto, kInstAuto},
                         {Key::kWtfactory, kInstWtfactory}, {Key::kSys, kInstSys},
                         {Key::kWtoffset, kInstWtoffset}, {Key::kP1offset, kInstP1offset}}},
    {kTypeHygraSeries6, {{Key::kAdccal, kInstAdccal}, {Key::kConfig, kInstConfig}}},
    {kTypePx9t,         {{Key::kConfig, kInstConfig}, {Key::kSn, kInstSn}}},
    {kTypeHygraVell,    {{Key::kConfig, kInstConfig}, {Key::kSn, kInstSn}}},
    {kTypeHandra,       {{Key::kSn, kInstSn}, {Key::kName, kInstName}, {Key::kContr, kInstContr},
                         {Key::kAdc15, kInstAdc15}, {Key::kAdc30, kInstAdc30},
                         {Key::kCalFromZero, kInstCalSlots}}},
    {kTypeTcd,          {{Key::kName, kInstName}, {Key::kSn, kInstSn}}},
    {kTypeSoluxR40,     {{Key::kLocation, kInstLocation}, {Key::kChai, kInstChai},
                         {Key::kExtCal, kInstExtCal}, {Key::kAdccal, kInstAdccal},
                         {Key::kSn, kInstSn}, {Key::kConfig, kInstConfig},
                         {Key::kContrWithSn, kInstContr}}},
    {kTypeHygraVx,      {{Key::kConfig, kInstConfig}, {Key::kSn, kInstSn}, {Key::kTadj, kInstTadj},
                         {Key::kFvals, kInstCalprefs}, {Key::kUvals, kInstCalprefs},
                         {Key::kCalprefs, kInstCalprefs}, {Key::kUsers, kInstUsers}}},
    {kTypeHygra8,       {{Key::kConfig, kInstConfig}, {Key::kTadj, kInstTadj},
                         {Key::kHadjTau, kInstHadj}, {Key::kUvals, kInstUvals},
                         {Key::kUsers, kInstUsers}, {Key::kEquations, kInstEquations},
                         {Key::kSn, kInstSn}}},
    {kTypeHygra8Lzr,    {{Key::kConfig, kInstConfig}, {Key::kTadj, kInstTadj},
                         {Key::kHadjTau, kInstHadj}, {Key::kUvals, kInstUvals},
                         {Key::kUsers, kInstUsers}, {Key::kEquations, kInstEquations},
                         {Key::kSn, kInstSn}, {Key::kCalFromOne, kInstSlots}}},
    {kTypeImbrix,       {{Key::kSn, kInstSn}, {Key::kUsage, kInstUsage}, {Key::kContr, kInstContr},
                         {Key::kTadj, kInstTadj}, {Key::kFvals, kInstCalprefs},
                         {Key::kPCUnits, kInstPCUnits}}},
    {kTypeDraxo,        {{Key::kSn, kInstSn}}},
};
// clang-format on

int ReadInstrumentInfo(Tarsa_protocol& tp, std::string_view text) {
    const TypeKeys* row = nullptr;
    for (const TypeKeys& candidate : kTypeKeys) {
        if (candidate.type == tp.type) row = &candidate;
    }
    if (!row || !TypeLineIs(text, InstrumentMatchWord(tp.type))) return kTPBadAnswer;

    // Read into fresh copies; the object's settings change only on success.
    auto s = std::make_unique<InstrumentSettings>();
    s->type = tp.type;
    RecordSet users;
    RecordSet equations;
    uint32_t& flags = s->flags;
    char key[16];
    for (const KeyBit& kb : row->keys) {
        if (kb.bit == 0) break;
        bool found = false;
        switch (kb.key) {
            case Key::kName:
                found = GetFileString(text, "name", s->name);
                break;
            case Key::kSn:
                found = GetFileString(text, "sn", s->sn);
                break;
            case Key::kLang:
                found = GetFileLong(text, "lang", s->lang);
                break;
            case Key::kContr:
                found = GetFileLong(text, "contr", s->contr);
                break;
            case Key::kConfig:
                found = GetFileString(text, "config", s->config);
                break;
            case Key::kFvals:
                found = GetFileString(text, "fvals", s->fvals);
                break;
            case Key::kUvals:
                found = GetFileString(text, "uvals", s->uvals);
                break;
            case Key::kUnits:
                found = GetFileLong(text, "units", s->units);
                break;
            case Key::kAdc:
                found = GetFileString(text, "adc", s->adc);
                break;
            case Key::kAdccal:
                found = GetFileString(text, "adccal", s->adccal);
                break;
            case Key::kCalprefs:
                found = GetFileString(text, "calprefs", s->calprefs);
                break;
            case Key::kPCUnits:
                found = GetFileString(text, "PCUnits", s->PCUnits);
                break;
            case Key::kSample:
                found = GetFileString(text, "sample", s->sample);
                break;
            case Key::kUsage:
                found = GetFileString(text, "usage", s->usage);
                break;
            case Key::kAdc15:
                found = GetFileString(text, "adc15", s->adc15);
                break;
            case Key::kAdc30:
                found = GetFileString(text, "adc30", s->adc30);
                break;
            case Key::kLocation:
                found = GetFileString(text, "location", s->location);
                break;
            case Key::kChai:
                found = GetFileString(text, "chai", s->chai);
                break;
            case Key::kExtCal:
                found = GetFileString(text, "extCal", s->extCal);
                break;
            case Key::kTadj:
                found = GetFileString(text, "tadj", s->tadj);
                break;
            case Key::kWtoffset:
                found = GetFileString(text, "wtoffset", s->wtoffset);
                break;
            case Key::kP1offset:
                found = GetFileString(text, "p1offset", s->p1offset);
                break;
            case Key::kAuto:
                found = GetFileString(text, "auto", s->auto_);
                break;
            case Key::kWtfactory:
                found = GetFileString(text, "wtfactory", s->wtfactory);
                break;
            case Key::kSys:
                found = GetFileString(text, "sys", s->sys);
                break;
            case Key::kContrWithSn:
                found = (flags & kInstSn) && GetFileLong(text, "contr", s->contr);
                break;
            case Key::kHadjTau:
                found = GetFileString(text, "hadj", s->hadj) && GetFileLong(text, "tau", s->tau);
                break;
            case Key::kCalFromZero:
                for (size_t i = 0; i < kSlotCount; ++i) {
                    snprintf(key, sizeof key, "cal%02d", static_cast<int>(i));
                    if (!GetFileString(text, key, s->slots[i])) break;
                    found = true;
                }
                break;
            case Key::kCalFromOne:
                for (size_t i = 0; i < kSlotCount; ++i) {
                    snprintf(key, sizeof key, "cal%02d", static_cast<int>(i + 1));
                    if (GetFileString(text, key, s->slots[i])) found = true;
                }
                break;
            case Key::kUsers: {
                const int rc = GetRecords_File(tp, users, kRecordKindUser, text);
                if (rc < 0) return rc;
                found = users.count > 0;
                break;
            }
            case Key::kEquations: {
                const int rc = GetRecords_File(tp, equations, kRecordKindEquation, text);
                if (rc < 0) return rc;
                found = equations.count > 0;
                break;
            }
        }
        if (found) flags |= kb.bit;
    }
    tp.instrumentSettings = *s;
    tp.users = std::move(users);
    tp.equations = std::move(equations);
    return kTPOk;
}

int ErrnoResult(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return kTPFileNotFound;
        case EACCES:
        case EPERM:
            return kTPFileAccessDenied;
        case EBADF:
            return kTPFileBadHandle;
        default:
            return -error;
    }
}

int NotASettingsFile(const Tarsa_protocol* tp, const char* path) {
    if (tp) Log(*tp, kLogOutcome, "ReadInfoFile found no settings file at %s", path);
    return kTPBadAnswer;
}

// Reads the whole regular file at `path` into `out`. Returns 1 or an error;
// `tp` (or null) receives the log line of a file that is not one.
int ReadWholeFile(const Tarsa_protocol* tp, const char* path, std::string& out) {
    // A FIFO in the file's place cannot hang the open.
    const int fd = platform::OpenForReading(path);
    if (fd == -EISDIR) return NotASettingsFile(tp, path);
    if (fd < 0) return ErrnoResult(-fd);
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        const int error = errno;
        close(fd);
        return ErrnoResult(error);
    }
    if (!S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) > kMaxFileSize) {
        close(fd);
        return NotASettingsFile(tp, path);
    }
    out.assign(static_cast<size_t>(st.st_size), '\0');
    size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = read(fd, out.data() + done, out.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int error = errno;
            close(fd);
            return -error;
        }
        if (n == 0) break;  // the file shrank while being read
        done += static_cast<size_t>(n);
    }
    out.resize(done);
    close(fd);
    return kTPOk;
}

}  // namespace

int WriteInfoFile(Tarsa_protocol& tp, const char* path) {
    if (!path || path[0] == '\0') return kTPMissingArgument;
    std::string content = kHeader;
    if (IsDataLoggerType(tp.type)) {
        WriteLoggerLines(tp.loggerSettings, content);
    } else if (tp.type == kTypeDigitalSensor) {
        WriteSensorLines(tp.sdi, content);
    } else {
        WriteInstrumentLines(tp, content);
    }
    const char* step = "open";
    const int rc = ReplaceFile(path, content, step);
    if (rc < 0) {
        if (strcmp(step, "open") == 0) {
            Log(tp, kLogOutcome, "WriteInfoFile got error %d trying to open settings file %s", -rc,
                path);
        } else {
            Log(tp, kLogOutcome, "WriteInfoFile got error %d trying to %s settings file %s", -rc,
                step, path);
        }
    }
    return rc;
}

int ReadInfoFile(Tarsa_protocol& tp, const char* path) {
    if (!path || path[0] == '\0') return kTPMissingArgument;
    std::string text;
    const int rc = ReadWholeFile(&tp, path, text);
    if (rc < 0) return rc;
    if (tp.type <= kTypeTalo || tp.type == kTypeLumet || tp.type > kLastInstrumentType) {
        return kTPNotApplicable;
    }
    if (IsDataLoggerType(tp.type)) return ReadLoggerInfo(tp, text);
    if (tp.type == kTypeDigitalSensor) return ReadSensorInfo(tp, text);
    return ReadInstrumentInfo(tp, text);
}

const char* SettingsFileTypeWord(int type) {
    switch (type) {
        case kTypeTalob:
            return "Talob";
        case kTypeTalox:
            return "Talox";
        case kTypeBrisen:
            return "Brisen";
        case kTypeKel7:
            return "kel7";
        case kTypeOxbel:
            return "Oxbel";
        case kTypeDigitalSensor:
            return "Digital Sensor";
        default:
            return InstrumentMatchWord(type);
    }
}

int SettingsFileTypeOf(const std::string& word) {
    for (int type = kTypeTalo; type <= kLastInstrumentType; ++type) {
        if (word == SettingsFileTypeWord(type)) return type;
    }
    return kTypeUnknown;
}

int ReadInfoFileValue(const char* path, const char* key, std::string& value) {
    if (!path || path[0] == '\0' || !key) return kTPMissingArgument;
    std::string text;
    const int rc = ReadWholeFile(nullptr, path, text);
    if (rc < 0) return rc;
    if (text.rfind(kHeader, 0) != 0) return kTPBadAnswer;
    const auto found = FindValue(text, key);
    if (!found) return kTPBadAnswer;
    value = Unescape(*found);
    return kTPOk;
}

int GetRecords_File(Tarsa_protocol& tp, RecordSet& set, int kind, std::string_view fileText) {
    const char* word = RecordKindWord(kind);
    if (!word) {
        Log(tp, kLogProgress, "GetRecords_File found an unexpected record type \"%d\"", kind);
        return kTPUnknownKind;
    }
    if (set.records) Log(tp, kLogProgress, "GetRecords_File found a non-null \"%s\" set", word);
    FreeRecords(set);
    // One pass over the lines finds each numbered key's first line ("user05",
    // "user123"; written as "%s%02d"), instead of a search of the whole file
    // for every one of up to kMaxRecords keys.
    const std::string_view prefix(word);
    std::vector<std::string_view> values(kMaxRecords);
    std::vector<bool> present(kMaxRecords, false);
    for (size_t line = 0; line < fileText.size();) {
        const size_t end = std::min(fileText.find('\n', line), fileText.size());
        if (fileText.substr(line, prefix.size()) == prefix) {
            size_t digits = line + prefix.size();
            int index = 0;
            size_t n = 0;
            while (digits + n < end && n < 4 && fileText[digits + n] >= '0' &&
                   fileText[digits + n] <= '9') {
                index = index * 10 + (fileText[digits + n] - '0');
                ++n;
            }
            // Only the writer's own spelling of the number is its key.
            const bool canonical = n >= 2 && (n == 2 || fileText[digits] != '0');
            if (canonical && index < kMaxRecords && !present[static_cast<size_t>(index)]) {
                if (auto value = ValueAt(fileText, digits + n)) {
                    values[static_cast<size_t>(index)] = *value;
                    present[static_cast<size_t>(index)] = true;
                }
            }
        }
        line = end + 1;
    }
    int count = 0;
    while (count < kMaxRecords && present[static_cast<size_t>(count)]) ++count;
    if (count == 0) {
        Log(tp, kLogProgress, "GetRecords_File found no \"%s\" records in instrument", word);
        return kTPNothing;
    }
    if (AllocateRecords(set, count) != kRecordsAllocated) {
        Log(tp, kLogProgress, "GetRecords_File couldn't allocate memory for %d records", count);
        return kTPNoMemory;
    }
    int read = 0;
    for (; read < count; ++read) {
        const std::string text = Unescape(values[static_cast<size_t>(read)]);
        if (text.empty()) break;
        SetText(set.records[read].text, text);
        Log(tp, kLogProgress, "GetRecords_File found \"%s\" %d as \"%s\"", word, read,
            set.records[read].text);
    }
    Log(tp, kLogProgress, "GetRecords_File retrieved %d of %d \"%s\" records", read, count, word);
    KeepRecords(set, read);
    return kTPOk;
}

}  // namespace tarsa
