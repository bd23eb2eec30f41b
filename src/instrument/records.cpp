// Numbered user and calibration equation records: reading them from an
// instrument, naming them, sorting them by name and writing them back.
//
// An equation's name is its text up to the first blank; a user record's text
// is base64 and its name is the fourth tab-separated field of the decoded
// text. The sort is an insertion sort whose "comes before" also
// holds for equal names, so records named alike are written in reverse order
// (what the instruments have always received). Clearing the instrument's list
// before a write is the caller's job.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "instrument/protocol_internal.h"
#include "log/tarsa_log.h"

namespace tarsa {

using tp_detail::Exchange;
using tp_detail::Log;

namespace {

constexpr uint32_t kRecordTimeoutMs = 2000;
constexpr size_t kRecordAnswerSize = 32;
constexpr int kEquationDefaultCount = 100;
constexpr int kUserDefaultCount = 25;
constexpr size_t kEquationNameMax = 20;
constexpr size_t kUserNameMax = 9;
constexpr size_t kDecodedSize = 256;
constexpr size_t kCompareMax = 32;

int DefaultCount(int kind) {
    return kind == kRecordKindEquation ? kEquationDefaultCount : kUserDefaultCount;
}

int Base64Value(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return 0;  // padding and strangers count as zero
}

// Decodes base64 text into `out` (capacity bytes, always terminated); a final
// incomplete group counts its missing characters as zero.
void DecodeBase64(const char* text, char* out, size_t capacity) {
    size_t n = 0;
    const size_t length = strlen(text);
    for (size_t i = 0; i < length && n + 1 < capacity; i += 4) {
        uint32_t group = 0;
        for (size_t k = 0; k < 4; ++k) {
            const unsigned char c = i + k < length ? static_cast<unsigned char>(text[i + k]) : 'A';
            group = (group << 6) | static_cast<uint32_t>(Base64Value(c));
        }
        const char bytes[3] = {static_cast<char>(group >> 16), static_cast<char>(group >> 8),
                               static_cast<char>(group)};
        for (char b : bytes) {
            if (n + 1 >= capacity) break;
            out[n++] = b;
        }
    }
    out[n] = '\0';
}

void EquationName(const char* text, char* name) {
    size_t n = 0;
    while (n < kEquationNameMax && text[n] != '\0' && text[n] != ' ') {
        char c = text[n];
        if (c == '_') c = ' ';
        if (c == '`') c = ',';
        name[n++] = c;
    }
    name[n] = '\0';
}

void UserName(const char* text, char* name) {
    char decoded[kDecodedSize + 1];
    DecodeBase64(text, decoded, sizeof decoded);
    name[0] = '\0';
    const char* field = decoded;
    for (int tabs = 0; tabs < 3; ++tabs) {
        field = strchr(field, '\t');
        if (!field) return;
        ++field;
    }
    size_t n = 0;
    while (n < kUserNameMax && field[n] != '\0' && field[n] != '\t') {
        name[n] = field[n];
        ++n;
    }
    name[n] = '\0';
}

// True when name `a` sorts before `b`: compared without case over at most
// 32 characters, a name that ends first or at the same place comes first.
bool ComesBefore(const char* a, const char* b) {
    for (size_t i = 0; i < kCompareMax; ++i) {
        const int ca = toupper(static_cast<unsigned char>(a[i]));
        const int cb = toupper(static_cast<unsigned char>(b[i]));
        if (ca == 0) return true;
        if (cb == 0) return false;
        if (ca != cb) return ca < cb;
    }
    return false;
}

}  // namespace

int GetRecords_Serial(Tarsa_protocol& tp, RecordSet& set, int kind) {
    const char* word = RecordKindWord(kind);
    if (!word) {
        Log(tp, kLogProgress, "GetRecords_Serial found an unexpected record type \"%d\"", kind);
        return kTPUnknownKind;
    }
    if (set.records) {
        Log(tp, kLogProgress, "GetRecords_Serial found a non-null \"%s\" set", word);
    }
    FreeRecords(set);

    char line[32];
    snprintf(line, sizeof line, "get -%s\r", word);
    std::string answer;
    uint32_t ms = 0;
    int32_t count = 0;
    if (Exchange(tp, line, kRecordTimeoutMs, kRecordAnswerSize, answer, ms) > 0) {
        if (!tp_detail::ReadLong(answer.c_str(), count) || count < 0) count = 0;
    } else {
        count = DefaultCount(kind);
    }
    if (count == 0) {
        Log(tp, kLogProgress, "GetRecords_Serial found no \"%s\" records in instrument", word);
        return kTPNothing;
    }
    Log(tp, kLogProgress, "GetRecords_Serial instrument reports %d \"%s\" records",
        static_cast<int>(count), word);
    if (AllocateRecords(set, count) != kRecordsAllocated) {
        Log(tp, kLogProgress, "GetRecords_Serial couldn't allocate memory for %d records",
            static_cast<int>(count));
        return kTPNoMemory;
    }
    int32_t read = 0;
    int failure = kTPOk;
    for (; read < count; ++read) {
        char command[32];
        snprintf(command, sizeof command, "get -%s %d", word, static_cast<int>(read));
        failure = GetValueString(tp, command, kRecordTimeoutMs, set.records[read].text,
                                 static_cast<int>(kRecordTextSize - 1));
        if (failure < 0) break;
    }
    Log(tp, kLogProgress, "GetRecords_Serial retrieved %d of %d \"%s\" records",
        static_cast<int>(read), static_cast<int>(count), word);
    KeepRecords(set, read);
    // Records were expected and none could be read: that is no capture of
    // the list, and a restore must not clear the instrument's list for it.
    if (read == 0) return failure;
    return kTPOk;
}

int SetRecords_Serial(Tarsa_protocol& tp, RecordSet& set, int kind) {
    const char* word = RecordKindWord(kind);
    if (!word) {
        Log(tp, kLogProgress, "SetRecords_Serial found an unexpected record type \"%d\"", kind);
        return kTPUnknownKind;
    }
    if (set.count == 0 || !set.records) {
        Log(tp, kLogProgress, "SetRecords_Serial found an empty \"%s\" set", word);
        return kTPNothing;
    }
    AlphabetizeRecords(tp, set, kind);
    // Empty records (they sort first) carry nothing and are skipped; the
    // others go to consecutive places from 0.
    int32_t next = 0;
    int32_t unconfirmed = 0;
    int stop = kTPOk;
    for (int32_t i = 0; i < set.count; ++i) {
        if (set.records[i].text[0] == '\0') continue;
        std::string line = "set -";
        line += word;
        line += ' ';
        line += std::to_string(next);
        line += ' ';
        line += set.records[i].text;
        line += '\r';
        std::string answer;
        uint32_t ms = 0;
        const int rc = Exchange(tp, line, kRecordTimeoutMs, kRecordAnswerSize, answer, ms);
        if (rc > 0 && answer.find("OK") != std::string::npos) {
            Log(tp, kLogProgress, "SetRecords_Serial set \"%s\" %d to \"%s\" (%d ms)", word,
                static_cast<int>(next), set.records[i].text, static_cast<int>(ms));
        } else {
            ++unconfirmed;
        }
        ++next;
        // A silent or echoing instrument will not take the rest either.
        if (rc == kDCNoAnswer || rc == kDCEcho || rc == kDCRelayActive) {
            stop = rc;
            break;
        }
    }
    Log(tp, kLogProgress, "SetRecords_Serial retrieved %d of %d \"%s\" records",
        static_cast<int>(next), static_cast<int>(set.count), word);
    if (stop != kTPOk) return stop;
    if (unconfirmed > 0) {
        Log(tp, kLogProgress, "SetRecords_Serial: %d \"%s\" records were not confirmed",
            static_cast<int>(unconfirmed), word);
        return kTPPartial;
    }
    return kTPOk;
}

int ExtractNames(Tarsa_protocol& tp, RecordSet& set, int kind) {
    if (!set.records) {
        Log(tp, kLogProgress, "ExtractNames found an null record pointer");
        return kTPMissingArgument;
    }
    if (kind != kRecordKindEquation && kind != kRecordKindUser) {
        Log(tp, kLogProgress, "ExtractNames found an unexpected record type \"%d\"", kind);
        return kTPUnknownKind;
    }
    for (int32_t i = 0; i < set.count; ++i) {
        SettingsRecord& record = set.records[i];
        if (kind == kRecordKindEquation) {
            EquationName(record.text, record.name);
        } else {
            UserName(record.text, record.name);
        }
    }
    return kTPOk;
}

int AlphabetizeRecords(Tarsa_protocol& tp, RecordSet& set, int kind) {
    if (kind != kRecordKindEquation && kind != kRecordKindUser) {
        Log(tp, kLogProgress, "AlphabetizeRecords found an unexpected record type \"%d\"", kind);
        return kTPUnknownKind;
    }
    const int rc = ExtractNames(tp, set, kind);
    if (rc < 0) return rc;
    SettingsRecord* r = set.records.get();
    for (int32_t i = 1; i < set.count; ++i) {
        if (!ComesBefore(r[i].name, r[i - 1].name)) continue;
        const SettingsRecord moving = r[i];
        int32_t j = i;
        while (j > 0 && ComesBefore(moving.name, r[j - 1].name)) {
            r[j] = r[j - 1];
            --j;
        }
        r[j] = moving;
    }
    return kTPOk;
}

}  // namespace tarsa
