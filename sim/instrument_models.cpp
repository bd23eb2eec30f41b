// The text-command instrument models: model table, option table, and the
// application firmware's handling of "get"/"set" with options, the record
// lists, "reset", "login"/"logout", "yes" and the seconds clock.
#include "sim/instrument_models.h"

#include <cctype>
#include <cstdio>
#include <ctime>
#include <iterator>

#include "sim/device.h"
#include "sim/logger_models.h"
#include "sim/simulator.h"

namespace tarsa::sim {

namespace {

// Extra commands a model has beyond its options.
constexpr unsigned kLogin = 0x1;      // settings and records need "login *CODE" first
constexpr unsigned kErase = 0x2;      // "yes" erases the stored measurements
constexpr unsigned kClock = 0x4;      // "get/set -sec", "get -t", "set -t", "set -d"
constexpr unsigned kEquations = 0x8;  // "eqn" records, "reset -eqn"
constexpr unsigned kUsers = 0x10;     // "user" records, "reset -users"

// Record lists: how many records fit and the longest text of one.
constexpr std::size_t kEquationCapacity = 100;
constexpr std::size_t kUserCapacity = 25;
constexpr std::size_t kRecordTextMax = 200;
// Calibration entries ("-cal N") of the models that have them.
constexpr int kCalibrationEntries = 8;

// 2000-01-01 00:00:00 UTC in Unix seconds.
constexpr int64_t kEpoch2000 = 946684800;

}  // namespace

struct OptionStep {
    int fromVersion;      // 0: none
    const char* options;  // more option ids from that version on
};

struct InstrumentModel {
    const char* name;     // device name, the lower-case catalogue match word
    const char* word;     // model word of the identity
    const char* version;  // default version (readers: their logger row's)
    int type;             // catalogue type code
    const char* options;  // option ids, blank-separated
    OptionStep step;
    unsigned commands;  // kLogin, kErase, kClock, kEquations, kUsers
    bool loggerRow;     // a reader whose logger row answers what this row does not know
    FlashMap flash;
    int loaderBaud;
};

namespace {

enum class Shape {
    Text,          // printable text from `min` to `max` characters
    Serial,        // 1 to `max` printable characters without a blank
    Int,           // decimal integer from `min` to `max`
    SerialConfig,  // options from `min` to `max`, printed plus the serial number's code sum
    Calibration,   // "-cal N": kCalibrationEntries texts of up to `max` characters
};

struct OptionRow {
    const char* id;    // what a model's option list names
    const char* word;  // the option on the wire ("get -word")
    Shape shape;
    int64_t min;
    int64_t max;
    const char* factory;
    bool readOnly;
};

constexpr OptionRow kOptions[] = {
    {"sn", "sn", Shape::Serial, 1, 15, "10001", false},
    {"lang", "lang", Shape::Int, 0, 9, "0", false},
    {"contr", "contr", Shape::Int, 0, 100, "50", false},
    {"fvals", "fvals", Shape::Text, 1, 200, "1.000 1.000 1.000 1.000", false},
    {"uvals", "uvals", Shape::Text, 1, 200, "0.000 0.000 0.000 0.000", false},
    {"pvuser", "pvuser", Shape::Text, 1, 200, "0 0 0 0", false},
    {"units", "units", Shape::Int, 0, 9, "0", false},
    {"pcunits", "units", Shape::Text, 1, 63, "mmHg", false},
    {"adc", "adc", Shape::Text, 1, 16, "2048 4095", false},
    {"adccal", "adccal", Shape::Text, 1, 63, "0 1.0000", false},
    {"config", "config", Shape::Text, 1, 64, "0", false},
    {"sconfig", "config", Shape::SerialConfig, 0, 65535, "4096", false},
    {"auto", "auto", Shape::Text, 1, 63, "0", false},
    {"sample", "sample", Shape::Text, 1, 200, "10 60", false},
    {"usage", "usage", Shape::Text, 1, 200, "0", false},
    {"wtfactory", "wtfactory", Shape::Text, 1, 63, "0.000", false},
    {"sys", "sys", Shape::Text, 1, 200, "0", false},
    {"loc", "loc", Shape::Text, 1, 200, "Unknown", false},
    {"x", "x", Shape::Text, 1, 16, "1.000", false},
    {"ext", "ext", Shape::Text, 1, 16, "0", false},
    {"tadj", "tadj", Shape::Text, 1, 200, "0.00", false},
    {"hadj", "hadj", Shape::Text, 1, 200, "0.00", false},
    {"tau", "tau", Shape::Int, 0, 3600, "10", false},
    {"p", "p", Shape::Text, 1, 200, "0", false},
    {"pv", "pv", Shape::Text, 1, 200, "0", false},
    {"c76", "c76", Shape::Text, 1, 200, "0", false},
    {"p0", "p0", Shape::Text, 1, 63, "0.0", false},
    {"p3", "p3", Shape::Text, 1, 63, "0.0", false},
    {"p5", "p5", Shape::Text, 1, 63, "0.0", false},
    {"lwidth", "lwidth", Shape::Text, 1, 63, "0.0", false},
    {"ltemp", "ltemp", Shape::Text, 1, 63, "25.0", false},
    {"current", "current", Shape::Text, 1, 63, "0.0", false},
    {"p1", "p1", Shape::Text, 1, 63, "0.0", false},
    {"cal", "cal", Shape::Calibration, 0, 63, "1.000 0.000", false},
    {"sensor", "sensor", Shape::Int, 0, 9, "1", false},
    {"batt", "batt", Shape::Int, 0, 100, "87", true},
};

constexpr FlashMap kDefaultMap{};
constexpr FlashMap kMap2100{0x1000, 3, 64, 0x2100, 0x20000};
constexpr FlashMap kMapHvx{0x1800, 3, 128, 0x5C00, 0x3C000};
constexpr FlashMap kMapH8Lzr{0x1800, 4, 128, 0x8000, 0x28000};
constexpr FlashMap kMapDraxo{0x1000, 3, 64, 0x8000, 0x10000};

constexpr InstrumentModel kModels[] = {
    {"hmini",
     "HMini",
     "1.25",
     6,
     "sn lang contr fvals uvals hadj tau",
     {},
     kLogin,
     false,
     kDefaultMap,
     9600},
    {"tk",
     "TK",
     "1.40",
     7,
     "sn contr units adc sample batt",
     {},
     kErase | kClock,
     false,
     kDefaultMap,
     9600},
    {"sr40",
     "SR40",
     "2.10",
     8,
     "adccal loc x ext",
     {200, "sn contr config"},
     kErase | kClock,
     false,
     kDefaultMap,
     9600},
    {"vn",
     "VN",
     "1.12",
     9,
     "sn contr fvals units batt",
     {},
     kErase | kClock,
     false,
     kDefaultMap,
     9600},
    {"srbl",
     "SRBL",
     "1.05",
     11,
     "sn adccal auto wtfactory sys",
     {},
     kErase | kClock,
     false,
     kDefaultMap,
     9600},
    {"h6b", "H6B", "3.60", 12, "adccal config", {}, kLogin, false, kDefaultMap, 9600},
    // The readers: name, serial number, battery, erase, clock and the rest
    // come from their logger row.
    {"tcd", "TCD", "1.02", 13, "", {}, 0, true, kDefaultMap, 9600},
    {"hd", "HD", "1.30", 14, "contr cal", {}, 0, true, kMap2100, 57600},
    {"h8",
     "H8",
     "2.10",
     15,
     "sn sconfig tadj sensor",
     {205, "pvuser"},
     kLogin | kErase | kClock | kEquations | kUsers,
     false,
     kMap2100,
     57600},
    {"hvx",
     "HVX",
     "1.20",
     16,
     "sn config p pv c76 tadj",
     {},
     kErase | kClock | kUsers,
     false,
     kMapHvx,
     57600},
    {"px9t", "PX9T", "1.03", 17, "sn config", {}, kLogin, false, kDefaultMap, 9600},
    {"vel", "Vel", "1.01", 20, "sn config", {}, kLogin, false, kDefaultMap, 9600},
    {"h8lzr",
     "H8LZR",
     "2.05",
     22,
     "sn p0 p3 p5 lwidth ltemp current p1 sconfig tadj",
     {},
     kErase | kClock | kEquations | kUsers,
     false,
     kMapH8Lzr,
     57600},
    {"imb",
     "IMB",
     "1.10",
     23,
     "sn contr usage p pcunits tadj batt",
     {},
     kErase | kClock,
     false,
     kMap2100,
     57600},
    {"draxo", "Draxo", "1.00", 24, "sn batt", {}, 0, false, kMapDraxo, 9600},
};

std::string Decimal(int64_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "%lld", static_cast<long long>(value));
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

bool Printable(std::string_view text) {
    for (char c : text) {
        auto u = static_cast<unsigned char>(c);
        if (u < 32 || u >= 127) return false;
    }
    return true;
}

// True when the blank-separated list `ids` holds `id`.
bool ListHas(std::string_view ids, std::string_view id) {
    std::size_t pos = 0;
    while (pos < ids.size()) {
        std::size_t end = ids.find(' ', pos);
        if (end == std::string_view::npos) end = ids.size();
        if (ids.substr(pos, end - pos) == id) return true;
        pos = end + 1;
    }
    return false;
}

const OptionRow* FindRowById(std::string_view id) {
    for (const OptionRow& row : kOptions) {
        if (id == row.id) return &row;
    }
    return nullptr;
}

// Whether the model has the option id at all (any version) or at `version`.
bool ModelHas(const InstrumentModel& model, std::string_view id, int version) {
    if (ListHas(model.options, id)) return true;
    return model.step.options != nullptr && version >= model.step.fromVersion &&
           ListHas(model.step.options, id);
}

bool ModelHasAnyVersion(const InstrumentModel& model, std::string_view id) {
    return ModelHas(model, id, 9999);
}

// The model's row for a wire word at `version` (null when it has none then).
const OptionRow* ModelRow(const InstrumentModel& model, std::string_view word, int version) {
    for (const OptionRow& row : kOptions) {
        if (word == row.word && ModelHas(model, row.id, version)) return &row;
    }
    return nullptr;
}

bool AnyModelHasWord(std::string_view word) {
    for (const OptionRow& row : kOptions) {
        if (word == row.word) return true;
    }
    return word == "sec" || word == "t" || word == "eqn" || word == "user" || word == "ver";
}

int CodeSum(std::string_view text) {
    int sum = 0;
    for (char c : text) sum += static_cast<signed char>(c);
    return sum;
}

// Checks a value against a row and gives the text to store (for the serial
// config: the options part, the printed value less the serial number's sum).
bool Normalise(const OptionRow& row, std::string_view text, const std::string& serial,
               std::string& out) {
    switch (row.shape) {
        case Shape::Text:
        case Shape::Calibration:
            if (text.size() < static_cast<std::size_t>(row.min) ||
                text.size() > static_cast<std::size_t>(row.max) || !Printable(text)) {
                return false;
            }
            out = text;
            return true;
        case Shape::Serial:
            if (text.empty() || text.size() > static_cast<std::size_t>(row.max) ||
                !Printable(text) || text.find(' ') != std::string_view::npos) {
                return false;
            }
            out = text;
            return true;
        case Shape::Int: {
            int64_t v = 0;
            if (!ParseInt(text, row.min, row.max, v)) return false;
            out = Decimal(v);
            return true;
        }
        case Shape::SerialConfig: {
            int64_t printed = 0;
            if (!ParseInt(text, INT32_MIN, INT32_MAX, printed)) return false;
            int64_t options = printed - CodeSum(serial);
            if (options < row.min || options > row.max) return false;
            out = Decimal(options);
            return true;
        }
    }
    return false;
}

std::string Printed(const InstrumentState& state, const OptionRow& row) {
    auto it = state.values.find(row.word);
    std::string value = it == state.values.end() ? std::string() : it->second;
    if (row.shape != Shape::SerialConfig) return value;
    auto sn = state.values.find("sn");
    int64_t options = 0;
    ParseInt(value, INT32_MIN, INT32_MAX, options);
    return Decimal(options + CodeSum(sn == state.values.end() ? "" : sn->second));
}

std::string CalibrationKey(int index) {
    return "cal" + Decimal(index);
}

// User records are base64 text: whole groups of four from the alphabet.
bool ValidUserRecord(std::string_view text) {
    if (text.empty() || text.size() > kRecordTextMax || text.size() % 4 != 0) return false;
    for (char c : text) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '/' && c != '=') {
            return false;
        }
    }
    return true;
}

