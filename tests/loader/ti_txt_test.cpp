// Tests of the TI-TXT reader and the image writer: cross-checks against an
// independent TI-TXT implementation (srec_cat), rejected files that must
// leave the previous image alone, the address and vector rules, identity from
// the file name, and the exact layout of a written image.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "loader/firmware_image.h"
#include "loader/ti_txt.h"
#include "log/tarsa_log.h"
#include "support/test_env.h"

namespace tarsa {
namespace {

namespace fs = std::filesystem;

class TempDir {
  public:
    TempDir() : path_(test::MakeTempFolder("ti_txt_test.")) {}
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty()) fs::remove_all(path_, ec);
    }
    std::string Write(const std::string& name, const std::string& contents) const {
        std::string p = (fs::path(path_) / name).string();
        std::ofstream(p, std::ios::binary) << contents;
        return p;
    }
    std::string Path(const std::string& name) const { return (fs::path(path_) / name).string(); }

  private:
    std::string path_;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// An image that differs from everything the tests load, to see that a failed
// load keeps it.
FirmwareImage PreviousImage() {
    FirmwareImage image;
    image.label = "Talox 2.29";
    image.version = 229;
    image.typeCode = 3;
    image.text = "@012003412";
    image.length = 10;
    image.vectors.fill(0x1234);
    image.vectors[15] = 0x1240;
    return image;
}

void ExpectSameImage(const FirmwareImage& a, const FirmwareImage& b) {
    EXPECT_EQ(a.label, b.label);
    EXPECT_EQ(a.version, b.version);
    EXPECT_EQ(a.typeCode, b.typeCode);
    EXPECT_EQ(a.text, b.text);
    EXPECT_EQ(a.length, b.length);
    EXPECT_EQ(a.vectors, b.vectors);
    EXPECT_EQ(a.loadedFromFile, b.loadedFromFile);
}

// Loads `contents` as a file called `name`; returns the result.
int LoadText(const TempDir& dir, const std::string& name, const std::string& contents,
             FirmwareImage& image) {
    return LoadTIFile(image, nullptr, dir.Write(name, contents).c_str());
}

// ---------------------------------------------------------------------------
// Cross-check with srec_cat

bool HaveSrecCat() {
    return system("command -v srec_cat >/dev/null 2>&1") == 0;
}

bool RunCommand(const std::string& command, std::string* output = nullptr) {
    FILE* p = popen(command.c_str(), "r");
    if (!p) return false;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) {
        if (output) output->append(buf, n);
    }
    return pclose(p) == 0;
}

// Parses srec_cat's -hex-dump output: "AAAAAAAA: XX XX ...  #ascii", where a
// blank column is an address the file has no data for.
std::map<uint32_t, uint8_t> ParseHexDump(const std::string& dump) {
    std::map<uint32_t, uint8_t> bytes;
    std::istringstream in(dump);
    std::string line;
    while (std::getline(in, line)) {
        if (line.size() < 10 || line[8] != ':') continue;
        uint32_t base = static_cast<uint32_t>(std::stoul(line.substr(0, 8), nullptr, 16));
        for (uint32_t col = 0; col < 16; ++col) {
            size_t at = 10 + 3 * col;
            if (at + 2 > line.size() || line[at] == '#') break;
            if (line[at] == ' ') continue;
            bytes[base + col] = static_cast<uint8_t>(std::stoul(line.substr(at, 2), nullptr, 16));
        }
    }
    return bytes;
}

struct SrecLayout {
    const char* generate;  // srec_cat -generate arguments
    size_t sections;       // data sections the image keeps
    uint32_t dropFrom;     // a section in the loader's flash that the image drops
    uint32_t dropTo;
};

