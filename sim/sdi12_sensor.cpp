// The digital sensor's application firmware (SDI-12 answers, break and sleep,
// switches, factory values after an update), its memory maps by type, and the
// stand-in image text for sensor updates. The loader and the flash are the
// generic loader model of device.cpp.
#include "sim/sdi12_sensor.h"

#include <algorithm>
#include <cstdio>

namespace tarsa::sim {

namespace {

// The sensor's application speaks SDI-12, not text commands: the loader
// model's command table stays empty.
constexpr DeviceKind kSensorFirmware = {"sdi12-sensor", nullptr, 0};

constexpr std::size_t kCalibrationCapacity = 512;
constexpr std::size_t kSerialCapacity = 31;

struct ModelName {
    int type;
    const char* model;
};

// The model field of "?I!" by sensor type.
constexpr ModelName kModels[] = {
    {92, "SKY52"},  {93, "SKY61"},  {94, "PQ3"},    {95, "WQ4"},   {102, "HQ6"},  {103, "VEY32"},
    {104, "VEY31"}, {107, "VEY41"}, {108, "WPT9"},  {109, "EQ4F"}, {112, "HQ5"},  {113, "EQ4"},
    {116, "KTV"},   {117, "L5SG"},  {119, "HX8"},   {120, "7QM"},  {121, "WPT4"}, {122, "7QE"},
    {123, "SKY34"}, {125, "QS-RM"}, {127, "QS-RE"},
};

// Types whose calibration 2 old firmware did not have.
bool HasCalibration2(int type) {
    for (int t : {121, 108, 107, 119, 104, 103, 122, 120, 92, 93}) {
        if (t == type) return true;
    }
    return false;
}

bool ValidAddress(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool Printable(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 32 && c <= 126; });
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

std::string HexByte(uint8_t value) {
    char text[4];
    std::snprintf(text, sizeof text, "%02X", value);
    return text;
}

std::string HexAddress(uint32_t address) {
    char text[16];
    if (address < 0x10000) {
        std::snprintf(text, sizeof text, "@%04X\n", address);
    } else {
        std::snprintf(text, sizeof text, "@%05X\n", address);
    }
    return text;
}

// One TI-TXT section: "@address" and 16 bytes a line.
void AppendSection(std::string& text, uint32_t address, const std::vector<uint8_t>& bytes,
                   uint32_t from, uint32_t to) {
    if (from >= to) return;
    text += HexAddress(address);
    for (uint32_t a = from; a < to; ++a) {
        text += HexByte(bytes[a]);
        text += (a - from) % 16 == 15 || a + 1 == to ? "\n" : " ";
    }
}

}  // namespace

SensorSettings SensorConfig::Factory() const {
    SensorSettings factory = settings;
    factory.address = '0';
    factory.serial.clear();
    factory.calibration1 = factoryCalibration1;
    factory.calibration2 = factoryCalibration2;
    factory.calibration3 = factoryCalibration3;
    return factory;
}

FlashMap SensorFlashMap(int type, int version) {
    FlashMap map;  // 0x1100 to 0x10000, two 128-byte information segments
    if (type == 92 || type == 93) {
        map.infoStart = 0x1800;
        map.infoSegments = 4;
        map.mainStart = 0x8000;
        map.memoryEnd = 0x88000;
    } else if (type == 103 || type == 104) {
        map.infoStart = 0x1800;
        map.infoSegments = 4;
        map.mainStart = 0x4400;
        map.memoryEnd = 0x24400;
    } else if (((type == 120 || type == 122) && version < 250) || (type >= 124 && type <= 127)) {
        return map;
    } else {
        map.infoSegments = 3;
        map.infoSegmentSize = 64;
        map.mainStart = 0x8000;
    }
    return map;
}

Sdi12Sensor::Sdi12Sensor(const SensorConfig& sensor, const DeviceConfig& device)
    : config_(sensor), settings_(sensor.settings), version_(std::clamp(sensor.version, 0, 999)) {
    DeviceConfig firmware;
    char label[32];
    std::snprintf(label, sizeof label, "Sensor %d.%02d", version_ / 100, version_ % 100);
    firmware.identity = label;
    firmware.hasLoader = sensor.hasLoader;
    firmware.loaderVersion = device.loaderVersion;
    firmware.loaderBaud = 9600;
    firmware.startInLoader = sensor.startInLoader;
    firmware.flash = sensor.flash.value_or(SensorFlashMap(sensor.settings.type, version_));
    firmware.eraseMs = device.eraseMs;
    firmware.programMs = device.programMs;
    firmware.restartMs = device.restartMs;
    firmware.powerOffMs = device.powerOffMs;
    firmware_ = std::make_unique<Device>(kSensorFirmware, firmware);
}

void Sdi12Sensor::Break(uint64_t nowMs) {
    if (nowMs < deafUntilMs_) return;
    awakeUntilMs_ = nowMs + static_cast<uint64_t>(std::max(config_.sleepMs, 0));
}

bool Sdi12Sensor::InLoader() const {
    return firmware_->State() != DeviceState::Application;
}

std::string Sdi12Sensor::Identification() const {
    std::string model;
    for (const ModelName& m : kModels) {
        if (m.type == settings_.type) model = m.model;
    }
    if (!config_.model.empty()) model = config_.model;
    if (model.empty()) model = "QS";
    model.resize(6, ' ');
    char version[8];
    std::snprintf(version, sizeof version, "%03d", version_);
    return std::string("13CORVANE ") + model + version;
}

Answer Sdi12Sensor::Reply(std::string_view text) const {
    Answer answer;
    answer.bytes = std::string(1, settings_.address) + std::string(text) + "\r\n";
    answer.workMs = config_.answerMs;
    return answer;
}

Answer Sdi12Sensor::Command(std::string_view command, uint64_t nowMs) {
    if (config_.silent || nowMs < deafUntilMs_ || InLoader()) return {};
    if (command.size() < 2 || command.back() != '!') return {};
    if (command[0] != '?' && command[0] != settings_.address) return {};
    bool sleeps = config_.sleepMs > 0;
    if (sleeps && nowMs > awakeUntilMs_) return {};
    std::string_view body = command.substr(1, command.size() - 2);
    Answer answer;
    if (body.empty()) {
        answer = Reply("");
    } else if (config_.onlyAddressQuery) {
        return {};
    } else if (config_.errorAnswers) {
        answer = Reply("ERROR");
    } else {
        answer = Execute(body, nowMs);
    }
    if (!answer.bytes.empty() && sleeps) {
        awakeUntilMs_ = nowMs + static_cast<uint64_t>(config_.sleepMs);
    }
    return answer;
}

std::string Sdi12Sensor::PrintCalibration1() const {
    const std::string& text = settings_.calibration1;
    if (!config_.oldCalibrationFormat || (settings_.type != 120 && settings_.type != 122)) {
        return text;
    }
    // Old firmware of these types printed an offset of +0 as -1.
    std::string out;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t end = std::min(text.find(' ', pos), text.size());
        std::string_view field(text.data() + pos, end - pos);
        out += field == "+0" ? std::string_view("-1") : field;
        if (end < text.size()) out += ' ';
        pos = end + 1;
    }
    return out;
}

