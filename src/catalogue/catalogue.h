// The program's fixed knowledge about the instrument types it can update and
// the digital sensors reachable through the Handra reader.
//
// From an instrument's version answer ("Talox 2.29": model word, blank,
// version) the catalogue derives the type code and the version number and
// fills an `InstrumentIdentity`: what the update workflow does with that type
// (capture settings, log in, check the battery, erase data, set the clock),
// how long to wait after a restart, the loader's memory map and link speed,
// and whether this type and version can be updated at all. It also names the
// digital sensor types and gives the version documents of the online check.
//
// Everything here is table lookup: no I/O, no logging, no allocation. The
// tables themselves live in catalogue.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarsa {

// Instrument type codes. 0 is "unknown"; 1 to 24 are real types; 25 only
// closes the table and never describes an instrument.
inline constexpr int kTypeUnknown = 0;
inline constexpr int kTypeTalo = 1;
inline constexpr int kTypeTalob = 2;
inline constexpr int kTypeTalox = 3;
inline constexpr int kTypeBrisen = 4;
inline constexpr int kTypeLumet = 5;
inline constexpr int kTypeHygraMini = 6;
inline constexpr int kTypeThermik = 7;
inline constexpr int kTypeSoluxR40 = 8;
inline constexpr int kTypeVennet = 9;
inline constexpr int kTypeDigitalSensor = 10;
inline constexpr int kTypeSorbel = 11;
inline constexpr int kTypeHygraSeries6 = 12;
inline constexpr int kTypeTcd = 13;
inline constexpr int kTypeHandra = 14;
inline constexpr int kTypeHygra8 = 15;
inline constexpr int kTypeHygraVx = 16;
inline constexpr int kTypePx9t = 17;
inline constexpr int kTypeKel7 = 18;
inline constexpr int kTypeOxbel = 19;
inline constexpr int kTypeHygraVell = 20;
inline constexpr int kTypeFennik = 21;
inline constexpr int kTypeHygra8Lzr = 22;
inline constexpr int kTypeImbrix = 23;
inline constexpr int kTypeDraxo = 24;
inline constexpr int kTypeEndMarker = 25;

inline constexpr int kFirstInstrumentType = kTypeTalo;
inline constexpr int kLastInstrumentType = kTypeDraxo;

// Results of ParseVersionString.
inline constexpr int kVersionParsed = 1;             // the answer named a known type
inline constexpr int kVersionMissingArgument = -10;  // null identity, or null or empty text
inline constexpr int kVersionNotUnderstood = -30;    // unreadable version or no known model word

// The sensor that a program built for the digital sensor addresses: its type
// number and firmware version select the sensor memory map of type 10.
inline constexpr int32_t kProgramSensorType = 93;
inline constexpr uint32_t kProgramSensorVersion = 229;

// Capacities of the identity's texts and of a sensor name, NUL included.
inline constexpr std::size_t kDisplayNameSize = 33;
inline constexpr std::size_t kVersionTextSize = 22;
inline constexpr std::size_t kSensorNameSize = 34;

// What the program knows about the connected (or targeted) instrument.
// Versions are major * 100 + tenths * 10 + hundredths (2.29 is 229).
struct InstrumentIdentity {
    int8_t type = 0;
    char displayName[kDisplayNameSize] = {};
    char versionText[kVersionTextSize] = {};  // the version answer as received, cut to 21
    uint32_t version = 0;
    uint32_t restartDelayMs = 0;      // wait after the loader restarts the application
    uint8_t saveSettings = 0;         // capture settings before, restore them after
    uint8_t eraseData = 0;            // erase stored data after the update
    uint8_t checkBattery = 0;         // check the battery before the update
    uint8_t needsLogin = 0;           // log in before capturing; log out when disconnecting
    uint8_t setClock = 0;             // set the clock after the update
    uint8_t supported = 0;            // this type and version can be updated
    uint8_t postInit = 0;             // the firmware self-check is "post -init"
    uint8_t calibrationReminder = 0;  // remind the user to recalibrate afterwards
    uint32_t flashStart = 0;          // first main-flash address the loader erases
    uint32_t flashEnd = 0;            // last main-flash address the loader erases
    uint8_t extendedAddressing = 0;   // the target needs 20-bit addresses
    uint32_t infoStart = 0;           // start of the information memory
    uint32_t infoSegments = 0;        // information segments to erase
    uint32_t infoSegmentSize = 0;     // bytes per information segment
    uint32_t loaderBaud = 0;          // baud rate of the bootstrap loader link
    int32_t sensorType = 0;           // digital sensor type number (type 10 only)
    uint32_t minVersion = 0;          // lowest accepted version, when hasVersionWindow
    uint32_t maxVersion = 0;          // highest accepted version, when hasVersionWindow
    uint8_t hasVersionWindow = 0;
};

// Type code 1..24 whose match word equals `upperWord` exactly, 0 when none.
int8_t FindInstrumentType(std::string_view upperWord);

// Texts of a table row (0 to 25); out-of-range codes give row 0's texts.
const char* InstrumentMatchWord(int type);  // "UNKNOWN" for out of range
const char* InstrumentDisplayName(int type);
// The document the online version check requests; "" when the type has none.
const char* InstrumentVersionFinderPath(int type);

// True for the data loggers (types 2, 3, 4, 18, 19), whose settings are one
// logger settings record instead of separate instrument settings.
bool IsDataLoggerType(int type);

// Parses a version answer such as "Talox 2.29" into `identity`.
// Returns kVersionParsed (1) when the model word names a type 1..24, also for
// a text without "." (then type 0, version 0); kVersionMissingArgument (-10)
// for a null identity or a null or empty text, identity untouched;
// kVersionNotUnderstood (-30) when the word, the major number or the first
// digit cannot be read (identity untouched) or when the word names no type
// (identity filled as type 0, "UNKNOWN", with the version read).
int ParseVersionString(const char* text, InstrumentIdentity* identity);

// Clears `identity` and fills it from the tables for `type` and `version`.
// Codes outside 1..24 give type 0 ("UNKNOWN", not supported). Null: no-op.
void SetInstrumentIdentity(int type, uint32_t version, InstrumentIdentity* identity);

// Applies the sensor memory map of the program's own sensor
// (kProgramSensorType at kProgramSensorVersion). Null: no-op.
void SelectSensorMemoryMap(InstrumentIdentity* identity);
// Same for an explicit sensor type number and sensor firmware version. A
// number with no row sets `supported` 0 and leaves the memory map alone.
void SelectSensorMemoryMap(InstrumentIdentity* identity, int32_t sensorType,
                           uint32_t sensorVersion);

// Writes the display name of a digital sensor type number into
// `destination` (kSensorNameSize bytes, always terminated), or
// "Unknown Sensor (type %u)" for a number without a name. Null: no-op.
void GetSensorName(uint32_t number, char* destination);
std::string SensorName(uint32_t number);
// The document the online version check requests for a sensor type number
// or family; "" when there is none.
const char* SensorVersionFinderPath(uint32_t number);

// A version number as shown to the user: 229 gives "2.29", 1000 "10.00".
std::string FormatVersionNumber(uint32_t version);

}  // namespace tarsa
