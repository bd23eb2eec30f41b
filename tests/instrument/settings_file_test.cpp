// The settings file on its own: the three record kinds written and read back,
// the lookup rules, and files that are missing, cut short or not ours.
#include <cstring>
#include <filesystem>

#include "settings_file_fixture.h"

namespace tarsa::test {
namespace {

constexpr const char* kHeader = "***** Auto-Generated Settings File -- DO NOT EDIT *****\r\n\r\n";

void FillInstrument(Tarsa_protocol& tp, int type) {
    tp.type = static_cast<int8_t>(type);
    InstrumentSettings& s = tp.instrumentSettings;
    SetText(s.name, "sn01");  // a name holding another key's text
    SetText(s.sn, "H8-000123");
    s.lang = 2;
    s.contr = -7;
    SetText(s.config, "1000");
    SetText(s.fvals, "1 2 3");
    SetText(s.uvals, "u v");
    SetText(s.tadj, "0.5 0.25");
    SetText(s.hadj, "h=1");
    s.tau = 30;
    SetText(s.adccal, "adc=\"99\"");  // a value holding the adc key, quote included
    ASSERT_EQ(AllocateRecords(tp.users, 3), kRecordsAllocated);
    SetText(tp.users.records[0].text, "dXNlcjA=");
    SetText(tp.users.records[1].text, "dXNlcjE=");
    // The third is empty: writing stops there.
    ASSERT_EQ(AllocateRecords(tp.equations, 2), kRecordsAllocated);
    SetText(tp.equations.records[0].text, "E0 1.5 2.5");
    SetText(tp.equations.records[1].text, "E1_x 3");
}

void FillLogger(LoggerSettings& s);

TEST_F(SettingsFile, InstrumentFileHasTheFixedLayout) {
    FillInstrument(*tp_, kTypeHygra8);
    ASSERT_EQ(WriteInfoFile(*tp_, Path().c_str()), 1);
    const std::string text = ReadAll(Path());
    const std::string expected =
        std::string(kHeader) +
        "type=\"H8\"\r\nname=\"sn01\"\r\nsn=\"H8-000123\"\r\nlang=\"2\"\r\n"
        "TarsaBuild=\"\"\r\ncontr=\"-7\"\r\nconfig=\"1000\"\r\n"
        "fvals=\"1 2 3\"\r\nuvals=\"u v\"\r\nunits=\"0\"\r\nadc=\"\"\r\n"
        "adccal=\"adc=\\\"99\\\"\"\r\ncalprefs=\"\"\r\nPCUnits=\"\"\r\n"
        "sample=\"\"\r\nusage=\"\"\r\nadc15=\"\"\r\nadc30=\"\"\r\n"
        "location=\"\"\r\nchai=\"\"\r\nextCal=\"\"\r\n"
        "tadj=\"0.5 0.25\"\r\ntau=\"30\"\r\nhadj=\"h=1\"\r\n"
        "user00=\"dXNlcjA=\"\r\nuser01=\"dXNlcjE=\"\r\n"
        "eqn00=\"E0 1.5 2.5\"\r\neqn01=\"E1_x 3\"\r\n";
    EXPECT_EQ(text, expected);

    // The Sorbel's capture holds five settings more, written after hadj.
    FillInstrument(*tp_, kTypeSorbel);
    SetText(tp_->instrumentSettings.wtfactory, "1.234");
    ASSERT_EQ(WriteInfoFile(*tp_, Path().c_str()), 1);
    EXPECT_NE(ReadAll(Path()).find("hadj=\"h=1\"\r\nwtoffset=\"\"\r\np1offset=\"\"\r\n"
                                   "auto=\"\"\r\nwtfactory=\"1.234\"\r\nsys=\"\"\r\nuser00"),
              std::string::npos);
}

// A value from the device holding quotes, backslashes or line ends cannot
// end its line early or add a line: it reads back as it was.
TEST_F(SettingsFile, ValuesThatLookLikeLinesReadBackAsTheyWere) {
    FillInstrument(*tp_, kTypeHygra8);
    const char* config = "7\"\r\nsn=\"INJECTED";
    const char* tadj = "a\\\"b\nc\\";
    const char* user = "u\"\r\nuser02=\"extra";
    SetText(tp_->instrumentSettings.name, "a\nsn=\"X");  // a line before the real sn
    SetText(tp_->instrumentSettings.config, config);
    SetText(tp_->instrumentSettings.tadj, tadj);
    SetText(tp_->users.records[1].text, user);
    ASSERT_EQ(WriteInfoFile(*tp_, Path().c_str()), 1);
    const std::string text = ReadAll(Path());
    size_t lines = 0;
    for (char c : text) lines += c == '\n';
    EXPECT_EQ(lines, 2u + 24 + 2 + 2) << "header, the fixed lines, two users, two equations";
    auto fresh = Fresh(kTypeHygra8);
    ASSERT_EQ(ReadInfoFile(*fresh, Path().c_str()), 1);
    EXPECT_STREQ(fresh->instrumentSettings.sn, "H8-000123");
    EXPECT_STREQ(fresh->instrumentSettings.config, config);
    EXPECT_STREQ(fresh->instrumentSettings.tadj, tadj);
    ASSERT_EQ(fresh->users.count, 2);
    EXPECT_STREQ(fresh->users.records[1].text, user);

    tp_->type = kTypeTalox;
    FillLogger(tp_->loggerSettings);
    SetText(tp_->loggerSettings.site, "North \"field\"\n");
    ASSERT_EQ(WriteInfoFile(*tp_, Path().c_str()), 1);
    fresh = Fresh(kTypeTalox);
    ASSERT_EQ(ReadInfoFile(*fresh, Path().c_str()), 1);
    EXPECT_STREQ(fresh->loggerSettings.site, "North \"field\"\n");
    EXPECT_STREQ(fresh->loggerSettings.serialNumber, "TX-0042");
}

TEST_F(SettingsFile, EveryCapturedRecordReadsBack) {
    FillInstrument(*tp_, kTypeHygra8);
    for (RecordSet* set : {&tp_->users, &tp_->equations}) {
        ASSERT_EQ(AllocateRecords(*set, kMaxRecords), kRecordsAllocated);
        for (int i = 0; i < kMaxRecords; ++i)
            SetText(set->records[i].text, "R" + std::to_string(i) + std::string(200, 'x'));
    }
    ASSERT_EQ(WriteInfoFile(*tp_, Path().c_str()), 1);
    auto fresh = Fresh(kTypeHygra8);
    ASSERT_EQ(ReadInfoFile(*fresh, Path().c_str()), 1);
    for (const RecordSet* set : {&fresh->users, &fresh->equations}) {
        ASSERT_EQ(set->count, kMaxRecords);
        EXPECT_STREQ(set->records[999].text, ("R999" + std::string(200, 'x')).c_str());
        EXPECT_STREQ(set->records[100].text, ("R100" + std::string(200, 'x')).c_str());
    }
}

TEST_F(SettingsFile, Hygra8FileReadsBackItsKeysAndFlags) {
    FillInstrument(*tp_, kTypeHygra8);
    ASSERT_EQ(WriteInfoFile(*tp_, Path().c_str()), 1);
    auto fresh = Fresh(kTypeHygra8);
    ASSERT_EQ(ReadInfoFile(*fresh, Path().c_str()), 1);
    const InstrumentSettings& s = fresh->instrumentSettings;
    EXPECT_EQ(s.type, kTypeHygra8);
    EXPECT_EQ(s.flags, kInstConfig | kInstTadj | kInstHadj | kInstUvals | kInstUsers |
                           kInstEquations | kInstSn);
    EXPECT_STREQ(s.sn, "H8-000123");
    EXPECT_STREQ(s.config, "1000");
    EXPECT_STREQ(s.tadj, "0.5 0.25");
    EXPECT_STREQ(s.hadj, "h=1");
    EXPECT_EQ(s.tau, 30);
    EXPECT_STREQ(s.uvals, "u v");
    EXPECT_STREQ(s.name, "");  // not a key of this type
    ASSERT_EQ(fresh->users.count, 2);
    EXPECT_STREQ(fresh->users.records[1].text, "dXNlcjE=");
    ASSERT_EQ(fresh->equations.count, 2);
    EXPECT_STREQ(fresh->equations.records[0].text, "E0 1.5 2.5");
}

TEST_F(SettingsFile, KeysAreFoundOnlyAtTheStartOfTheirOwnLine) {
    // "sn" occurs first inside the name value, "adc" inside the adccal value.
    FillInstrument(*tp_, kTypeTcd);
    ASSERT_EQ(WriteInfoFile(*tp_, Path().c_str()), 1);
    auto fresh = Fresh(kTypeTcd);
    ASSERT_EQ(ReadInfoFile(*fresh, Path().c_str()), 1);
    EXPECT_STREQ(fresh->instrumentSettings.name, "sn01");
    EXPECT_STREQ(fresh->instrumentSettings.sn, "H8-000123");

    WriteAll(Path(), std::string(kHeader) +
                         "type=\"TK\"\r\nadccal=\"x\"\r\nadc=\"A1\"\r\nsample=\"adc=\"\r\n");
    fresh = Fresh(kTypeThermik);
    ASSERT_EQ(ReadInfoFile(*fresh, Path().c_str()), 1);
    EXPECT_STREQ(fresh->instrumentSettings.adc, "A1");
}

TEST_F(SettingsFile, EmptyTextsCountAsMissingButEmptyNumbersReadAsZero) {
    WriteAll(Path(), std::string(kHeader) + "type=\"HMINI\"\r\nsn=\"\"\r\nlang=\"\"\r\n");
    auto fresh = Fresh(kTypeHygraMini);
    fresh->instrumentSettings.lang = 9;
    ASSERT_EQ(ReadInfoFile(*fresh, Path().c_str()), 1);
    EXPECT_EQ(fresh->instrumentSettings.flags, kInstLang);
    EXPECT_EQ(fresh->instrumentSettings.lang, 0);
}

TEST_F(SettingsFile, HandraAndH8LzrCalibrationSlots) {
    tp_->type = kTypeHandra;
    SetText(tp_->instrumentSettings.slots[0], "c0");
    SetText(tp_->instrumentSettings.slots[1], "c1");
    SetText(tp_->instrumentSettings.slots[3], "after a gap");
    ASSERT_EQ(WriteInfoFile(*tp_, Path().c_str()), 1);
    std::string text = ReadAll(Path());
    EXPECT_NE(text.find("cal00=\"c0\"\r\ncal01=\"c1\"\r\n"), std::string::npos);
    EXPECT_EQ(text.find("cal02"), std::string::npos);
    EXPECT_EQ(text.find("after a gap"), std::string::npos);
    auto fresh = Fresh(kTypeHandra);
    ASSERT_EQ(ReadInfoFile(*fresh, Path().c_str()), 1);
    EXPECT_TRUE(fresh->instrumentSettings.flags & kInstCalSlots);
    EXPECT_STREQ(fresh->instrumentSettings.slots[1], "c1");
    EXPECT_STREQ(fresh->instrumentSettings.slots[2], "");

    tp_->type = kTypeHygra8Lzr;
    ASSERT_EQ(WriteInfoFile(*tp_, Path().c_str()), 1);
    text = ReadAll(Path());
    EXPECT_NE(text.find("cal01=\"c0\"\r\ncal02=\"c1\"\r\ncal03=\"\"\r\ncal04=\"after a gap\""),
              std::string::npos);
    EXPECT_NE(text.find("cal20=\"\"\r\n"), std::string::npos);
    fresh = Fresh(kTypeHygra8Lzr);
    ASSERT_EQ(ReadInfoFile(*fresh, Path().c_str()), 1);
    EXPECT_TRUE(fresh->instrumentSettings.flags & kInstSlots);
    EXPECT_STREQ(fresh->instrumentSettings.slots[3], "after a gap");
}

TEST_F(SettingsFile, DraxoReadsItsSerialNumberAndRecordKeysNeedNoGaps) {
    WriteAll(Path(), std::string(kHeader) +
                         "type=\"DRAXO\"\r\nsn=\"D-9\"\r\nuser00=\"a\"\r\nuser01=\"b\"\r\n"
                         "user03=\"d\"\r\n");
    auto fresh = Fresh(kTypeDraxo);
    ASSERT_EQ(ReadInfoFile(*fresh, Path().c_str()), 1);
    EXPECT_EQ(fresh->instrumentSettings.flags, kInstSn);
    EXPECT_STREQ(fresh->instrumentSettings.sn, "D-9");

    RecordSet users;
    EXPECT_EQ(GetRecords_File(*fresh, users, kRecordKindUser, ReadAll(Path())), 1);
    EXPECT_EQ(users.count, 2);
    EXPECT_EQ(GetRecords_File(*fresh, users, kRecordKindEquation, ReadAll(Path())), 0);
    EXPECT_EQ(GetRecords_File(*fresh, users, 5, ReadAll(Path())), kTPUnknownKind);
}

void FillLogger(LoggerSettings& s) {
    s.validMask = 0xFFFFFFF;
    SetText(s.typeName, "Talox");
    SetText(s.deviceId, "DEV00042");
    SetText(s.deviceName, "LAKE4");
    SetText(s.serialNumber, "TX-0042");
    s.trait = 0x4000 | 0xFD;  // radio and cellular modems are fitted
    s.measurementInterval = 600;
    s.padc = 50;
    const uint8_t ports[5] = {1, 2, 3, 4, 255};
    memcpy(s.ports, ports, 5);
    const uint8_t depths[5] = {10, 20, 30, 40, 50};
    memcpy(s.depths, depths, 5);
    const uint8_t a[5] = {101, 102, 103, 104, 105}, b[5] = {201, 202, 203, 204, 205};
    memcpy(s.adc15First, a, 5);
    memcpy(s.adc15Second, b, 5);
    memcpy(s.adc30First, b, 5);
    memcpy(s.adc30Second, a, 5);
    s.radioMode = 1;
    s.radioChannel = 3;
    s.radioSubChannel = 0x1234;
    s.dataParameter = 7;
    SetText(s.site, "North field");
    s.latitude = -33.123456;
    s.longitude = 151.5;
    s.timeZone = -20;
    s.reportMode = 3;
    SetText(s.apn, "internet.example");
    SetText(s.apnUser, "fielduser");
    SetText(s.apnPassword, "s3cret");
    SetText(s.host, "data.example.org");
    SetText(s.authKey, "0123456789abcdef");
    s.ipPort = 8080;
    SetText(s.buildId, "B-2024.1");
}

// The simulated-logger tests carry every setting end to end; here the
// formats, the byte arrays and the mask and capabilities a file gives.
TEST_F(SettingsFile, TaloxFileFormatsAndMasks) {
    tp_->type = kTypeTalox;
    FillLogger(tp_->loggerSettings);
    ASSERT_EQ(WriteInfoFile(*tp_, Path().c_str()), 1);
    const std::string text = ReadAll(Path());
    EXPECT_NE(text.find("lat=\"-33.12346\"\r\nlon=\"+151.50000\"\r\n"), std::string::npos);
    EXPECT_NE(text.find("ports=\"1 2 3 4 255\"\r\n"), std::string::npos);
    EXPECT_NE(text.find("trait=\"16637\"\r\n"), std::string::npos);

    auto fresh = Fresh(kTypeTalox);
    ASSERT_EQ(ReadInfoFile(*fresh, Path().c_str()), 1);
    const LoggerSettings& r = fresh->loggerSettings;
    const LoggerSettings& w = tp_->loggerSettings;
    EXPECT_EQ(r.trait, w.trait | 0x4001);
    EXPECT_EQ(0, memcmp(r.ports, w.ports, 5));
    EXPECT_EQ(0, memcmp(r.adc15First, w.adc15First, 5));
    EXPECT_EQ(0, memcmp(r.adc15Second, w.adc15Second, 5));
    EXPECT_EQ(0, memcmp(r.adc30First, w.adc30First, 5));
    EXPECT_EQ(0, memcmp(r.adc30Second, w.adc30Second, 5));
    EXPECT_DOUBLE_EQ(r.latitude, -33.12346);
    EXPECT_STREQ(r.site, "North field");
    EXPECT_STREQ(r.authKey, w.authKey);
    // Every setting bit of the Talox's capture but the identity, and the build.
    EXPECT_EQ(fresh->savedFlags, (0x7FFEFFFu & ~kSetIdentity) | kSetBuildId);
    EXPECT_EQ(r.validMask, fresh->savedFlags);
    EXPECT_EQ(r.capabilities, 0x707FFF7u);
}

TEST_F(SettingsFile, LoggerSiteIsReadAtItsCapacityOf25) {
    WriteAll(Path(), std::string(kHeader) + "type=\"Talox\"\r\nsite=\"" + std::string(25, 's') +
                         "TAIL\"\r\n");
    auto fresh = Fresh(kTypeTalox);
    ASSERT_EQ(ReadInfoFile(*fresh, Path().c_str()), 1);
    EXPECT_EQ(std::string(fresh->loggerSettings.site), std::string(25, 's'));
}

TEST_F(SettingsFile, LoggerFileWithoutAdcOrBuildBitsLeavesThoseLinesOut) {
    tp_->type = kTypeTalox;
    FillLogger(tp_->loggerSettings);
    tp_->loggerSettings.validMask = kSetName;
    ASSERT_EQ(WriteInfoFile(*tp_, Path().c_str()), 1);
    const std::string text = ReadAll(Path());
    EXPECT_EQ(text.find("ADC"), std::string::npos);
    EXPECT_EQ(text.find("TarsaBuild"), std::string::npos);
}

TEST_F(SettingsFile, TraitAndRschBitsAndTheOtherLoggerKinds) {
    WriteAll(Path(), std::string(kHeader) + "type=\"Oxbel\"\r\ntrait=\"251\"\r\nrsch=\"17\"\r\n");
    auto fresh = Fresh(kTypeOxbel);
    ASSERT_EQ(ReadInfoFile(*fresh, Path().c_str()), 1);
    EXPECT_EQ(fresh->savedFlags, kSetTrait | kSetRadioSubChannel);
    EXPECT_EQ(fresh->loggerSettings.trait, 251u | 0x4001u);
    EXPECT_EQ(fresh->loggerSettings.radioSubChannel, 17);

    // Without a radio modem in the trait the radio lines are no settings, and
    // the trait is restored as it was.
    WriteAll(Path(), std::string(kHeader) +
                         "type=\"Talox\"\r\ntrait=\"16384\"\r\nrch=\"0\"\r\nrsch=\"0\"\r\n");
    fresh = Fresh(kTypeTalox);
    ASSERT_EQ(ReadInfoFile(*fresh, Path().c_str()), 1);
    EXPECT_EQ(fresh->savedFlags, kSetTrait);
    EXPECT_EQ(fresh->loggerSettings.trait, 0x4000u);

    WriteAll(Path(), std::string(kHeader) +
                         "type=\"Brisen\"\r\nname=\"BR1\"\r\nrsch=\"5\"\r\n"
                         "site=\"ignored\"\r\n");
    fresh = Fresh(kTypeBrisen);
    ASSERT_EQ(ReadInfoFile(*fresh, Path().c_str()), 1);
    EXPECT_EQ(fresh->savedFlags, kSetName | kSetRadioSubChannel | kSetTrait);
    EXPECT_EQ(fresh->loggerSettings.trait, 0x4001u);
    EXPECT_STREQ(fresh->loggerSettings.site, "");

    WriteAll(Path(), std::string(kHeader) +
                         "type=\"Talob\"\r\nwake=\"60\"\r\nports=\"9 8 7 6 5\"\r\nsite=\"x\"\r\n");
    fresh = Fresh(kTypeTalob);
    ASSERT_EQ(ReadInfoFile(*fresh, Path().c_str()), 1);
    EXPECT_EQ(fresh->savedFlags, kSetWake | kSetPorts);
    EXPECT_EQ(fresh->loggerSettings.ports[0], 9);
    EXPECT_EQ(fresh->loggerSettings.ports[4], 5);
    EXPECT_EQ(fresh->loggerSettings.capabilities, 0x474BEu);
}

TEST_F(SettingsFile, DigitalSensorRoundTrip) {
    tp_->type = kTypeDigitalSensor;
    tp_->sdi.address = 'c';
    SetText(tp_->sdi.identification, "13TERREL QS-1 340");
    SetText(tp_->sdi.calibration1, "1.0 2.0 3.0");
    SetText(tp_->sdi.calibration2, "4 5 6");
    SetText(tp_->sdi.serialNumber, "S-77");
    ASSERT_EQ(WriteInfoFile(*tp_, Path().c_str()), 1);
    EXPECT_NE(ReadAll(Path()).find("address=\"c\"\r\naddressInt=\"99\"\r\n"), std::string::npos);
    auto fresh = Fresh(kTypeDigitalSensor);
    ASSERT_EQ(ReadInfoFile(*fresh, Path().c_str()), 1);
    EXPECT_EQ(fresh->sdi.address, 'c');
    EXPECT_STREQ(fresh->sdi.calibration1, "1.0 2.0 3.0");
    EXPECT_STREQ(fresh->sdi.calibration2, "4 5 6");
    EXPECT_STREQ(fresh->sdi.serialNumber, "S-77");
    EXPECT_STREQ(fresh->sdi.identification, "");  // written, not read
}

TEST_F(SettingsFile, IsReplacedWhole) {
    WriteAll(Path(), "an older file");
    FillInstrument(*tp_, kTypeDraxo);
    ASSERT_EQ(WriteInfoFile(*tp_, Path().c_str()), 1);
    EXPECT_EQ(ReadAll(Path()).rfind(kHeader, 0), 0u);
    // Nothing but the file itself is left in the folder.
    int files = 0;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::filesystem::path(Path()).parent_path())) {
        if (entry.path().filename().string().rfind("Talox.settings.txt", 0) == 0) ++files;
    }
    EXPECT_EQ(files, 1);

