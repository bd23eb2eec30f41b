// The data-logger models: model table, setting table, and the application
// firmware's command handling for new firmware ("get"/"set" with options) and
// for old Talo firmware ("show", "hertz", "time", "set -p" and a few "set"
// options, "?" for everything else).
#include "sim/logger_models.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iterator>
#include <vector>

#include "sim/device.h"

namespace tarsa::sim {

namespace {

// Feature bits: which commands a firmware version has.
constexpr uint32_t kFeatBaud = 0x1;            // "set -baud"
constexpr uint32_t kFeatWake = 0x10;           // measurement interval and PADC
constexpr uint32_t kFeatPorts = 0x20;          // port configuration
constexpr uint32_t kFeatTrait = 0x40;          // the trait byte is stored
constexpr uint32_t kFeatRadio = 0x100;         // a radio modem may be fitted
constexpr uint32_t kFeatRadioMode = 0x200;     // "-r"
constexpr uint32_t kFeatClock = 0x1000;        // clock ("-t", "-d", "time")
constexpr uint32_t kFeatAdc = 0x10000;         // ADC calibration factors
constexpr uint32_t kFeatData = 0x20000;        // data parameter
constexpr uint32_t kFeatBuild = 0x40000;       // build identifier
constexpr uint32_t kFeatSeconds = 0x80000;     // seconds counter ("-sec")
constexpr uint32_t kFeatAdcPair = 0x100000;    // ADC calibration as one pair
constexpr uint32_t kFeatSite = 0x1000000;      // device ID, report, depths, site, time zone
constexpr uint32_t kFeatPosition = 0x4000000;  // latitude and longitude

// 2000-01-01 00:00:00 UTC in Unix seconds.
constexpr int64_t kEpoch2000 = 946684800;

// Rates of "set -baud" codes.
constexpr int kBaudRates[] = {9600, 19200, 38400, 57600, 115200, 230400, 460800};

struct FeatureStep {
    int fromVersion;
    uint32_t bits;
};

}  // namespace

struct LoggerModel {
    const char* name;         // device name, e.g. "talox"
    const char* word;         // model word of the identity, e.g. "Talox"
    const char* version;      // default version
    const char* factoryName;  // device name ("-i") from the factory
    uint32_t features;        // feature bits of new firmware
    int newFirmwareFrom;      // versions below run old firmware (0: none do)
    uint32_t oldFeatures;     // feature bits of old firmware
    FeatureStep steps[8];     // more bits from a version on
    bool alwaysRadio;         // the model always carries a radio modem
    int fixedRadioMode;       // the radio mode cannot change (-1: it can)
};

namespace {

// The models. Feature bits follow the firmware version; an update that
// changes the version changes them.
constexpr LoggerModel kModels[] = {
    {"talox",
     "Talox",
     "2.29",
     "TALOX",
     0x7737,
     0,
     0,
     {{105, 0x80},
      {108, 0x40},
      {112, 0x8800},
      {114, 0x70000},
      {118, 0xC00000},
      {119, 0x200000},
      {200, 0x1000000},
      {202, 0x4000000}},
     false,
     -1},
    {"talo", "Talo", "3.02", "TALO", 0x371F, 200, 0x331C, {}, false, -1},
    {"talob", "Talob", "2.04", "TALOB", 0x74BE, 0, 0, {{204, 0x40000}}, false, -1},
    {"br", "BR", "1.09", "BRISEN", 0x4503, 0, 0, {{105, 0x80}, {109, 0x20000}}, true, -1},
    {"kel7", "kel7", "1.20", "KEL7", 0x5E3FFF7, 0, 0, {}, false, 16},
    {"oxb", "OXB", "1.05", "OXBEL", 0x7C3F6F7, 0, 0, {}, false, -1},
    {"hd", "HD", "1.30", "HANDRA", 0x1D3083, 0, 0, {}, false, -1},
    {"tcd", "TCD", "1.02", "TCD", 0x3007, 0, 0, {}, false, -1},
};

enum class ValueType {
    Name,        // device name: 1 to 8 printable characters without separators
    Text,        // printable text up to `max` characters (may be empty)
    Int,         // decimal integer from `min` to `max`
    Coordinate,  // decimal degrees from `min` to `max`; empty clears to 0
    FiveBytes,   // five numbers 0 to 255
    AdcFactors,  // ten numbers 0 to 255 (five pairs) and a checksum
    Key,         // 32 hexadecimal digits
};

// Extra conditions of a setting.
constexpr unsigned kNeedsCellular = 0x1;  // only with a cellular modem
constexpr unsigned kReadOnly = 0x2;       // "set" is refused

struct SettingRow {
    const char* word;
    ValueType type;
    int64_t min;
    int64_t max;          // range, or the longest text
    uint32_t feature;     // feature bit that makes the setting exist (0: always)
    unsigned needs;       // kNeedsCellular, kReadOnly
    const char* factory;  // factory default (null: from the model or hardware)
    const char* storeAs;  // another name of the same value (null: itself)
};

constexpr char kFactoryAdc[] = "128 128 128 128 128 128 128 128 128 128";

constexpr SettingRow kSettings[] = {
    {"i", ValueType::Name, 1, 8, 0, 0, nullptr, nullptr},
    {"sn", ValueType::Text, 0, 15, 0, 0, "10001", nullptr},
    {"devid", ValueType::Text, 0, 8, kFeatSite, 0, "0", nullptr},
    {"report", ValueType::Int, 0, 255, kFeatSite, 0, "0", nullptr},
    {"depth", ValueType::FiveBytes, 0, 255, kFeatSite, 0, "0 0 0 0 0", nullptr},
    {"site", ValueType::Text, 0, 25, kFeatSite, 0, "Unnamed", nullptr},
    {"lat", ValueType::Coordinate, -90, 90, kFeatPosition, 0, "+0.00000", nullptr},
    {"long", ValueType::Coordinate, -180, 180, kFeatPosition, 0, "+0.00000", nullptr},
    {"tz", ValueType::Int, -48, 56, kFeatSite, 0, "0", nullptr},
    {"w", ValueType::Int, 0, 86400, kFeatWake, 0, "300", nullptr},
    {"padc", ValueType::Int, 0, 65535, kFeatWake, 0, "60", nullptr},
    {"ports", ValueType::FiveBytes, 0, 255, kFeatPorts, 0, "0 0 0 0 0", nullptr},
    {"trait", ValueType::Int, 0, 255, kFeatTrait, 0, nullptr, nullptr},
    {"r", ValueType::Int, 0, 255, kFeatRadioMode, 0, nullptr, nullptr},
    {"data", ValueType::Int, INT32_MIN, INT32_MAX, kFeatData, 0, "0", nullptr},
    {"build", ValueType::Text, 0, 16, kFeatBuild, 0, "1000", nullptr},
    {"adc30", ValueType::AdcFactors, 0, 255, kFeatAdc, 0, kFactoryAdc, nullptr},
    {"adc15", ValueType::AdcFactors, 0, 255, kFeatAdc, 0, kFactoryAdc, nullptr},
    {"apn", ValueType::Text, 0, 35, 0, kNeedsCellular, "internet", nullptr},
    {"user", ValueType::Text, 0, 35, 0, kNeedsCellular, "guest", nullptr},
    {"passwd", ValueType::Text, 0, 35, 0, kNeedsCellular, "guest", nullptr},
    // Firmware before the site settings knows the key only as "teakey".
    {"authkey", ValueType::Key, 32, 32, kFeatSite, kNeedsCellular,
     "00000000000000000000000000000000", nullptr},
    {"teakey", ValueType::Key, 32, 32, 0, kNeedsCellular, nullptr, "authkey"},
    {"host", ValueType::Text, 0, 63, 0, kNeedsCellular, "collector.local", nullptr},
    {"ipport", ValueType::Int, 0, 65535, 0, kNeedsCellular, "5000", nullptr},
    {"batt", ValueType::Int, 0, 100, 0, kReadOnly, "87", nullptr},
};

// Options that old firmware takes after "set", and the setting each one sets.
struct OldSetOption {
    const char* option;
    const char* word;
};
constexpr OldSetOption kOldSetOptions[] = {{"i", "i"}, {"w", "w"}, {"r", "r"}, {"p", "padc"}};

// Old firmware at this version or below has no PADC ("hertz", "set -p").
constexpr int kOldFirmwareLastWithoutPadc = 164;

const LoggerModel* FindModel(std::string_view name) {
    for (const LoggerModel& model : kModels) {
        if (name == model.name) return &model;
    }
    return nullptr;
}

const SettingRow* FindSetting(std::string_view word) {
    for (const SettingRow& row : kSettings) {
        if (word == row.word) return &row;
    }
    return nullptr;
}

std::string StoreKey(const SettingRow& row) {
    return row.storeAs != nullptr ? row.storeAs : row.word;
}

std::string Decimal(int64_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "%lld", static_cast<long long>(value));
    return text;
}

std::string UpperHex(int64_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "%llX", static_cast<unsigned long long>(value));
    return text;
}

