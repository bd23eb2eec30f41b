// Flash regions, segment erase, bit-clearing programming and the start-up
// check of the stand-in firmware's identity block.
#include "sim/flash.h"

#include <algorithm>

namespace tarsa::sim {

namespace {

// Layout of the stand-in firmware's identity block (firmware/README.md).
constexpr uint32_t kIdBlock = 0x1200;
constexpr std::string_view kIdMarker = "TARSA-ID";
constexpr uint32_t kIdLabel = kIdBlock + 0x08;
constexpr uint32_t kIdLabelSize = 32;
constexpr uint32_t kIdVersion = kIdBlock + 0x28;
constexpr uint32_t kIdSize = kIdBlock + 0x2C;
constexpr uint32_t kIdIntegrity = kIdBlock + 0x2E;
constexpr uint32_t kIdReserved = kIdBlock + 0x30;
constexpr uint32_t kIdBlockSize = 0x40;
constexpr uint32_t kHighSection = 0xFFC0;
constexpr uint32_t kHighSectionSize = 32;
constexpr uint16_t kEntryPoint = 0x1240;
constexpr uint16_t kTrap = 0x1260;

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
    const uint8_t* b = flash.bytes.data();
    uint16_t crc = Crc16(b + kIdBlock, kIdIntegrity - kIdBlock, 0xFFFF);
    crc = Crc16(b + kIdReserved, kIdBlock + mainSize - kIdReserved, crc);
    return Crc16(b + kHighSection, kHighSectionSize, crc);
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
    if (!std::equal(kIdMarker.begin(), kIdMarker.end(), b.begin() + kIdBlock)) return id;
    id.marker = true;
    for (uint32_t i = 0; i < kIdLabelSize && b[kIdLabel + i] != 0; ++i) {
        id.label += static_cast<char>(b[kIdLabel + i]);
    }
    uint32_t mainSize = FlashWord(flash, kIdSize);
    // A size that does not cover the identity block, or runs into the loader,
    // cannot belong to a good image (and must not steer the check out of bounds).
    if (mainSize < kIdBlockSize || kIdBlock + mainSize > kLoaderCodeStart) return id;
    id.codeGood = IntegrityOf(flash, mainSize) == FlashWord(flash, kIdIntegrity);
    return id;
}

void FlashInstallFactoryImage(Flash& flash, std::string_view label) {
    const FlashMap& m = flash.map;
    Fill(flash, m.infoStart, m.infoStart + m.infoSegments * m.infoSegmentSize);
    Fill(flash, m.mainStart, kLoaderCodeStart);
    Fill(flash, kVectorSegment, m.memoryEnd);
    std::copy(kIdMarker.begin(), kIdMarker.end(), flash.bytes.begin() + kIdBlock);
    for (uint32_t i = 0; i < kIdLabelSize; ++i) {
        flash.bytes[kIdLabel + i] = i < label.size() ? static_cast<uint8_t>(label[i]) : 0;
    }
    uint16_t version = 0;
    for (char c : label) {
        if (c >= '0' && c <= '9') version = static_cast<uint16_t>(version * 10 + (c - '0'));
    }
    PutWord(flash, kIdVersion, version);
    PutWord(flash, kIdVersion + 2, 0);  // type code: not read by the device
    PutWord(flash, kIdSize, static_cast<uint16_t>(kIdBlockSize));
    PutWord(flash, kIdIntegrity, IntegrityOf(flash, kIdBlockSize));
    for (uint32_t i = 0; i < kVectorCount; ++i) {
        PutWord(flash, kVectorAddress + 2 * i, i + 1 == kVectorCount ? kEntryPoint : kTrap);
    }
}

}  // namespace tarsa::sim
