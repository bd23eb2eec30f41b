// Reading TI-TXT firmware files into a FirmwareImage and writing an image back
// out as text.
//
// A TI-TXT file is a run of sections ("@" + hex address on its own line, then
// hex bytes separated by white space) ended by a "q". Reading converts the
// data sections into compact image text, takes the vector section (a section
// starting at 0xFFE0 to 0xFFFE) into the vectors table, drops sections that
// start inside the loader's own flash (0xFA00 to 0xFDFE), and takes the
// image's label, type code and version number from the file name. A data
// section whose bytes run into the loader's flash (0xFA00 to 0xFDFF), past
// 0xFFDF into the vectors or past the 20-bit address space, and a loader
// section that runs on past 0xFDFF, make the file invalid: the loader would
// refuse them only after the flash had been erased.
//
// Files are untrusted: the reader never relies on a length taken from the
// file, never writes past the 16 vector slots, and leaves the previous image
// entirely untouched (text, vectors, label, type, version) on every failure.
// Writing produces a readable record of the image as held in memory (word
// form, no "q"); it is not meant to be read back.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "loader/firmware_image.h"

namespace tarsa {

class TarsaLog;

// Files larger than this are refused as invalid: a 20-bit address space never
// needs more than a few megabytes of TI-TXT text.
inline constexpr size_t kMaxTiTxtFileBytes = 64u * 1024u * 1024u;

// Reads the TI-TXT file at `path` into `image`. Logs with the tag "TarsaBSL".
//   1                  loaded: text, vectors, length, label, type, version set
//   kImageInvalidFile  not a valid TI-TXT file (or unreadable, or too large)
//   kImageOutOfMemory  a buffer could not be allocated
//   -(errno)           the file cannot be opened
int LoadTIFile(FirmwareImage& image, TarsaLog* log, const char* path);

// Writes `image` to `path` as a readable text record. Logs with "TarsaBSL".
//   1          written
//   -(errno)   the file cannot be created, written or closed
int WriteTIFile(const FirmwareImage& image, TarsaLog* log, const char* path);

// Converts the contents of a TI-TXT file into compact image text and a
// vectors table (empty slots 0xFFFF). On failure `compact` and `vectors` hold
// partial results and must be discarded.
//   kImageOk           converted
//   kImageInvalidFile  not a valid TI-TXT text
int ParseTiTxt(std::string_view file, std::string& compact,
               std::array<uint32_t, kVectorCount>& vectors);

// Label, type code and version number that a firmware file name gives.
struct ImageIdentity {
    std::string label;
    uint8_t typeCode = 0;
    int32_t version = 0;
};

// Derives the identity from `path`: the file name (after the last "/" or
// "\"), at most 64 characters, cut at the first ".txt"; the type from the
// upper-cased first word (up to a space, "-" or "_"); the version from the
// digits after the first space or "-" (at most 11, saturated to the int32
// range); and, when a "-" sits between two digits, the last "-" becomes ".".
ImageIdentity IdentityFromFileName(std::string_view path);

// The text that WriteTIFile puts into the file.
std::string FormatTiTxtRecord(const FirmwareImage& image);

}  // namespace tarsa
