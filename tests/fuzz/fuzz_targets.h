// Fuzz targets for the parsers of outside input. Each takes any bytes and
// must neither crash nor read outside its input; where a parse succeeds, the
// target checks that the result is usable (and aborts when it is not).
// Each returns 1 when its parser accepted the input, 0 otherwise. Built as libFuzzer targets with
// -DTARSA_FUZZ=ON (clang), and replayed over the committed corpus as
// ordinary tests in every build.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarsa::fuzz {

// TI-TXT firmware files.
int TiTxt(const uint8_t* data, size_t size);
// Version documents of the online version check.
int VersionDocument(const uint8_t* data, size_t size);
// Settings files, read into a fresh protocol object.
int SettingsFile(const uint8_t* data, size_t size);

}  // namespace tarsa::fuzz
