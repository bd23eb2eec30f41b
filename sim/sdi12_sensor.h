// A simulated SDI-12 digital sensor: its application firmware's answers to
// the standard and the maker's commands, the wake-up by a break, and its
// bootstrap loader with flash, which is the existing loader model (Device)
// reached on the sensor's loader line.
//
// Commands arrive whole (address, letters, "!"), cut by whoever carries the
// bus (the reader model); answers are the address, the text, carriage return
// and line feed. A sensor that is asleep, addressed with another address,
// switched silent or running its loader answers nothing. The sensor knows
// nothing about pty, threads or the transport's fault switches.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "sim/device.h"
#include "sim/device_model.h"
#include "sim/reader_config.h"

namespace tarsa::sim {

class Sdi12Sensor {
  public:
    // `device` gives the loader's version and work times; `sensor` the rest.
    Sdi12Sensor(const SensorConfig& sensor, const DeviceConfig& device);

    // An SDI-12 break on the bus: wakes the sensor.
    void Break(uint64_t nowMs);
    // One command up to and including its "!"; the answer may be empty.
    Answer Command(std::string_view command, uint64_t nowMs);

    // The loader line: cut and execute loader commands (only while the loader
    // runs). A restart into a good application resets the settings to factory
    // values and takes the version from the new firmware's identity block.
    bool InLoader() const;
    bool TakeLoaderCommand(std::string& input, std::string& command, uint64_t nowMs);
    Answer ExecuteLoader(const std::string& command, uint64_t nowMs);

    SensorConfig& Config() { return config_; }  // switches, under the simulator's lock
    SensorSettings& Settings() { return settings_; }
    int Version() const { return version_; }
    Device& Firmware() { return *firmware_; }  // loader and flash
    std::string Identification() const;        // "?I!" answer without the address and line end

  private:
    Answer Reply(std::string_view text) const;
    Answer Execute(std::string_view body, uint64_t nowMs);
    Answer WriteText(std::string& field, std::string_view text, std::size_t capacity) const;
    std::string PrintCalibration1() const;

    SensorConfig config_;
    SensorSettings settings_;
    int version_ = 0;
    std::unique_ptr<Device> firmware_;
    uint64_t awakeUntilMs_ = 0;
    uint64_t deafUntilMs_ = 0;
};

// TI-TXT text of a valid stand-in image for a sensor with this memory map:
// the identity block with `label` (its digits are the version, "Sensor 3.60"
// is 360) and a main section of `mainSize` bytes, the high section, the
// vectors and, when the map reaches above 64 KB, `upperBytes` filler bytes at
// 0x10000.
std::string SensorImageText(const FlashMap& map, std::string_view label, uint32_t mainSize,
                            uint32_t upperBytes);

}  // namespace tarsa::sim