// A whole decimal integer (optional sign) in [min, max].
bool ParseInt(std::string_view text, int64_t min, int64_t max, int64_t& value) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    if (i == text.size() || text.size() - i > 11) return false;
    int64_t v = 0;
    for (; i < text.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
        v = v * 10 + (text[i] - '0');
    }
    if (negative) v = -v;
    if (v < min || v > max) return false;
    value = v;
    return true;
}

// Numbers separated by single or repeated blanks.
bool ParseNumbers(std::string_view text, std::vector<int64_t>& numbers, int64_t min, int64_t max) {
    numbers.clear();
    std::size_t pos = 0;
    while (pos < text.size()) {
        while (pos < text.size() && text[pos] == ' ') ++pos;
        if (pos == text.size()) break;
        std::size_t end = text.find(' ', pos);
        if (end == std::string_view::npos) end = text.size();
        int64_t v = 0;
        if (!ParseInt(text.substr(pos, end - pos), min, max, v)) return false;
        numbers.push_back(v);
        pos = end;
    }
    return true;
}

bool Printable(std::string_view text) {
    for (char c : text) {
        auto u = static_cast<unsigned char>(c);
        if (u < 32 || u >= 127) return false;
    }
    return true;
}

bool ValidName(std::string_view name) {
    if (name.empty() || name.size() > 8) return false;
    for (char c : name) {
        auto u = static_cast<unsigned char>(c);
        if (u <= 32 || u >= 127) return false;
        if (std::string_view("?\\\"/<>*|:;,").find(c) != std::string_view::npos) return false;
    }
    return true;
}

