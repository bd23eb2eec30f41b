// Tests of the instrument and sensor catalogue: version answers as devices
// send them (well-formed, odd and hostile), the supported rules at their
// thresholds, memory maps and version windows of representative types, and
// the sensor names and documents.
#include "catalogue/catalogue.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace tarsa {
namespace {

// An identity with every byte set, so that a test can tell "untouched" from
// "cleared".
InstrumentIdentity Poisoned() {
    InstrumentIdentity identity;
    std::memset(static_cast<void*>(&identity), 0x5A, sizeof identity);
    return identity;
}

bool SameBytes(const InstrumentIdentity& a, const InstrumentIdentity& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

struct ParseCase {
    const char* text;
    int result;
    int type;
    uint32_t version;
    uint8_t supported;
    const char* displayName;
};

TEST(ParseVersionString, ReadsTypeVersionAndSupportFromAnswers) {
    const ParseCase cases[] = {
        {"Talox 2.29", kVersionParsed, kTypeTalox, 229, 1, "Talox"},
        // The model word is upper-cased before the comparison.
        {"talox 1.02", kVersionParsed, kTypeTalox, 102, 0, "Talox"},
        {"tAlOx 1.03", kVersionParsed, kTypeTalox, 103, 1, "Talox"},
        // An absent second digit counts 0; digits after the second are ignored.
        {"Talox 2.3", kVersionParsed, kTypeTalox, 230, 1, "Talox"},
        {"Talox 12.345", kVersionParsed, kTypeTalox, 1234, 1, "Talox"},
        {"Talox 2.3x", kVersionParsed, kTypeTalox, 230, 1, "Talox"},
        // Surrounding white space and a line end as a device sends it.
        {"  Talox \t 2.29\r\n", kVersionParsed, kTypeTalox, 229, 1, "Talox"},
        // Exact match only: neither a prefix nor a longer word.
        {"H8 2.02", kVersionParsed, kTypeHygra8, 202, 1, "Hygra 8"},
        {"H8LZR 2.50", kVersionParsed, kTypeHygra8Lzr, 250, 1, "Hygra 8 LZR"},
        {"TALOXX 2.29", kVersionNotUnderstood, kTypeUnknown, 229, 0, "UNKNOWN"},
        {"TAL 2.29", kVersionNotUnderstood, kTypeUnknown, 229, 0, "UNKNOWN"},
        {"terrel-qs 1.00", kVersionParsed, kTypeDigitalSensor, 100, 1, "Digital Sensor"},
        // Unknown words give type 0 but still carry the version read.
        {"Hygra 2.00", kVersionNotUnderstood, kTypeUnknown, 200, 0, "UNKNOWN"},
        // Neither the unknown row nor the end marker is a model word.
        {"UNKNOWN 1.00", kVersionNotUnderstood, kTypeUnknown, 100, 0, "UNKNOWN"},
        {"END 1.00", kVersionNotUnderstood, kTypeUnknown, 100, 0, "UNKNOWN"},
        // A leading "+" reads like any number.
        {"Talox +2.29", kVersionParsed, kTypeTalox, 229, 1, "Talox"},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.text);
        InstrumentIdentity identity = Poisoned();
        EXPECT_EQ(ParseVersionString(c.text, &identity), c.result);
        EXPECT_EQ(identity.type, c.type);
        EXPECT_EQ(identity.version, c.version);
        EXPECT_EQ(identity.supported, c.supported);
        EXPECT_STREQ(identity.displayName, c.displayName);
    }
}

TEST(ParseVersionString, KeepsWholeAnswerAsVersionTextAlsoForUnknownWords) {
    InstrumentIdentity identity;
    EXPECT_EQ(ParseVersionString("Hygra 2.00", &identity), kVersionNotUnderstood);
    EXPECT_STREQ(identity.versionText, "Hygra 2.00");
    EXPECT_EQ(identity.restartDelayMs, 7000u);
}

TEST(ParseVersionString, CutsLongAnswerToVersionTextCapacity) {
    const std::string answer = "Talox 2.29 build 0123456789abcdefghij";
    InstrumentIdentity identity = Poisoned();
    EXPECT_EQ(ParseVersionString(answer.c_str(), &identity), kVersionParsed);
    EXPECT_EQ(std::string(identity.versionText), answer.substr(0, kVersionTextSize - 1));
    EXPECT_EQ(identity.version, 229u);
}

TEST(ParseVersionString, UnreadableAnswersLeaveIdentityUntouched) {
    const char* const texts[] = {
        "Talox 2.",              // only two items
        "Talox 2.x9",            // first digit missing
        "Talox x.29",            // no major number
        "Talox .29",             // no major number
        "Talox 2,29.",           // "." does not follow the major number
        ".",                     // a word but nothing after it
        "   .   ",               // the same, padded
        "Talox -1.00",           // a negative major would wrap the version
        "Talox 99999999999.00",  // a major the version number cannot hold
        "Talox 42949672.00",     // just past the largest major that fits
        "Talox2.29",             // no blank: all one word
    };
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        InstrumentIdentity identity = Poisoned();
        const InstrumentIdentity before = identity;
        EXPECT_EQ(ParseVersionString(text, &identity), kVersionNotUnderstood);
        EXPECT_TRUE(SameBytes(identity, before));
    }
}

