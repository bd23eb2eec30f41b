// The sensor operations against a scripted sensor on a real pty: the commands
// each operation sends, how answers are parsed, the default calibrations and
// their rewrites, write retries and the type rules.
#include "sdi12/sensor_operations.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sdi12/sdi_fixture.h"

namespace tarsa::test {
namespace {

using Texts = std::vector<std::string>;
const std::string kOne = "1 1.44832 1.91683 2.35961 2.991";
const std::string kTwo = "1 1.39619 2.03054 2.54573 2.9907";
const std::string kThree = "1 1.4724 2.03944 2.5652 2.9907";

class SensorTest : public SdiTest {
  protected:
    // A sensor of `type` at `version`, as a settings read would leave it.
    void Sensor(uint8_t type, uint32_t version) {
        sdi_->sensorType = type;
        sdi_->firmwareVersion = version;
        bus_->Clear();
    }
};

TEST_F(SensorTest, VersionReadsAddressIdentificationAndVersionField) {
    StartTable({{"?I!", "313TERREL  7QE   355 A1\r\n"}});
    EXPECT_EQ(SDIGetSensorVersion(*sdi_), 355);
    EXPECT_EQ(sdi_->address, '3');
    EXPECT_STREQ(sdi_->identification, "TERREL  7QE   355 A1");
    EXPECT_EQ(sdi_->firmwareVersion, 355u);
    EXPECT_TRUE(Logged("SDIGetSensorVersion found sensor info: TERREL  7QE   355 A1"));

    for (const char* bad : {"0\r\n", "013TERREL  7QE   x55\r\n", "013TERREL  7Q\r\n"}) {
        Set("?I!", bad);
        EXPECT_EQ(SDIGetSensorVersion(*sdi_), kSDIBadAnswer) << bad;
    }
    Set("?I!", "0" + std::string(80, 'Z') + "\r\n");  // identification cut to its field
    SDIGetSensorVersion(*sdi_);
    EXPECT_EQ(std::string(sdi_->identification), std::string(35, 'Z'));
}

TEST_F(SensorTest, AddressChangeAlwaysAddressesSensorZero) {
    StartTable({{"0A5!", "5\r\n"}, {"0A7!", "0\r\n"}});
    EXPECT_EQ(SDISetSensorAddress(*sdi_, '5'), kSDIOk);
    EXPECT_EQ(SDISetSensorAddress(*sdi_, '7'), kSDIBadAnswer);
    EXPECT_TRUE(Logged("SDISetSensorAddress could not set sensor address to '7'"));
}

TEST_F(SensorTest, GroupRCalibrationTurnsStandaloneMinusOnesIntoPlusZero) {
    StartTable({{"?!", "0\r\n"}, {"?X4!", "0 -1 2.5e-1 3 -1\r\n"}, {"?Xa!", "0 1 2 3 4 5 6\r\n"}});
    Sensor(122, 400);
    EXPECT_EQ(SDIGetSensorCalibration(*sdi_), kSDIOk);
    EXPECT_STREQ(sdi_->calibration1, "+0 2.5e-1 3 +0");
    EXPECT_STREQ(sdi_->calibration2, "1 2 3 4 5 6");
    EXPECT_TRUE(Logged("SDIGetSensorCalibration updated X4 to remove '-1'"));
    EXPECT_TRUE(Logged("SDIGetSensorCalibration found calibration Xa \"1 2 3 4 5 6\""));
    EXPECT_EQ(Commands(), (Texts{"?!", "?X4!", "?Xa!"}));

    Sensor(93, 400);  // not group R: kept as sent
    SDIGetSensorCalibration(*sdi_);
    EXPECT_STREQ(sdi_->calibration1, "-1 2.5e-1 3 -1");
}

TEST_F(SensorTest, OldFirmwareGetsDefaultCalibrationTwoByVersionBand) {
    const std::string oldDefault = "0 " + kOne + "\r\n";
    struct Case {
        uint8_t type;
        uint32_t version;
        std::string answer, expected;
    } cases[] = {
        {122, 355, "0\r\n", kOne},     {120, 356, "0\r\n", kTwo},    {122, 360, oldDefault, kTwo},
        {122, 399, "0 1 2\r\n", kTwo}, {122, 400, "0\r\n", ""},      {122, 355, oldDefault, kOne},
        {119, 352, "0\r\n", kOne},     {119, 353, "0\r\n", kThree},  {119, 401, oldDefault, kThree},
        {119, 402, "0\r\n", ""},       {119, 402, oldDefault, kOne}, {93, 300, "0\r\n", ""},
    };
    StartTable({{"?!", "0\r\n"}, {"?X4!", "0 1 2\n\r\n"}, {"?XO!", "0ERROR\r\n"}});
    for (const Case& c : cases) {
        Set("?Xa!", c.answer);
        Sensor(c.type, c.version);
        EXPECT_EQ(SDIGetSensorCalibration(*sdi_), kSDIOk);
        EXPECT_EQ(sdi_->calibration2, c.expected) << int(c.type) << " " << c.version;
        EXPECT_STREQ(sdi_->calibration1, "1 2");  // cut at its line feed
    }
    EXPECT_TRUE(Logged("SDIGetSensorCalibration set calibration Xa \"" + kThree + "\""));
}

TEST_F(SensorTest, CalibrationReadsByType) {
    StartTable(
        {{"?!", "0\r\n"}, {"?X4!", "0 4 5\r\n"}, {"?Xa!", "0 6\r\n"}, {"?XO!", "0ERROR\r\n"}});
    Sensor(94, 300);
    EXPECT_EQ(SDIGetSensorCalibration(*sdi_), kSDINothingToDo);
    EXPECT_EQ(bus_->Raw(), "");

    Sensor(93, 300);
    sdi_->hasCalibration3 = 1;
    EXPECT_EQ(SDIGetSensorCalibration(*sdi_), kSDIOk);
    EXPECT_EQ(sdi_->hasCalibration3, 0);
    EXPECT_TRUE(Logged("SDIGetSensorCalibration received \"ERROR\" response looking for XO"));
    Set("?XO!", "0 7 8\r\n");
    EXPECT_EQ(SDIGetSensorCalibration(*sdi_), kSDIOk);
    EXPECT_EQ(sdi_->hasCalibration3, 1);
    EXPECT_STREQ(sdi_->calibration3, "7 8");

    Sensor(117, 300);  // outside the calibration-2 group: one read only
    EXPECT_EQ(SDIGetSensorCalibration(*sdi_), kSDIOk);
    EXPECT_EQ(Commands(), (Texts{"?!", "?X4!"}));

    Sensor(121, 300);  // calibration 2 is required for type 121
    Set("?Xa!", "");
    sdi_->tries = 2;
    EXPECT_EQ(SDIGetSensorCalibration(*sdi_), kSDIProbeOnly);
    EXPECT_TRUE(Logged("SDIGetSensorCalibration received error -22 looking for Xa"));
}

TEST_F(SensorTest, CalibrationWritesEachTextTheTypeHasUntilConfirmed) {
    StartTable({{"?X5 1 2!", "0OK\r\n"}, {"?Xb 3 4!", "0OK\r\n"}, {"?XO 5!", "0OK\r\n"}});
    Sensor(93, 300);
    strcpy(sdi_->calibration1, " 1 2");
    strcpy(sdi_->calibration2, " 3 4");
    strcpy(sdi_->calibration3, " 5");
    sdi_->hasCalibration3 = 1;
    EXPECT_EQ(SDISetSensorCalibration(*sdi_, nullptr), kSDIOk);
    EXPECT_EQ(Commands(), (Texts{"?X5 1 2!", "?Xb 3 4!", "?XO 5!"}));
    EXPECT_TRUE(Logged("SDISetSensorCalibration successfully set sensor XO calibration to \" 5\""));

    Sensor(94, 300);
    EXPECT_EQ(SDISetSensorCalibration(*sdi_, nullptr), kSDINothingToDo);
    Sensor(122, 300);
    EXPECT_EQ(SDISetSensorCalibration(*sdi_, ""), kSDINothingToDo);
    EXPECT_EQ(bus_->Raw(), "");

    Set("?X5 1 2!", "0ERROR\r\n");  // rejected each try; a confirmed Xb does not hide it
    EXPECT_EQ(SDISetSensorCalibration(*sdi_, nullptr), kSDIRejected);
    Texts expected(5, "?X5 1 2!");
    expected.push_back("?Xb 3 4!");
    EXPECT_EQ(Commands(), expected);
    EXPECT_TRUE(Logged("SDISetSensorCalibration did not set sensor calibration"));

    Sensor(117, 300);
    Set("?X5 9!", "0 huh\r\n");  // answered but never confirmed
    sdi_->tries = 2;
    EXPECT_EQ(SDISetSensorCalibration(*sdi_, " 9"), kSDIProbeOnly);
    Sensor(122, 300);
    sdi_->calibration2[0] = '\0';  // nothing to write for calibration 2
    Set("?X5 1 2!", "0OK\r\n");
    EXPECT_EQ(SDISetSensorCalibration(*sdi_, nullptr), kSDIOk);
    EXPECT_EQ(Commands(), (Texts{"?X5 1 2!"}));
}

TEST_F(SensorTest, CalibrationTwoOrThreeNeverConfirmedIsAnError) {
    // Calibration 1 is confirmed; a later write that is answered but never
    // confirmed, or rejected, must not be hidden behind that success.
    struct Case {
        const char* unconfirmed;
        const char* answer;
        int expected;
    };
    const Case cases[] = {
        {"?Xb 3 4!", "0 huh\r\n", kSDIProbeOnly},
        {"?XO 5!", "0 huh\r\n", kSDIProbeOnly},
        {"?XO 5!", "0ERROR\r\n", kSDIRejected},
    };
    StartTable({});
    for (const Case& c : cases) {
        Set("?X5 1 2!", "0OK\r\n");
        Set("?Xb 3 4!", "0OK\r\n");
        Set("?XO 5!", "0OK\r\n");
        Set(c.unconfirmed, c.answer);
        Sensor(93, 300);
        strcpy(sdi_->calibration1, " 1 2");
        strcpy(sdi_->calibration2, " 3 4");
        strcpy(sdi_->calibration3, " 5");
        sdi_->hasCalibration3 = 1;
        sdi_->tries = 2;
        EXPECT_EQ(SDISetSensorCalibration(*sdi_, nullptr), c.expected) << c.unconfirmed;
    }
}

TEST_F(SensorTest, SerialNumberReadAndWrite) {
    StartTable({{"?X#!", "0\r\n"}, {"?X#SN-0042!", "0OK\r\n"}});
    EXPECT_EQ(SDISetSensorSN(*sdi_), kSDINothingToDo);
    EXPECT_TRUE(Logged("SDISetSensorSN didn't find a valid serial number"));
    EXPECT_EQ(SDIGetSensorSN(*sdi_), kSDINothingToDo);
    Set("?X#!", "0 SN-0042\r\n");
    EXPECT_EQ(SDIGetSensorSN(*sdi_), kSDIOk);
    EXPECT_STREQ(sdi_->serialNumber, "SN-0042");
    EXPECT_EQ(SDISetSensorSN(*sdi_), kSDIOk);
    EXPECT_EQ(Commands().back(), "?X#SN-0042!");
    Set("?X#!", "0" + std::string(100, '9') + "\r\n");
    EXPECT_EQ(SDIGetSensorSN(*sdi_), kSDIOk);
    EXPECT_EQ(std::string(sdi_->serialNumber), std::string(31, '9'));
}

TEST_F(SensorTest, LoaderStartSteersTheReaderUnlessTheSensorHasNoLoader) {
    StartTable({{"?B!", "0No BSL\r\n"}});
    EXPECT_EQ(SDIInvokeTarsaBSL(*sdi_), kSDINoLoader);
    EXPECT_EQ(bus_->Raw(), "|?B!");
    EXPECT_EQ(sdi_->tries, 5u);
    EXPECT_EQ(sdi_->timeoutMs, 300u);

    Set("?B!", "0\r\n");
    bus_->Clear();
    EXPECT_EQ(SDIInvokeTarsaBSL(*sdi_), kSDIOk);
    EXPECT_EQ(bus_->Messages(), (Texts{"|", "?B!", "]", "P"}));
    auto e = bus_->Events();
    EXPECT_GE(e[3].atMs - e[2].atMs, 90);
}

TEST_F(SensorTest, FirmwareCheckByAnswer) {
    StartTable({});
    for (auto [answer, code] : {std::pair<const char*, int>{"0Code Good!\r\n", kSDIOk},
                                {"0Code Corrupt!\r\n", kSDICorruptFirmware},
                                {"0???\r\n", kSDIUndetermined}}) {
        Set("?post!", answer);
        EXPECT_EQ(SDICheckBinary(*sdi_), code) << answer;
    }
}

TEST_F(SensorTest, TypeReadsDigitsOrCharacterAndWritesTheSameForm) {
    StartTable({{"?X8!", "0 93\r\n"},
                {"?X9 94!", "0OK\r\n"},
                {"?X9 y!", "0OK\r\n"},
                {"?X9 x!", "0ERROR\r\n"}});
    EXPECT_EQ(SDIGetSensorType(*sdi_), kSDIOk);
    EXPECT_EQ(sdi_->sensorType, 93);
    EXPECT_EQ(sdi_->numericType, 1);
    EXPECT_EQ(SDISetSensorType(*sdi_, 94), kSDIOk);
    EXPECT_EQ(Commands().back(), "?X9 94!");

    Set("?X8!", "0z\r\n");
    EXPECT_EQ(SDIGetSensorType(*sdi_), kSDIOk);
    EXPECT_EQ(sdi_->sensorType, 'z');
    EXPECT_EQ(sdi_->numericType, 0);
    EXPECT_EQ(SDISetSensorType(*sdi_, 'y'), kSDIOk);
    EXPECT_EQ(Commands().back(), "?X9 y!");
    EXPECT_EQ(SDISetSensorType(*sdi_, 'x'), kSDIBadAnswer);  // no "OK"
    Set("?X9 93!", "0OK\r\n");  // "]" would switch the reader away from the bus
    EXPECT_EQ(SDISetSensorType(*sdi_, 93), kSDIOk);
    EXPECT_EQ(Commands().back(), "?X9 93!");
}

TEST_F(SensorTest, TypeFallsBackOnTheIdentification) {
    StartTable({{"?X8!", "0 999\r\n"}, {"?I!", "013TERREL  QS-RE 210\r\n"}});
    EXPECT_EQ(SDIGetSensorType(*sdi_), kSDIOk);
    EXPECT_EQ(sdi_->sensorType, 127);
    EXPECT_EQ(Commands(), (Texts{"?X8!", "?I!"}));
    strcpy(sdi_->identification, "TERREL  7QE   300");
    EXPECT_EQ(SDIGetSensorType(*sdi_), kSDIOk);
    EXPECT_EQ(sdi_->sensorType, 122);
    strcpy(sdi_->identification, "TERREL  OTHER 300");
    sdi_->sensorType = 0;
    Set("?X8!", "0\r\n");
    EXPECT_EQ(SDIGetSensorType(*sdi_), kSDIUndetermined);
    EXPECT_TRUE(Logged("SDIGetSensorType couldn't detirmine sensor type"));
}

TEST_F(SensorTest, TypeRequestsAndFamilies) {
    StartTable({{"?X9 y!", "0OK\r\n"}});
    for (uint32_t bad : {0u, 255u, 300u}) EXPECT_EQ(SDISetSensorType(*sdi_, bad), kSDIInvalidType);
    Sensor(107, 300);
    EXPECT_EQ(SDISetSensorType(*sdi_, kSensorFamilyWpt), kSDIBadAnswer);
    EXPECT_TRUE(Logged("SDISetSensorType didn't get a valid WPT Sensor type (107)"));
    EXPECT_EQ(bus_->Raw(), "");
    Sensor(121, 300);  // a member keeps its own type
    EXPECT_EQ(SDISetSensorType(*sdi_, kSensorFamilyWpt), kSDIOk);
    EXPECT_EQ(Commands(), (Texts{"?X9 y!"}));
}

TEST_F(SensorTest, ReformatRewritesNineNumbersAsSix) {
    StartTable({});
    Sensor(117, 339);
    strcpy(sdi_->calibration1, "1.5 10 20 0 4 6 0 0 7.5");
    EXPECT_EQ(SDIReformatCalibration(*sdi_), kSDIOk);
    EXPECT_STREQ(sdi_->calibration1, "1.500 -1.000000e+03 1.000000e+02 0.000000e+00 5.0 7.5");
    strcpy(sdi_->calibration1, "1.5 10 20");
    EXPECT_EQ(SDIReformatCalibration(*sdi_), kSDIOk);
    EXPECT_STREQ(sdi_->calibration1, "1.500 0.000000e+00 0.000000e+00 0.000000e+00 0.0 0.0");
    strcpy(sdi_->calibration1, "1 5 5 0 4 6 0 0 2");  // equal coefficients: no division
    SDIReformatCalibration(*sdi_);
    EXPECT_STREQ(sdi_->calibration1, "1.000 0.000000e+00 0.000000e+00 0.000000e+00 0.0 2.0");
    Sensor(117, 340);
    EXPECT_EQ(SDIReformatCalibration(*sdi_), kSDINothingToDo);
}

TEST_F(SensorTest, SettingsReadAllThenWriteBack) {
    StartTable({{"?I!", "213TERREL  KTV   330\r\n"},
                {"?X8!", "2 117\r\n"},
                {"?X#!", "2 K-77\r\n"},
                {"?!", "2\r\n"},
                {"?X4!", "2 1.5 10 20 0 4 6 0 0 7.5\r\n"},
                {"?X#K-77!", "2OK\r\n"},
                {"0A2!", "2\r\n"},
                {"?X5" + std::string("1.500 -1.000000e+03 1.000000e+02 0.000000e+00 5.0 7.5!"),
                 "2OK\r\n"}});
    EXPECT_EQ(SDIGetSensorSettings(*sdi_), kSDIOk);
    EXPECT_EQ(sdi_->address, '2');
    EXPECT_EQ(sdi_->sensorType, 117);
    EXPECT_STREQ(sdi_->serialNumber, "K-77");
    EXPECT_STREQ(sdi_->calibration1, "1.500 -1.000000e+03 1.000000e+02 0.000000e+00 5.0 7.5");
    bus_->Clear();
    EXPECT_EQ(SDISetSensorSettings(*sdi_), kSDIOk);
    EXPECT_EQ(Commands(),
              (Texts{"?X#K-77!", "0A2!", "?X5" + std::string(sdi_->calibration1) + "!"}));

    Set("?I!", "2\r\n");  // an unreadable identification stops the read
    EXPECT_EQ(SDIGetSensorSettings(*sdi_), kSDIBadAnswer);
}

}  // namespace
}  // namespace tarsa::test