int AdcChecksum(const std::vector<int64_t>& factors) {
    int64_t sum = 0;
    for (std::size_t i = 0; i < 10 && i < factors.size(); ++i) sum += factors[i];
    return static_cast<int>(sum % 256);
}

// Checks `text` against the row and gives the form the device prints. For
// ADC factors the input is the ten stored numbers (no checksum).
bool Normalise(const SettingRow& row, std::string_view text, std::string& out) {
    switch (row.type) {
        case ValueType::Name:
            if (!ValidName(text)) return false;
            out = text;
            return true;
        case ValueType::Text:
            if (text.size() > static_cast<std::size_t>(row.max) || !Printable(text)) return false;
            out = text;
            return true;
        case ValueType::Int: {
            int64_t v = 0;
            if (!ParseInt(text, row.min, row.max, v)) return false;
            out = Decimal(v);
            return true;
        }
        case ValueType::Coordinate: {
            double v = 0;
            if (!text.empty()) {
                std::string copy(text);
                char* end = nullptr;
                errno = 0;
                v = std::strtod(copy.c_str(), &end);
                if (errno != 0 || end == copy.c_str() || *end != '\0' || !std::isfinite(v) ||
                    v < static_cast<double>(row.min) || v > static_cast<double>(row.max)) {
                    return false;
                }
            }
            char formatted[32];
            std::snprintf(formatted, sizeof formatted, "%+.5f", v);
            out = formatted;
            return true;
        }
        case ValueType::FiveBytes:
        case ValueType::AdcFactors: {
            std::vector<int64_t> numbers;
            std::size_t count = row.type == ValueType::FiveBytes ? 5 : 10;
            if (!ParseNumbers(text, numbers, 0, 255) || numbers.size() != count) return false;
            out.clear();
            for (int64_t n : numbers) out += (out.empty() ? "" : " ") + Decimal(n);
            return true;
        }
        case ValueType::Key:
            if (text.size() != 32) return false;
            for (char c : text) {
                if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
            }
            out = text;
            return true;
    }
    return false;
}