TEST(ParseVersionString, LargestMajorThatFitsIsRead) {
    InstrumentIdentity identity;
    EXPECT_EQ(ParseVersionString("Talox 42949671.99", &identity), kVersionParsed);
    EXPECT_EQ(identity.version, 4294967199u);
}

TEST(ParseVersionString, MissingArgumentsChangeNothing) {
    InstrumentIdentity identity = Poisoned();
    const InstrumentIdentity before = identity;
    EXPECT_EQ(ParseVersionString(nullptr, &identity), kVersionMissingArgument);
    EXPECT_EQ(ParseVersionString("", &identity), kVersionMissingArgument);
    EXPECT_TRUE(SameBytes(identity, before));
    EXPECT_EQ(ParseVersionString("Talox 2.29", nullptr), kVersionMissingArgument);
}

TEST(ParseVersionString, AnswerWithoutPointGivesUnknownTypeAndVersionZero) {
    InstrumentIdentity identity = Poisoned();
    EXPECT_EQ(ParseVersionString("Talox 229", &identity), kVersionParsed);
    EXPECT_EQ(identity.type, kTypeUnknown);
    EXPECT_EQ(identity.version, 0u);
    EXPECT_EQ(identity.supported, 0);
    EXPECT_STREQ(identity.versionText, "Talox 229");
}

struct SupportCase {
    int type;
    uint32_t version;
    uint8_t supported;
};

TEST(SetInstrumentIdentity, SupportedRulesHoldAtTheirThresholds) {
    const SupportCase cases[] = {
        {kTypeTalox, 102, 0},        {kTypeTalox, 103, 1},     {kTypeBrisen, 104, 0},
        {kTypeBrisen, 105, 1},       {kTypeHygraMini, 117, 0}, {kTypeHygraMini, 118, 1},
        {kTypeSoluxR40, 149, 0},     {kTypeSoluxR40, 150, 1},  {kTypeHygraSeries6, 350, 0},
        {kTypeHygraSeries6, 351, 1}, {kTypeTalo, 999, 0},      {kTypeLumet, 999, 0},
        {kTypeTalob, 0, 1},          {kTypeHygra8, 150, 1},    {kTypeHygra8Lzr, 1000, 1},
        {kTypeDraxo, 0, 1},          {kTypeUnknown, 999, 0},
    };
    for (const SupportCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type << " version " << c.version);
        InstrumentIdentity identity;
        SetInstrumentIdentity(c.type, c.version, &identity);
        EXPECT_EQ(identity.supported, c.supported);
        EXPECT_EQ(identity.version, c.version);
    }
}

TEST(SetInstrumentIdentity, TypesWithoutRuleAreSupportedAtAnyVersion) {
    for (int type :
         {kTypeTalob, kTypeThermik, kTypeVennet, kTypeSorbel, kTypeTcd, kTypeHandra, kTypeHygraVx,
          kTypePx9t, kTypeKel7, kTypeOxbel, kTypeHygraVell, kTypeFennik, kTypeImbrix, kTypeDraxo}) {
        for (uint32_t version : {0u, 1u, 999u}) {
            InstrumentIdentity identity;
            SetInstrumentIdentity(type, version, &identity);
            EXPECT_EQ(identity.supported, 1) << "type " << type << " version " << version;
        }
    }
}