// An equation record starts with its name (no leading blank).
bool ValidEquation(std::string_view text) {
    return !text.empty() && text.size() <= kRecordTextMax && text[0] != ' ' && Printable(text);
}

int64_t ClockNow(const InstrumentState& state, uint64_t nowMs) {
    return state.clockBase + static_cast<int64_t>((nowMs - state.clockBaseMs) / 1000);
}

void SetClock(InstrumentState& state, int64_t seconds, uint64_t nowMs) {
    state.clockBase = seconds;
    state.clockBaseMs = nowMs;
}

std::string ClockText(int64_t seconds) {
    int y, mo, d, h, mi, s;
    CalendarFromSeconds(seconds, y, mo, d, h, mi, s);
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", y, mo, d, h, mi, s);
    return text;
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

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

// Splits "-opt value" into the option word and the value.
bool SplitOption(std::string_view args, std::string_view& option, std::string_view& value,
                 bool& hasValue) {
    if (args.size() < 2 || args[0] != '-') return false;
    std::size_t blank = args.find(' ');
    option = args.substr(1, blank == std::string_view::npos ? blank : blank - 1);
    hasValue = blank != std::string_view::npos;
    value = hasValue ? args.substr(blank + 1) : std::string_view();
    return !option.empty();
}

// "N rest" with N a record or entry number below `limit`.
bool SplitIndex(std::string_view value, int64_t limit, int64_t& index, std::string_view& rest,
                bool& hasRest) {
    std::size_t blank = value.find(' ');
    hasRest = blank != std::string_view::npos;
    rest = hasRest ? value.substr(blank + 1) : std::string_view();
    return ParseInt(value.substr(0, blank), 0, limit - 1, index);
}

struct Context {
    Device& device;
    InstrumentState& state;
    const InstrumentModel& model;
    int version;
    uint64_t nowMs;

    bool Has(unsigned bit) const { return (model.commands & bit) != 0; }
};

std::vector<std::string>* RecordList(Context& c, std::string_view word) {
    if (word == "eqn" && c.Has(kEquations)) return &c.state.equations;
    if (word == "user" && c.Has(kUsers)) return &c.state.users;
    return nullptr;
}

Answer GetRecords(Context& c, std::string_view word, std::string_view value, bool hasValue) {
    std::vector<std::string>* list = RecordList(c, word);
    if (list == nullptr) return Say("Unsupported");
    if (!hasValue) return Say(Decimal(static_cast<int64_t>(list->size())));
    int64_t index = 0;
    if (!ParseInt(value, 0, static_cast<int64_t>(list->size()) - 1, index)) return Say("ERROR");
    return Say((*list)[static_cast<std::size_t>(index)]);
}

Answer SetRecord(Context& c, std::string_view word, std::string_view value) {
    std::vector<std::string>* list = RecordList(c, word);
    if (list == nullptr) return Say("Unsupported");
    bool users = word == "user";
    int64_t index = 0;
    std::string_view text;
    bool hasText = false;
    std::size_t capacity = users ? kUserCapacity : kEquationCapacity;
    if (!SplitIndex(value, static_cast<int64_t>(capacity), index, text, hasText) || !hasText ||
        static_cast<std::size_t>(index) > list->size()) {
        return Say("ERROR");
    }
    if (users ? !ValidUserRecord(text) : !ValidEquation(text)) return Say("ERROR");
    auto at = static_cast<std::size_t>(index);
    if (at == list->size()) {
        list->emplace_back(text);
    } else {
        (*list)[at] = text;
    }
    return Say("OK");
}

Answer GetCalibration(Context& c, std::string_view value, bool hasValue) {
    int64_t index = 0;
    std::string_view rest;
    bool hasRest = false;
    if (!hasValue || !SplitIndex(value, kCalibrationEntries, index, rest, hasRest) || hasRest) {
        return Say("ERROR");
    }
    return Say(c.state.values[CalibrationKey(static_cast<int>(index))]);
}

Answer SetCalibration(Context& c, const OptionRow& row, std::string_view value) {
    int64_t index = 0;
    std::string_view text;
    bool hasText = false;
    std::string normal;
    if (!SplitIndex(value, kCalibrationEntries, index, text, hasText) || !hasText ||
        !Normalise(row, text, "", normal)) {
        return Say("ERROR");
    }
    c.state.values[CalibrationKey(static_cast<int>(index))] = normal;
    return Say("OK");
}

Answer SetTime(Context& c, std::string_view text) {
    int64_t t[3];
    if (!ParseTriple(text, ':', t) || t[0] > 23 || t[1] > 59 || t[2] > 59) return Say("ERROR");
    int64_t now = ClockNow(c.state, c.nowMs);
    int64_t day = now >= 0 ? now / 86400 : (now - 86399) / 86400;
    SetClock(c.state, day * 86400 + t[0] * 3600 + t[1] * 60 + t[2], c.nowMs);
    return Say("OK");
}

Answer SetDate(Context& c, std::string_view text) {
    int64_t d[3];
    if (!ParseTriple(text, '-', d) || d[0] < 2000 || d[0] > 2099 || d[1] < 1 || d[1] > 12 ||
        d[2] < 1 || d[2] > DaysInMonth(static_cast<int>(d[0]), static_cast<int>(d[1]))) {
        return Say("ERROR");
    }
    int64_t now = ClockNow(c.state, c.nowMs);
    int64_t timeOfDay = ((now % 86400) + 86400) % 86400;
    SetClock(c.state,
             SecondsSince2000(static_cast<int>(d[0]), static_cast<int>(d[1]),
                              static_cast<int>(d[2]), 0, 0, 0) +
                 timeOfDay,
             c.nowMs);
    return Say("OK");
}

Answer Get(Context& c, std::string_view args) {
    std::string_view option, value;
    bool hasValue = false;
    if (!SplitOption(args, option, value, hasValue)) return Say("ERROR");
    if (option == "eqn" || option == "user") return GetRecords(c, option, value, hasValue);
    if (option == "cal" && ModelHas(c.model, "cal", c.version)) {
        return GetCalibration(c, value, hasValue);
    }
    if (hasValue) return Say("ERROR");
    if (option == "ver") return Say(c.device.Identity());
    if (option == "sec" || option == "t") {
        if (!c.Has(kClock)) return Say("Unsupported");
        int64_t now = ClockNow(c.state, c.nowMs);
        return Say(option == "sec" ? Decimal(now) : ClockText(now));
    }
    const OptionRow* row = ModelRow(c.model, option, c.version);
    if (row == nullptr) return Say(AnyModelHasWord(option) ? "Unsupported" : "ERROR");
    return Say(Printed(c.state, *row));
}

Answer Set(Context& c, std::string_view args) {
    std::string_view option, value;
    bool hasValue = false;
    if (!SplitOption(args, option, value, hasValue)) return Say("ERROR");
    if (option == "eqn" || option == "user") return SetRecord(c, option, value);
    if (option == "sec" || option == "t" || option == "d") {
        if (!c.Has(kClock)) return Say("Unsupported");
        if (option == "t") return SetTime(c, value);
        if (option == "d") return SetDate(c, value);
        int64_t seconds = 0;
        if (!ParseInt(value, 0, UINT32_MAX, seconds)) return Say("ERROR");
        SetClock(c.state, seconds, c.nowMs);
        return Say("OK");
    }
    const OptionRow* row = ModelRow(c.model, option, c.version);
    if (row == nullptr) return Say(AnyModelHasWord(option) ? "Unsupported" : "ERROR");
    if (row->readOnly || !hasValue) return Say("ERROR");
    if (row->shape == Shape::Calibration) return SetCalibration(c, *row, value);
    std::string normal;
    if (!Normalise(*row, value, c.state.values["sn"], normal)) return Say("ERROR");
    c.state.values[row->word] = normal;
    return Say("OK");
}

Answer Reset(Context& c, std::string_view args) {
    if (args == "-eqn" || args == "-users") {
        std::vector<std::string>* list = RecordList(c, args == "-eqn" ? "eqn" : "user");
        if (list == nullptr) return Say("Unsupported");
        list->clear();
        return Say("OK");
    }
    return Say("ERROR");
}

// "login *CODE": the code must be right and, when the model checks typing,
// every character of the line must have come on its own, at least
// loginTypingMs after the one before (the firmware reads the login line with
// a slow keyboard routine that drops characters sent in a burst).
Answer Login(Context& c, std::string_view args) {
    if (!c.Has(kLogin)) return Say("OK");
    if (args.size() < 2 || args[0] != '*' || args.substr(1) != kInstrumentAccessCode) {
        return Say("ERROR");
    }
    const std::vector<uint64_t>& arrivals = c.device.LastLineArrivals();
    if (c.state.loginTypingMs > 0) {
        for (std::size_t i = 1; i < arrivals.size(); ++i) {
            if (arrivals[i] < arrivals[i - 1] + static_cast<uint64_t>(c.state.loginTypingMs)) {
                return Say("ERROR");
            }
        }
    }
    c.state.loggedIn = true;
    return Say("OK");
}

Answer EraseStoredData(Context& c) {
    if (!c.Has(kErase)) return Say("Unsupported");
    if (c.state.brokenDataFlash) return Say("DataFlash FAIL");
    c.state.storedRecords = 0;
    Answer answer = Say("OK");
    answer.workMs = c.state.eraseDataMs;
    return answer;
}

// The lines a reader's instrument row answers itself: its own options.
Answer ReaderLine(Context& c, std::string_view word, std::string_view args, bool& handled) {
    std::string_view option, value;
    bool hasValue = false;
    handled = (word == "get" || word == "set") && SplitOption(args, option, value, hasValue) &&
              ModelRow(c.model, option, c.version) != nullptr;
    if (!handled) return {};
    return word == "get" ? Get(c, args) : Set(c, args);
}

void ApplyFactory(InstrumentState& state) {
    std::string serial = state.values.count("sn") != 0 ? state.values["sn"] : "";
    state.values.clear();
    for (const OptionRow& row : kOptions) {
        if (!ModelHasAnyVersion(*state.model, row.id)) continue;
        if (row.shape == Shape::Calibration) {
            for (int i = 0; i < kCalibrationEntries; ++i) {
                state.values[CalibrationKey(i)] = Decimal(i + 1) + " " + row.factory;
            }
            continue;
        }
        state.values[row.word] = row.factory;
    }
    if (!serial.empty()) state.values["sn"] = serial;
    state.equations.clear();
    state.users.clear();
    state.loggedIn = false;
}

// "eqn07" / "user12": a starting record, `word` and its number.
bool RecordKey(std::string_view key, std::string_view& word, int64_t& index) {
    for (std::string_view w : {std::string_view("eqn"), std::string_view("user")}) {
        if (key.size() == w.size() + 2 && key.substr(0, w.size()) == w &&
            ParseInt(key.substr(w.size()), 0, 99, index)) {
            word = w;
            return true;
        }
    }
    return false;
}

}  // namespace

