#include "link/link_internal.h"

#include <cctype>
#include <cstdarg>
#include <cstring>

#include "log/tarsa_log.h"

namespace tarsa::link_detail {
namespace {

constexpr int64_t kSaturate = int64_t{1} << 40;

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// Reads one signed decimal at `p`; advances `p` past it. False when none.
bool ReadOneInt(const char*& p, int64_t& value) {
    const char* s = SkipSpace(p);
    bool negative = false;
    if (*s == '+' || *s == '-') {
        negative = *s == '-';
        ++s;
    }
    if (!isdigit(static_cast<unsigned char>(*s))) return false;
    int64_t v = 0;
    while (isdigit(static_cast<unsigned char>(*s))) {
        if (v < kSaturate) v = v * 10 + (*s - '0');
        ++s;
    }
    if (v > kSaturate) v = kSaturate;
    value = negative ? -v : v;
    p = s;
    return true;
}

}  // namespace

void Log(const Terrel_Protocol& link, uint32_t level, const char* format, ...) {
    if (!link.log) return;
    va_list args;
    va_start(args, format);
    link.log->WriteV(level, link.port.name, format, args);
    va_end(args);
}

const char* AfterFirstCr(const char* text) {
    const char* cr = strchr(text, '\r');
    return cr ? cr + 1 : text;
}

const char* SkipSpace(const char* text) {
    while (IsSpace(*text)) ++text;
    return text;
}

const char* ValueAfterLabel(const char* text, const char* label) {
    const char* found = strstr(text, label);
    if (!found) return nullptr;
    const char* p = found + strlen(label);
    return *p ? p + 1 : p;
}

int ReadInts(const char* text, int64_t* out, int max) {
    int count = 0;
    const char* p = text;
    while (count < max && ReadOneInt(p, out[count])) ++count;
    return count;
}

bool ReadInt32(const char* text, int32_t& out) {
    int64_t v = 0;
    if (ReadInts(text, &v, 1) != 1 || v < INT32_MIN || v > INT32_MAX) return false;
    out = static_cast<int32_t>(v);
    return true;
}

bool ReadHex(const char* text, uint32_t& out) {
    const char* s = SkipSpace(text);
    if (!isxdigit(static_cast<unsigned char>(*s))) return false;
    uint64_t v = 0;
    while (isxdigit(static_cast<unsigned char>(*s))) {
        int digit = isdigit(static_cast<unsigned char>(*s))
                        ? *s - '0'
                        : tolower(static_cast<unsigned char>(*s)) - 'a' + 10;
        if (v <= 0xFFFFFFFFu) v = v * 16 + static_cast<uint64_t>(digit);
        ++s;
    }
    out = v > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(v);
    return true;
}

size_t ReadWord(const char* text, char* out, size_t max) {
    const char* s = SkipSpace(text);
    size_t n = 0;
    while (n < max && s[n] != '\0' && !IsSpace(s[n])) {
        out[n] = s[n];
        ++n;
    }
    out[n] = '\0';
    return n;
}

size_t ReadLine(const char* text, char* out, size_t max) {
    size_t n = 0;
    while (n < max && text[n] != '\0' && text[n] != '\r') {
        out[n] = text[n];
        ++n;
    }
    out[n] = '\0';
    return n;
}

void CopyText(char* field, size_t capacity, const char* text) {
    if (capacity == 0) return;
    size_t n = 0;
    while (n + 1 < capacity && text && text[n] != '\0') {
        field[n] = text[n];
        ++n;
    }
    field[n] = '\0';
}

}  // namespace tarsa::link_detail
