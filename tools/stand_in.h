// The stand-in firmware image: a deterministic image laid out as the
// identity block and integrity word of firmware_image.h describe, written as
// a TI-TXT file. It stands in for the maker's firmware, which is not
// available, and gives the simulated device something it can recognise and
// verify after an update.
//
// Only generation lives here; reading is the loader's TI-TXT reader.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "loader/firmware_image.h"

namespace tarsa {

struct StandInOptions {
    std::string label = "Talox 2.29";  // cut to the 32-byte label field
    uint16_t version = 229;
    uint16_t typeCode = 3;
};

// The image's sections (main at 0x1200, high at 0xFFC0) and its 16 vectors.
struct StandInImage {
    ImageSection main;
    ImageSection high;
    std::array<uint32_t, kVectorCount> vectors{};
};

// Builds the image. The filler bytes come from a fixed xorshift32 sequence
// seeded with 0x54415253 XOR the version, so the same options always give
// the same image.
StandInImage MakeStandIn(const StandInOptions& options);

// Writes sections and vectors as a TI-TXT file: "@%04X" addresses ("@%05X"
// above 0xFFFF), 16 upper-case bytes per line separated by blanks, the
// vectors as a section at 0xFFE0 (low byte first), then "q".
std::string FormatTiTxt(const std::vector<ImageSection>& sections,
                        const std::array<uint32_t, kVectorCount>* vectors);

// MakeStandIn written with FormatTiTxt.
std::string MakeStandInTiTxt(const StandInOptions& options);

}  // namespace tarsa