TEST(SetInstrumentIdentity, OnlyHygra8AndHygra8LzrHaveVersionWindows) {
    for (int type = kFirstInstrumentType; type <= kLastInstrumentType; ++type) {
        SCOPED_TRACE(type);
        InstrumentIdentity identity;
        SetInstrumentIdentity(type, 999, &identity);
        if (type == kTypeHygra8) {
            EXPECT_EQ(identity.hasVersionWindow, 1);
            EXPECT_EQ(identity.minVersion, 202u);
            EXPECT_EQ(identity.maxVersion, 999u);
        } else if (type == kTypeHygra8Lzr) {
            EXPECT_EQ(identity.hasVersionWindow, 1);
            EXPECT_EQ(identity.minVersion, 200u);
            EXPECT_EQ(identity.maxVersion, 299u);
        } else {
            EXPECT_EQ(identity.hasVersionWindow, 0);
        }
    }
}

TEST(SetInstrumentIdentity, CodesOutsideTheTypesBecomeUnknown) {
    for (int type : {-128, -1, 0, kTypeEndMarker, 26, 127, 1000}) {
        SCOPED_TRACE(type);
        InstrumentIdentity identity = Poisoned();
        SetInstrumentIdentity(type, 229, &identity);
        EXPECT_EQ(identity.type, kTypeUnknown);
        EXPECT_STREQ(identity.displayName, "UNKNOWN");
        EXPECT_EQ(identity.supported, 0);
        EXPECT_EQ(identity.saveSettings, 0);
        EXPECT_EQ(identity.restartDelayMs, 7000u);
        EXPECT_EQ(identity.flashStart, 0x1100u);
        EXPECT_EQ(identity.loaderBaud, 9600u);
        EXPECT_EQ(identity.version, 229u);
    }
}

TEST(SetInstrumentIdentity, ClearsEverythingLeftFromAnEarlierIdentity) {
    InstrumentIdentity identity = Poisoned();
    SetInstrumentIdentity(kTypeTalox, 229, &identity);
    EXPECT_STREQ(identity.versionText, "");
    EXPECT_EQ(identity.sensorType, 0);
    EXPECT_EQ(identity.hasVersionWindow, 0);
    EXPECT_EQ(identity.minVersion, 0u);
    EXPECT_EQ(identity.maxVersion, 0u);
    SetInstrumentIdentity(kTypeTalox, 229, nullptr);  // must not crash
}

struct MapCase {
    int type;
    uint32_t flashStart;
    uint32_t flashEnd;
    uint8_t extended;
    uint32_t infoStart;
    uint32_t infoSegments;
    uint32_t infoSegmentSize;
    uint32_t loaderBaud;
    uint32_t restartDelayMs;
};

TEST(SetInstrumentIdentity, MemoryMapsOfRepresentativeTypes) {
    const MapCase cases[] = {
        {kTypeTalox, 0x1100, 0xF9FF, 0, 0x1000, 2, 128, 9600, 6000},
        {kTypeHandra, 0x2100, 0x1FF00, 1, 0x1000, 3, 64, 57600, 2000},
        {kTypeHygra8, 0x2100, 0x1FF00, 1, 0x1000, 3, 64, 57600, 14000},
        {kTypeHygraVx, 0x5C00, 0x3BFFF, 1, 0x1800, 3, 128, 57600, 9500},
        {kTypeHygra8Lzr, 0x8000, 0x27FFF, 1, 0x1800, 4, 128, 57600, 8000},
        // A 16-bit target at the default speed despite its own map.
        {kTypeDraxo, 0x8000, 0xF9FF, 0, 0x1000, 3, 64, 9600, 2000},
        {kTypeHygraMini, 0x1100, 0xF9FF, 0, 0x1000, 2, 128, 9600, 8500},
        // The sensor map replaces the map but not the speed or the delay.
        {kTypeDigitalSensor, 0x8000, 0x88000, 1, 0x1800, 4, 128, 9600, 1000},
    };
    for (const MapCase& c : cases) {
        SCOPED_TRACE(c.type);
        InstrumentIdentity identity;
        SetInstrumentIdentity(c.type, 100, &identity);
        EXPECT_EQ(identity.flashStart, c.flashStart);
        EXPECT_EQ(identity.flashEnd, c.flashEnd);
        EXPECT_EQ(identity.extendedAddressing, c.extended);
        EXPECT_EQ(identity.infoStart, c.infoStart);
        EXPECT_EQ(identity.infoSegments, c.infoSegments);
        EXPECT_EQ(identity.infoSegmentSize, c.infoSegmentSize);
        EXPECT_EQ(identity.loaderBaud, c.loaderBaud);
        EXPECT_EQ(identity.restartDelayMs, c.restartDelayMs);
    }
}