int FactoryTrait(const LoggerState& state) {
    return 255 - (state.radioModem ? 1 : 0) - (state.cellular ? 8 : 0);
}

void ApplyFactory(LoggerState& state) {
    const LoggerModel& model = *state.model;
    std::string serial = state.values.count("sn") != 0 ? state.values["sn"] : "";
    state.values.clear();
    for (const SettingRow& row : kSettings) {
        if (row.storeAs != nullptr) continue;
        if (row.factory != nullptr) state.values[row.word] = row.factory;
    }
    state.values["i"] = model.factoryName;
    state.values["trait"] = Decimal(FactoryTrait(state));
    state.values["r"] = Decimal(model.fixedRadioMode >= 0 ? model.fixedRadioMode : 0);
    if (!serial.empty()) state.values["sn"] = serial;
}

// The device's clock: seconds since 2000 now.
int64_t ClockNow(const LoggerState& state, uint64_t nowMs) {
    return state.clockBase + static_cast<int64_t>((nowMs - state.clockBaseMs) / 1000);
}

void SetClock(LoggerState& state, int64_t seconds, uint64_t nowMs) {
    state.clockBase = seconds;
    state.clockBaseMs = nowMs;
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

// "a<sep>b<sep>c" with three whole numbers.
bool ParseTriple(std::string_view text, char sep, int64_t (&out)[3]) {
    std::size_t first = text.find(sep);
    std::size_t second = first == std::string_view::npos ? first : text.find(sep, first + 1);
    if (second == std::string_view::npos) return false;
    return ParseInt(text.substr(0, first), 0, 9999, out[0]) &&
           ParseInt(text.substr(first + 1, second - first - 1), 0, 9999, out[1]) &&
           ParseInt(text.substr(second + 1), 0, 9999, out[2]);
}

std::string ClockText(int64_t seconds) {
    int y, mo, d, h, mi, s;
    CalendarFromSeconds(seconds, y, mo, d, h, mi, s);
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", y, mo, d, h, mi, s);
    return text;
}

// The answer of an executed "set" on this firmware.
Answer SetOk(bool oldFirmware) {
    return oldFirmware ? Answer{"\r>", 0} : Say("OK");
}

Answer Rejected(bool oldFirmware) {
    return Say(oldFirmware ? "?" : "ERROR");
}

struct Context {
    Device& device;
    LoggerState& state;
    int version;
    uint32_t features;
    bool oldFirmware;
    uint64_t nowMs;

    bool Has(uint32_t bit) const { return (features & bit) != 0; }
    bool HasRow(const SettingRow& row) const {
        if (row.feature != 0 && !Has(row.feature)) return false;
        if ((row.needs & kNeedsCellular) != 0 && !state.cellular) return false;
        return true;
    }
};

Answer GetSetting(Context& c, const SettingRow& row) {
    const std::string& value = c.state.values[StoreKey(row)];
    if (row.type != ValueType::AdcFactors) return Say(value);
    std::vector<int64_t> f;
    ParseNumbers(value, f, 0, 255);
    if (f.size() != 10) return Say("ERROR");
    if (c.Has(kFeatAdcPair)) {
        return Say(Decimal(f[0]) + " " + Decimal(f[1]) + " " + Decimal((f[0] + f[1]) % 256));
    }
    return Say(value + " " + Decimal(AdcChecksum(f)));
}

Answer SetAdc(Context& c, const SettingRow& row, std::string_view text) {
    std::vector<int64_t> n;
    if (!ParseNumbers(text, n, 0, 255)) return Say("ERROR");
    std::vector<int64_t> stored;
    ParseNumbers(c.state.values[row.word], stored, 0, 255);
    if (c.Has(kFeatAdcPair)) {
        // One pair and its sum modulo 256.
        if (n.size() != 3 || (n[0] + n[1]) % 256 != n[2] || stored.size() != 10) {
            return Say("ERROR");
        }
        stored[0] = n[0];
        stored[1] = n[1];
    } else {
        if (n.size() != 11 || AdcChecksum(n) != n[10]) return Say("ERROR");
        stored.assign(n.begin(), n.begin() + 10);
    }
    std::string out;
    for (int64_t v : stored) out += (out.empty() ? "" : " ") + Decimal(v);
    c.state.values[row.word] = out;
    return Say("OK");
}

// Radio settings of the fitted modem, reached through the logger: the
// logger puts its modem into command mode ("OK"), then reports the value or
// the modem's answer to the setting.
Answer RadioGet(Context& c, std::string_view option) {
    if (!c.state.radioModem) return Say("No Radio");
    const Zl4Modem& m = c.state.modem;
    std::string value =
        option == "rver" ? m.version : UpperHex(option == "rch" ? m.channel : m.subChannel);
    return Say("OK\r" + value);
}

Answer RadioSet(Context& c, std::string_view option, std::string_view text) {
    if (!c.state.radioModem) return Say("No Radio");
    std::string upper(text);
    int64_t value = 0;
    char* end = nullptr;
    errno = 0;
    value = upper.empty() ? -1 : std::strtoll(upper.c_str(), &end, 16);
    int64_t max = option == "rch" ? kZl4MaxChannel : kZl4MaxSubChannel;
    if (upper.empty() || errno != 0 || *end != '\0' || value < 0 || value > max ||
        !std::isxdigit(static_cast<unsigned char>(upper[0]))) {
        return Say("OK\r\rERROR");
    }
    Zl4Modem& m = c.state.modem;
    (option == "rch" ? m.channel : m.subChannel) = static_cast<int>(value);
    (option == "rch" ? m.savedChannel : m.savedSubChannel) = static_cast<int>(value);
    return Say("OK\r\rOK");
}

Answer SetTime(Context& c, std::string_view text) {
    int64_t t[3];
    if (!ParseTriple(text, ':', t) || t[0] > 23 || t[1] > 59 || t[2] > 59) {
        return Rejected(c.oldFirmware);
    }
    int64_t now = ClockNow(c.state, c.nowMs);
    int64_t day = now >= 0 ? now / 86400 : (now - 86399) / 86400;
    SetClock(c.state, day * 86400 + t[0] * 3600 + t[1] * 60 + t[2], c.nowMs);
    return SetOk(c.oldFirmware);
}

Answer SetDate(Context& c, std::string_view text) {
    int64_t d[3];
    if (!ParseTriple(text, '-', d) || d[0] < 2000 || d[0] > 2099 || d[1] < 1 || d[1] > 12 ||
        d[2] < 1 || d[2] > DaysInMonth(static_cast<int>(d[0]), static_cast<int>(d[1]))) {
        return Rejected(c.oldFirmware);
    }
    int64_t now = ClockNow(c.state, c.nowMs);
    int64_t timeOfDay = ((now % 86400) + 86400) % 86400;
    SetClock(c.state,
             SecondsSince2000(static_cast<int>(d[0]), static_cast<int>(d[1]),
                              static_cast<int>(d[2]), 0, 0, 0) +
                 timeOfDay,
             c.nowMs);
    return SetOk(c.oldFirmware);
}

Answer SetBaud(Context& c, std::string_view text) {
    int64_t code = 0;
    if (!ParseInt(text, 0, static_cast<int64_t>(std::size(kBaudRates)) - 1, code)) {
        return Say("ERROR");
    }
    // The answer still goes out at the old speed; the next byte is heard at the new one.
    c.state.lineBaud = kBaudRates[code];
    return Answer{"\rOK\r", 0};
}

// Splits "-opt value" into the option word (without "-") and the value;
// `hasValue` tells whether a blank followed the option.
bool SplitOption(std::string_view args, std::string_view& option, std::string_view& value,
                 bool& hasValue) {
    if (args.size() < 2 || args[0] != '-') return false;
    std::size_t blank = args.find(' ');
    option = args.substr(1, blank == std::string_view::npos ? blank : blank - 1);
    hasValue = blank != std::string_view::npos;
    value = hasValue ? args.substr(blank + 1) : std::string_view();
    return !option.empty();
}

Answer Get(Context& c, std::string_view args) {
    std::string_view option, value;
    bool hasValue = false;
    if (!SplitOption(args, option, value, hasValue) || hasValue) return Say("ERROR");
    if (option == "ver") return Say(c.device.Identity());
    if (option == "t")
        return c.Has(kFeatClock) ? Say(ClockText(ClockNow(c.state, c.nowMs))) : Say("Unsupported");
    if (option == "sec") {
        return c.Has(kFeatSeconds) ? Say(Decimal(ClockNow(c.state, c.nowMs))) : Say("Unsupported");
    }
    if (option == "rch" || option == "rsch" || option == "rver") {
        return c.Has(kFeatRadio) ? RadioGet(c, option) : Say("Unsupported");
    }
    const SettingRow* row = FindSetting(option);
    if (row == nullptr) return Say("ERROR");
    if (!c.HasRow(*row)) return Say("Unsupported");
    return GetSetting(c, *row);
}

Answer Set(Context& c, std::string_view args) {
    std::string_view option, value;
    bool hasValue = false;
    if (!SplitOption(args, option, value, hasValue)) return Say("ERROR");
    if (option == "baud") return c.Has(kFeatBaud) ? SetBaud(c, value) : Say("Unsupported");
    if (option == "t" || option == "d") {
        if (!c.Has(kFeatClock)) return Say("Unsupported");
        return option == "t" ? SetTime(c, value) : SetDate(c, value);
    }
    if (option == "sec") {
        if (!c.Has(kFeatSeconds)) return Say("Unsupported");
        int64_t seconds = 0;
        if (!ParseInt(value, 0, UINT32_MAX, seconds)) return Say("ERROR");
        SetClock(c.state, seconds, c.nowMs);
        return Say("OK");
    }
    if (option == "rch" || option == "rsch") {
        return c.Has(kFeatRadio) ? RadioSet(c, option, value) : Say("Unsupported");
    }
    const SettingRow* row = FindSetting(option);
    if (row == nullptr) return Say("ERROR");
    if (!c.HasRow(*row)) return Say("Unsupported");
    if ((row->needs & kReadOnly) != 0) return Say("ERROR");
    if (row->type == ValueType::AdcFactors) return SetAdc(c, *row, value);
    if (row->word == std::string_view("r") && c.state.model->fixedRadioMode >= 0 &&
        value != Decimal(c.state.model->fixedRadioMode)) {
        return Say("ERROR");
    }
    std::string normal;
    if (!Normalise(*row, value, normal)) return Say("ERROR");
    c.state.values[StoreKey(*row)] = normal;
    return Say("OK");
}

Answer EraseStoredData(Context& c) {
    if (c.state.brokenDataFlash) {
        return Say(c.oldFirmware ? "DataFlash FAIL!" : "DataFlash FAIL");
    }
    c.state.storedRecords = 0;
    Answer answer = Say(c.oldFirmware ? "Data erased OK!" : "OK");
    answer.workMs = c.state.eraseDataMs;
    return answer;
}

// "show": the identity and a few settings of old firmware, one label a line.
Answer Show(Context& c) {
    std::string_view identity = c.device.Identity();
    std::size_t blank = identity.find(' ');
    std::string version(blank == std::string_view::npos ? "" : identity.substr(blank + 1));
    return Say("ID: " + c.state.values["i"] + "\rVersion: " + version +
               "\rRadio: " + c.state.values["r"] + "\rWake: " + c.state.values["w"] +
               "\rResets: " + Decimal(c.state.resets));
}

Answer OldSet(Context& c, std::string_view args) {
    std::string_view option, value;
    bool hasValue = false;
    if (!SplitOption(args, option, value, hasValue)) return Rejected(true);
    if (option == "t") return SetTime(c, value);
    if (option == "d") return SetDate(c, value);
    for (const OldSetOption& o : kOldSetOptions) {
        if (option != o.option) continue;
        if (o.word == std::string_view("padc") && c.version <= kOldFirmwareLastWithoutPadc) break;
        std::string normal;
        if (!Normalise(*FindSetting(o.word), value, normal)) return Rejected(true);
        c.state.values[o.word] = normal;
        return SetOk(true);
    }
    return Rejected(true);
}

// "term" (old firmware): from now on the bytes go to the radio modem, until a
// line "term" while the modem is in data mode.
Answer Terminal(Context& c) {
    if (!c.state.radioModem) return Rejected(true);
    c.state.terminal = true;
    return Answer{"\rTERM\r", 0};
}

Answer TerminalInput(Context& c, const std::string& line, bool escape) {
    Zl4Modem& modem = c.state.modem;
    if (escape) return Answer{Zl4Escape(modem, c.nowMs), 0};
    if (modem.commandMode) return Answer{Zl4Command(modem, line, c.nowMs), 0};
    if (line == "term") {
        c.state.terminal = false;
        return Answer{"\r>", 0};
    }
    return {};  // sent over the radio; nobody answers a logger's own modem here
}

Answer Common(Context& c, std::string_view word, std::string_view args, bool& handled) {
    handled = true;
    if (word == "boot") return AppBootCommand(c.device, args);
    if (word == "post") return AppPostCommand(c.device, args);
    if (word == "yes" && args.empty()) return EraseStoredData(c);
    if (word == "query" && args.empty()) return Answer{c.state.values["i"] + "\r", 0};
    if (word == "login" || word == "logout") return c.oldFirmware ? SetOk(true) : Say("OK");
    handled = false;
    return {};
}

}  // namespace

