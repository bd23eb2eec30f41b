// The SDI-12 layer's one log call: every line goes to the object's log with
// the "TarsaSDI12" tag at the detail level (verbose log only). Internal to
// src/sdi12.
#pragma once

namespace tarsa {

struct TarsaSDI12;

// Writes one line when the object has a log; does nothing otherwise.
void SDILog(const TarsaSDI12& sdi, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace tarsa
