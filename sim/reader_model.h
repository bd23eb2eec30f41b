// A simulated reader: the Handra ("hd") or the Terrel Comm Device ("tcd"),
// with a digital sensor on its SDI-12 bus.
//
// The reader has three modes, switched by single steering characters that act
// the moment they arrive (a partial command line before them is dropped) and
// are never answered:
//   "[" SDI-12 pass-through: "|" sends a break on the bus, every other byte
//       goes out on the bus; the sensor's answers come back unchanged;
//   "]" loader bridge: every byte goes to the sensor's loader line unchanged
//       (the "P" greeting included) and the loader's answers come back;
//       while no loader runs there (the sensor runs its application, or
//       there is no sensor) the bridge answers a carriage return with "$",
//       as a loader waiting for a host does, and drops every other byte;
//   grave accent: back to the reader's own text commands.
// In text-command mode the reader answers "get -hver" and "get -batt"
// itself; every other line goes to the reader's own firmware, the device
// table's row for its name ("get -ver", its loader, ...).
//
// The model knows nothing about pty, threads or fault switches; the
// transport applies those to each command this model cuts (a text line, an
// SDI-12 command up to its "!", or a loader command).
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "sim/device.h"
#include "sim/device_model.h"
#include "sim/sdi12_sensor.h"

namespace tarsa::sim {

class ReaderModel : public DeviceModel {
  public:
    enum class Mode { Commands, Sdi12, Bridge };

    // Null when `name` is not a reader ("hd", "tcd") of the device table.
    static std::unique_ptr<ReaderModel> Create(std::string_view name, const DeviceConfig& config);

    bool TakeCommand(std::string& input, std::string& command, uint64_t nowMs) override;
    Answer Execute(const std::string& command, uint64_t nowMs) override;
    int LineBaud() const override;

    Mode CurrentMode() const { return mode_; }
    Sdi12Sensor* Sensor() { return sensor_.get(); }  // null when the bus is empty
    // The device whose loader and flash the simulator shows: the sensor's when
    // there is one, else the reader's own.
    Device& LoaderDevice();
    Device& OwnDevice() { return *own_; }  // the reader's own firmware

    // `kind`: the device table's row for this reader (its own firmware).
    ReaderModel(const DeviceKind& kind, const DeviceConfig& config);

  private:
    void Steer(char c);

    ReaderConfig reader_;
    std::unique_ptr<Device> own_;
    std::unique_ptr<Sdi12Sensor> sensor_;
    Mode mode_ = Mode::Commands;
    Mode taken_ = Mode::Commands;  // mode in which the last command was cut
    std::string busLine_;          // SDI-12 characters since the last break or "!"
    bool busOverflow_ = false;
    std::string bridgeInput_;       // bytes on the sensor's loader line
    bool bridgeOwnAnswer_ = false;  // the last bridge command is the bridge's own
};

// The device table's rows that run as readers.
inline constexpr const char* kReaderNames[] = {"hd", "tcd"};

}  // namespace tarsa::sim