TEST(TiTxtSrecCat, LoadedBytesMatchSrecCatForRandomImages) {
    if (!HaveSrecCat()) GTEST_SKIP() << "srec_cat (Debian package srecord) is not on PATH";
    TempDir dir;
    const SrecLayout layouts[] = {
        {"-generate 0x1200 0x1211 -random -generate 0x4001 0x4004 -random "
         "-generate 0xFFE0 0x10000 -random",
         2, 0, 0},
        {"-generate 0x1100 0x1500 -random -generate 0x2000 0x2003 -random "
         "-generate 0xC001 0xC100 -random -generate 0xFFC0 0xFFDF -random "
         "-generate 0xFFF0 0x10000 -random -generate 0x10001 0x10022 -random",
         5, 0, 0},
        {"-generate 0x8000 0x9001 -random -generate 0xF000 0xF9FF -random "
         "-generate 0xFA00 0xFA41 -random -generate 0xFE00 0xFE10 -random "
         "-generate 0xFFFE 0x10000 -random",
         3, 0xFA00, 0xFA41},
    };
    for (int round = 0; round < 3; ++round) {
        for (const auto& layout : layouts) {
            std::string file = dir.Path("random.txt");
            ASSERT_TRUE(RunCommand(std::string("srec_cat ") + layout.generate + " -o '" + file +
                                   "' -ti-txt"));
            std::string dump;
            ASSERT_TRUE(RunCommand("srec_cat '" + file + "' -ti-txt -o - -hex-dump", &dump));
            std::map<uint32_t, uint8_t> expected = ParseHexDump(dump);
            ASSERT_FALSE(expected.empty()) << dump;
            SCOPED_TRACE(ReadFile(file));
            for (uint32_t at = layout.dropFrom; at < layout.dropTo; ++at) {
                EXPECT_EQ(expected.erase(at), 1u) << "srec_cat lost a byte at " << at;
            }

            FirmwareImage image;
            ASSERT_EQ(LoadTIFile(image, nullptr, file.c_str()), 1);
            std::vector<ImageSection> sections;
            ASSERT_EQ(DecodeImageText(image.text, sections), static_cast<int>(layout.sections));

            // The vectors are the words srec_cat shows at 0xFFE0..0xFFFF.
            for (uint32_t slot = 0; slot < kVectorCount; ++slot) {
                uint32_t at = kVectorBase + 2 * slot;
                uint32_t want = kNoVector;
                if (expected.count(at)) want = expected[at] | (expected[at + 1] << 8);
                EXPECT_EQ(image.vectors[slot], want) << "vector slot " << slot;
                expected.erase(at);
                expected.erase(at + 1);
            }
            // Every data byte appears at its address; the only extra bytes are
            // the 0xFF that completes a section with an odd byte count.
            size_t extras = 0;
            for (const auto& s : sections) {
                for (size_t i = 0; i < s.bytes.size(); ++i) {
                    uint32_t at = s.address + static_cast<uint32_t>(i);
                    auto it = expected.find(at);
                    if (it == expected.end()) {
                        EXPECT_EQ(i, s.bytes.size() - 1) << std::hex << "extra byte at " << at;
                        EXPECT_EQ(s.bytes[i], 0xFF);
                        ++extras;
                        continue;
                    }
                    EXPECT_EQ(s.bytes[i], it->second) << std::hex << "at " << at;
                    expected.erase(it);
                }
            }
            EXPECT_LE(extras, sections.size());
            EXPECT_TRUE(expected.empty()) << expected.size() << " bytes of the file are missing";
        }
    }
}

// ---------------------------------------------------------------------------
// Rejected files

struct BadFile {
    const char* what;
    const char* contents;
};

