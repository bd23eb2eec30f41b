// Flash regions, segment erase, bit-clearing programming and the start-up
// check of the stand-in firmware's identity block.
#include "sim/flash.h"

#include <algorithm>

namespace tarsa::sim {

namespace {

// Layout of the stand-in firmware's identity block (firmware/README.md), as
// offsets from the block's address (FlashMap::IdBlock, 0x1200 by default).
constexpr std::string_view kIdMarker = "TARSA-ID";
constexpr uint32_t kIdLabel = 0x08;
constexpr uint32_t kIdLabelSize = 32;
constexpr uint32_t kIdVersion = 0x28;
constexpr uint32_t kIdSize = 0x2C;
constexpr uint32_t kIdIntegrity = 0x2E;
constexpr uint32_t kIdReserved = 0x30;
constexpr uint32_t kIdBlockSize = 0x40;
constexpr uint32_t kHighSection = 0xFFC0;
constexpr uint32_t kHighSectionSize = 32;
constexpr uint32_t kEntryPoint = 0x40;  // reset vector: right after the block
constexpr uint32_t kTrap = 0x60;        // every other vector

bool InInfo(const FlashMap& m, uint32_t a) {
    return a >= m.infoStart && a - m.infoStart < m.infoSegments * m.infoSegmentSize;
}

bool InMain(const FlashMap& m, uint32_t a) {
    return a >= m.mainStart && a < m.memoryEnd;
}

bool InLoaderCode(uint32_t a) {
    return a >= kLoaderCodeStart && a < kVectorSegment;
}

void Fill(Flash& flash, uint32_t from, uint32_t to) {
    to = std::min<uint32_t>(to, static_cast<uint32_t>(flash.bytes.size()));
    if (from < to) std::fill(flash.bytes.begin() + from, flash.bytes.begin() + to, 0xFF);
}

void PutWord(Flash& flash, uint32_t address, uint16_t value) {
    flash.bytes[address] = static_cast<uint8_t>(value & 0xFF);
    flash.bytes[address + 1] = static_cast<uint8_t>(value >> 8);
}

uint16_t IntegrityOf(const Flash& flash, uint32_t mainSize) {
    const uint8_t* b = flash.bytes.data() + flash.map.IdBlock();
    uint16_t crc = Crc16(b, kIdIntegrity, 0xFFFF);
    crc = Crc16(b + kIdReserved, mainSize - kIdReserved, crc);
    return Crc16(flash.bytes.data() + kHighSection, kHighSectionSize, crc);
}

}  // namespace

uint16_t Crc16(const uint8_t* data, std::size_t size, uint16_t crc) {
    for (std::size_t i = 0; i < size; ++i) {
        crc = static_cast<uint16_t>(crc ^ (data[i] << 8));
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021)
                                 : static_cast<uint16_t>(crc << 1);
        }
    }
    return crc;
}

Flash FlashCreate(const FlashMap& map) {
    Flash flash;
    flash.map = map;
    flash.map.memoryEnd = std::clamp<uint32_t>(map.memoryEnd, 0x10000, 0x100000);
    flash.bytes.assign(flash.map.memoryEnd, 0xFF);
    return flash;
}

int FlashErase(Flash& flash, uint32_t address) {
    const FlashMap& m = flash.map;
    if (InInfo(m, address)) {
        uint32_t first =
            m.infoStart + (address - m.infoStart) / m.infoSegmentSize * m.infoSegmentSize;
        Fill(flash, first, first + m.infoSegmentSize);
        return kFlashOk;
    }
    if (address >= kLoaderCodeStart && address < 0x10000) return kFlashProtected;
    if (!InMain(m, address)) return kFlashNotFlash;
    uint32_t base = address & ~(kMainSegmentSize - 1);
    uint32_t first = std::max(base, m.mainStart);
    Fill(flash, first, std::min(base + kMainSegmentSize, m.memoryEnd));
    if (first == m.mainStart) Fill(flash, kVectorSegment, 0x10000);
    return kFlashOk;
}

