// A simulated instrument: its application firmware's text command interface.
//
// The application firmware reads lines ending in a carriage return (a line
// feed right after it is ignored) and answers "\r" + text + "\r>". Which
// commands it knows is data: a table from command word to handler, one table
// per device kind, so that more devices and commands are rows, not code.
// Unknown command words are answered "Unsupported", known words with
// arguments they do not take "ERROR", an empty line with the bare prompt.
//
// The device knows nothing about pty, threads or fault switches; the
// transport (simulator.cpp) applies those around TakeCommand/Execute.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "sim/device_model.h"
#include "sim/simulator.h"

namespace tarsa::sim {

class Device;

// One row of a command table: the first word of the line and its handler,
// which receives the rest of the line after one blank.
using CommandHandler = Answer (*)(Device& device, std::string_view args);
struct CommandEntry {
    const char* word;
    CommandHandler handler;
};

// A device kind: the model name, the command table of its application firmware.
struct DeviceKind {
    const char* name;  // lower-case catalogue match word, e.g. "talox"
    const CommandEntry* commands;
    std::size_t commandCount;
};

// The kinds this simulator has; FindDeviceKind returns null for unknown names.
const DeviceKind* DeviceKinds(std::size_t& count);
const DeviceKind* FindDeviceKind(std::string_view name);

// Longest command line the application firmware keeps; longer lines are
// answered "ERROR" when their carriage return arrives.
inline constexpr std::size_t kAppLineCapacity = 256;

// "\r" + text + "\r>": the answer of a device that executed a command.
Answer Say(std::string_view text);

class Device : public DeviceModel {
  public:
    Device(const DeviceKind& kind, DeviceConfig config);

    bool TakeCommand(std::string& input, std::string& command, uint64_t nowMs) override;
    Answer Execute(const std::string& command, uint64_t nowMs) override;
    int LineBaud() const override;

    const DeviceConfig& Config() const { return config_; }
    // What "get -ver" answers now.
    const std::string& Identity() const { return identity_; }
    void SetIdentity(std::string identity) { identity_ = std::move(identity); }

  private:
    const DeviceKind& kind_;
    DeviceConfig config_;
    std::string identity_;
    bool lineOverflow_ = false;
};

}  // namespace tarsa::sim