TEST(TiTxtLoad, InvalidFilesAreRejectedAndKeepThePreviousImage) {
    const BadFile bad[] = {
        {"empty file", ""},
        {"leading blank line", "\n@1200\n00 11\n@FFFE\n40 12\nq\n"},
        {"no end marker", "@1200\n00 11\n@FFFE\n40 12\n"},
        {"unreadable address", "@XYZ\n00 11\n@FFFE\n40 12\nq\n"},
        {"address beyond 20 bits", "@100000\n00 11\n@FFFE\n40 12\nq\n"},
        {"address line without line feed", "@1200 00 11 @FFFE\n40 12\nq\n"},
        {"last address line without line feed", "@1200\n00 11\n@FFFEq"},
        {"odd digit count in vectors", "@1200\n00 11\n@FFFE\n40 1\nq\n"},
        {"one byte of a vector", "@1200\n00 11\n@FFFE\n40\nq\n"},
        {"no vector section", "@1200\n00 11 22 33\nq\n"},
        {"vectors run past the reset vector", "@1200\n00 11\n@FFFC\n00 11 22 33 44 55\nq\n"},
        {"seventeen vectors",
         "@1200\n00\n@FFE0\n"
         "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\n"
         "10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F\n20 21\nq\n"},
        {"end marker before the first section ends", "@1200\n00 11 q @FFFE\n40 12\n"},
        // Sections the loader would refuse half-way through an update.
        {"data runs into the loader's flash", "@F9FE\n00 11 22\n@FFFE\n40 12\nq\n"},
        {"data starts in the loader's last byte", "@FDFF\n07 08\n@FFFE\n40 12\nq\n"},
        {"data runs past FFDF into the vectors", "@FFDE\n00 11 22\n@FFFE\n40 12\nq\n"},
        {"data at FFFF", "@FFFF\n00\n@FFFE\n40 12\nq\n"},
        {"loader section runs on past FDFF", "@FDFE\n00 11 22\n@FFFE\n40 12\nq\n"},
        {"data runs past the 20-bit space", "@FFFFE\n00 11 22\n@FFFE\n40 12\nq\n"},
    };
    TempDir dir;
    for (const auto& b : bad) {
        SCOPED_TRACE(b.what);
        FirmwareImage image = PreviousImage();
        EXPECT_EQ(LoadText(dir, "Brisen 1.05.txt", b.contents, image), kImageInvalidFile);
        ExpectSameImage(image, PreviousImage());
    }
}

TEST(TiTxtLoad, MissingFileReturnsNegatedErrnoAndLogsIt) {
    TempDir dir;
    std::string logPath = dir.Path("log.txt");
    TarsaLog log(logPath.c_str(), 30, true);
    FirmwareImage image = PreviousImage();
    std::string missing = dir.Path("nowhere/Talox 2.30.txt");
    EXPECT_EQ(LoadTIFile(image, &log, missing.c_str()), -ENOENT);
    ExpectSameImage(image, PreviousImage());
    EXPECT_NE(ReadFile(logPath).find(
                  "TarsaBSL: BSLLoadTIFile got error 2 trying to open datafile " + missing),
              std::string::npos);
}

TEST(TiTxtLoad, OutcomesAreLoggedWithTheirTexts) {
    TempDir dir;
    std::string logPath = dir.Path("log.txt");
    TarsaLog log(logPath.c_str(), 10, true);
    FirmwareImage image;
    std::string bad = dir.Write("bad.txt", "@1200\n00\nq\n");
    std::string good = dir.Write("Talox 2.30.txt", "@1200\n00 11\n@FFFE\n40 12\nq\n");
    EXPECT_EQ(LoadTIFile(image, &log, bad.c_str()), kImageInvalidFile);
    EXPECT_EQ(LoadTIFile(image, &log, good.c_str()), 1);
    std::string text = ReadFile(logPath);
    EXPECT_NE(text.find("TarsaBSL: BSLLoadTIFile: file " + bad + " is not a valid TI-Text file ("),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("TarsaBSL: BSLLoadTIFile loaded file " + good + " ("), std::string::npos)
        << text;
}

// ---------------------------------------------------------------------------
// Accepted files