Answer LoggerExecute(Device& device, const std::string& line, uint64_t nowMs) {
    LoggerState& state = device.Logger();
    int version = IdentityVersion(device.Identity());
    bool old = LoggerOldFirmware(*state.model, version);
    uint32_t features = old ? state.model->oldFeatures : LoggerFeatures(*state.model, version);
    Context c{device, state, version, features, old, nowMs};

    if (state.terminal) return TerminalInput(c, line, state.terminalEscape);
    if (line.empty()) return Say("");
    std::string_view text(line);
    std::size_t blank = text.find(' ');
    std::string_view word = text.substr(0, blank);
    std::string_view args =
        blank == std::string_view::npos ? std::string_view() : text.substr(blank + 1);
    bool handled = false;
    Answer answer = Common(c, word, args, handled);
    if (handled) return answer;
    if (old) {
        if (word == "show" && args.empty()) return Show(c);
        if (word == "hertz" && args.empty() && version > kOldFirmwareLastWithoutPadc) {
            return Say(state.values["padc"] + " Hz");
        }
        if (word == "time" && args.empty()) {
            return Say("Date\\Time: " + ClockText(ClockNow(state, nowMs)));
        }
        if (word == "set") return OldSet(c, args);
        if (word == "term" && args.empty()) return Terminal(c);
        return Rejected(true);
    }
    if (word == "get") return Get(c, args);
    if (word == "set") return Set(c, args);
    return Say("Unsupported");
}