namespace tarsa::test {
namespace {

bool Terminated(const char* field, size_t capacity) {
    return memchr(field, '\0', capacity);
}

// Every operation against a sensor that answers everything with the same
// hostile text: documented codes only, and every field stays terminated.
TEST_F(SensorTest, HostileAnswersGiveCodesNeverOverruns) {
    const std::string garbled = "0\xC1\xD2\xFF\x80 -1\t\xE9\r\n";
    const std::string endless = std::string(400, '7');  // no line end at all
    StartTable({});
    struct Case {
        std::string text;
        int version;
    };
    for (const Case& c : {Case{garbled, kSDIBadAnswer}, Case{endless, 777}, Case{"\r\n", -30}}) {
        Start([c](const std::string&) { return c.text; });
        sdi_->tries = 1;
        sdi_->timeoutMs = 100;
        sdi_->sensorType = 93;
        sdi_->hasCalibration3 = 1;
        EXPECT_EQ(SDIGetSensorVersion(*sdi_), c.version);
        const int type = SDIGetSensorType(*sdi_);
        EXPECT_TRUE(type == kSDIOk || type == kSDIUndetermined);
        EXPECT_GE(SDIGetSensorSN(*sdi_), 0);
        sdi_->sensorType = 93;
        EXPECT_EQ(SDIGetSensorCalibration(*sdi_), kSDIOk);
        EXPECT_EQ(SDICheckBinary(*sdi_), kSDIUndetermined);
        EXPECT_EQ(SDISetSensorAddress(*sdi_, 'Z'), kSDIBadAnswer);
        EXPECT_EQ(SDISetSensorType(*sdi_, 93), kSDIBadAnswer);
        const int written = SDISetSensorCalibration(*sdi_, "1 2");
        EXPECT_TRUE(written == kSDIProbeOnly || written == kSDINothingToDo) << written;
        EXPECT_TRUE(Terminated(sdi_->identification, kSDIIdentificationSize));
        EXPECT_TRUE(Terminated(sdi_->calibration1, kSDICalibrationSize));
        EXPECT_TRUE(Terminated(sdi_->calibration2, kSDICalibrationSize));
        EXPECT_TRUE(Terminated(sdi_->calibration3, kSDICalibrationSize));
        EXPECT_TRUE(Terminated(sdi_->serialNumber, kSDISerialNumberSize));
        EXPECT_LT(strlen(sdi_->reply), kSDIReplySize);
    }
}

}  // namespace
}  // namespace tarsa::test
