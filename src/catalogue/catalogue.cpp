// The catalogue's tables and the few operations that read them.
//
// Every fact about a type is a row of data below; the code only looks rows up
// and copies them. The version answer comes from a device and is parsed
// without trusting its length or its numbers.
#include "catalogue/catalogue.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <span>

namespace tarsa {
namespace {

// How a type's `supported` flag is decided.
enum class Support : uint8_t {
    kNever,        // the type cannot be updated
    kAlways,       // every version can be updated
    kFromVersion,  // versions at or above `minSupported`
    kSensorMap,    // decided by the sensor memory map
};

struct LoaderMap {
    uint32_t flashStart;
    uint32_t flashEnd;
    uint8_t extendedAddressing;
    uint32_t infoStart;
    uint32_t infoSegments;
    uint32_t infoSegmentSize;
    uint32_t loaderBaud;
};

// The memory map and link speed of every type without a row of its own.
constexpr LoaderMap kDefaultLoader{0x1100, 0xF9FF, 0, 0x1000, 2, 128, 9600};
constexpr LoaderMap kLoader2100{0x2100, 0x1FF00, 1, 0x1000, 3, 64, 57600};
constexpr LoaderMap kLoaderHygraVx{0x5C00, 0x3BFFF, 1, 0x1800, 3, 128, 57600};
constexpr LoaderMap kLoaderHygra8Lzr{0x8000, 0x27FFF, 1, 0x1800, 4, 128, 57600};
constexpr LoaderMap kLoaderDraxo{0x8000, 0xF9FF, 0, 0x1000, 3, 64, 9600};

struct TypeRow {
    const char* matchWord;
    const char* displayName;
    const char* versionFinderPath;  // "" when the type has no version document
    uint8_t saveSettings;
    uint8_t eraseData;
    uint8_t checkBattery;
    uint8_t needsLogin;
    uint8_t setClock;
    uint8_t postInit;
    uint8_t calibrationReminder;
    uint32_t restartDelayMs;
    Support support;
    uint32_t minSupported;  // for Support::kFromVersion
    LoaderMap loader;
    uint8_t hasVersionWindow;
    uint32_t minVersion;
    uint32_t maxVersion;
};

// clang-format off
constexpr std::array<TypeRow, 26> kTypes{{
//   word         display           version document                          sv er bt lg ck pi cr  delay  support             min  loader             window
    {"UNKNOWN",   "UNKNOWN",        "",                                        0, 0, 0, 0, 0, 0, 0, 7000, Support::kNever,       0, kDefaultLoader,   0,   0,   0},
    {"TALO",      "Talo",           "/versionfinder/Talo-Firmware.html",       1, 0, 1, 0, 1, 1, 0, 1000, Support::kNever,       0, kDefaultLoader,   0,   0,   0},
    {"TALOB",     "Talob",          "/versionfinder/Talob-Firmware.html",      1, 0, 1, 0, 1, 1, 0, 1000, Support::kAlways,      0, kDefaultLoader,   0,   0,   0},
    {"TALOX",     "Talox",          "/versionfinder/Talox-Firmware.html",      1, 1, 1, 0, 1, 1, 0, 6000, Support::kFromVersion, 103, kDefaultLoader, 0,   0,   0},
    {"BR",        "Brisen",         "/versionfinder/Brisen-Firmware.html",     1, 1, 1, 0, 0, 1, 0, 6000, Support::kFromVersion, 105, kDefaultLoader, 0,   0,   0},
    {"LM",        "Lumet",          "",                                        1, 1, 0, 0, 0, 1, 0, 4000, Support::kNever,       0, kDefaultLoader,   0,   0,   0},
    {"HMINI",     "Hygra Mini",     "/versionfinder/HMini-Firmware.txt",       1, 0, 0, 1, 0, 0, 0, 8500, Support::kFromVersion, 118, kDefaultLoader, 0,   0,   0},
    {"TK",        "Thermik",        "/versionfinder/thermik-firmware.html",    1, 1, 1, 0, 1, 0, 0, 7000, Support::kAlways,      0, kDefaultLoader,   0,   0,   0},
    {"SR40",      "Solux R-40",     "/versionfinder/SR40Firmware.txt",         1, 1, 0, 0, 1, 0, 1, 3000, Support::kFromVersion, 150, kDefaultLoader, 0,   0,   0},
    {"VN",        "Vennet",         "/versionfinder/vennet-firmware.html",     1, 1, 1, 0, 1, 0, 1, 7000, Support::kAlways,      0, kDefaultLoader,   0,   0,   0},
    {"TERREL-QS", "Digital Sensor", "",                                        0, 0, 0, 0, 0, 0, 0, 1000, Support::kSensorMap,   0, kDefaultLoader,   0,   0,   0},
    {"SRBL",      "Sorbel",         "/versionfinder/SRBL-Firmware.txt",        1, 1, 0, 0, 1, 0, 0, 2000, Support::kAlways,      0, kDefaultLoader,   0,   0,   0},
    {"H6B",       "Hygra Series 6", "/versionfinder/HS6-Firmware.txt",         1, 0, 0, 1, 0, 0, 0, 2000, Support::kFromVersion, 351, kDefaultLoader, 0,   0,   0},
    {"TCD",       "TCD",            "",                                        1, 0, 1, 0, 0, 0, 0, 7000, Support::kAlways,      0, kDefaultLoader,   0,   0,   0},
    {"HD",        "Handra",         "/versionfinder/Handra-Firmware.html",     1, 1, 1, 0, 1, 0, 0, 2000, Support::kAlways,      0, kLoader2100,      0,   0,   0},
    {"H8",        "Hygra 8",        "/versionfinder/HygraSeries8.txt",         1, 1, 0, 1, 1, 0, 0, 14000, Support::kAlways,     0, kLoader2100,      1, 202, 999},
    {"HVX",       "Hygra VX",       "/versionfinder/HVXFirmware.txt",          1, 1, 0, 0, 1, 0, 0, 9500, Support::kAlways,      0, kLoaderHygraVx,   0,   0,   0},
    {"PX9T",      "PX9T",           "/versionfinder/PX9T-Firmware.txt",        1, 0, 0, 1, 0, 0, 0, 2000, Support::kAlways,      0, kDefaultLoader,   0,   0,   0},
    {"KEL7",      "kel7",           "/versionfinder/kel7-Firmware.html",       1, 1, 1, 0, 1, 1, 0, 6000, Support::kAlways,      0, kDefaultLoader,   0,   0,   0},
    {"OXB",       "Oxbel Logger",   "/versionfinder/Oxbel-Firmware.html",      1, 1, 0, 0, 1, 1, 0, 6000, Support::kAlways,      0, kDefaultLoader,   0,   0,   0},
    {"VEL",       "Hygra Vell",     "/versionfinder/Vell-Firmware.txt",        1, 0, 0, 1, 0, 0, 0, 2000, Support::kAlways,      0, kDefaultLoader,   0,   0,   0},
    {"FENNIK",    "fennik",         "",                                        1, 0, 0, 0, 1, 1, 0, 6000, Support::kAlways,      0, kLoader2100,      0,   0,   0},
    {"H8LZR",     "Hygra 8 LZR",    "/versionfinder/H8LZR-Firmware.txt",       1, 1, 0, 0, 1, 0, 0, 8000, Support::kAlways,      0, kLoaderHygra8Lzr, 1, 200, 299},
    {"IMB",       "Imbrix",         "/versionfinder/IMB-Firmware.txt",         1, 1, 1, 0, 1, 0, 0, 8000, Support::kAlways,      0, kLoader2100,      0,   0,   0},
    {"DRAXO",     "Draxo",          "/versionfinder/Draxo-Firmware.txt",       1, 0, 1, 0, 0, 0, 0, 2000, Support::kAlways,      0, kLoaderDraxo,     0,   0,   0},
    // Closes the table; never describes an instrument.
    {"END",       "END",            "",                                        0, 0, 0, 0, 0, 0, 0, 7000, Support::kNever,       0, kDefaultLoader,   0,   0,   0},
}};
// clang-format on

static_assert(kTypes.size() == kTypeEndMarker + 1);

// Digital sensor type numbers (as the sensors report them) and families.
struct SensorRow {
    uint32_t number;
    const char* name;               // nullptr: no display name
    const char* versionFinderPath;  // "" when there is no version document
};

// clang-format off
constexpr SensorRow kSensors[] = {
    {92,  "Skyra 52 Anemometer",   "/versionfinder/Skyra52-Firmware.txt"},
    {93,  "Skyra 61 Sensor Suite", "/versionfinder/Skyra61-Firmware.txt"},
    {94,  "PQ-3 Rain Gauge",       "/versionfinder/PQ3-Firmware.txt"},
    {95,  "WQ-4 Anemometer",       "/versionfinder/WQ4-Firmware.txt"},
    {101, nullptr,                 "/versionfinder/KTV-Firmware.txt"},
    {102, "HQ-6 Sensor",           "/versionfinder/HQ6-Firmware.txt"},
    {103, "Veyra 32 Sensor",       "/versionfinder/Veyra3X-Firmware.txt"},
    {104, "Veyra 31 Sensor",       "/versionfinder/Veyra3X-Firmware.txt"},
    {105, nullptr,                 "/versionfinder/KTV-Firmware.txt"},
    {106, nullptr,                 "/versionfinder/KTV-Firmware.txt"},
    {107, "Veyra 41 Sensor",       "/versionfinder/WPT4-Firmware.txt"},
    {108, "WPT-9 Sensor",          "/versionfinder/WPT4-Firmware.txt"},
    {109, "EQ-4F Sensor",          "/versionfinder/EQ4-Firmware.txt"},
    {112, "HQ-5 Sensor",           "/versionfinder/HQ5-Firmware.txt"},
    {113, "EQ-4 Sensor",           "/versionfinder/EQ4-Firmware.txt"},
    {116, "KTV Sensor",            "/versionfinder/KTV-Firmware.txt"},
    {117, "L5 Seep Gauge",         "/versionfinder/L5SG-Firmware.txt"},
    {118, nullptr,                 "/versionfinder/KX8-Firmware.txt"},
    {119, "HX8 Sensor",            "/versionfinder/HX8-Firmware.txt"},
    {120, "7QM Sensor",            "/versionfinder/7QM-Firmware.txt"},
    {121, "WPT-4 Sensor",          "/versionfinder/WPT4-Firmware.txt"},
    {122, "7QE Sensor",            "/versionfinder/7QE-Firmware.txt"},
    {123, "Skyra 34 Sensor",       "/versionfinder/Skyra34-Firmware.txt"},
    {124, "TERREL-QS Sensor",      ""},
    {125, "QS-RM Sensor",          ""},
    {126, "TERREL-QS Sensor",      ""},
    {127, "TERREL-QS Sensor",      ""},
    {260, "NRX Family",            "/versionfinder/NRX-Firmware.txt"},
    {261, "WPT-4 WPT-9 Veyra 41",  "/versionfinder/WPT4-Firmware.txt"},
    {262, "KTV Family",            "/versionfinder/KTV-Firmware.txt"},
    {264, "Veyra 3x Family",       "/versionfinder/Veyra3X-Firmware.txt"},
};
// clang-format on

// One row of the sensor memory map: the sensor numbers it covers, the range
// of sensor firmware versions it applies to, the map and the version window
// it gives to type 10.
struct SensorMapRow {
    std::span<const uint16_t> numbers;
    uint32_t fromSensorVersion;
    uint32_t toSensorVersion;
    LoaderMap map;
    uint8_t hasVersionWindow;
    uint32_t minVersion;
    uint32_t maxVersion;
};

constexpr uint16_t kSkyra[] = {92, 93};
constexpr uint16_t kVeyra3x[] = {103, 104, 264};
constexpr uint16_t kHq5[] = {112};
constexpr uint16_t kHx8[] = {119};
constexpr uint16_t k7q[] = {120, 122};
constexpr uint16_t kQs[] = {124, 125, 126, 127};
constexpr uint16_t kCommon[] = {94, 95, 107, 108, 109, 113, 116, 117, 121, 123, 260, 261, 262, 263};

constexpr uint32_t kAnyVersion = 0xFFFFFFFF;
// Not applied: type 10 keeps the loader speed of its type row, whichever
// sensor map row it gets. Kept so that each row reads as a whole map.
constexpr uint32_t kSensorBaud = 9600;

// clang-format off
constexpr SensorMapRow kSensorMaps[] = {
    {kSkyra,   0,   kAnyVersion, {0x8000, 0x88000, 1, 0x1800, 4, 128, kSensorBaud}, 0, 0,   0},
    {kVeyra3x, 0,   kAnyVersion, {0x4400, 0x24400, 1, 0x1800, 4, 128, kSensorBaud}, 0, 0,   0},
    {kHq5,     0,   kAnyVersion, {0x8000, 0xF9FF,  0, 0x1000, 3, 64,  kSensorBaud}, 1, 388, 999},
    {kHx8,     0,   kAnyVersion, {0x8000, 0xF9FF,  0, 0x1000, 3, 64,  kSensorBaud}, 1, 100, 999},
    {k7q,      0,   249,         {0x1100, 0xF9FF,  0, 0x1000, 2, 128, kSensorBaud}, 1, 100, 249},
    {k7q,      250, kAnyVersion, {0x8000, 0xF9FF,  0, 0x1000, 3, 64,  kSensorBaud}, 1, 250, 999},
    {kQs,      0,   kAnyVersion, {0x1100, 0xF9FF,  0, 0x1000, 2, 128, kSensorBaud}, 0, 0,   0},
    {kCommon,  0,   kAnyVersion, {0x8000, 0xF9FF,  0, 0x1000, 3, 64,  kSensorBaud}, 0, 0,   0},
};
// clang-format on

const TypeRow& Row(int type) {
    if (type < 0 || type >= static_cast<int>(kTypes.size())) return kTypes[kTypeUnknown];
    return kTypes[static_cast<std::size_t>(type)];
}

const SensorRow* FindSensor(uint32_t number) {
    for (const SensorRow& row : kSensors) {
        if (row.number == number) return &row;
    }
    return nullptr;
}

// Copies `text` into a field of `size` bytes, cut so that it stays terminated.
void CopyText(char* field, std::size_t size, std::string_view text) {
    const std::size_t n = text.size() < size ? text.size() : size - 1;
    std::memcpy(field, text.data(), n);
    field[n] = '\0';
}

// The memory map only; the link speed is set by the type row alone.
void ApplyLoaderMap(const LoaderMap& map, InstrumentIdentity* identity) {
    identity->flashStart = map.flashStart;
    identity->flashEnd = map.flashEnd;
    identity->extendedAddressing = map.extendedAddressing;
    identity->infoStart = map.infoStart;
    identity->infoSegments = map.infoSegments;
    identity->infoSegmentSize = map.infoSegmentSize;
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

char ToUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Reads a version answer of the form "<word> <major>.<digit><digit>" the way
// a formatted scan of "%s %d.%1d%1d" would, counting the items read, but
// with bounds: a major number with a sign other than "+" or one that would
// not fit the version number is treated as not read.
struct VersionScan {
    int items = 0;
    std::string_view word;
    uint32_t major = 0;
    uint32_t first = 0;
    uint32_t second = 0;
};

constexpr uint32_t kMaxMajor = (0xFFFFFFFFu - 99) / 100;

VersionScan ScanVersion(std::string_view text) {
    VersionScan scan;
    std::size_t i = 0;
    auto skipSpace = [&] {
        while (i < text.size() && IsSpace(text[i])) ++i;
    };
    skipSpace();
    const std::size_t wordStart = i;
    while (i < text.size() && !IsSpace(text[i])) ++i;
    if (i == wordStart) return scan;
    scan.word = text.substr(wordStart, i - wordStart);
    scan.items = 1;

    skipSpace();
    if (i < text.size() && text[i] == '+') ++i;
    if (i >= text.size() || !IsDigit(text[i])) return scan;
    uint64_t major = 0;
    while (i < text.size() && IsDigit(text[i])) {
        major = major * 10 + static_cast<uint64_t>(text[i] - '0');
        if (major > kMaxMajor) return scan;
        ++i;
    }
    scan.major = static_cast<uint32_t>(major);
    scan.items = 2;

    if (i >= text.size() || text[i] != '.') return scan;
    ++i;
    // Each of the two digits is one character, white space before it skipped.
    for (uint32_t* digit : {&scan.first, &scan.second}) {
        skipSpace();
        if (i >= text.size() || !IsDigit(text[i])) return scan;
        *digit = static_cast<uint32_t>(text[i] - '0');
        ++i;
        ++scan.items;
    }
    return scan;
}

}  // namespace

int8_t FindInstrumentType(std::string_view upperWord) {
    for (int type = kFirstInstrumentType; type <= kLastInstrumentType; ++type) {
        if (upperWord == kTypes[static_cast<std::size_t>(type)].matchWord) {
            return static_cast<int8_t>(type);
        }
    }
    return kTypeUnknown;
}

const char* InstrumentMatchWord(int type) {
    return Row(type).matchWord;
}

const char* InstrumentDisplayName(int type) {
    return Row(type).displayName;
}

const char* InstrumentVersionFinderPath(int type) {
    return Row(type).versionFinderPath;
}

bool IsDataLoggerType(int type) {
    return type == kTypeTalob || type == kTypeTalox || type == kTypeBrisen || type == kTypeKel7 ||
           type == kTypeOxbel;
}

int ParseVersionString(const char* text, InstrumentIdentity* identity) {
    if (identity == nullptr || text == nullptr || text[0] == '\0') return kVersionMissingArgument;
    const std::string_view answer(text);

    int type = kTypeUnknown;
    uint32_t version = 0;
    int result = kVersionParsed;
    if (answer.find('.') != std::string_view::npos) {
        const VersionScan scan = ScanVersion(answer);
        if (scan.items < 3) return kVersionNotUnderstood;
        version = scan.major * 100 + scan.first * 10 + scan.second;
        std::string upper(scan.word);
        for (char& c : upper) c = ToUpper(c);
        type = FindInstrumentType(upper);
        if (type == kTypeUnknown) result = kVersionNotUnderstood;
    }
    SetInstrumentIdentity(type, version, identity);
    CopyText(identity->versionText, sizeof identity->versionText, answer);
    return result;
}

void SetInstrumentIdentity(int type, uint32_t version, InstrumentIdentity* identity) {
    if (identity == nullptr) return;
    if (type < kFirstInstrumentType || type > kLastInstrumentType) type = kTypeUnknown;
    const TypeRow& row = kTypes[static_cast<std::size_t>(type)];

    *identity = InstrumentIdentity{};
    identity->type = static_cast<int8_t>(type);
    identity->version = version;
    CopyText(identity->displayName, sizeof identity->displayName, row.displayName);
    identity->restartDelayMs = row.restartDelayMs;
    identity->saveSettings = row.saveSettings;
    identity->eraseData = row.eraseData;
    identity->checkBattery = row.checkBattery;
    identity->needsLogin = row.needsLogin;
    identity->setClock = row.setClock;
    identity->postInit = row.postInit;
    identity->calibrationReminder = row.calibrationReminder;
    ApplyLoaderMap(row.loader, identity);
    identity->loaderBaud = row.loader.loaderBaud;
    identity->hasVersionWindow = row.hasVersionWindow;
    identity->minVersion = row.minVersion;
    identity->maxVersion = row.maxVersion;

    switch (row.support) {
        case Support::kNever:
            identity->supported = 0;
            break;
        case Support::kAlways:
            identity->supported = 1;
            break;
        case Support::kFromVersion:
            identity->supported = version >= row.minSupported ? 1 : 0;
            break;
        case Support::kSensorMap:
            SelectSensorMemoryMap(identity);
            break;
    }
}

void SelectSensorMemoryMap(InstrumentIdentity* identity) {
    SelectSensorMemoryMap(identity, kProgramSensorType, kProgramSensorVersion);
}

void SelectSensorMemoryMap(InstrumentIdentity* identity, int32_t sensorType,
                           uint32_t sensorVersion) {
    if (identity == nullptr) return;
    identity->supported = 1;
    identity->hasVersionWindow = 0;
    identity->minVersion = 0;
    identity->maxVersion = 0;
    identity->sensorType = sensorType;
    for (const SensorMapRow& row : kSensorMaps) {
        if (sensorVersion < row.fromSensorVersion || sensorVersion > row.toSensorVersion) continue;
        for (uint16_t number : row.numbers) {
            if (static_cast<int32_t>(number) != sensorType) continue;
            ApplyLoaderMap(row.map, identity);
            identity->hasVersionWindow = row.hasVersionWindow;
            identity->minVersion = row.minVersion;
            identity->maxVersion = row.maxVersion;
            return;
        }
    }
    identity->supported = 0;
}

void GetSensorName(uint32_t number, char* destination) {
    if (destination == nullptr) return;
    const SensorRow* row = FindSensor(number);
    if (row != nullptr && row->name != nullptr) {
        CopyText(destination, kSensorNameSize, row->name);
    } else {
        std::snprintf(destination, kSensorNameSize, "Unknown Sensor (type %u)", number);
    }
}

std::string SensorName(uint32_t number) {
    char name[kSensorNameSize];
    GetSensorName(number, name);
    return name;
}

const char* SensorVersionFinderPath(uint32_t number) {
    const SensorRow* row = FindSensor(number);
    return row != nullptr ? row->versionFinderPath : "";
}

std::string FormatVersionNumber(uint32_t version) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%02u", version / 100, version % 100);
    return text;
}

}  // namespace tarsa