Answer Sdi12Sensor::WriteText(std::string& field, std::string_view text,
                              std::size_t capacity) const {
    if (text.empty() || text.size() > capacity || !Printable(text)) return Reply("ERROR");
    field = std::string(text);
    return Reply("OK");
}

Answer Sdi12Sensor::Execute(std::string_view body, uint64_t nowMs) {
    (void)nowMs;
    if (body == "I") return Reply(Identification());
    if (body.size() == 2 && body[0] == 'A') {
        if (!ValidAddress(body[1])) return {};
        settings_.address = body[1];
        return Reply("");
    }
    if (body == "X4") return Reply(" " + PrintCalibration1());
    if (StartsWith(body, "X5")) {
        return WriteText(settings_.calibration1, body.substr(2), kCalibrationCapacity);
    }
    if (body == "Xa") {
        if (config_.oldCalibrationFormat && HasCalibration2(settings_.type)) return Reply("");
        return Reply(" " + settings_.calibration2);
    }
    if (StartsWith(body, "Xb")) {
        return WriteText(settings_.calibration2, body.substr(2), kCalibrationCapacity);
    }
    if (StartsWith(body, "XO")) {
        if (!config_.hasCalibration3) return Reply("ERROR");
        if (body.size() == 2) return Reply(" " + settings_.calibration3);
        return WriteText(settings_.calibration3, body.substr(2), kCalibrationCapacity);
    }
    if (StartsWith(body, "X#")) {
        if (body.size() > 2) return WriteText(settings_.serial, body.substr(2), kSerialCapacity);
        return Reply(settings_.serial.empty() ? std::string() : " " + settings_.serial);
    }
    if (body == "X8") {
        int t = settings_.type;
        bool letter = (t >= 'a' && t <= 'z') || (t >= 'A' && t <= 'Z');
        if (settings_.typeAsDigits.value_or(!letter)) return Reply(" " + std::to_string(t));
        return Reply(std::string(" ") + static_cast<char>(settings_.type));
    }
    if (StartsWith(body, "X9 ")) {
        std::string_view value = body.substr(3);
        int type = -1;
        bool digits =
            !value.empty() && value.size() <= 3 &&
            std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (digits) {
            type = std::stoi(std::string(value));
        } else if (value.size() == 1) {
            type = static_cast<unsigned char>(value[0]);
        }
        if (type <= 0 || type >= 255) return Reply("ERROR");
        settings_.type = type;
        return Reply("OK");
    }
    if (body == "B") {
        if (!firmware_->Config().hasLoader) return Reply("No BSL");
        Answer answer = Reply("OK");
        firmware_->EnterLoader();
        return answer;
    }
    if (body == "post") return Reply(firmware_->CodeGood() ? "Code Good" : "Code Corrupt");
    return {};  // not a command this sensor knows: SDI-12 sensors stay quiet
}