    EXPECT_EQ(WriteInfoFile(*tp_, ""), kTPMissingArgument);
    EXPECT_EQ(WriteInfoFile(*tp_, folder_.File("no/such/folder/x.txt").c_str()), -ENOENT);
    EXPECT_TRUE(Logged("WriteInfoFile got error 2 trying to open settings file"));
}

TEST_F(SettingsFile, BadFilesGiveNegativeCodesAndChangeNothing) {
    auto fresh = Fresh(kTypeHygra8);
    SetText(fresh->instrumentSettings.config, "keep");
    fresh->instrumentSettings.flags = kInstConfig;

    EXPECT_EQ(ReadInfoFile(*fresh, folder_.File("missing.txt").c_str()), kTPFileNotFound);
    EXPECT_EQ(ReadInfoFile(*fresh, nullptr), kTPMissingArgument);

    WriteAll(Path(), "");
    EXPECT_EQ(ReadInfoFile(*fresh, Path().c_str()), kTPBadAnswer);
    const char binary[] = "\0\x01\xff\xfe type=\"H8\"";
    WriteAll(Path(), std::string(binary, sizeof binary - 1));
    EXPECT_EQ(ReadInfoFile(*fresh, Path().c_str()), kTPBadAnswer);
    WriteAll(Path(), std::string(kHeader) + "type=\"TK\"\r\nconfig=\"77\"\r\n");  // another model
    EXPECT_EQ(ReadInfoFile(*fresh, Path().c_str()), kTPBadAnswer);
    EXPECT_EQ(ReadInfoFile(*fresh, folder_.File("").c_str()), kTPBadAnswer);  // a folder
    EXPECT_STREQ(fresh->instrumentSettings.config, "keep");
    EXPECT_EQ(fresh->instrumentSettings.flags, kInstConfig);

    // Cut in the middle of a value: the value is lost, not shortened.
    WriteAll(Path(), std::string(kHeader) + "type=\"H8\"\r\nsn=\"SN-1\"\r\nconfig=\"12");
    ASSERT_EQ(ReadInfoFile(*fresh, Path().c_str()), 1);
    EXPECT_EQ(fresh->instrumentSettings.flags, kInstSn);
    EXPECT_STREQ(fresh->instrumentSettings.config, "");

    auto untyped = Fresh(kTypeFennik);
    FillInstrument(*tp_, kTypeFennik);
    ASSERT_EQ(WriteInfoFile(*tp_, Path().c_str()), 1);
    EXPECT_EQ(ReadInfoFile(*untyped, Path().c_str()), kTPBadAnswer);  // no keys for type 21
    untyped->type = kTypeLumet;
    EXPECT_EQ(ReadInfoFile(*untyped, Path().c_str()), kTPNotApplicable);
}