bool InstrumentInit(InstrumentState& state, const InstrumentModel& model,
                    const DeviceConfig& config, std::map<std::string, std::string>& leftover,
                    uint64_t nowMs) {
    state = InstrumentState{};
    state.model = &model;
    state.loginTypingMs = config.loginTypingMs > 0 ? config.loginTypingMs : 0;
    state.brokenDataFlash = config.brokenDataFlash;
    state.eraseDataMs = config.eraseDataMs > 0 ? config.eraseDataMs : 0;
    state.storedRecords = config.storedRecords;
    ApplyFactory(state);
    SetClock(state, static_cast<int64_t>(std::time(nullptr)) - kEpoch2000, nowMs);
    leftover.clear();
    // The serial config is checked against the serial number, so it comes last.
    const std::string* serialConfig = nullptr;
    std::map<std::string, std::vector<std::string>> records;
    for (const auto& [key, value] : config.settings) {
        int64_t number = 0;
        std::string_view recordWord;
        const OptionRow* row = ModelRow(model, key, 9999);
        if (model.loggerRow && row == nullptr && key.rfind("cal", 0) != 0) {
            leftover[key] = value;
        } else if (key == "clock") {
            if (!ParseInt(value, 0, UINT32_MAX, number)) return false;
            SetClock(state, number, nowMs);
        } else if (key == "resets") {
            if (!ParseInt(value, 0, INT32_MAX, number)) return false;
            state.resets = static_cast<int>(number);
        } else if (RecordKey(key, recordWord, number)) {
            auto& list = records[std::string(recordWord)];
            if (static_cast<std::size_t>(number) >= list.size()) {
                list.resize(static_cast<std::size_t>(number) + 1);
            }
            list[static_cast<std::size_t>(number)] = value;
        } else if (key.rfind("cal", 0) == 0 && ModelHasAnyVersion(model, "cal")) {
            int64_t index = 0;
            if (!ParseInt(std::string_view(key).substr(3), 0, kCalibrationEntries - 1, index) ||
                !Printable(value) || value.empty() || value.size() > 63) {
                return false;
            }
            state.values[key] = value;
        } else if (row == nullptr) {
            leftover[key] = value;
        } else if (row->shape == Shape::SerialConfig) {
            serialConfig = &value;
        } else {
            std::string normal;
            if (!Normalise(*row, value, "", normal)) return false;
            state.values[row->word] = normal;
        }
    }
    if (serialConfig != nullptr) {
        std::string normal;
        const OptionRow* row = FindRowById("sconfig");
        if (!Normalise(*row, *serialConfig, state.values["sn"], normal)) return false;
        state.values["config"] = normal;
    }
    for (auto& [word, list] : records) {
        bool users = word == "user";
        if (!(model.commands & (users ? kUsers : kEquations))) return false;
        if (list.size() > (users ? kUserCapacity : kEquationCapacity)) return false;
        for (const std::string& text : list) {
            if (users ? !ValidUserRecord(text) : !ValidEquation(text)) return false;
        }
        (users ? state.users : state.equations) = list;
    }
    return true;
}

