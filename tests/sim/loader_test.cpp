// The simulated bootstrap loader, driven with frames built here from the
// framing rules (letter, payload, ".", checksum as four upper-case hex digits,
// carriage return), and the flash model underneath it. The full update uses
// the stand-in firmware file that the program compiles in.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "sim/flash.h"
#include "sim/port_client.h"
#include "sim/simulator.h"

namespace tarsa::sim {
namespace {

using test::PortClient;
using test::ReadTiTxtText;
using test::Section;

std::string Frame(char letter, const std::string& payload) {
    int sum = 46 + letter;
    for (char c : payload) sum += static_cast<signed char>(c);
    char tail[16];
    std::snprintf(tail, sizeof tail, ".%04X\r", sum % 65535);
    return std::string(1, letter) + payload + tail;
}

std::string Hex(uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

// Word form: bytes ab cd become "cdab".
std::string Words(const std::vector<uint8_t>& bytes) {
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        uint8_t lo = bytes[i];
        uint8_t hi = i + 1 < bytes.size() ? bytes[i + 1] : 0xFF;
        text += Hex(hi, 2) + Hex(lo, 2);
    }
    return text;
}

// The stand-in firmware file, read by the tests' own TI-TXT reader.
std::vector<Section> ReadTiTxt(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return ReadTiTxtText(text.str());
}

const std::string kImagePath = std::string(TARSA_SOURCE_DIR) + "/firmware/Talox 2.29.txt";

struct Loader {
    std::unique_ptr<Simulator> sim;
    PortClient port;

