// Helpers shared by the instrument protocol's source files: the log line
// writer, elapsed time, one prompted exchange with a fixed answer buffer, and
// bounded readers of device answers. Not a public header of the library.
//
// Device answers are outside input: the readers stop at the answer's NUL and
// never take a length or a number from it without a bound.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "instrument/tarsa_protocol.h"

namespace tarsa::tp_detail {

// Writes one line with the tag "Tarsa_protocol" (nothing without a log).
void Log(const Tarsa_protocol& tp, uint32_t level, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Milliseconds since `start` (a TickMs value), as the log lines print them.
int ElapsedSince(uint32_t start);

// One DeviceCommand with the prompt ">" and an answer buffer of
// `capacity` bytes. `answer` holds the NUL-terminated answer (empty on
// failure); `elapsedMs` the exchange's time. Returns DeviceCommand's result.
int Exchange(Tarsa_protocol& tp, const std::string& line, uint32_t timeoutMs, size_t capacity,
             std::string& answer, uint32_t& elapsedMs);

// Reads one signed decimal number after optional white space, as "%ld" does,
// saturating at the 32-bit range. False when no digit follows.
bool ReadLong(const char* text, int32_t& out);

}  // namespace tarsa::tp_detail