bool LoggerInit(LoggerState& state, std::string_view modelName, const DeviceConfig& config,
                uint64_t nowMs) {
    state.model = FindModel(modelName);
    if (state.model == nullptr) return false;
    state.radioModem = config.radioModem || state.model->alwaysRadio;
    state.cellular = config.cellular;
    state.brokenDataFlash = config.brokenDataFlash;
    state.eraseDataMs = config.eraseDataMs > 0 ? config.eraseDataMs : 0;
    state.storedRecords = config.storedRecords;
    state.lineBaud = config.appBaud;
    state.modem.channel = state.modem.savedChannel = config.radioChannel;
    state.modem.subChannel = state.modem.savedSubChannel = config.radioSubChannel;
    state.modem.version = config.radioVersion;
    ApplyFactory(state);
    SetClock(state, static_cast<int64_t>(std::time(nullptr)) - kEpoch2000, nowMs);
    for (const auto& [word, value] : config.settings) {
        int64_t number = 0;
        if (word == "clock") {
            if (!ParseInt(value, 0, UINT32_MAX, number)) return false;
            SetClock(state, number, nowMs);
            continue;
        }
        if (word == "resets") {
            if (!ParseInt(value, 0, INT32_MAX, number)) return false;
            state.resets = static_cast<int>(number);
            continue;
        }
        const SettingRow* row = FindSetting(word);
        if (row == nullptr || row->storeAs != nullptr) return false;
        if (row->word == std::string_view("r") && state.model->fixedRadioMode >= 0 &&
            value != Decimal(state.model->fixedRadioMode)) {
            return false;
        }
        std::string normal;
        if (!Normalise(*row, value, normal)) return false;
        state.values[word] = normal;
    }
    return true;
}

