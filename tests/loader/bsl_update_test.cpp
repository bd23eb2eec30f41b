// Whole loader sessions against the simulated device on a pty: connect, erase,
// upload, vectors, restart; the simulated flash must then hold the image byte
// for byte.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "link/terrel_protocol.h"
#include "loader/bsl_host.h"
#include "loader/firmware_image.h"
#include "serial/timing.h"
#include "sim/simulator.h"

namespace tarsa {
namespace {

sim::FlashMap MapOf(const InstrumentIdentity& id) {
    sim::FlashMap map;
    map.infoStart = id.infoStart;
    map.infoSegments = id.infoSegments;
    map.infoSegmentSize = id.infoSegmentSize;
    map.mainStart = id.flashStart;
    map.memoryEnd = id.flashEnd < 0x10000 ? 0x10000 : (id.flashEnd | 0x1FF) + 1;
    return map;
}

class BSLUpdateTest : public ::testing::Test {
  protected:
    void StartDevice(int type, sim::DeviceConfig config = {}) {
        SetInstrumentIdentity(type, 229, &id_);
        config.flash = MapOf(id_);
        config.loaderBaud = static_cast<int>(id_.loaderBaud);
        device_ = sim::Simulator::Start("talox", config);
        ASSERT_NE(device_, nullptr);
    }

    // The loader session of an update: connect, erase, upload, vectors.
    int Update() {
        int rc = BSLConnect(host_, device_->PortPath().c_str(), id_.loaderBaud, true, 3);
        if (rc < 0) return rc;
        const bool ext = id_.extendedAddressing != 0;
        if ((rc = BSLEraseINFO(host_, id_.infoStart, id_.infoSegments, id_.infoSegmentSize, ext)) <
                0 ||
            (rc = BSLEraseFlash(host_, id_.flashStart, id_.flashEnd, ext)) < 0 ||
            (rc = BSLSendFirmware(host_, ext)) < 0 || (rc = BSLSendVectors(host_)) < 0) {
            BSLDisconnect(host_);
            return rc;
        }
        BSLDisconnect(host_);
        return 1;
    }

    // The simulated flash holds every byte of the image, the vectors, and an
    // erased information memory.
    void ExpectFlashHoldsImage() {
        std::vector<uint8_t> flash = device_->Flash();
        std::vector<ImageSection> sections;
        ASSERT_GT(DecodeImageText(host_.image.text, sections), 0);
        size_t mismatches = 0;
        for (const ImageSection& s : sections) {
            for (size_t i = 0; i < s.bytes.size(); ++i) {
                if (flash.at(s.address + i) != s.bytes[i] && ++mismatches < 5) {
                    ADD_FAILURE() << "flash differs at " << std::hex << s.address + i;
                }
            }
        }
        EXPECT_EQ(mismatches, 0u);
        for (size_t v = 0; v < kVectorCount; ++v) {
            uint32_t word = flash[0xFFE0 + 2 * v] | (flash[0xFFE1 + 2 * v] << 8);
            EXPECT_EQ(word, host_.image.vectors[v]) << "vector " << v;
        }
        for (uint32_t a = 0; a < id_.infoSegments * id_.infoSegmentSize; ++a) {
            ASSERT_EQ(flash[id_.infoStart + a], 0xFF) << "information memory not erased";
        }
    }

    // Asks the restarted application a question through the command link.
    std::string Ask(const char* command) {
        Terrel_Protocol link(nullptr);
        if (TSOpen(link.port, device_->PortPath().c_str(), 9600) != kTSOk) return "(no port)";
        char answer[64];
        int length = sizeof answer;
        int rc = DeviceCommand(link, command, '>', 800, answer, &length, nullptr);
        return rc < 0 ? "(error " + std::to_string(rc) + ")" : std::string(answer);
    }