void InstrumentFactoryReset(InstrumentState& state, uint64_t nowMs) {
    ApplyFactory(state);
    ++state.resets;
    // The clock lives in the processor and starts again at 2000-01-01.
    SetClock(state, 0, nowMs);
}

Answer InstrumentExecute(Device& device, InstrumentState& state, const std::string& line,
                         uint64_t nowMs, bool& handled) {
    const InstrumentModel& model = *state.model;
    Context c{device, state, model, IdentityVersion(device.Identity()), nowMs};
    std::string_view text(line);
    std::size_t blank = text.find(' ');
    std::string_view word = text.substr(0, blank);
    std::string_view args =
        blank == std::string_view::npos ? std::string_view() : text.substr(blank + 1);
    if (model.loggerRow) return ReaderLine(c, word, args, handled);

    handled = true;
    if (line.empty()) return Say("");
    if (word == "boot") return AppBootCommand(device, args);
    if (word == "post") return AppPostCommand(device, args);
    if (word == "login") return Login(c, args);
    if (word == "logout") {
        if (!args.empty()) return Say("ERROR");
        state.loggedIn = false;
        return Say("OK");
    }
    if (word == "get" && (args == "-ver" || args == "-batt")) return Get(c, args);
    bool known = word == "get" || word == "set" || word == "reset" || word == "yes";
    if (!known) return Say("Unsupported");
    if (c.Has(kLogin) && !state.loggedIn) return Say("ERROR: login required");
    if (word == "yes") return args.empty() ? EraseStoredData(c) : Say("ERROR");
    if (word == "reset") return Reset(c, args);
    return word == "get" ? Get(c, args) : Set(c, args);
}

