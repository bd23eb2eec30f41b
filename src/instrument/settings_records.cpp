// Allocation and clearing of the captured settings records. The records
// themselves are plain data (settings_records.h); nothing here talks to an
// instrument or a file.
#include "instrument/settings_records.h"

namespace tarsa {

void ClearInstrumentSettings(InstrumentSettings& settings) {
    settings = InstrumentSettings{};
}

int AllocateRecords(RecordSet& set, int32_t count) {
    FreeRecords(set);
    if (count < 0) return kRecordsBadCount;
    if (count == 0) return kRecordsEmpty;
    if (count > kMaxRecords) return kRecordsTooMany;
    set.records = std::make_unique<SettingsRecord[]>(static_cast<std::size_t>(count));
    set.count = count;
    return kRecordsAllocated;
}

void FreeRecords(RecordSet& set) {
    set.records.reset();
    set.count = 0;
}

void KeepRecords(RecordSet& set, int32_t count) {
    if (count < 0 || count > set.count) return;
    if (count == 0) {
        FreeRecords(set);
        return;
    }
    set.count = count;
}

const char* RecordKindWord(int kind) {
    switch (kind) {
        case kRecordKindEquation:
            return "eqn";
        case kRecordKindUser:
            return "user";
        default:
            return nullptr;
    }
}

}  // namespace tarsa
