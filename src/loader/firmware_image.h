// The firmware image that an update writes into the device: its identity
// (label, version number, type code), the image text in compact form and the
// 16 interrupt vectors, plus the checks of the image compiled into the program.
//
// Compact image text: a run of sections, each "@" + five upper-case hex digits
// of the start address + the data as 16-bit words of four hex digits each,
// written most significant digit first (bytes 12 34 at an even address become
// "3412"). A trailing odd byte is completed with 0xFF. Vectors (0xFFE0 to
// 0xFFFE) never appear in the text; they live in the vectors table.
//
// This file also fixes the layout of the stand-in firmware shipped in
// firmware/ (identity block and integrity word), so that the image can be
// recognised and verified by the simulated device and by the tests.
//
// It does not read or write files (see ti_txt.h) and does not talk to a device.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarsa {

// Result codes of the image layer.
inline constexpr int kImageOk = 0;              // the image was taken
inline constexpr int kImageOutOfMemory = -60;   // a buffer could not be allocated
inline constexpr int kImageInvalidFile = -100;  // not a valid TI-TXT file / malformed image text
inline constexpr int kImageDamaged = -101;      // compiled-in image failed its length or sum check

inline constexpr size_t kImageLabelCapacity = 64;  // characters, terminator not counted
inline constexpr size_t kVectorCount = 16;
inline constexpr uint32_t kVectorBase = 0xFFE0;  // address of the first vector
inline constexpr uint32_t kVectorLast = 0xFFFE;  // address of the reset vector
inline constexpr uint32_t kNoVector = 0xFFFF;    // value of a vector slot the image leaves empty
inline constexpr uint32_t kLoaderFlashFirst = 0xFA00;   // sections starting here to
inline constexpr uint32_t kLoaderFlashLast = 0xFDFE;    // here are the loader's own: dropped
inline constexpr uint32_t kLoaderFlashEnd = 0xFDFF;     // last byte of the loader's own flash
inline constexpr uint32_t kLastDataAddress16 = 0xFFDF;  // below the vectors of a 16-bit target
inline constexpr uint32_t kMaxImageAddress = 0xFFFFF;   // 20-bit address space

// The image a loader host owns. `length` always equals `text.size()`.
struct FirmwareImage {
    std::string label;     // at most kImageLabelCapacity characters ("Talox 2.29")
    int32_t version = 0;   // digits of the label's version as one number (229)
    uint8_t typeCode = 0;  // instrument type code, 0 when unknown
    std::string text;      // compact image text
    uint32_t length = 0;   // characters in `text`
    std::array<uint32_t, kVectorCount> vectors = MakeEmptyVectors();
    bool loadedFromFile = false;

    static constexpr std::array<uint32_t, kVectorCount> MakeEmptyVectors() {
        std::array<uint32_t, kVectorCount> v{};
        for (auto& slot : v) slot = kNoVector;
        return v;
    }
};

// The compiled-in image as the build generates it: the text and the length and
// signed-byte sum computed from the firmware file at build time.
struct EmbeddedImage {
    const char* label;
    uint8_t typeCode;
    std::array<uint32_t, kVectorCount> vectors;
    const char* text;    // NUL-terminated compact image text
    size_t textStorage;  // bytes available at `text`, terminator included
    uint32_t length;     // generated character count of the text
    int32_t sum;         // generated sum of the text's characters as signed bytes
};

// Sum of the characters of `text` taken as signed 8-bit values.
int32_t SignedByteSum(std::string_view text);

// Copies `embedded` into `image` (label cut to 64 characters, type code,
// vectors, text, length; version and loaded-from-file flag cleared) after
// checking the stored text against the generated length and sum.
//   kImageOk       image replaced
//   kImageDamaged  length or sum differ; `image` is left untouched
//   kImageOutOfMemory  the text could not be copied; `image` is left untouched
int LoadEmbeddedImage(FirmwareImage& image, const EmbeddedImage& embedded);

