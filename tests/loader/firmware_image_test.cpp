// Tests of the compiled-in image and its checks, of compact-text decoding
// and of the stand-in firmware's identity block and integrity word.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "loader/firmware_image.h"
#include "loader/ti_txt.h"
#include "stand_in.h"

namespace tarsa {
namespace {

const char kStandInPath[] = TARSA_SOURCE_DIR "/firmware/Talox 2.29.txt";

bool BuiltWithStandIn() {
    return std::string(TARSA_FIRMWARE_IMAGE_PATH) == kStandInPath;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// ---------------------------------------------------------------------------
// Compiled-in image

TEST(CompiledInImage, LoadsWithItsGeneratedLengthAndSum) {
    FirmwareImage image;
    image.version = 7;
    image.loadedFromFile = true;
    ASSERT_EQ(LoadCompiledInImage(image), kImageOk);
    const EmbeddedImage& embedded = CompiledInImage();
    EXPECT_EQ(image.length, embedded.length);
    EXPECT_EQ(image.text.size(), image.length);
    EXPECT_EQ(SignedByteSum(image.text), embedded.sum);
    EXPECT_EQ(image.text[0], '@');
    EXPECT_EQ(image.version, 0);  // only a file load sets the version
    EXPECT_FALSE(image.loadedFromFile);
}

TEST(CompiledInImage, IsTheStandInTaloxImage) {
    if (!BuiltWithStandIn()) GTEST_SKIP() << "built with another TARSA_FIRMWARE_IMAGE";
    FirmwareImage image;
    ASSERT_EQ(LoadCompiledInImage(image), kImageOk);
    EXPECT_EQ(image.label, "Talox 2.29");
    EXPECT_EQ(image.typeCode, 3);
    EXPECT_EQ(image.length, 113780u);
    EXPECT_FLOAT_EQ(35328.0f / static_cast<float>(image.length), 0.31049395f);
    EXPECT_EQ(image.vectors[15], standin::kEntryAddress);
    for (size_t i = 0; i + 1 < kVectorCount; ++i)
        EXPECT_EQ(image.vectors[i], standin::kTrapAddress);

    std::vector<ImageSection> sections;
    ASSERT_EQ(DecodeImageText(image.text, sections), 2);
    EXPECT_EQ(sections[0].address, 0x1200u);
    EXPECT_EQ(sections[0].bytes.size(), standin::kMainBytes);
    EXPECT_EQ(sections[1].address, 0xFFC0u);
    EXPECT_EQ(sections[1].bytes.size(), 32u);  // up to 0xFFDF, clear of the vectors

    StandInIdentity id;
    ASSERT_TRUE(ReadStandInIdentity(sections, id));
    EXPECT_EQ(id.label, "Talox 2.29");
    EXPECT_EQ(id.version, 229);
    EXPECT_EQ(id.typeCode, 3);
    EXPECT_EQ(id.storedIntegrity, id.computedIntegrity);
}

// A modifiable copy of the compiled-in image's descriptor and text.
struct DamagedCopy {
    std::string text;
    EmbeddedImage embedded;
    DamagedCopy() : text(CompiledInImage().text), embedded(CompiledInImage()) { Point(); }
    void Point() {
        embedded.text = text.c_str();
        embedded.textStorage = text.size() + 1;
    }
};

TEST(CompiledInImage, DamageIsRefusedAndLeavesTheImageAlone) {
    FirmwareImage before;
    before.label = "previous";
    before.text = "@012003412";
    before.length = 10;

    DamagedCopy flipped;
    flipped.text[flipped.text.size() / 2] ^= 0x01;
    DamagedCopy cut;
    cut.text[1000] = '\0';  // the stored text now ends early
    DamagedCopy shorter;
    shorter.text.pop_back();
    shorter.Point();
    DamagedCopy wrongLength;
    wrongLength.embedded.length += 1;
    DamagedCopy wrongSum;
    wrongSum.embedded.sum -= 1;
    DamagedCopy noTerminator;  // the check must stop at the storage's end
    noTerminator.embedded.textStorage = noTerminator.text.size();
    noTerminator.embedded.length = static_cast<uint32_t>(noTerminator.text.size()) + 1;

    for (DamagedCopy* d : {&flipped, &cut, &shorter, &wrongLength, &wrongSum, &noTerminator}) {
        FirmwareImage image = before;
        EXPECT_EQ(LoadEmbeddedImage(image, d->embedded), kImageDamaged);
        EXPECT_EQ(image.label, "previous");
        EXPECT_EQ(image.text, before.text);
    }
    DamagedCopy intact;
    FirmwareImage image = before;
    EXPECT_EQ(LoadEmbeddedImage(image, intact.embedded), kImageOk);
    EXPECT_EQ(image.text, intact.text);
}

TEST(CompiledInImage, SumTakesCharactersAsSignedBytes) {
    EXPECT_EQ(SignedByteSum("@0"), 64 + 48);
    EXPECT_EQ(SignedByteSum(std::string("A\xFF\x80", 3)), 65 - 1 - 128);
}

TEST(CompiledInImage, LabelIsCutToItsCapacity) {
    std::string longLabel(100, 'L');
    EmbeddedImage e = CompiledInImage();
    e.label = longLabel.c_str();
    FirmwareImage image;
    ASSERT_EQ(LoadEmbeddedImage(image, e), kImageOk);
    EXPECT_EQ(image.label, std::string(kImageLabelCapacity, 'L'));
}

// ---------------------------------------------------------------------------
// Compact text decoding

TEST(ImageText, DecodesWordFormIntoBytes) {
    std::vector<ImageSection> s;
    ASSERT_EQ(DecodeImageText("@012003412FF56@1ABCDcdab@0FFC0", s), 3);
    EXPECT_EQ(s[0].address, 0x1200u);
    EXPECT_EQ(s[0].bytes, (std::vector<uint8_t>{0x12, 0x34, 0x56, 0xFF}));
    EXPECT_EQ(s[1].address, 0x1ABCDu);
    EXPECT_EQ(s[1].bytes, (std::vector<uint8_t>{0xAB, 0xCD}));
    EXPECT_EQ(s[2].address, 0xFFC0u);
    EXPECT_TRUE(s[2].bytes.empty());
}

TEST(ImageText, MalformedTextIsRefused) {
    for (const char* text : {"", "012003412", "@0120", "@0120G3412", "@01200341", "@012003412@",
                             "@01200 3412", "@0120034x2"}) {
        std::vector<ImageSection> s;
        EXPECT_EQ(DecodeImageText(text, s), kImageInvalidFile) << text;
        EXPECT_TRUE(s.empty()) << text;
    }
}

// ---------------------------------------------------------------------------
// Stand-in firmware

TEST(StandIn, Crc16MatchesItsCheckValue) {
    const char* check = "123456789";
    EXPECT_EQ(Crc16(reinterpret_cast<const uint8_t*>(check), 9), 0x29B1);
    EXPECT_EQ(Crc16(nullptr, 0), 0xFFFF);
}

TEST(StandIn, CommittedFileIsWhatTheGeneratorWrites) {
    std::string committed = ReadFile(kStandInPath);
    ASSERT_FALSE(committed.empty()) << kStandInPath;
    EXPECT_EQ(committed, MakeStandInTiTxt(StandInOptions{}));
}

TEST(StandIn, IdentityBlockSitsAtTheDocumentedAddresses) {
    StandInImage image = MakeStandIn(StandInOptions{"Talox 2.30", 230, 3});
    const auto& b = image.main.bytes;
    ASSERT_EQ(b.size(), 56852u);
    EXPECT_EQ(image.main.address + b.size() - 1, 0xF013u);
    EXPECT_EQ(std::string(b.begin(), b.begin() + 8), "TARSA-ID");
    EXPECT_EQ(std::string(b.begin() + 8, b.begin() + 18), "Talox 2.30");
    EXPECT_EQ(b[18], 0);
    EXPECT_EQ(b[0x28] | (b[0x29] << 8), 230);
    EXPECT_EQ(b[0x2A] | (b[0x2B] << 8), 3);
    EXPECT_EQ(b[0x2C] | (b[0x2D] << 8), 56852);
    EXPECT_EQ(b[0x2E] | (b[0x2F] << 8), StandInIntegrity(b, image.high.bytes));
    for (uint32_t i = 0x30; i < 0x40; ++i) EXPECT_EQ(b[i], 0xFF);
    EXPECT_EQ(image.high.address, 0xFFC0u);
    EXPECT_EQ(image.high.bytes.size(), 32u);
}

TEST(StandIn, IntegrityWordCatchesMisplacedAndMissingData) {
    StandInImage image = MakeStandIn(StandInOptions{});
    std::vector<ImageSection> sections{image.main, image.high};
    StandInIdentity id;
    ASSERT_TRUE(ReadStandInIdentity(sections, id));
    ASSERT_EQ(id.storedIntegrity, id.computedIntegrity);

    // Two 256-byte blocks written at each other's address keep any plain sum.
    std::vector<ImageSection> swapped = sections;
    auto& m = swapped[0].bytes;
    std::swap_ranges(m.begin() + 0x200, m.begin() + 0x300, m.begin() + 0x400);
    ASSERT_TRUE(ReadStandInIdentity(swapped, id));
    EXPECT_NE(id.storedIntegrity, id.computedIntegrity);

    std::vector<ImageSection> erasedHigh = sections;
    for (auto& byte : erasedHigh[1].bytes) byte = 0xFF;
    ASSERT_TRUE(ReadStandInIdentity(erasedHigh, id));
    EXPECT_NE(id.storedIntegrity, id.computedIntegrity);

    std::vector<ImageSection> noMarker = sections;
    noMarker[0].bytes[0] = 'X';
    EXPECT_FALSE(ReadStandInIdentity(noMarker, id));
    std::vector<ImageSection> truncated = sections;
    truncated[0].bytes.resize(0x1000);
    EXPECT_FALSE(ReadStandInIdentity(truncated, id));
    EXPECT_FALSE(ReadStandInIdentity({sections[0]}, id));
}

TEST(StandIn, ReadBackThroughTheTiTxtReaderGivesTheShippedShape) {
    // The reader and the generator must agree on the 113780 characters.
    std::string text;
    std::array<uint32_t, kVectorCount> vectors{};
    ASSERT_EQ(ParseTiTxt(MakeStandInTiTxt(StandInOptions{}), text, vectors), kImageOk);
    EXPECT_EQ(text.size(), standin::kTextLength);
    EXPECT_EQ(text.substr(0, 6), "@01200");
    EXPECT_EQ(text.find("@0FFC0"), text.size() - 6 - 64);
    EXPECT_EQ(vectors, MakeStandIn(StandInOptions{}).vectors);
}

}  // namespace
}  // namespace tarsa
