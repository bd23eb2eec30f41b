// The flash memory of a simulated device and what its application firmware
// finds in it at start-up.
//
// The address space is one byte array (index = address, up to 20 bits). Three
// regions are flash: the information memory (segments of its own size), the
// main flash (512-byte segments aligned to 512, the first one clipped to the
// start of main flash) and, inside the top of main flash, the loader's own
// code at 0xFA00-0xFDFF, which nothing here erases or writes. The segment
// 0xFE00-0xFFFF above it holds the application's short section at 0xFFC0 and
// the interrupt vectors at 0xFFE0; the host never erases it (it lies in the
// loader's protected range), so the loader erases it itself together with the
// first main-flash segment, i.e. at the start of every full flash erase.
//
// Erased bytes read 0xFF. Programming only clears bits, and a byte that is
// neither erased nor already holding the value to write is refused (so a
// block that is written twice with the same data is accepted, a different one
// is not). A refused write changes nothing.
//
// The start-up check reads the identity block of the stand-in firmware
// (firmware/README.md): marker "TARSA-ID" 0x100 above the start of main flash
// (0x1200 for the default map), the label, the version, the main section's
// byte count and a CRC-16 integrity word. All knowledge of that layout is in
// FlashIdentify and FlashInstallFactoryImage (flash.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarsa::sim {

// Results of the flash operations.
inline constexpr int kFlashOk = 1;
inline constexpr int kFlashNotFlash = -1;   // the address is in no flash region
inline constexpr int kFlashProtected = -2;  // the address is in the loader's own flash
inline constexpr int kFlashNotErased = -3;  // a target byte is programmed with other data

inline constexpr uint32_t kMainSegmentSize = 512;
inline constexpr uint32_t kLoaderCodeStart = 0xFA00;  // loader's own code, never touched
inline constexpr uint32_t kVectorSegment = 0xFE00;    // erased by the loader itself
inline constexpr uint32_t kVectorAddress = 0xFFE0;    // 16 vectors, low byte first
inline constexpr uint32_t kResetVector = 0xFFFE;
inline constexpr uint32_t kVectorCount = 16;

struct FlashMap {
    uint32_t infoStart = 0x1000;
    uint32_t infoSegments = 2;
    uint32_t infoSegmentSize = 128;
    uint32_t mainStart = 0x1100;   // first byte of main flash
    uint32_t memoryEnd = 0x10000;  // one past the last flash byte (0x10000 to 0x100000)
    // Where the application's identity block lies: 0x100 above the start of
    // main flash (0x1200 for the default map).
    uint32_t IdBlock() const { return mainStart + 0x100; }
    bool operator==(const FlashMap&) const = default;
};

struct Flash {
    FlashMap map;
    std::vector<uint8_t> bytes;  // the whole address space; non-flash bytes stay 0xFF
};

// A blank device: every byte 0xFF.
Flash FlashCreate(const FlashMap& map);

// Erases the segment that holds `address` (information memory or main flash);
// the segment at the start of main flash also erases the vector segment.
// Returns kFlashOk, kFlashNotFlash or kFlashProtected.
int FlashErase(Flash& flash, uint32_t address);

// Programs `data` at `address`, all or nothing; `allowVectors` lets the write
// reach the vector table at 0xFFE0-0xFFFF. Returns kFlashOk, kFlashNotFlash
// (some byte outside flash), kFlashProtected (loader code or, without
// allowVectors, the vectors) or kFlashNotErased.
int FlashProgram(Flash& flash, uint32_t address, const std::vector<uint8_t>& data,
                 bool allowVectors);

// The 16-bit word at `address`, low byte first.
uint16_t FlashWord(const Flash& flash, uint32_t address);

// What the application firmware finds at start-up.
struct FlashIdentity {
    bool marker = false;    // the identity block is there
    std::string label;      // its label ("Talox 2.29")
    uint16_t version = 0;   // its version number (229)
    bool codeGood = false;  // the integrity word matches the flash contents
};
FlashIdentity FlashIdentify(const Flash& flash);

// Writes a minimal valid stand-in image with this label (identity block, an
// empty high section, reset vector): the firmware a new device leaves the
// factory with. The flash is erased first. A `mainSize` above the block's 64
// bytes fills the rest of the main section with filler bytes (cut where it
// would reach the loader's flash); the integrity word covers them.
void FlashInstallFactoryImage(Flash& flash, std::string_view label, uint32_t mainSize = 0x40);

// CRC-16, polynomial 0x1021, most significant bit first, no final XOR.
uint16_t Crc16(const uint8_t* data, std::size_t size, uint16_t crc);

}  // namespace tarsa::sim
