// The sensor operations through the real command link against the simulated
// reader ("hd") with a digital sensor on its bus: the reader is steered into
// pass-through with "[", then settings are read and written per sensor type,
// the retry shapes are checked on the wire, and a loader session runs through
// the reader's bridge into the sensor's flash.
#include <gtest/gtest.h>

#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "link/terrel_protocol.h"
#include "loader/bsl_host.h"
#include "loader/firmware_image.h"
#include "sdi12/sensor_operations.h"
#include "serial/timing.h"
#include "sim/simulator.h"

namespace tarsa {
namespace {

const std::string kOne = "1 1.44832 1.91683 2.35961 2.991";
const std::string kTwo = "1 1.39619 2.03054 2.54573 2.9907";
const std::string kThree = "1 1.4724 2.03944 2.5652 2.9907";

class ReaderSensorTest : public ::testing::Test {
  protected:
    // Starts the reader with `sensor` on its bus and puts it in pass-through.
    void Start(const sim::SensorConfig& sensor) {
        sim::DeviceConfig config;
        config.reader.sensor = sensor;
        reader_ = sim::Simulator::Start("hd", config);
        ASSERT_NE(reader_, nullptr);
        ASSERT_EQ(TSOpen(link_.port, reader_->PortPath().c_str(), 9600), kTSOk);
        sdi_.timeoutMs = 400;
        ASSERT_EQ(SDIWriteCharacter(sdi_, '['), kSDIOk);
    }
    // What the host sent after entering pass-through.
    std::string Sent() const { return reader_->Received().substr(1); }

