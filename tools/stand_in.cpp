// Generation of the stand-in firmware image and a plain TI-TXT writer.
#include "stand_in.h"

#include <cstdio>

namespace tarsa {
namespace {

void PutLittleEndian(std::vector<uint8_t>& bytes, uint32_t offset, uint16_t value) {
    bytes[offset] = static_cast<uint8_t>(value & 0xFF);
    bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
}

struct XorShift32 {
    uint32_t state;
    uint8_t Next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return static_cast<uint8_t>(state >> 24);
    }
};

void AppendSection(std::string& out, uint32_t address, const std::vector<uint8_t>& bytes) {
    char line[16];
    if (address > 0xFFFF) {
        snprintf(line, sizeof line, "@%05X\n", static_cast<unsigned>(address));
    } else {
        snprintf(line, sizeof line, "@%04X\n", static_cast<unsigned>(address));
    }
    out.append(line);
    for (size_t i = 0; i < bytes.size(); ++i) {
        char byte[4];
        snprintf(byte, sizeof byte, "%02X", bytes[i]);
        out.append(byte);
        out.push_back((i % 16 == 15 || i + 1 == bytes.size()) ? '\n' : ' ');
    }
}

}  // namespace

bool StandInOptionsValid(const StandInOptions& options) {
    using namespace standin;
    return options.mainBytes > kIdentityBytes && options.mainBytes <= 0xFFFF &&
           options.mainAddress + options.mainBytes <= kLoaderFlashFirst &&
           options.upperBytes <= kMaxImageAddress + 1 - kStandInUpperAddress;
}

StandInImage MakeStandIn(const StandInOptions& options) {
    using namespace standin;
    StandInImage image;
    XorShift32 rng{0x54415253u ^ options.version};

    auto& main = image.main.bytes;
    image.main.address = options.mainAddress;
    main.resize(options.mainBytes);
    for (auto& b : main) b = rng.Next();
    for (uint32_t i = 0; i < kIdentityBytes; ++i) main[i] = 0xFF;
    for (size_t i = 0; i < kMarker.size(); ++i) main[i] = static_cast<uint8_t>(kMarker[i]);
    for (uint32_t i = 0; i < kLabelBytes; ++i) {
        main[kLabelOffset + i] =
            i < options.label.size() ? static_cast<uint8_t>(options.label[i]) : 0;
    }
    PutLittleEndian(main, kVersionOffset, options.version);
    PutLittleEndian(main, kTypeOffset, options.typeCode);
    PutLittleEndian(main, kSizeOffset, static_cast<uint16_t>(options.mainBytes));

    image.high.address = kHighAddress;
    image.high.bytes.resize(kHighBytes);
    for (auto& b : image.high.bytes) b = rng.Next();

    PutLittleEndian(main, kIntegrityOffset, StandInIntegrity(main, image.high.bytes));

    image.upper.address = kStandInUpperAddress;
    image.upper.bytes.resize(options.upperBytes);
    for (auto& b : image.upper.bytes) b = rng.Next();

    const uint32_t entry = options.mainAddress + kIdentityBytes;
    for (auto& v : image.vectors) v = entry + (kTrapAddress - kEntryAddress);
    image.vectors[kVectorCount - 1] = entry;
    return image;
}

std::string FormatTiTxt(const std::vector<ImageSection>& sections,
                        const std::array<uint32_t, kVectorCount>* vectors) {
    std::string out;
    for (const auto& s : sections) AppendSection(out, s.address, s.bytes);
    if (vectors != nullptr) {
        std::vector<uint8_t> bytes;
        for (uint32_t v : *vectors) {
            bytes.push_back(static_cast<uint8_t>(v & 0xFF));
            bytes.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
        }
        AppendSection(out, kVectorBase, bytes);
    }
    out.append("q\n");
    return out;
}

std::string MakeStandInTiTxt(const StandInOptions& options) {
    StandInImage image = MakeStandIn(options);
    std::vector<ImageSection> sections = {image.main, image.high};
    if (!image.upper.bytes.empty()) sections.push_back(image.upper);
    return FormatTiTxt(sections, &image.vectors);
}

}  // namespace tarsa
