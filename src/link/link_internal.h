// Helpers shared by the logger protocol files of the link library: the log
// line writer and bounded readers of device answers.
//
// Device answers are outside input: every reader here stops at the NUL of the
// answer, never trusts a length from the text, and saturates numbers instead
// of overflowing. Not a public header of the library.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/terrel_protocol.h"

namespace tarsa::link_detail {

// Writes one log line with the port name as tag (nothing when there is no log).
void Log(const Terrel_Protocol& link, uint32_t level, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// The text after the first carriage return, or the whole text when there is none.
const char* AfterFirstCr(const char* text);
// The text after leading white space.
const char* SkipSpace(const char* text);
// Where a labelled value starts: one character (the separating space) after
// `label`; null when the label is missing.
const char* ValueAfterLabel(const char* text, const char* label);

// Reads up to `max` decimal integers separated by white space, the way a
// "%d %d ..." scan does: stops at the first text that is not a number.
// Values saturate at +-(2^40). Returns how many were read.
int ReadInts(const char* text, int64_t* out, int max);
// One "%d": false when there is no number or it does not fit 32 bits.
bool ReadInt32(const char* text, int32_t& out);
// One "%x" (leading white space skipped): false when there is no hex digit.
// Saturates at 0xFFFFFFFF.
bool ReadHex(const char* text, uint32_t& out);
// A "%Ns" word: skips white space and copies at most `max` non-space
// characters into `out` (max + 1 bytes). Returns the length copied.
size_t ReadWord(const char* text, char* out, size_t max);
// Copies characters up to the first carriage return or the end, at most
// `max`, into `out` (max + 1 bytes). Returns the length copied.
size_t ReadLine(const char* text, char* out, size_t max);
// Copies `text` into a field of `capacity` bytes, cut and terminated.
void CopyText(char* field, size_t capacity, const char* text);

}  // namespace tarsa::link_detail