// The image generated at build time from the firmware file named by the
// TARSA_FIRMWARE_IMAGE CMake option. Defined by generated source in the
// tarsa_loader library.
const EmbeddedImage& CompiledInImage();

// LoadEmbeddedImage with the image compiled into this program: kImageOk,
// kImageDamaged or kImageOutOfMemory.
inline int LoadCompiledInImage(FirmwareImage& image) {
    return LoadEmbeddedImage(image, CompiledInImage());
}

// One section of an image decoded into bytes.
struct ImageSection {
    uint32_t address = 0;
    std::vector<uint8_t> bytes;
};

// Decodes compact image text into its sections, bytes in address order.
//   >= 0              number of sections appended to `sections`
//   kImageInvalidFile text does not start with "@", an address is not five hex
//                     digits, a section's digits are not whole words, or a
//                     character is not a hex digit
int DecodeImageText(std::string_view text, std::vector<ImageSection>& sections);

// CRC-16 with polynomial 0x1021, initial value `crc`, no reflection, no final
// XOR (start with 0xFFFF; "123456789" gives 0x29B1).
uint16_t Crc16(const uint8_t* data, size_t size, uint16_t crc = 0xFFFF);

// Layout of the stand-in firmware image (documented in firmware/README.md).
// The main section starts with an identity block:
//   +0x00  8 bytes  marker "TARSA-ID"
//   +0x08 32 bytes  label, ASCII, NUL-padded
//   +0x28  2 bytes  version number, little-endian
//   +0x2A  2 bytes  type code, little-endian
//   +0x2C  2 bytes  byte count of the main section, little-endian
//   +0x2E  2 bytes  integrity word, little-endian
//   +0x30 16 bytes  reserved, 0xFF
// The integrity word is Crc16 (initial 0xFFFF) over the main section's bytes
// in address order with the two integrity bytes left out, followed by the
// bytes of the high section.
namespace standin {
inline constexpr uint32_t kMainAddress = 0x1200;
inline constexpr uint32_t kHighAddress = 0xFFC0;
inline constexpr uint32_t kHighBytes = 32;  // 0xFFC0 to 0xFFDF
inline constexpr std::string_view kMarker = "TARSA-ID";
inline constexpr uint32_t kLabelOffset = 0x08;
inline constexpr uint32_t kLabelBytes = 32;
inline constexpr uint32_t kVersionOffset = 0x28;
inline constexpr uint32_t kTypeOffset = 0x2A;
inline constexpr uint32_t kSizeOffset = 0x2C;
inline constexpr uint32_t kIntegrityOffset = 0x2E;
inline constexpr uint32_t kIdentityBytes = 0x40;
inline constexpr uint32_t kEntryAddress = kMainAddress + kIdentityBytes;  // reset vector
inline constexpr uint32_t kTrapAddress = kEntryAddress + 0x20;            // every other vector
// Compact text of the shipped image: "@01200" + "@0FFC0" + four digits per word.
inline constexpr uint32_t kTextLength = 113780;
inline constexpr uint32_t kMainBytes = (kTextLength - 12) / 4 * 2 - kHighBytes;
}  // namespace standin

// Identity read back from a decoded stand-in image.
struct StandInIdentity {
    std::string label;
    uint16_t version = 0;
    uint16_t typeCode = 0;
    uint16_t mainBytes = 0;
    uint16_t storedIntegrity = 0;
    uint16_t computedIntegrity = 0;
};

// Reads the identity block of an image laid out as the stand-in firmware:
// the main section at standin::kMainAddress and the high section at
// standin::kHighAddress. Returns false when the sections or the marker are
// missing or the size field disagrees with the main section.
bool ReadStandInIdentity(const std::vector<ImageSection>& sections, StandInIdentity& identity);

// Integrity word of a stand-in image: Crc16 over `main` without the two bytes
// at standin::kIntegrityOffset, continued over `high`. `main` must be longer
// than the identity block.
uint16_t StandInIntegrity(const std::vector<uint8_t>& main, const std::vector<uint8_t>& high);

}  // namespace tarsa
