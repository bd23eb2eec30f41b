// Tests of the captured settings records: texts are cut to their fields'
// capacities and stay terminated, the flag bits are distinct, and record sets
// own their arrays (empty means count 0 and no array).
#include "instrument/settings_records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

namespace tarsa {
namespace {

struct TextField {
    const char* name;
    std::size_t capacity;  // characters, NUL not counted
    std::function<std::size_t(InstrumentSettings&, std::string_view)> set;
    std::function<const char*(const InstrumentSettings&)> get;
};

#define TEXT_FIELD(field, cap)                                                                \
    TextField {                                                                               \
#field, cap, [](InstrumentSettings& s, std::string_view v) { return SetText(s.field, v); }, \
            [](const InstrumentSettings& s) { return static_cast<const char*>(s.field); } \
    }

std::vector<TextField> TextFields() {
    return {
        TEXT_FIELD(sn, 15),        TEXT_FIELD(name, 8),        TEXT_FIELD(location, 256),
        TEXT_FIELD(build, 17),     TEXT_FIELD(config, 64),     TEXT_FIELD(auto_, 63),
        TEXT_FIELD(calprefs, 256), TEXT_FIELD(PCUnits, 256),   TEXT_FIELD(sample, 256),
        TEXT_FIELD(chai, 16),      TEXT_FIELD(fvals, 256),     TEXT_FIELD(uvals, 256),
        TEXT_FIELD(adc, 16),       TEXT_FIELD(adccal, 63),     TEXT_FIELD(wtoffset, 63),
        TEXT_FIELD(wtfactory, 63), TEXT_FIELD(p1offset, 63),   TEXT_FIELD(sys, 256),
        TEXT_FIELD(adc15, 256),    TEXT_FIELD(adc30, 256),     TEXT_FIELD(extCal, 16),
        TEXT_FIELD(tadj, 256),     TEXT_FIELD(hadj, 256),      TEXT_FIELD(usage, 256),
        TEXT_FIELD(slots[0], 256), TEXT_FIELD(slots[19], 256),
    };
}

std::string Pattern(std::size_t length) {
    std::string text;
    for (std::size_t i = 0; i < length; ++i) text += static_cast<char>('a' + i % 26);
    return text;
}

TEST(InstrumentSettings, TextsAreCutToTheirCapacityAndStayTerminated) {
    for (const TextField& field : TextFields()) {
        SCOPED_TRACE(field.name);
        for (std::size_t length :
             {field.capacity - 1, field.capacity, field.capacity + 1, field.capacity + 300}) {
            InstrumentSettings settings;
            // Fill the whole record so that a missing terminator would show.
            std::memset(static_cast<void*>(&settings), 'Z', sizeof settings);
            const std::string value = Pattern(length);
            const std::size_t kept = field.set(settings, value);
            const std::size_t expected = length < field.capacity ? length : field.capacity;
            EXPECT_EQ(kept, expected);
            EXPECT_EQ(std::string(field.get(settings)), value.substr(0, expected));
        }
    }
}

TEST(InstrumentSettings, CuttingOneFieldLeavesItsNeighboursAlone) {
    InstrumentSettings settings;
    SetText(settings.name, "neighbour");
    SetText(settings.location, "after");
    SetText(settings.sn, Pattern(400));
    EXPECT_STREQ(settings.name, "neighbou");
    EXPECT_STREQ(settings.location, "after");
    EXPECT_EQ(std::string(settings.sn), Pattern(15));
}

TEST(InstrumentSettings, ClearResetsFlagsTypeNumbersAndEveryText) {
    InstrumentSettings settings;
    std::memset(static_cast<void*>(&settings), 0x77, sizeof settings);
    ClearInstrumentSettings(settings);
    EXPECT_EQ(settings.flags, 0u);
    EXPECT_EQ(settings.type, 0);
    EXPECT_EQ(settings.tau, 0);
    EXPECT_EQ(settings.int_, 0);
    for (const TextField& field : TextFields()) EXPECT_STREQ(field.get(settings), "") << field.name;
    for (const auto& slot : settings.slots) EXPECT_STREQ(slot, "");
}

TEST(SettingsFlags, EveryBitOfTheWordHasExactlyOneName) {
    const uint32_t bits[] = {
        kInstName,     kInstSn,       kInstSlots,  kInstLang,     kInstContr,     kInstFvals,
        kInstUvals,    kInstUnits,    kInstAdc,    kInstInt,      kInstAdccal,    kInstConfig,
        kInstWtoffset, kInstP1offset, kInstAuto,   kInstUsage,    kInstUnused,    kInstWtfactory,
        kInstAdc15,    kInstAdc30,    kInstSample, kInstCalSlots, kInstCalprefs,  kInstPCUnits,
        kInstLocation, kInstChai,     kInstExtCal, kInstUsers,    kInstEquations, kInstTadj,
        kInstHadj,     kInstSys,
    };
    uint64_t sum = 0;
    uint32_t all = 0;
    for (uint32_t bit : bits) {
        EXPECT_EQ(bit & (bit - 1), 0u) << std::hex << bit << " is not a single bit";
        sum += bit;
        all |= bit;
    }
    // Distinct single bits add up to their union; 32 of them fill the word.
    EXPECT_EQ(all, 0xFFFFFFFFu);
    EXPECT_EQ(sum, uint64_t{0xFFFFFFFF});
    EXPECT_EQ(kInstTau, kInstHadj);
}

TEST(RecordSet, StartsEmptyAndAllocatesZeroedRecords) {
    RecordSet set;
    EXPECT_EQ(set.count, 0);
    EXPECT_EQ(set.records, nullptr);
    ASSERT_EQ(AllocateRecords(set, 3), kRecordsAllocated);
    ASSERT_NE(set.records, nullptr);
    EXPECT_EQ(set.count, 3);
    for (int i = 0; i < set.count; ++i) {
        const SettingsRecord& record = set.records[i];
        for (char c : record.name) EXPECT_EQ(c, '\0');
        for (char c : record.text) EXPECT_EQ(c, '\0');
    }
}

TEST(RecordSet, LoadingAgainReplacesThePreviousArray) {
    RecordSet set;
    ASSERT_EQ(AllocateRecords(set, 2), kRecordsAllocated);
    SetText(set.records[0].text, "old");
    ASSERT_EQ(AllocateRecords(set, 5), kRecordsAllocated);
    EXPECT_EQ(set.count, 5);
    EXPECT_STREQ(set.records[0].text, "");
}

TEST(RecordSet, RefusedCountsLeaveTheSetEmpty) {
    for (int32_t count : {0, -1, kMaxRecords + 1, INT32_MAX, INT32_MIN}) {
        SCOPED_TRACE(count);
        RecordSet set;
        ASSERT_EQ(AllocateRecords(set, 4), kRecordsAllocated);
        const int result = AllocateRecords(set, count);
        EXPECT_EQ(result, count == 0  ? kRecordsEmpty
                          : count < 0 ? kRecordsBadCount
                                      : kRecordsTooMany);
        EXPECT_EQ(set.count, 0);
        EXPECT_EQ(set.records, nullptr);
    }
    RecordSet largest;
    EXPECT_EQ(AllocateRecords(largest, kMaxRecords), kRecordsAllocated);
    EXPECT_EQ(largest.count, kMaxRecords);
}

TEST(RecordSet, KeepingFewerRecordsShrinksAndZeroEmpties) {
    RecordSet set;
    ASSERT_EQ(AllocateRecords(set, 10), kRecordsAllocated);
    SetText(set.records[1].text, "second");
    KeepRecords(set, 11);  // more than it has: unchanged
    EXPECT_EQ(set.count, 10);
    KeepRecords(set, -1);
    EXPECT_EQ(set.count, 10);
    KeepRecords(set, 2);
    EXPECT_EQ(set.count, 2);
    EXPECT_STREQ(set.records[1].text, "second");
    KeepRecords(set, 0);
    EXPECT_EQ(set.count, 0);
    EXPECT_EQ(set.records, nullptr);
}

TEST(SettingsRecord, NameAndTextAreCutToTheirCapacities) {
    SettingsRecord record;
    EXPECT_EQ(SetText(record.name, Pattern(40)), 32u);
    EXPECT_EQ(SetText(record.text, Pattern(300)), 256u);
    EXPECT_EQ(std::string(record.name), Pattern(32));
    EXPECT_EQ(std::string(record.text), Pattern(256));
}

TEST(RecordKindWord, NamesOnlyTheTwoKinds) {
    EXPECT_STREQ(RecordKindWord(kRecordKindEquation), "eqn");
    EXPECT_STREQ(RecordKindWord(kRecordKindUser), "user");
    EXPECT_EQ(RecordKindWord(0), nullptr);
    EXPECT_EQ(RecordKindWord(3), nullptr);
}

}  // namespace
}  // namespace tarsa
