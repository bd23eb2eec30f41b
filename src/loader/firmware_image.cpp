// Checks of the compiled-in image, decoding of compact image text into bytes
// and the identity block of the stand-in firmware. No file access here.
#include "loader/firmware_image.h"

#include <new>

namespace tarsa {
namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

uint16_t LittleEndianAt(const std::vector<uint8_t>& bytes, uint32_t offset) {
    return static_cast<uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

}  // namespace

int32_t SignedByteSum(std::string_view text) {
    int32_t sum = 0;
    for (char c : text) sum += static_cast<signed char>(c);
    return sum;
}

int LoadEmbeddedImage(FirmwareImage& image, const EmbeddedImage& embedded) {
    if (embedded.text == nullptr || embedded.textStorage == 0) return kImageDamaged;
    // The stored text ends at its first NUL; never look past its storage.
    size_t stored = 0;
    while (stored < embedded.textStorage && embedded.text[stored] != '\0') ++stored;
    std::string_view text(embedded.text, stored);
    if (stored != embedded.length || SignedByteSum(text) != embedded.sum) return kImageDamaged;

    FirmwareImage fresh;
    try {
        fresh.text.assign(text);
        if (embedded.label != nullptr) {
            std::string_view label(embedded.label);
            fresh.label.assign(label.substr(0, kImageLabelCapacity));
        }
    } catch (const std::bad_alloc&) {
        return kImageOutOfMemory;
    }
    fresh.length = static_cast<uint32_t>(stored);
    fresh.typeCode = embedded.typeCode;
    fresh.vectors = embedded.vectors;
    image = std::move(fresh);
    return kImageOk;
}

int DecodeImageText(std::string_view text, std::vector<ImageSection>& sections) {
    if (text.empty() || text[0] != '@') return kImageInvalidFile;
    std::vector<ImageSection> decoded;
    size_t p = 0;
    while (p < text.size()) {
        // Here text[p] is always '@'.
        if (text.size() - p < 6) return kImageInvalidFile;
        ImageSection section;
        for (size_t i = 1; i <= 5; ++i) {
            int v = HexValue(text[p + i]);
            if (v < 0) return kImageInvalidFile;
            section.address = section.address * 16 + static_cast<uint32_t>(v);
        }
        p += 6;
        size_t end = text.find('@', p);
        if (end == std::string_view::npos) end = text.size();
        if ((end - p) % 4 != 0) return kImageInvalidFile;
        section.bytes.reserve((end - p) / 2);
        for (; p < end; p += 4) {
            int d[4];
            for (int i = 0; i < 4; ++i) {
                d[i] = HexValue(text[p + static_cast<size_t>(i)]);
                if (d[i] < 0) return kImageInvalidFile;
            }
            // Word "abcd": byte cd at the even address, ab at the odd one.
            section.bytes.push_back(static_cast<uint8_t>(d[2] * 16 + d[3]));
            section.bytes.push_back(static_cast<uint8_t>(d[0] * 16 + d[1]));
        }
        decoded.push_back(std::move(section));
    }
    int count = static_cast<int>(decoded.size());
    for (auto& s : decoded) sections.push_back(std::move(s));
    return count;
}

uint16_t Crc16(const uint8_t* data, size_t size, uint16_t crc) {
    for (size_t i = 0; i < size; ++i) {
        crc = static_cast<uint16_t>(crc ^ (data[i] << 8));
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021)
                                 : static_cast<uint16_t>(crc << 1);
        }
    }
    return crc;
}

uint16_t StandInIntegrity(const std::vector<uint8_t>& main, const std::vector<uint8_t>& high) {
    const uint32_t skip = standin::kIntegrityOffset;
    uint16_t crc = Crc16(main.data(), skip);
    crc = Crc16(main.data() + skip + 2, main.size() - skip - 2, crc);
    return Crc16(high.data(), high.size(), crc);
}

bool ReadStandInIdentity(const std::vector<ImageSection>& sections, StandInIdentity& identity) {
    const ImageSection* main = nullptr;
    const ImageSection* high = nullptr;
    for (const auto& s : sections) {
        if (s.address == standin::kMainAddress) main = &s;
        if (s.address == standin::kHighAddress) high = &s;
    }
    if (main == nullptr || high == nullptr) return false;
    const auto& bytes = main->bytes;
    if (bytes.size() <= standin::kIdentityBytes) return false;
    if (std::string_view(reinterpret_cast<const char*>(bytes.data()), standin::kMarker.size()) !=
        standin::kMarker) {
        return false;
    }
    StandInIdentity id;
    for (uint32_t i = 0; i < standin::kLabelBytes; ++i) {
        char c = static_cast<char>(bytes[standin::kLabelOffset + i]);
        if (c == '\0') break;
        id.label.push_back(c);
    }
    id.version = LittleEndianAt(bytes, standin::kVersionOffset);
    id.typeCode = LittleEndianAt(bytes, standin::kTypeOffset);
    id.mainBytes = LittleEndianAt(bytes, standin::kSizeOffset);
    id.storedIntegrity = LittleEndianAt(bytes, standin::kIntegrityOffset);
    if (id.mainBytes != bytes.size()) return false;
    id.computedIntegrity = StandInIntegrity(bytes, high->bytes);
    identity = std::move(id);
    return true;
}

}  // namespace tarsa