void LoggerFactoryReset(LoggerState& state, const DeviceConfig& config, uint64_t nowMs) {
    ApplyFactory(state);
    state.lineBaud = config.appBaud;
    state.terminal = false;
    ++state.resets;
    // The clock lives in the processor and starts again at 2000-01-01.
    SetClock(state, 0, nowMs);
}

std::map<std::string, std::string> LoggerSettings(const LoggerState& state, uint64_t nowMs) {
    std::map<std::string, std::string> out = state.values;
    out["clock"] = Decimal(ClockNow(state, nowMs));
    out["baud"] = Decimal(state.lineBaud);
    out["records"] = Decimal(state.storedRecords);
    out["resets"] = Decimal(state.resets);
    if (state.radioModem) {
        out["rch"] = UpperHex(state.modem.channel);
        out["rsch"] = UpperHex(state.modem.subChannel);
        out["rver"] = state.modem.version;
    }
    return out;
}

std::string LoggerDefaultIdentity(std::string_view modelName) {
    const LoggerModel* model = FindModel(modelName);
    if (model == nullptr) return {};
    return std::string(model->word) + " " + model->version;
}

std::string LoggerModelWord(std::string_view modelName) {
    const LoggerModel* model = FindModel(modelName);
    return model == nullptr ? std::string() : model->word;
}