// Damaged copies of real files (cut, bytes changed, quotes and line ends
// thrown in) never crash the reader, and what it accepts stays within the
// fields' capacities.
TEST_F(SettingsFile, DamagedFilesAreReadSafely) {
    std::vector<std::pair<int, std::string>> originals;
    FillInstrument(*tp_, kTypeHygra8);
    ASSERT_EQ(WriteInfoFile(*tp_, Path().c_str()), 1);
    originals.emplace_back(kTypeHygra8, ReadAll(Path()));
    tp_->type = kTypeTalox;
    FillLogger(tp_->loggerSettings);
    ASSERT_EQ(WriteInfoFile(*tp_, Path().c_str()), 1);
    originals.emplace_back(kTypeTalox, ReadAll(Path()));

    uint32_t seed = 12345;
    auto next = [&seed](uint32_t range) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % range;
    };
    const char noise[] = {'"', '\r', '\n', '=', '\0', 'x', '\xff'};
    for (int round = 0; round < 300; ++round) {
        const auto& [type, original] = originals[round % originals.size()];
        std::string text = original;
        const uint32_t edits = 1 + next(8);
        for (uint32_t e = 0; e < edits && !text.empty(); ++e) {
            const size_t at = next(static_cast<uint32_t>(text.size()));
            switch (next(3)) {
                case 0:
                    text.resize(at);
                    break;
                case 1:
                    text[at] = noise[next(sizeof noise)];
                    break;
                default:
                    text.insert(at, 1, noise[next(sizeof noise)]);
                    break;
            }
        }
        WriteAll(Path(), text);
        auto fresh = Fresh(type);
        const int rc = ReadInfoFile(*fresh, Path().c_str());
        ASSERT_TRUE(rc == 1 || rc == kTPBadAnswer) << rc;
        const InstrumentSettings& s = fresh->instrumentSettings;
        EXPECT_LT(strlen(s.sn), sizeof s.sn);
        EXPECT_LT(strlen(s.config), sizeof s.config);
        EXPECT_LT(strlen(s.tadj), sizeof s.tadj);
        const LoggerSettings& l = fresh->loggerSettings;
        EXPECT_LT(strlen(l.site), sizeof l.site);
        EXPECT_LT(strlen(l.authKey), sizeof l.authKey);
        for (int32_t i = 0; i < fresh->users.count; ++i) {
            EXPECT_LT(strlen(fresh->users.records[i].text), kRecordTextSize);
        }
    }
}

}  // namespace
}  // namespace tarsa::test
