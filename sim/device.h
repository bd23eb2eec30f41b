// A simulated instrument: its application firmware's text command interface,
// its bootstrap loader and its flash.
//
// The application firmware reads lines ending in a carriage return (a line
// feed right after it is ignored) and answers "\r" + text + "\r>". Which
// commands it knows is data: a table from command word to handler, one table
// per device kind, so that more devices and commands are rows, not code; a
// data logger's lines go to its model (logger_models.h) and a text-command
// instrument's to its model (instrument_models.h), themselves tables.
// Unknown command words are answered "Unsupported", known words with
// arguments they do not take "ERROR", an empty line with the bare prompt.
//
// "boot QUAB" makes the application hand over to the loader, which first
// waits for a host (a carriage return gets "$", "P" gets "#"), then takes
// framed commands: command letter, payload, ".", four upper-case hex digits of
// the checksum (46 + letter + payload characters as signed bytes, modulo
// 65535), carriage return. Answers: "+\r" accepted ("+%d+\r" for "g", a bare
// "+" for "V"), "-\r" for a bad checksum or a refused operation, "?\r" for an
// empty line, a line that is not a frame, or an unknown command letter.
// After "V" (and after a power loss) the device starts again from flash: the
// application when the reset vector is set and the identity block is found,
// otherwise the loader, waiting for a host.
//
// The device knows nothing about pty, threads or the transport's fault
// switches; the transport (simulator.cpp) applies those around
// TakeCommand/Execute. The loader's own faults (a refused block, a power
// loss) are here because they depend on the loader's state.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "sim/device_model.h"
#include "sim/flash.h"
#include "sim/instrument_models.h"
#include "sim/logger_models.h"
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

// A device kind: the model name, the command table of its application
// firmware, or the logger model and/or instrument model that answer its
// application-firmware lines (the instrument model first, when both).
struct DeviceKind {
    const char* name;  // lower-case catalogue match word, e.g. "talox"
    const CommandEntry* commands;
    std::size_t commandCount;
    const LoggerModel* logger = nullptr;
    const InstrumentModel* instrument = nullptr;
};

// The kinds this simulator has; FindDeviceKind returns null for unknown names.
const DeviceKind* DeviceKinds(std::size_t& count);
const DeviceKind* FindDeviceKind(std::string_view name);

// Longest command line the application firmware keeps; longer lines are
// answered "ERROR" when their carriage return arrives.
inline constexpr std::size_t kAppLineCapacity = 256;
// Longest frame the loader keeps: letter, 512 payload characters, "." and four
// checksum digits. Longer lines are answered "-\r".
inline constexpr std::size_t kLoaderLineCapacity = 518;

enum class DeviceState { Application, LoaderWaiting, LoaderActive };

// "\r" + text + "\r>": the answer of a device that executed a command.
Answer Say(std::string_view text);

// "boot QUAB" (starts the loader) and "post" / "post -init" (the flash check),
// shared by every application firmware.
Answer AppBootCommand(Device& device, std::string_view args);
Answer AppPostCommand(Device& device, std::string_view args);

class Device : public DeviceModel {
  public:
    Device(const DeviceKind& kind, DeviceConfig config);

    bool TakeCommand(std::string& input, std::string& command, uint64_t nowMs) override;
    Answer Execute(const std::string& command, uint64_t nowMs) override;
    int LineBaud() const override;

    const DeviceConfig& Config() const { return config_; }
    DeviceState State() const { return state_; }
    const Flash& Memory() const { return flash_; }
    int BlocksWritten() const { return blocksWritten_; }
    // What "get -ver" answers now.
    const std::string& Identity() const { return identity_; }
    // The running application found a matching integrity word at start-up.
    bool CodeGood() const { return codeGood_; }
    // The data logger's state (its model is null for other devices).
    LoggerState& Logger() { return logger_; }
    const LoggerState& Logger() const { return logger_; }
    // The text-command instrument's state (its model is null for other devices).
    InstrumentState& Instrument() { return instrument_; }
    const InstrumentState& Instrument() const { return instrument_; }
    // Arrival times (monotonic ms) of the characters of the application line
    // taken last, without its carriage return.
    const std::vector<uint64_t>& LastLineArrivals() const { return lineArrivals_; }
    // False when the configuration asked for something the device refuses.
    bool ConfigOk() const { return configOk_; }

    // Application side of "boot QUAB": hands over to the loader.
    Answer EnterLoader();

    void SetRefuseWrite(int n) { refuseWriteIn_ = n > 0 ? n : 0; }
    void SetRefuseEvery(int n) {
        refuseEvery_ = n > 0 ? n : 0;
        writesSeen_ = 0;
    }
    // The power fails now: the device hears nothing for `offMs`, then runs
    // again what it ran (application firmware), or its loader waiting for a
    // host (when the loader was running).
    void PowerLoss(uint64_t nowMs, uint64_t offMs);
    // The power comes back now (the device is deaf no longer).
    void PowerOn(uint64_t nowMs) { deafUntilMs_ = std::min(deafUntilMs_, nowMs); }
    void SetPowerLossAfterBlocks(int n) { powerLossIn_ = n > 0 ? n : 0; }
    void SetEraseMs(int ms) { config_.eraseMs = ms > 0 ? ms : 0; }
    void SetProgramMs(int ms) { config_.programMs = ms > 0 ? ms : 0; }

  private:
    bool TakeLine(std::string& input, std::string& command, std::size_t capacity);
    Answer ExecuteApplication(const std::string& command, uint64_t nowMs);
    Answer ExecuteFrame(const std::string& frame, uint64_t nowMs);
    Answer Write(const std::string& payload, uint64_t nowMs);
    // Starts again from flash after `deafMs`; `toLoader` forces the loader.
    void Restart(uint64_t nowMs, int deafMs, bool toLoader);

    const DeviceKind& kind_;
    DeviceConfig config_;
    Flash flash_;
    DeviceState state_ = DeviceState::Application;
    std::string identity_;
    bool codeGood_ = true;
    bool lineOverflow_ = false;
    uint64_t deafUntilMs_ = 0;
    uint32_t address_ = 0;  // where the next "W" block goes
    int refuseWriteIn_ = 0;
    int refuseEvery_ = 0;  // refuse every n-th well-formed "W"
    int writesSeen_ = 0;   // well-formed "W" since SetRefuseEvery
    int powerLossIn_ = 0;
    int blocksWritten_ = 0;
    LoggerState logger_;
    InstrumentState instrument_;
    std::vector<uint64_t> arrivals_;      // arrival time of each byte not yet taken
    std::vector<uint64_t> lineArrivals_;  // of the characters of the last line taken
    bool configOk_ = true;
};

}  // namespace tarsa::sim