std::map<std::string, std::string> InstrumentSettings(const InstrumentState& state,
                                                      uint64_t nowMs) {
    std::map<std::string, std::string> out = state.values;
    for (const OptionRow& row : kOptions) {
        if (row.shape == Shape::SerialConfig && ModelHasAnyVersion(*state.model, row.id)) {
            out[row.word] = Printed(state, row);
        }
    }
    if (!state.model->loggerRow) {
        out["clock"] = Decimal(ClockNow(state, nowMs));
        out["records"] = Decimal(state.storedRecords);
        out["resets"] = Decimal(state.resets);
        out["login"] = state.loggedIn ? "1" : "0";
    }
    return out;
}

const InstrumentModel* FindInstrumentModel(std::string_view name) {
    for (const InstrumentModel& model : kModels) {
        if (name == model.name) return &model;
    }
    return nullptr;
}

const InstrumentModel* InstrumentModelAt(std::size_t i) {
    return i < std::size(kModels) ? &kModels[i] : nullptr;
}

const char* InstrumentName(const InstrumentModel& model) {
    return model.name;
}

bool InstrumentHasLoggerRow(const InstrumentModel& model) {
    return model.loggerRow;
}

std::string InstrumentDefaultIdentity(const InstrumentModel& model) {
    return std::string(model.word) + " " + model.version;
}

FlashMap InstrumentFlashMap(const InstrumentModel& model) {
    return model.flash;
}

int InstrumentLoaderBaud(const InstrumentModel& model) {
    return model.loaderBaud;
}

}  // namespace tarsa::sim