uint32_t LoggerFeatures(const LoggerModel& model, int version) {
    uint32_t bits = model.features;
    for (const FeatureStep& step : model.steps) {
        if (step.bits != 0 && version >= step.fromVersion) bits |= step.bits;
    }
    return bits;
}

bool LoggerOldFirmware(const LoggerModel& model, int version) {
    return model.newFirmwareFrom > 0 && version < model.newFirmwareFrom;
}

int IdentityVersion(std::string_view identity) {
    std::size_t blank = identity.find(' ');
    if (blank == std::string_view::npos) return -1;
    std::string_view v = identity.substr(blank + 1);
    std::size_t dot = v.find('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 3 > v.size()) return -1;
    int64_t major = 0;
    if (!ParseInt(v.substr(0, dot), 0, 99, major)) return -1;
    char d1 = v[dot + 1], d2 = v[dot + 2];
    if (!std::isdigit(static_cast<unsigned char>(d1)) ||
        !std::isdigit(static_cast<unsigned char>(d2))) {
        return -1;
    }
    return static_cast<int>(major * 100 + (d1 - '0') * 10 + (d2 - '0'));
}

namespace {
// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's method).
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2 ? 1 : 0;
    int64_t era = (y >= 0 ? y : y - 399) / 400;
    int64_t yoe = y - era * 400;
    int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}
}  // namespace

int64_t SecondsSince2000(int year, int month, int day, int hour, int minute, int second) {
    int64_t days = DaysFromCivil(year, month, day) - DaysFromCivil(2000, 1, 1);
    return days * 86400 + hour * 3600 + minute * 60 + second;
}

void CalendarFromSeconds(int64_t seconds, int& year, int& month, int& day, int& hour, int& minute,
                         int& second) {
    int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
    int64_t rest = seconds - days * 86400;
    hour = static_cast<int>(rest / 3600);
    minute = static_cast<int>(rest / 60 % 60);
    second = static_cast<int>(rest % 60);
    int64_t z = days + DaysFromCivil(2000, 1, 1) + 719468;
    int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

const DeviceKind* LoggerKinds(std::size_t& count) {
    static const DeviceKind kinds[] = {
        {"talox", nullptr, 0, &kModels[0]}, {"talo", nullptr, 0, &kModels[1]},
        {"talob", nullptr, 0, &kModels[2]}, {"br", nullptr, 0, &kModels[3]},
        {"kel7", nullptr, 0, &kModels[4]},  {"oxb", nullptr, 0, &kModels[5]},
        {"hd", nullptr, 0, &kModels[6]},    {"tcd", nullptr, 0, &kModels[7]},
    };
    count = std::size(kinds);
    return kinds;
}

}  // namespace tarsa::sim