    InstrumentIdentity id_{};
    TarsaBSLHost host_{nullptr};
    std::unique_ptr<sim::Simulator> device_;
};

TEST_F(BSLUpdateTest, CompiledInImageLandsInFlashAndTheNewFirmwareStarts) {
    sim::DeviceConfig config;
    config.identity = "Talox 2.10";
    StartDevice(3, config);
    EXPECT_EQ(Ask("get -ver\r"), "\rTalox 2.10\r>");

    std::vector<std::pair<char, int>> phases;
    host_.progressHook = [&](uint32_t, uint32_t, int phase, char op) {
        phases.emplace_back(op, phase);
        return true;
    };
    ASSERT_EQ(Update(), 1);
    ExpectFlashHoldsImage();
    EXPECT_EQ(host_.loaderVersion, 12);
    ASSERT_FALSE(phases.empty());
    EXPECT_EQ(phases.back(), std::make_pair('W', 2));

    DelayMs(400);  // the application restarts after the vectors
    EXPECT_EQ(device_->State(), "application");
    EXPECT_EQ(Ask("get -ver\r"), "\rTalox 2.29\r>");
    EXPECT_NE(Ask("post -init\r").find("Code Good!"), std::string::npos);
}

// An image for a 20-bit target: sections below and above 0x10000.
void MakeExtendedImage(FirmwareImage& image) {
    std::mt19937 rng(7);
    auto words = [&](size_t n) {
        std::string s;
        char buf[8];
        for (size_t i = 0; i < n; ++i) {
            snprintf(buf, sizeof buf, "%04X", static_cast<unsigned>(rng() & 0xFFFF));
            s += buf;
        }
        return s;
    };
    image.text = "@08000" + words(700) + "@10000" + words(1300) + "@27F00" + words(128);
    image.length = static_cast<uint32_t>(image.text.size());
    for (size_t i = 0; i < kVectorCount; ++i) image.vectors[i] = 0x8000 + 2 * i;
}

TEST_F(BSLUpdateTest, TwentyBitTargetIsProgrammedAtItsLoaderSpeed) {
    StartDevice(22);
    ASSERT_EQ(id_.extendedAddressing, 1);
    ASSERT_EQ(id_.loaderBaud, 57600u);
    MakeExtendedImage(host_.image);
    ASSERT_EQ(Update(), 1);
    ExpectFlashHoldsImage();
}

TEST_F(BSLUpdateTest, BlockRefusedOnceIsReaddressedAndTheImageStillLands) {
    StartDevice(3);
    device_->SetRefuseWrite(5);
    ASSERT_EQ(Update(), 1);
    ExpectFlashHoldsImage();
    // Received: ... W (refused), @ (same address), W (accepted) ...
    std::string sent = device_->Received();
    size_t refused = 0;
    for (int i = 0; i < 5; ++i) refused = sent.find("\rW", refused + 1);
    ASSERT_NE(refused, std::string::npos);
    size_t next = sent.find('\r', refused + 1);
    EXPECT_EQ(sent[next + 1], '@') << "a refused block is followed by its address";
    EXPECT_EQ(sent[sent.find('\r', next + 1) + 1], 'W');
}

TEST_F(BSLUpdateTest, PowerLossMidUploadIsRecoveredByUpdatingAgain) {
    StartDevice(3);
    device_->SetPowerLossAfterBlocks(20);
    EXPECT_LT(Update(), 0);
    DelayMs(300);
    EXPECT_EQ(device_->State(), "loader waiting");

    ASSERT_EQ(Update(), 1) << "the loader that came back takes the update";
    ExpectFlashHoldsImage();
    DelayMs(400);
    EXPECT_EQ(Ask("get -ver\r"), "\rTalox 2.29\r>");
}

TEST_F(BSLUpdateTest, DeviceWithoutLoaderIsReportedAndLeftRunning) {
    sim::DeviceConfig config;
    config.hasLoader = false;
    StartDevice(3, config);
    EXPECT_EQ(Update(), kBSLNoLoader);
    EXPECT_FALSE(host_.connected);
    EXPECT_EQ(Ask("get -ver\r"), "\rTalox 2.29\r>");
}

}  // namespace
}  // namespace tarsa