TEST(TiTxtLoad, SectionsStartingInLoaderFlashAreDroppedOthersKept) {
    TempDir dir;
    FirmwareImage image;
    // Sections that end right below the loader, right above it and right
    // below the vectors are kept.
    ASSERT_EQ(LoadText(dir, "x.txt",
                       "@F9FE\n01 02\n@FA00\n03 04\n@FDFE\n05 06\n@FE00\n07 08\n"
                       "@FFDE\n09 0A\n@FFE0\n0B 0C\nq\n",
                       image),
              1);
    EXPECT_EQ(image.text, "@0F9FE0201@0FE000807@0FFDE0A09");
    EXPECT_EQ(image.length, image.text.size());
    EXPECT_EQ(image.vectors[0], 0x0C0Bu);
    EXPECT_TRUE(image.loadedFromFile);
}

TEST(TiTxtLoad, OddByteCountsAreCompletedWithFF) {
    TempDir dir;
    FirmwareImage image;
    ASSERT_EQ(
        LoadText(dir, "x.txt", "@2000\n12 34 56\n@3000\nA\n@3100\n123\n@FFFE\n40 12\nq\n", image),
        1);
    // Three bytes give 3412 and FF56; lone digits fill up with F the same way.
    EXPECT_EQ(image.text, "@020003412FF56@03000FFAF@031003F12");
}

TEST(TiTxtLoad, LowerCaseDataIsKeptAndAddressesAreUpperCase) {
    TempDir dir;
    FirmwareImage image;
    ASSERT_EQ(LoadText(dir, "x.txt", "@abcd\nab cd ef\n@1abcd\n0f\n@fffe\n4a 1b\nq\n", image), 1);
    EXPECT_EQ(image.text, "@0ABCDcdabFFef@1ABCDFF0f");
    EXPECT_EQ(image.vectors[15], 0x1B4Au);
}

TEST(TiTxtLoad, ResetVectorSectionSetsOnlyTheLastSlot) {
    TempDir dir;
    FirmwareImage image;
    ASSERT_EQ(LoadText(dir, "x.txt", "@1200\n00 11\n@FFFE\n40 12\nq\n", image), 1);
    for (size_t i = 0; i + 1 < kVectorCount; ++i) EXPECT_EQ(image.vectors[i], kNoVector);
    EXPECT_EQ(image.vectors[15], 0x1240u);
}

TEST(TiTxtLoad, FullVectorTableAndOddVectorStart) {
    TempDir dir;
    FirmwareImage image;
    std::string file = "@FFE1\n";  // an odd start names the slot of its word
    for (int i = 0; i < 16; ++i) {
        char b[8];
        snprintf(b, sizeof b, "%02X %02X ", i, 0xA0 + i);
        file += b;
    }
    ASSERT_EQ(LoadText(dir, "x.txt", file + "\nq\n", image), 1);
    EXPECT_EQ(image.text, "");
    for (uint32_t i = 0; i < 16; ++i) EXPECT_EQ(image.vectors[i], ((0xA0 + i) << 8) | i);
}

TEST(TiTxtLoad, WindowsLineEndsBlanksAndTextAfterTheEndMarker) {
    TempDir dir;
    FirmwareImage image;
    ASSERT_EQ(
        LoadText(dir, "x.txt",
                 "@ 1200 \r\n00 11\t22\r\n33\r\n@FFFE\r\n40 12\r\nq\r\n@3000\r\n55 66\r\n", image),
        1);
    EXPECT_EQ(image.text, "@0120011003322");
    EXPECT_EQ(image.vectors[15], 0x1240u);
}

TEST(TiTxtLoad, CompactTextMayBeLongerThanTheFile) {
    // Short addresses and lone digits expand; the reader must not size its
    // output by the file.
    TempDir dir;
    FirmwareImage image;
    std::string file;
    for (int i = 0; i < 200; ++i) file += "@" + std::to_string(i % 10) + "\n1";
    file += "@FFFE\n4012q";
    ASSERT_EQ(LoadText(dir, "x.txt", file, image), 1);
    EXPECT_EQ(image.text.size(), 200u * 10u);
    EXPECT_GT(image.text.size(), file.size());
    EXPECT_EQ(image.text.substr(0, 20), "@00000FF1F@00001FF1F");
}