    explicit Loader(DeviceConfig config = {}) {
        sim = Simulator::Start("talox", std::move(config));
        if (sim) port.Open(sim->PortPath());
    }
    std::string Ask(const std::string& bytes, const std::string& until, int ms = 1000) {
        if (!port.Send(bytes)) return "send failed";
        return port.ReadUntil(until, ms);
    }
    std::string Command(char letter, const std::string& payload) {
        return Ask(Frame(letter, payload), letter == 'V' ? "+" : "\r");
    }
    // Application → loader taking commands.
    bool Attach() {
        return Ask("boot QUAB\r", "OK\r") == "\rOK\r" && Ask("\r", "$") == "$" &&
               Ask("P", "#") == "#";
    }
    // Erases information memory and main flash as an update does.
    bool EraseAll() {
        for (uint32_t a : {0x1000u, 0x1080u}) {
            if (Command('X', Hex(a, 4)) != "+\r") return false;
        }
        for (uint32_t a = 0x1100; a < 0xF9FF; a += 512) {
            if (Command('X', Hex(a, 4)) != "+\r") return false;
        }
        return true;
    }
    // Uploads sections in blocks of 256 bytes; `skip` is a block index to leave out.
    bool Upload(const std::vector<Section>& sections, int skip = -1) {
        int block = 0;
        for (const Section& s : sections) {
            if (s.address >= 0xFFE0) continue;
            for (std::size_t off = 0; off < s.bytes.size(); off += 256, ++block) {
                if (block == skip) continue;
                std::vector<uint8_t> chunk(
                    s.bytes.begin() + static_cast<long>(off),
                    s.bytes.begin() + static_cast<long>(std::min(off + 256, s.bytes.size())));
                if (Command('@', Hex(s.address + static_cast<uint32_t>(off), 4)) != "+\r")
                    return false;
                if (Command('W', Words(chunk)) != "+\r") return false;
            }
        }
        return true;
    }
    std::string Vectors(const std::vector<Section>& sections) {
        for (const Section& s : sections) {
            if (s.address == 0xFFE0) return Command('V', Words(s.bytes));
        }
        return "no vectors";
    }
};

TEST(SimLoader, BootGreetingAndVersion) {
    Loader l;
    ASSERT_GE(l.port.fd, 0);
    EXPECT_EQ(l.sim->State(), "application");
    EXPECT_EQ(l.Ask("boot ABCD\r", ">"), "\rERROR\r>");
    EXPECT_EQ(l.Ask("boot QUAB\r", "OK\r"), "\rOK\r");
    EXPECT_EQ(l.sim->State(), "loader waiting");
    // Waiting for a host, everything but carriage return and "P" is ignored.
    EXPECT_EQ(l.Ask("get -ver\r", "$"), "$");
    EXPECT_EQ(l.Ask("P", "#"), "#");
    EXPECT_EQ(l.sim->State(), "loader");
    EXPECT_EQ(l.Ask("\r", "?\r"), "?\r");
    EXPECT_EQ(Frame('g', ""), "g.0095\r");
    EXPECT_EQ(l.Command('g', ""), "+12+\r");
    // An application command to a loader that takes commands is not a frame.
    EXPECT_EQ(l.Ask("boot QUAB\r", "\r"), "?\r");
}

TEST(SimLoader, MissingLoaderAndOtherLoaderSpeed) {
    DeviceConfig none;
    none.hasLoader = false;
    Loader l(none);
    ASSERT_GE(l.port.fd, 0);
    EXPECT_EQ(l.Ask("boot QUAB\r", ">"), "\rTarsaBSL MISSING\r>");
    EXPECT_EQ(l.sim->State(), "application");

    DeviceConfig fast;
    fast.loaderBaud = 19200;
    Loader f(fast);
    ASSERT_GE(f.port.fd, 0);
    EXPECT_EQ(f.Ask("boot QUAB\r", "OK\r"), "\rOK\r");
    EXPECT_EQ(f.Ask("\r", "$", 200), "");  // still at 9600: the loader hears noise
    ASSERT_TRUE(f.port.SetBaud(B19200));
    EXPECT_EQ(f.Ask("\r", "$"), "$");
    EXPECT_EQ(f.Ask("P", "#"), "#");
}

TEST(SimLoader, RefusesBadFramesAndUnknownLetters) {
    Loader l;
    ASSERT_TRUE(l.Attach());
    std::string good = Frame('@', "1100");
    std::string bad = good;
    bad[bad.size() - 2] = bad[bad.size() - 2] == '0' ? '1' : '0';
    EXPECT_EQ(l.Ask(bad, "\r"), "-\r");
    std::string lower = Frame('W', "ffff");
    EXPECT_EQ(l.Ask(Frame('Z', "12"), "\r"), "?\r");
    EXPECT_EQ(l.Ask("W1234.ab12\r", "\r"), "?\r");            // checksum in lower case
    EXPECT_EQ(l.Command('@', "12"), "-\r");                   // address of two digits
    EXPECT_EQ(l.Command('@', "1a00"), "-\r");                 // address in lower case
    EXPECT_EQ(l.Command('W', "123"), "-\r");                  // not whole words
    EXPECT_EQ(l.Command('W', std::string(516, 'F')), "-\r");  // over 512 characters
    EXPECT_EQ(l.Command('g', "1"), "-\r");
    EXPECT_EQ(l.Ask(std::string(600, 'W') + "\r", "\r"), "-\r");  // overflows the line
    EXPECT_EQ(l.Ask(good, "\r"), "+\r");
    // Image text from a file may carry lower-case digits.
    EXPECT_EQ(l.Ask(lower, "\r"), "+\r");
    EXPECT_EQ(l.Ask(Frame('V', std::string(63, '1')), "\r"), "-\r");
    EXPECT_EQ(l.sim->BlocksWritten(), 1);
}

TEST(SimLoader, FlashRulesSeenThroughTheLoader) {
    Loader l;
    ASSERT_TRUE(l.Attach());
    // The loader's own flash is never erased, not even by the host.
    EXPECT_EQ(l.Command('X', "FA00"), "-\r");
    EXPECT_EQ(l.Command('X', "FE00"), "-\r");
    EXPECT_EQ(l.Command('X', "0200"), "-\r");  // not flash at all
    // The factory image is still in place: writing other data over it fails.
    EXPECT_EQ(l.Command('@', "1200"), "+\r");
    EXPECT_EQ(l.Command('W', "0000"), "-\r");
    EXPECT_EQ(l.Command('X', "1300"), "+\r");  // erases 0x1200-0x13FF
    EXPECT_EQ(l.Command('@', "1200"), "+\r");
    EXPECT_EQ(l.Command('W', "3412F0FF"), "+\r");
    // The same data again is accepted (a repeated block), different data is not.
    EXPECT_EQ(l.Command('@', "1200"), "+\r");
    EXPECT_EQ(l.Command('W', "3412F0FF"), "+\r");
    EXPECT_EQ(l.Command('@', "1202"), "+\r");
    EXPECT_EQ(l.Command('W', "0000"), "-\r");
    // The loader's address advanced past the last block.
    EXPECT_EQ(l.Command('@', "1200"), "+\r");
    EXPECT_EQ(l.Command('W', "3412F0FF"), "+\r");
    EXPECT_EQ(l.Command('W', "7856"), "+\r");
    // Into the loader's code, or over the vectors, "W" never writes.
    EXPECT_EQ(l.Command('@', "FDFE"), "+\r");
    EXPECT_EQ(l.Command('W', "FFFF"), "-\r");
    EXPECT_EQ(l.Command('@', "FFDE"), "+\r");
    EXPECT_EQ(l.Command('W', "1111FFFF"), "-\r");
    std::vector<uint8_t> flash = l.sim->Flash();
    ASSERT_GE(flash.size(), 0x10000u);
    EXPECT_EQ(flash[0x1201], 0x34);
    EXPECT_EQ(flash[0x1203], 0xF0);
    EXPECT_EQ(flash[0x1204], 0x56);
}

TEST(SimLoader, FullUpdateWithTheStandInImageRestartsTheNewFirmware) {
    std::vector<Section> image = ReadTiTxt(kImagePath);
    ASSERT_EQ(image.size(), 3u) << kImagePath;
    DeviceConfig old;
    old.identity = "Talox 2.10";
    Loader l(old);
    ASSERT_GE(l.port.fd, 0);
    EXPECT_EQ(l.Ask("post\r", ">"), "\rCode Good!\r>");
    ASSERT_TRUE(l.Attach());
    ASSERT_TRUE(l.EraseAll());
    std::vector<uint8_t> erased = l.sim->Flash();
    EXPECT_EQ(erased[0x1000], 0xFF);
    EXPECT_EQ(erased[0x1200], 0xFF);
    EXPECT_EQ(erased[0xFFFE], 0xFF);  // the loader cleared the vector segment itself
    ASSERT_TRUE(l.Upload(image));
    EXPECT_EQ(l.Vectors(image), "+");
    std::vector<uint8_t> flash = l.sim->Flash();
    for (const Section& s : image) {
        for (std::size_t i = 0; i < s.bytes.size(); ++i) {
            ASSERT_EQ(flash[s.address + i], s.bytes[i]) << std::hex << s.address + i;
        }
    }
    EXPECT_EQ(l.sim->State(), "application");
    EXPECT_EQ(l.port.ReadFor(400), "");  // restarting: nothing comes back
    EXPECT_EQ(l.Ask("get -ver\r", ">"), "\rTalox 2.29\r>");
    EXPECT_EQ(l.Ask("post -init\r", ">"), "\rCode Good!\r>");
    EXPECT_EQ(l.Ask("post\r", ">"), "\rCode Good!\r>");
}

TEST(SimLoader, MissingBlockOrHighSectionMeansCorruptCode) {
    std::vector<Section> image = ReadTiTxt(kImagePath);
    ASSERT_EQ(image.size(), 3u);
    Loader l;
    ASSERT_TRUE(l.Attach());
    ASSERT_TRUE(l.EraseAll());
    ASSERT_TRUE(l.Upload(image, 40));
    EXPECT_EQ(l.Vectors(image), "+");
    EXPECT_EQ(l.port.ReadFor(300), "");
    EXPECT_EQ(l.Ask("get -ver\r", ">"), "\rTalox 2.29\r>");
    EXPECT_EQ(l.Ask("post\r", ">"), "\rCode Corrupt!\r>");

    // Without the short section at 0xFFC0 the check fails too.
    Loader h;
    ASSERT_TRUE(h.Attach());
    ASSERT_TRUE(h.EraseAll());
    std::vector<Section> mainOnly(image.begin(), image.begin() + 1);
    ASSERT_TRUE(h.Upload(mainOnly));
    EXPECT_EQ(h.Vectors(image), "+");
    EXPECT_EQ(h.port.ReadFor(300), "");
    EXPECT_EQ(h.Ask("post\r", ">"), "\rCode Corrupt!\r>");
}

TEST(SimLoader, WithoutAnApplicationTheLoaderWaitsAfterRestart) {
    Loader l;
    ASSERT_TRUE(l.Attach());
    ASSERT_TRUE(l.EraseAll());
    // Vectors without any application: the identity block is missing.
    EXPECT_EQ(l.Command('V', std::string(64, '1')), "+");
    EXPECT_EQ(l.port.ReadFor(300), "");
    EXPECT_EQ(l.sim->State(), "loader waiting");
    EXPECT_EQ(l.Ask("\r", "$"), "$");
}

TEST(SimLoader, RefusesTheNthBlockOnce) {
    std::vector<Section> image = ReadTiTxt(kImagePath);
    ASSERT_FALSE(image.empty());
    Loader l;
    ASSERT_TRUE(l.Attach());
    ASSERT_TRUE(l.EraseAll());
    l.sim->SetRefuseWrite(2);
    std::vector<uint8_t> first(image[0].bytes.begin(), image[0].bytes.begin() + 256);
    std::vector<uint8_t> second(image[0].bytes.begin() + 256, image[0].bytes.begin() + 512);
    EXPECT_EQ(l.Command('@', "1200"), "+\r");
    EXPECT_EQ(l.Command('W', Words(first)), "+\r");
    EXPECT_EQ(l.Command('W', Words(second)), "-\r");
    EXPECT_EQ(l.sim->Flash()[0x1300], 0xFF);
    // The host re-addresses and repeats the block.
    EXPECT_EQ(l.Command('@', "1300"), "+\r");
    EXPECT_EQ(l.Command('W', Words(second)), "+\r");
    EXPECT_EQ(l.sim->Flash()[0x1300], second[0]);
    EXPECT_EQ(l.sim->BlocksWritten(), 2);
}

TEST(SimLoader, PowerLossBringsTheDeviceBackInItsLoader) {
    DeviceConfig config;
    config.powerOffMs = 150;
    Loader l(config);
    ASSERT_TRUE(l.Attach());
    ASSERT_TRUE(l.EraseAll());
    l.sim->SetPowerLossAfterBlocks(2);
    EXPECT_EQ(l.Command('@', "1200"), "+\r");
    EXPECT_EQ(l.Command('W', std::string(512, '0')), "+\r");
    // The second block is programmed, but its acknowledgement is lost.
    ASSERT_TRUE(l.port.Send(Frame('W', std::string(512, '0'))));
    EXPECT_EQ(l.port.ReadFor(250), "");
    EXPECT_EQ(l.sim->BlocksWritten(), 2);
    EXPECT_EQ(l.sim->State(), "loader waiting");
    EXPECT_EQ(l.sim->Flash()[0x13FF], 0x00);
    EXPECT_EQ(l.Ask("\r", "$"), "$");
    EXPECT_EQ(l.Ask("P", "#"), "#");
    EXPECT_EQ(l.Command('g', ""), "+12+\r");
}

TEST(SimLoader, StartsInItsLoaderWithErasedFlash) {
    DeviceConfig config;
    config.startInLoader = true;
    Loader l(config);
    ASSERT_GE(l.port.fd, 0);
    EXPECT_EQ(l.sim->State(), "loader waiting");
    std::vector<uint8_t> flash = l.sim->Flash();
    EXPECT_EQ(flash[0x1200], 0xFF);
    EXPECT_EQ(flash[0xFFFE], 0xFF);
    EXPECT_EQ(l.Ask("\r", "$"), "$");
}

TEST(SimLoader, ExtendedAddressesReachFlashAbove64K) {
    DeviceConfig config;
    config.flash.infoStart = 0x1800;
    config.flash.infoSegments = 4;
    config.flash.mainStart = 0x8000;
    config.flash.memoryEnd = 0x88000;
    config.startInLoader = true;
    Loader l(config);
    ASSERT_GE(l.port.fd, 0);
    EXPECT_EQ(l.Ask("\r", "$"), "$");
    EXPECT_EQ(l.Ask("P", "#"), "#");
    EXPECT_EQ(l.Command('X', "1800"), "+\r");
    EXPECT_EQ(l.Command('X', "87E00"), "+\r");
    EXPECT_EQ(l.Command('X', "88000"), "-\r");
    EXPECT_EQ(l.Command('@', "10000"), "+\r");
    EXPECT_EQ(l.Command('W', "3412"), "+\r");
    EXPECT_EQ(l.Command('@', "87FFE"), "+\r");
    EXPECT_EQ(l.Command('W', "3412"), "+\r");
    EXPECT_EQ(l.Command('W', "3412"), "-\r");  // past the end of flash
    std::vector<uint8_t> flash = l.sim->Flash();
    ASSERT_EQ(flash.size(), 0x88000u);
    EXPECT_EQ(flash[0x10000], 0x12);
    EXPECT_EQ(flash[0x10001], 0x34);
    EXPECT_EQ(flash[0x87FFF], 0x34);
}

TEST(SimFlash, SegmentsAndProgrammingRules) {
    EXPECT_EQ(Crc16(reinterpret_cast<const uint8_t*>("123456789"), 9, 0xFFFF), 0x29B1);
    Flash f = FlashCreate(FlashMap{});
    std::fill(f.bytes.begin(), f.bytes.end(), 0x00);
    // The first main segment is clipped to the start of main flash and takes
    // the vector segment with it; information segments are 128 bytes.
    EXPECT_EQ(FlashErase(f, 0x11FF), kFlashOk);
    EXPECT_EQ(f.bytes[0x10FF], 0x00);
    EXPECT_EQ(f.bytes[0x1100], 0xFF);
    EXPECT_EQ(f.bytes[0x11FF], 0xFF);
    EXPECT_EQ(f.bytes[0x1200], 0x00);
    EXPECT_EQ(f.bytes[0xFDFF], 0x00);
    EXPECT_EQ(f.bytes[0xFE00], 0xFF);
    EXPECT_EQ(f.bytes[0xFFFF], 0xFF);
    EXPECT_EQ(FlashErase(f, 0x1090), kFlashOk);
    EXPECT_EQ(f.bytes[0x107F], 0x00);
    EXPECT_EQ(f.bytes[0x1080], 0xFF);
    EXPECT_EQ(f.bytes[0x10FF], 0xFF);
    EXPECT_EQ(FlashErase(f, 0x1300), kFlashOk);
    EXPECT_EQ(f.bytes[0x1200], 0xFF);
    EXPECT_EQ(f.bytes[0x1400], 0x00);
    EXPECT_EQ(FlashErase(f, 0xFC00), kFlashProtected);
    EXPECT_EQ(FlashErase(f, 0x0FFF), kFlashNotFlash);
    // A refused write changes nothing, not even the bytes before the bad one.
    EXPECT_EQ(FlashProgram(f, 0x1300, {0xAB, 0x12}, false), kFlashOk);
    EXPECT_EQ(FlashProgram(f, 0x13FE, {0x55, 0x66, 0x77}, false), kFlashNotErased);
    EXPECT_EQ(f.bytes[0x13FE], 0xFF);
    EXPECT_EQ(FlashProgram(f, 0xFFE0, {0x00}, false), kFlashProtected);
    EXPECT_EQ(FlashProgram(f, 0xFFE0, {0x00}, true), kFlashOk);
    EXPECT_EQ(FlashProgram(f, 0xFFFF, {0x00, 0x00}, true), kFlashNotFlash);
}

TEST(SimFlash, IdentityBlockOfTheStandInImage) {
    std::vector<Section> image = ReadTiTxt(kImagePath);
    ASSERT_EQ(image.size(), 3u);
    Flash f = FlashCreate(FlashMap{});
    for (const Section& s : image) {
        ASSERT_EQ(FlashProgram(f, s.address, s.bytes, true), kFlashOk);
    }
    FlashIdentity id = FlashIdentify(f);
    EXPECT_TRUE(id.marker);
    EXPECT_EQ(id.label, "Talox 2.29");
    EXPECT_TRUE(id.codeGood);
    // One bit changed anywhere the check covers is caught.
    f.bytes[0xFFD0] ^= 0x01;
    EXPECT_FALSE(FlashIdentify(f).codeGood);
    // A main-section size that would run past the application is not trusted.
    Flash g = FlashCreate(FlashMap{});
    FlashInstallFactoryImage(g, "Talox 9.99");
    EXPECT_TRUE(FlashIdentify(g).codeGood);
    g.bytes[0x122C] = 0xFF;
    g.bytes[0x122D] = 0xFF;
    id = FlashIdentify(g);
    EXPECT_EQ(id.label, "Talox 9.99");
    EXPECT_FALSE(id.codeGood);
}

}  // namespace
}  // namespace tarsa::sim