    std::unique_ptr<sim::Simulator> reader_;
    Terrel_Protocol link_{nullptr};
    TarsaSDI12 sdi_{nullptr, &link_};
};

TEST_F(ReaderSensorTest, ReaderTextCommandsThenSensorSettingsRoundTrip) {
    sim::DeviceConfig config;
    reader_ = sim::Simulator::Start("hd", config);
    ASSERT_NE(reader_, nullptr);
    ASSERT_EQ(TSOpen(link_.port, reader_->PortPath().c_str(), 9600), kTSOk);
    char answer[32];
    int length = sizeof answer;
    ASSERT_GT(DeviceCommand(link_, "get -hver\r", '>', 1500, answer, &length, nullptr), 0);
    EXPECT_EQ(std::string(answer), "\rC\r>");
    ASSERT_EQ(SDIWriteCharacter(sdi_, '['), kSDIOk);

    ASSERT_EQ(SDIGetSensorSettings(sdi_), kSDIOk);
    EXPECT_EQ(sdi_.address, '0');
    EXPECT_EQ(sdi_.sensorType, 93);
    EXPECT_EQ(sdi_.numericType, 1);
    EXPECT_EQ(sdi_.firmwareVersion, 355u);
    EXPECT_STREQ(sdi_.identification, "CORVANE SKY61 355");
    EXPECT_STREQ(sdi_.serialNumber, "");
    EXPECT_STREQ(sdi_.calibration1, "1 0.000 1.000 0.000");
    EXPECT_EQ(sdi_.calibration2, kOne);
    EXPECT_EQ(sdi_.hasCalibration3, 1);
    EXPECT_STREQ(sdi_.calibration3, "1 0.000 1.000");

    strcpy(sdi_.serialNumber, "SKY-9");
    strcpy(sdi_.calibration1, "2 0.5 1.5 0");
    strcpy(sdi_.calibration2, "7 8 9");
    strcpy(sdi_.calibration3, "3 1 2");
    sdi_.address = '4';
    ASSERT_EQ(SDISetSensorSettings(sdi_), kSDIOk);
    ASSERT_EQ(SDIGetSensorSettings(sdi_), kSDIOk);
    EXPECT_EQ(sdi_.address, '4');
    EXPECT_STREQ(sdi_.serialNumber, "SKY-9");
    EXPECT_STREQ(sdi_.calibration1, "2 0.5 1.5 0");
    EXPECT_STREQ(sdi_.calibration2, "7 8 9");
    EXPECT_STREQ(sdi_.calibration3, "3 1 2");
}

struct TypeCase {
    int type;
    int version;
    bool oldFormat;
    bool digits;
    std::string calibration1;  // as configured in the sensor
    std::string readCalibration1, readCalibration2;
};

void PrintTo(const TypeCase& c, std::ostream* os) {
    *os << "type " << c.type << " v" << c.version;
}

class SensorTypeTest : public ReaderSensorTest, public ::testing::WithParamInterface<TypeCase> {};

// Reads all settings, writes them back and reads the calibrations again.
TEST_P(SensorTypeTest, SettingsReadAndWriteBack) {
    const TypeCase& c = GetParam();
    sim::SensorConfig sensor;
    sensor.version = c.version;
    sensor.oldCalibrationFormat = c.oldFormat;
    sensor.settings.type = c.type;
    sensor.settings.typeAsDigits = c.digits;
    sensor.settings.serial = "T" + std::to_string(c.type);
    sensor.settings.calibration1 = c.calibration1;
    Start(sensor);

    ASSERT_EQ(SDIGetSensorSettings(sdi_), kSDIOk);
    EXPECT_EQ(sdi_.sensorType, c.type);
    EXPECT_EQ(sdi_.numericType, c.digits ? 1 : 0);
    EXPECT_EQ(sdi_.firmwareVersion, static_cast<uint32_t>(c.version));
    EXPECT_EQ(sdi_.serialNumber, "T" + std::to_string(c.type));
    EXPECT_EQ(sdi_.calibration1, c.readCalibration1);
    EXPECT_EQ(sdi_.calibration2, c.readCalibration2);

    ASSERT_EQ(SDISetSensorSettings(sdi_), kSDIOk);
    const std::string written1 = sdi_.calibration1, written2 = sdi_.calibration2;
    sdi_.calibration1[0] = sdi_.calibration2[0] = '\0';
    ASSERT_GE(SDIGetSensorCalibration(sdi_), 0);
    EXPECT_EQ(sdi_.calibration1, written1);
    if (!c.oldFormat) {
        EXPECT_EQ(sdi_.calibration2, written2);
    }
}

const std::string kNine = "1.5 10 20 0 4 6 0 0 7.5";
const std::string kSix = "1.500 -1.000000e+03 1.000000e+02 0.000000e+00 5.0 7.5";
INSTANTIATE_TEST_SUITE_P(
    Types, SensorTypeTest,
    ::testing::Values(TypeCase{94, 355, false, true, "1 2 3", "", ""},
                      TypeCase{119, 380, true, true, "1 2 3", "1 2 3", kThree},
                      TypeCase{120, 355, true, true, "1 +0 2.5 +0", "1 +0 2.5 +0", kOne},
                      TypeCase{122, 360, true, false, "1 +0 2.5", "1 +0 2.5", kTwo},
                      TypeCase{122, 400, false, false, "1 2", "1 2", kOne},
                      TypeCase{121, 355, false, true, "4 5", "4 5", kOne},
                      TypeCase{117, 339, false, true, kNine, kSix, ""}),
    [](const ::testing::TestParamInfo<TypeCase>& p) {
        return "Type" + std::to_string(p.param.type) + "Version" + std::to_string(p.param.version);
    });

TEST_F(ReaderSensorTest, SensorOffTheBusIsGivenUpAfterOneAttempt) {
    sim::SensorConfig sensor;
    sensor.silent = true;
    Start(sensor);
    EXPECT_EQ(SDISendCommand(sdi_, "?I!", nullptr, nullptr, nullptr), kSDINoAnswer);
    EXPECT_EQ(Sent(), "|?I!|||?!");
}

TEST_F(ReaderSensorTest, SensorAnsweringOnlyTheProbeGivesUpAfterFiveAlternatingRounds) {
    sim::SensorConfig sensor;
    sensor.onlyAddressQuery = true;
    Start(sensor);
    EXPECT_EQ(SDISendCommand(sdi_, "?I!", nullptr, nullptr, nullptr), kSDIProbeOnly);
    EXPECT_EQ(Sent(), "|?I!|||?!?I!|||?!|?I!|||?!?I!|||?!|?I!|||?!");
}

TEST_F(ReaderSensorTest, ErrorAnswersAreRejectionsOfWrites) {
    sim::SensorConfig sensor;
    sensor.errorAnswers = true;
    Start(sensor);
    sdi_.tries = 2;
    strcpy(sdi_.serialNumber, "X1");
    EXPECT_EQ(SDISetSensorSN(sdi_), kSDIRejected);
    EXPECT_EQ(SDICheckBinary(sdi_), kSDIUndetermined);
}

TEST_F(ReaderSensorTest, TypeWritesInBothFormsAndByFamily) {
    sim::SensorConfig sensor;
    sensor.settings.type = 121;
    sensor.settings.typeAsDigits = true;
    Start(sensor);
    ASSERT_EQ(SDIGetSensorType(sdi_), kSDIOk);
    EXPECT_EQ(SDISetSensorType(sdi_, kSensorFamilyWpt), kSDIOk);  // 121 is in the family
    EXPECT_EQ(SDISetSensorType(sdi_, 108), kSDIOk);
    ASSERT_EQ(SDIGetSensorType(sdi_), kSDIOk);
    EXPECT_EQ(sdi_.sensorType, 108);
    EXPECT_EQ(SDISetSensorType(sdi_, kSensorFamilyKtv), kSDIBadAnswer);

    sdi_.numericType = 0;  // as a sensor that reports a character
    EXPECT_EQ(SDISetSensorType(sdi_, 'z'), kSDIOk);
    EXPECT_EQ(SDISetSensorType(sdi_, 93), kSDIOk);  // "]" would leave pass-through
    ASSERT_EQ(SDIGetSensorType(sdi_), kSDIOk);
    EXPECT_EQ(sdi_.sensorType, 93);
    const std::string sent = Sent();
    EXPECT_NE(sent.find("?X9 121!"), std::string::npos);
    EXPECT_NE(sent.find("?X9 z!"), std::string::npos);
    EXPECT_NE(sent.find("?X9 93!"), std::string::npos);
}

// An image for the type-93 map: sections below and above 0x10000.
void MakeSensorImage(FirmwareImage& image) {
    std::mt19937 rng(93);
    auto words = [&](size_t n) {
        std::string s;
        char buf[8];
        for (size_t i = 0; i < n; ++i) {
            snprintf(buf, sizeof buf, "%04X", static_cast<unsigned>(rng() & 0xFFFF));
            s += buf;
        }
        return s;
    };
    image.text = "@08000" + words(900) + "@10000" + words(700) + "@87E00" + words(64);
    image.length = static_cast<uint32_t>(image.text.size());
    for (size_t i = 0; i < kVectorCount; ++i) image.vectors[i] = 0x8000 + 2 * i;
}

TEST_F(ReaderSensorTest, LoaderSessionThroughTheReaderProgramsTheSensorFlash) {
    sim::SensorConfig sensor;
    Start(sensor);
    InstrumentIdentity id{};
    SelectSensorMemoryMap(&id, 93, 355);
    ASSERT_EQ(id.extendedAddressing, 1);

    TarsaBSLHost host(nullptr);
    MakeSensorImage(host.image);
    ASSERT_EQ(
        BSLHandOff(host, link_.port.handle, link_.port.gReadBuffer, link_.port.name, false, 10), 1);
    ASSERT_EQ(SDIWriteCharacter(sdi_, ']'), kSDIOk);
    DelayMs(200);
    // In front of the running application the bridge answers "$".
    EXPECT_EQ(BSLCheck(host, link_.port.name, 9600), kBSLWaitingForHost);
    ASSERT_EQ(SDIWriteCharacter(sdi_, '['), kSDIOk);
    ASSERT_EQ(SDIGetSensorSettings(sdi_), kSDIOk);

    ASSERT_EQ(SDIInvokeTarsaBSL(sdi_), kSDIOk);
    ASSERT_EQ(BSLAttach(host), 1);
    ASSERT_GE(BSLEraseINFO(host, id.infoStart, id.infoSegments, id.infoSegmentSize, true), 0);
    ASSERT_GE(BSLEraseFlash(host, id.flashStart, id.flashEnd, true), 0);
    ASSERT_GE(BSLSendFirmware(host, true), 0);
    ASSERT_GE(BSLSendVectors(host), 0);
    BSLRelease(host);

    std::vector<uint8_t> flash = reader_->Flash();
    std::vector<ImageSection> sections;
    ASSERT_GT(DecodeImageText(host.image.text, sections), 0);
    size_t mismatches = 0;
    for (const ImageSection& s : sections) {
        for (size_t i = 0; i < s.bytes.size(); ++i) {
            if (flash.at(s.address + i) != s.bytes[i]) ++mismatches;
        }
    }
    EXPECT_EQ(mismatches, 0u);
    for (size_t v = 0; v < kVectorCount; ++v) {
        EXPECT_EQ(flash[0xFFE0 + 2 * v] | (flash[0xFFE1 + 2 * v] << 8), host.image.vectors[v]);
    }
    for (uint32_t a = 0; a < id.infoSegments * id.infoSegmentSize; ++a) {
        ASSERT_EQ(flash[id.infoStart + a], 0xFF) << "information memory not erased";
    }
}

TEST_F(ReaderSensorTest, SensorWithoutLoaderIsReported) {
    sim::SensorConfig sensor;
    sensor.hasLoader = false;
    Start(sensor);
    EXPECT_EQ(SDIInvokeTarsaBSL(sdi_), kSDINoLoader);
    EXPECT_EQ(SDICheckBinary(sdi_), kSDIOk);  // still running its good firmware
}

}  // namespace
}  // namespace tarsa