TEST(TiTxtLoad, LoadReplacesEveryImageField) {
    TempDir dir;
    FirmwareImage image = PreviousImage();
    ASSERT_EQ(LoadText(dir, "BR-1-05.txt", "@1200\n00 11\n@FFFE\n00 13\nq\n", image), 1);
    EXPECT_EQ(image.label, "BR-1.05");
    EXPECT_EQ(image.typeCode, 4);
    EXPECT_EQ(image.version, 105);
    EXPECT_EQ(image.text, "@012001100");
    EXPECT_EQ(image.length, 10u);
    EXPECT_EQ(image.vectors[0], kNoVector);
    EXPECT_EQ(image.vectors[15], 0x1300u);
    EXPECT_TRUE(image.loadedFromFile);
}

TEST(TiTxtLoad, RandomTextNeverGivesMalformedCompactText) {
    // Random files over the TI-TXT alphabet: each is refused or gives text
    // that decodes, with no section in the loader's flash or past 20 bits.
    const std::string alphabet = "@@q0123456789abcdefABCDEF  \n\n\r\tx";
    uint32_t x = 0x9E3779B9u;
    auto next = [&x] {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        return x;
    };
    int accepted = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string file = "@";
        size_t size = next() % 120;
        for (size_t i = 0; i < size; ++i) file += alphabet[next() % alphabet.size()];
        if (round % 2 == 0) file.insert(next() % file.size(), "\n@FFF0\n");
        std::string compact;
        std::array<uint32_t, kVectorCount> vectors;
        int r = ParseTiTxt(file, compact, vectors);
        ASSERT_TRUE(r == kImageOk || r == kImageInvalidFile) << file;
        if (r != kImageOk) continue;
        ++accepted;
        if (compact.empty()) continue;
        std::vector<ImageSection> sections;
        ASSERT_GE(DecodeImageText(compact, sections), 1) << file;
        for (const auto& s : sections) {
            // No byte lands in the loader's flash or the vectors.
            const uint32_t last = s.address + static_cast<uint32_t>(s.bytes.size()) - 1;
            if (s.bytes.empty() || s.address > 0xFFFF) continue;
            EXPECT_FALSE(s.address <= kLoaderFlashEnd && last >= kLoaderFlashFirst) << file;
            EXPECT_LE(last, kLastDataAddress16) << file;
        }
        for (uint32_t v : vectors) EXPECT_LE(v, 0xFFFFu);
    }
    EXPECT_GT(accepted, 10);  // the property was exercised, not only refusals
}

// ---------------------------------------------------------------------------
// Identity from the file name

