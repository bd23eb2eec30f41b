// The in-memory records that hold what was captured from a text-command
// instrument before a firmware update: `InstrumentSettings` (one field per
// setting, each with a bit in a 32-bit flags word that says the field holds a
// value) and `RecordSet` (the instrument's numbered user and calibration
// equation records).
//
// The capture, the settings file and the restore all work on these records;
// this file only defines them, with their fixed capacities, and the helpers
// that keep texts within those capacities. Data loggers and the digital
// sensor keep their settings elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

namespace tarsa {

// Flag bits of `InstrumentSettings::flags`. A set bit means the field holds a
// value read from the instrument or found in the settings file; the same bits
// select what a capture reads and a restore writes. Some bits cover more than
// one field, and some fields answer to a second bit on one instrument type.
// (Named kInst* because the logger settings record has kSet* bits of its own
// with other meanings, and both are in scope where a device is captured.)
inline constexpr uint32_t kInstName = 0x1;
inline constexpr uint32_t kInstSn = 0x2;
inline constexpr uint32_t kInstSlots = 0x4;  // slots 0 to 5 and 7
inline constexpr uint32_t kInstLang = 0x8;
inline constexpr uint32_t kInstContr = 0x10;
inline constexpr uint32_t kInstFvals = 0x20;
inline constexpr uint32_t kInstUvals = 0x40;
inline constexpr uint32_t kInstUnits = 0x80;
inline constexpr uint32_t kInstAdc = 0x100;
inline constexpr uint32_t kInstInt = 0x200;
inline constexpr uint32_t kInstAdccal = 0x400;
inline constexpr uint32_t kInstConfig = 0x800;
inline constexpr uint32_t kInstWtoffset = 0x1000;
inline constexpr uint32_t kInstP1offset = 0x2000;
inline constexpr uint32_t kInstAuto = 0x4000;
inline constexpr uint32_t kInstUsage = 0x8000;
inline constexpr uint32_t kInstUnused = 0x10000;  // names no field
inline constexpr uint32_t kInstWtfactory = 0x20000;
inline constexpr uint32_t kInstAdc15 = 0x40000;
inline constexpr uint32_t kInstAdc30 = 0x80000;
inline constexpr uint32_t kInstSample = 0x100000;
inline constexpr uint32_t kInstCalSlots = 0x200000;  // slots holding calibration entries
// calprefs; on the Hygra VX also fvals and uvals (and elsewhere fvals).
inline constexpr uint32_t kInstCalprefs = 0x400000;
inline constexpr uint32_t kInstPCUnits = 0x800000;
inline constexpr uint32_t kInstLocation = 0x1000000;
inline constexpr uint32_t kInstChai = 0x2000000;
inline constexpr uint32_t kInstExtCal = 0x4000000;
inline constexpr uint32_t kInstUsers = 0x8000000;       // the user record set
inline constexpr uint32_t kInstEquations = 0x10000000;  // the calibration equation set
inline constexpr uint32_t kInstTadj = 0x20000000;
inline constexpr uint32_t kInstHadj = 0x40000000;  // hadj and tau together
inline constexpr uint32_t kInstTau = kInstHadj;
inline constexpr uint32_t kInstSys = 0x80000000;

// Field sizes, NUL included: a text field holds one character less.
inline constexpr std::size_t kLongTextSize = 257;
inline constexpr std::size_t kSnSize = 16;
inline constexpr std::size_t kNameSize = 9;
inline constexpr std::size_t kBuildSize = 18;
inline constexpr std::size_t kConfigSize = 65;
inline constexpr std::size_t kShortTextSize = 17;   // chai, adc, extCal
inline constexpr std::size_t kMediumTextSize = 64;  // auto, adccal, wt*, p1offset
inline constexpr std::size_t kSlotCount = 20;

// Captured settings of one text-command instrument. `int_` and `auto_` are
// the instrument's "int" and "auto" settings (both words are reserved here).
struct InstrumentSettings {
    uint32_t flags = 0;  // kInst* bits of the fields that hold a value
    int8_t type = 0;     // instrument type the values belong to
    char sn[kSnSize] = {};
    char name[kNameSize] = {};
    char location[kLongTextSize] = {};
    char build[kBuildSize] = {};  // no command fills it; stored in the settings file
    int32_t lang = 0;
    int32_t contr = 0;
    int32_t units = 0;
    int32_t int_ = 0;
    char config[kConfigSize] = {};
    char auto_[kMediumTextSize] = {};
    char calprefs[kLongTextSize] = {};
    char PCUnits[kLongTextSize] = {};
    char sample[kLongTextSize] = {};
    char chai[kShortTextSize] = {};
    char fvals[kLongTextSize] = {};
    char uvals[kLongTextSize] = {};
    char adc[kShortTextSize] = {};
    char adccal[kMediumTextSize] = {};
    char wtoffset[kMediumTextSize] = {};
    char wtfactory[kMediumTextSize] = {};
    char p1offset[kMediumTextSize] = {};
    char sys[kLongTextSize] = {};
    char adc15[kLongTextSize] = {};
    char adc30[kLongTextSize] = {};
    char extCal[kShortTextSize] = {};
    char tadj[kLongTextSize] = {};
    char hadj[kLongTextSize] = {};
    int32_t tau = 0;
    char usage[kLongTextSize] = {};
    char slots[kSlotCount][kLongTextSize] = {};
};

// Kinds of numbered records and the words the instrument commands use.
inline constexpr int kRecordKindEquation = 1;  // "eqn"
inline constexpr int kRecordKindUser = 2;      // "user"

inline constexpr std::size_t kRecordNameSize = 33;
inline constexpr std::size_t kRecordTextSize = 257;

// One numbered record: the text as the instrument reports it, and a name
// derived from the text for sorting.
struct SettingsRecord {
    char name[kRecordNameSize] = {};
    char text[kRecordTextSize] = {};
};

// Most records a set may hold. Counts come from the instrument or the
// settings file; a larger one is refused rather than allocated.
inline constexpr int32_t kMaxRecords = 1000;

// Results of AllocateRecords.
inline constexpr int kRecordsAllocated = 1;   // `count` zeroed records are in place
inline constexpr int kRecordsEmpty = 0;       // count 0: the set is empty
inline constexpr int kRecordsBadCount = -10;  // negative count
inline constexpr int kRecordsTooMany = -60;   // more than kMaxRecords

// A list of records; `records` is null exactly when `count` is 0.
struct RecordSet {
    int32_t count = 0;
    std::unique_ptr<SettingsRecord[]> records;
};

// Copies `value` into a text field, cut to the field's capacity and always
// terminated. Returns the number of characters kept.
template <std::size_t N>
std::size_t SetText(char (&field)[N], std::string_view value) {
    static_assert(N > 0);
    const std::size_t n = value.size() < N ? value.size() : N - 1;
    if (n > 0) std::memcpy(field, value.data(), n);
    field[n] = '\0';
    return n;
}

// Clears every field and the flags word (done when a capture starts).
void ClearInstrumentSettings(InstrumentSettings& settings);

// Frees the set's previous records, then gives it `count` records with all
// bytes zero. 1 allocated, 0 count 0 (set left empty), -10 negative count
// (set left empty), -60 count above kMaxRecords (set left empty).
int AllocateRecords(RecordSet& set, int32_t count);

// Frees the records; the set is empty afterwards.
void FreeRecords(RecordSet& set);

// Shrinks the set to its first `count` records (after a partial read). A
// count of 0 frees the set; a count outside 0..set.count changes nothing.
void KeepRecords(RecordSet& set, int32_t count);

// The command word of a record kind ("eqn", "user"), nullptr for other kinds.
const char* RecordKindWord(int kind);

}  // namespace tarsa
