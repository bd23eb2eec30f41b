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
    // Where the main section (identity block first) starts and how long it
    // is. The defaults are the instrument image's; a digital sensor's main
    // flash starts at 0x8000, so its identity block lies at 0x8100.
    uint32_t mainAddress = standin::kMainAddress;
    uint32_t mainBytes = standin::kMainBytes;
    // Filler bytes of a third section at 0x10000, for targets with 20-bit
    // addresses (0: none). Outside the integrity word, like any filler.
    uint32_t upperBytes = 0;
};

// Address of the section that StandInOptions::upperBytes fills.
inline constexpr uint32_t kStandInUpperAddress = 0x10000;

// Whether `options` describe an image the loader can write: a main section
// that holds the identity block, fits the 16-bit size field and ends below
// the loader's own flash, and an upper section inside the 20-bit space.
bool StandInOptionsValid(const StandInOptions& options);

// The image's sections (main, high at 0xFFC0, upper at 0x10000 when asked
// for) and its 16 vectors.
struct StandInImage {
    ImageSection main;
    ImageSection high;
    ImageSection upper;  // no bytes unless StandInOptions::upperBytes
    std::array<uint32_t, kVectorCount> vectors{};
};

// Builds the image (`options` must pass StandInOptionsValid). The filler
// bytes come from a fixed xorshift32 sequence seeded with 0x54415253 XOR the
// version, drawn for the main, high and upper sections in that order, so the
// same options always give the same image. The reset vector points just past
// the identity block, every other vector 0x20 further.
StandInImage MakeStandIn(const StandInOptions& options);

// Writes sections and vectors as a TI-TXT file: "@%04X" addresses ("@%05X"
// above 0xFFFF), 16 upper-case bytes per line separated by blanks, the
// vectors as a section at 0xFFE0 (low byte first), then "q".
std::string FormatTiTxt(const std::vector<ImageSection>& sections,
                        const std::array<uint32_t, kVectorCount>* vectors);

// MakeStandIn written with FormatTiTxt.
std::string MakeStandInTiTxt(const StandInOptions& options);

}  // namespace tarsa