bool Sdi12Sensor::TakeLoaderCommand(std::string& input, std::string& command, uint64_t nowMs) {
    if (!InLoader()) {
        input.clear();  // the application does not listen on the loader line
        return false;
    }
    return firmware_->TakeCommand(input, command, nowMs);
}

Answer Sdi12Sensor::ExecuteLoader(const std::string& command, uint64_t nowMs) {
    bool wasLoader = InLoader();
    Answer answer = firmware_->Execute(command, nowMs);
    if (wasLoader && !InLoader()) {
        // The loader restarted the application: new firmware starts from
        // factory values, and is deaf until it runs.
        FlashIdentity id = FlashIdentify(firmware_->Memory());
        version_ = std::min<int>(id.version, 999);
        settings_ = config_.Factory();
        const DeviceConfig& firmware = firmware_->Config();
        deafUntilMs_ = nowMs + static_cast<uint64_t>(firmware.programMs + firmware.restartMs);
        awakeUntilMs_ = 0;
    }
    return answer;
}

std::string SensorImageText(const FlashMap& map, std::string_view label, uint32_t mainSize,
                            uint32_t upperBytes) {
    Flash flash = FlashCreate(map);
    FlashInstallFactoryImage(flash, label, mainSize);
    const std::vector<uint8_t>& b = flash.bytes;
    uint32_t start = flash.map.IdBlock();
    uint32_t end = kLoaderCodeStart;
    while (end > start && b[end - 1] == 0xFF) --end;
    std::string text;
    AppendSection(text, start, b, start, end);
    AppendSection(text, kVectorAddress, b, kVectorAddress, 0x10000);
    if (flash.map.memoryEnd > 0x10000 && upperBytes > 0) {
        uint32_t n = std::min(upperBytes, flash.map.memoryEnd - 0x10000);
        std::vector<uint8_t> upper(0x10000 + n, 0xFF);
        uint32_t x = 0x9E3779B9;
        for (uint32_t i = 0; i < n; ++i) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            upper[0x10000 + i] = static_cast<uint8_t>(x >> 8);
        }
        AppendSection(text, 0x10000, upper, 0x10000, 0x10000 + n);
    }
    text += "q\n";
    return text;
}

}  // namespace tarsa::sim