int FlashProgram(Flash& flash, uint32_t address, const std::vector<uint8_t>& data,
                 bool allowVectors) {
    const FlashMap& m = flash.map;
    for (std::size_t i = 0; i < data.size(); ++i) {
        uint64_t a64 = static_cast<uint64_t>(address) + i;
        if (a64 >= m.memoryEnd) return kFlashNotFlash;
        auto a = static_cast<uint32_t>(a64);
        if (InLoaderCode(a)) return kFlashProtected;
        if (a >= kVectorAddress && a < 0x10000 && !allowVectors) return kFlashProtected;
        if (!InInfo(m, a) && !InMain(m, a)) return kFlashNotFlash;
        uint8_t old = flash.bytes[a];
        if (old != 0xFF && old != data[i]) return kFlashNotErased;
    }
    for (std::size_t i = 0; i < data.size(); ++i) flash.bytes[address + i] &= data[i];
    return kFlashOk;
}

uint16_t FlashWord(const Flash& flash, uint32_t address) {
    if (address + 1 >= flash.bytes.size()) return 0xFFFF;
    return static_cast<uint16_t>(flash.bytes[address] | (flash.bytes[address + 1] << 8));
}

FlashIdentity FlashIdentify(const Flash& flash) {
    FlashIdentity id;
    const auto& b = flash.bytes;
    uint32_t block = flash.map.IdBlock();
    if (block + kIdBlockSize > kLoaderCodeStart) return id;
    if (!std::equal(kIdMarker.begin(), kIdMarker.end(), b.begin() + block)) return id;
    id.marker = true;
    for (uint32_t i = 0; i < kIdLabelSize && b[block + kIdLabel + i] != 0; ++i) {
        id.label += static_cast<char>(b[block + kIdLabel + i]);
    }
    id.version = FlashWord(flash, block + kIdVersion);
    uint32_t mainSize = FlashWord(flash, block + kIdSize);
    // A size that does not cover the identity block, or runs into the loader,
    // cannot belong to a good image (and must not steer the check out of bounds).
    if (mainSize < kIdBlockSize || block + mainSize > kLoaderCodeStart) return id;
    id.codeGood = IntegrityOf(flash, mainSize) == FlashWord(flash, block + kIdIntegrity);
    return id;
}

void FlashInstallFactoryImage(Flash& flash, std::string_view label, uint32_t mainSize) {
    const FlashMap& m = flash.map;
    Fill(flash, m.infoStart, m.infoStart + m.infoSegments * m.infoSegmentSize);
    Fill(flash, m.mainStart, kLoaderCodeStart);
    Fill(flash, kVectorSegment, m.memoryEnd);
    uint32_t block = m.IdBlock();
    if (block + kIdBlockSize > kLoaderCodeStart) return;  // no room below the loader
    std::copy(kIdMarker.begin(), kIdMarker.end(), flash.bytes.begin() + block);
    for (uint32_t i = 0; i < kIdLabelSize; ++i) {
        flash.bytes[block + kIdLabel + i] = i < label.size() ? static_cast<uint8_t>(label[i]) : 0;
    }
    uint16_t version = 0;
    for (char c : label) {
        if (c >= '0' && c <= '9') version = static_cast<uint16_t>(version * 10 + (c - '0'));
    }
    PutWord(flash, block + kIdVersion, version);
    PutWord(flash, block + kIdVersion + 2, 0);  // type code: not read by the device
    mainSize = std::clamp<uint32_t>(mainSize, kIdBlockSize, kLoaderCodeStart - block);
    uint32_t x = 0x2545F491;  // xorshift32 filler after the block
    for (uint32_t a = block + kIdBlockSize; a < block + mainSize; ++a) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        flash.bytes[a] = static_cast<uint8_t>(x);
    }
    PutWord(flash, block + kIdSize, static_cast<uint16_t>(mainSize));
    PutWord(flash, block + kIdIntegrity, IntegrityOf(flash, mainSize));
    for (uint32_t i = 0; i < kVectorCount; ++i) {
        uint32_t target = block + (i + 1 == kVectorCount ? kEntryPoint : kTrap);
        PutWord(flash, kVectorAddress + 2 * i, static_cast<uint16_t>(target));
    }
}

}  // namespace tarsa::sim
