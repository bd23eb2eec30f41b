// Looking at a settings file without restoring it: which device type it was
// written for and single values in it. The workflows use these to name a
// file kept in the history after its serial number, and to refuse a file
// written for another device type before anything is sent to a device.
//
// WriteInfoFile, ReadInfoFile and GetRecords_File are declared with the rest
// of the instrument protocol (instrument/tarsa_protocol.h).
#pragma once

#include <string>

namespace tarsa {

// The word a settings file for catalogue `type` carries in its type line:
// the logger's type name ("Talox", "kel7" ...), "Digital Sensor", or the
// catalogue's match word ("H8" ...); "UNKNOWN" for a type with no file.
const char* SettingsFileTypeWord(int type);

// The catalogue type whose settings files carry `word` (0 when none does).
int SettingsFileTypeOf(const std::string& word);

// Reads the value of `key` from the settings file at `path` into `value`.
// Returns 1, the file errors of ReadInfoFile (kTPFileNotFound ...), or
// kTPBadAnswer when the file is not a settings file (no header line) or holds
// no such key.
int ReadInfoFileValue(const char* path, const char* key, std::string& value);

}  // namespace tarsa