TEST(SetInstrumentIdentity, DigitalSensorTypeUsesTheProgramsSensor) {
    InstrumentIdentity identity;
    SetInstrumentIdentity(kTypeDigitalSensor, 229, &identity);
    EXPECT_EQ(identity.sensorType, kProgramSensorType);
    EXPECT_EQ(identity.supported, 1);
    EXPECT_EQ(identity.hasVersionWindow, 0);
    EXPECT_EQ(identity.saveSettings, 0);
    EXPECT_STREQ(identity.displayName, "Digital Sensor");
}

struct SensorMapCase {
    int32_t sensor;
    uint32_t sensorVersion;
    uint8_t supported;
    uint32_t flashStart;
    uint32_t flashEnd;
    uint32_t infoSegments;
    uint8_t window;
    uint32_t minVersion;
    uint32_t maxVersion;
};

TEST(SelectSensorMemoryMap, PicksTheRowOfTheSensorAndItsVersion) {
    const SensorMapCase cases[] = {
        {92, 0, 1, 0x8000, 0x88000, 4, 0, 0, 0},
        {104, 0, 1, 0x4400, 0x24400, 4, 0, 0, 0},
        {264, 0, 1, 0x4400, 0x24400, 4, 0, 0, 0},
        {112, 0, 1, 0x8000, 0xF9FF, 3, 1, 388, 999},
        {119, 500, 1, 0x8000, 0xF9FF, 3, 1, 100, 999},
        // The 7Q sensors change their map at sensor version 250.
        {120, 249, 1, 0x1100, 0xF9FF, 2, 1, 100, 249},
        {120, 250, 1, 0x8000, 0xF9FF, 3, 1, 250, 999},
        {122, 0, 1, 0x1100, 0xF9FF, 2, 1, 100, 249},
        {122, 0xFFFFFFFF, 1, 0x8000, 0xF9FF, 3, 1, 250, 999},
        {125, 0, 1, 0x1100, 0xF9FF, 2, 0, 0, 0},
        {127, 0, 1, 0x1100, 0xF9FF, 2, 0, 0, 0},
        {263, 0, 1, 0x8000, 0xF9FF, 3, 0, 0, 0},
        {95, 0, 1, 0x8000, 0xF9FF, 3, 0, 0, 0},
    };
    for (const SensorMapCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "sensor " << c.sensor << " at " << c.sensorVersion);
        InstrumentIdentity identity;
        SetInstrumentIdentity(kTypeDigitalSensor, 100, &identity);
        SelectSensorMemoryMap(&identity, c.sensor, c.sensorVersion);
        EXPECT_EQ(identity.sensorType, c.sensor);
        EXPECT_EQ(identity.supported, c.supported);
        EXPECT_EQ(identity.flashStart, c.flashStart);
        EXPECT_EQ(identity.flashEnd, c.flashEnd);
        EXPECT_EQ(identity.infoSegments, c.infoSegments);
        EXPECT_EQ(identity.hasVersionWindow, c.window);
        EXPECT_EQ(identity.minVersion, c.minVersion);
        EXPECT_EQ(identity.maxVersion, c.maxVersion);
        EXPECT_EQ(identity.loaderBaud, 9600u);
    }
}

TEST(SelectSensorMemoryMap, UnlistedSensorIsUnsupportedAndKeepsTheTypeMap) {
    for (int32_t sensor : {0, 101, 102, 118, 300, -93}) {
        SCOPED_TRACE(sensor);
        InstrumentIdentity identity;
        SetInstrumentIdentity(kTypeHygra8, 500, &identity);  // a map and a window to keep
        SelectSensorMemoryMap(&identity, sensor, 229);
        EXPECT_EQ(identity.supported, 0);
        EXPECT_EQ(identity.hasVersionWindow, 0);
        EXPECT_EQ(identity.flashStart, 0x2100u);
        EXPECT_EQ(identity.infoSegmentSize, 64u);
    }
    SelectSensorMemoryMap(nullptr);  // must not crash
}