TEST(TiTxtIdentity, LabelTypeAndVersionFromTheFileName) {
    struct Case {
        const char* path;
        const char* label;
        int type;
        int version;
    };
    const Case cases[] = {
        {"Talox 2.29.txt", "Talox 2.29", 3, 229},
        {"/home/u/fw/Talox 2-29.txt", "Talox 2.29", 3, 229},
        {"C:\\fw\\talox 2.29.txt", "talox 2.29", 3, 229},
        {"HX8 3-01.txt", "HX8 3.01", 0, 301},
        {"H8_1.20.txt", "H8_1.20", 15, 0},  // "_" ends the word but starts no version
        {"TERREL-QS 1.00.txt", "TERREL-QS 1.00", 0, 100},  // the word ends at "-"
        {"SR40-1-50-beta.txt", "SR40-1-50.beta", 8, 150},  // the last "-" is replaced
        {"Talox2-29.txt", "Talox2.29", 0, 29},
        {"Talox 2.29.TXT", "Talox 2.29.TXT", 3, 229},
        {"Talox 2.29.txt.bak", "Talox 2.29", 3, 229},
        {"UNKNOWN 1.txt", "UNKNOWN 1", 0, 1},
        {"END 1.txt", "END 1", 0, 1},
        {"Talox", "Talox", 3, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        ImageIdentity id = IdentityFromFileName(c.path);
        EXPECT_EQ(id.label, c.label);
        EXPECT_EQ(id.typeCode, c.type);
        EXPECT_EQ(id.version, c.version);
    }
}

TEST(TiTxtIdentity, LongNamesAreCutBeforeLookingForTheExtension) {
    std::string name = "Talox 2.29 " + std::string(60, 'x') + ".txt";
    ImageIdentity id = IdentityFromFileName("/d/" + name);
    EXPECT_EQ(id.label, name.substr(0, kImageLabelCapacity));
    EXPECT_EQ(id.typeCode, 3);
}

TEST(TiTxtIdentity, VersionTakesAtMostElevenDigitsAndSaturates) {
    EXPECT_EQ(IdentityFromFileName("Talox 1.2345678.txt").version, 12345678);
    EXPECT_EQ(IdentityFromFileName("Talox 99999999999999.txt").version, INT32_MAX);
    EXPECT_EQ(IdentityFromFileName("Talox 0000000012345.txt").version, 123);
}

// ---------------------------------------------------------------------------
// Writing

TEST(TiTxtWrite, RecordLayoutOfASmallImage) {
    FirmwareImage image;
    image.text = "@01200" + std::string(32, 'A') + "BBBBBBBB" + "@0FFC0" + "1234abcd" + "@10000" +
                 std::string(32, 'C');
    image.length = static_cast<uint32_t>(image.text.size());
    for (uint32_t i = 0; i < 16; ++i) image.vectors[i] = 0x1000 + i;
    image.vectors[3] = 0xAB;
    const std::string want = "@01200\n" + std::string(32, 'A') + "\n" +
                             "BBBBBBBB@0FFC0\n"
                             "1234abcd@10000\n" +
                             std::string(32, 'C') + "\n" +
                             "\n@FFE0\n"
                             "10001001100200AB1004100510061007\n"
                             "10081009100A100B100C100D100E100F\n";
    EXPECT_EQ(FormatTiTxtRecord(image), want);

    TempDir dir;
    std::string path = dir.Path("dump.txt");
    std::string logPath = dir.Path("log.txt");
    TarsaLog log(logPath.c_str(), 10, true);
    EXPECT_EQ(WriteTIFile(image, &log, path.c_str()), 1);
    EXPECT_EQ(ReadFile(path), want);
    EXPECT_NE(ReadFile(logPath).find("TarsaBSL: BSLWriteTIFile wrote file " + path + " ("),
              std::string::npos);
}

TEST(TiTxtWrite, EmptyImageStillWritesTheVectors) {
    FirmwareImage image;
    EXPECT_EQ(FormatTiTxtRecord(image),
              "\n@FFE0\nFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF\nFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF\n");
}

TEST(TiTxtWrite, FailuresReturnNegatedErrno) {
    TempDir dir;
    std::string logPath = dir.Path("log.txt");
    TarsaLog log(logPath.c_str(), 10, true);
    FirmwareImage image = PreviousImage();
    std::string missing = dir.Path("no/such/dir.txt");
    EXPECT_EQ(WriteTIFile(image, &log, missing.c_str()), -ENOENT);
    EXPECT_NE(
        ReadFile(logPath).find("BSLWriteTIFile got error 2 trying to open datafile " + missing),
        std::string::npos);
    if (access("/dev/full", W_OK) == 0) {
        EXPECT_EQ(WriteTIFile(image, &log, "/dev/full"), -ENOSPC);
    }
}

}  // namespace
}  // namespace tarsa