TEST(GetSensorName, NamesKnownSensorsAndFallsBackWithTheNumber) {
    const struct {
        uint32_t number;
        const char* name;
    } cases[] = {
        {93, "Skyra 61 Sensor Suite"},
        {125, "QS-RM Sensor"},
        {126, "TERREL-QS Sensor"},
        {261, "WPT-4 WPT-9 Veyra 41"},
        {300, "Unknown Sensor (type 300)"},
        // Listed for its version document, but without a name.
        {101, "Unknown Sensor (type 101)"},
        {118, "Unknown Sensor (type 118)"},
        {0, "Unknown Sensor (type 0)"},
        {263, "Unknown Sensor (type 263)"},
        {4294967295u, "Unknown Sensor (type 4294967295)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.number);
        EXPECT_EQ(SensorName(c.number), c.name);
    }
}

TEST(GetSensorName, NeverWritesPastItsDestination) {
    for (uint32_t number : {93u, 4294967295u, 261u}) {
        char buffer[kSensorNameSize + 8];
        std::memset(buffer, '#', sizeof buffer);
        GetSensorName(number, buffer);
        EXPECT_LT(std::strlen(buffer), kSensorNameSize);
        for (std::size_t i = kSensorNameSize; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], '#');
    }
    GetSensorName(93, nullptr);  // must not crash
}

TEST(SensorVersionFinderPath, FamiliesAndMembersShareDocuments) {
    EXPECT_STREQ(SensorVersionFinderPath(118), "/versionfinder/KX8-Firmware.txt");
    EXPECT_STREQ(SensorVersionFinderPath(105), SensorVersionFinderPath(262));
    EXPECT_STREQ(SensorVersionFinderPath(104), SensorVersionFinderPath(264));
    EXPECT_STREQ(SensorVersionFinderPath(107), SensorVersionFinderPath(261));
    EXPECT_STREQ(SensorVersionFinderPath(124), "");
    EXPECT_STREQ(SensorVersionFinderPath(999), "");
}

TEST(FindInstrumentType, EveryMatchWordLeadsBackToItsOwnType) {
    for (int type = kFirstInstrumentType; type <= kLastInstrumentType; ++type) {
        EXPECT_EQ(FindInstrumentType(InstrumentMatchWord(type)), type);
    }
}

TEST(FindInstrumentType, ComparesExactlyAndIgnoresTheSentinelRows) {
    for (const char* word :
         {"", "talox", "Talox", "TALOX ", " TALOX", "UNKNOWN", "END", "H8L", "TERREL"}) {
        SCOPED_TRACE(word);
        EXPECT_EQ(FindInstrumentType(word), kTypeUnknown);
    }
    EXPECT_EQ(FindInstrumentType(std::string_view("TALO\0X", 6)), kTypeUnknown);
    EXPECT_EQ(FindInstrumentType("TALO"), kTypeTalo);
}

TEST(InstrumentTexts, OutOfRangeCodesGiveTheUnknownRow) {
    for (int type : {-1, 26, 200}) {
        EXPECT_STREQ(InstrumentMatchWord(type), "UNKNOWN");
        EXPECT_STREQ(InstrumentDisplayName(type), "UNKNOWN");
        EXPECT_STREQ(InstrumentVersionFinderPath(type), "");
    }
    EXPECT_STREQ(InstrumentMatchWord(kTypeEndMarker), "END");
    EXPECT_STREQ(InstrumentVersionFinderPath(kTypeTalox), "/versionfinder/Talox-Firmware.html");
    EXPECT_STREQ(InstrumentVersionFinderPath(kTypeFennik), "");
}

TEST(IsDataLoggerType, OnlyTheLoggers) {
    for (int type = -1; type <= kTypeEndMarker + 1; ++type) {
        const bool logger = type == kTypeTalob || type == kTypeTalox || type == kTypeBrisen ||
                            type == kTypeKel7 || type == kTypeOxbel;
        EXPECT_EQ(IsDataLoggerType(type), logger) << type;
    }
}

TEST(FormatVersionNumber, ShowsTwoDecimals) {
    EXPECT_EQ(FormatVersionNumber(229), "2.29");
    EXPECT_EQ(FormatVersionNumber(202), "2.02");
    EXPECT_EQ(FormatVersionNumber(150), "1.50");
    EXPECT_EQ(FormatVersionNumber(5), "0.05");
    EXPECT_EQ(FormatVersionNumber(1000), "10.00");
    EXPECT_EQ(FormatVersionNumber(4294967295u), "42949672.95");
}

}  // namespace
}  // namespace tarsa
