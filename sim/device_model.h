// The seam between the simulator's transport and a device model. A model is a
// byte-stream state machine: the transport hands it the bytes the host sent,
// the model cuts them into commands (how depends on its state: lines ending in
// a carriage return for application firmware, single characters for a loader
// that waits for a host) and executes them one at a time.
//
// Cutting and executing are separate steps so that the fault switches can
// decide per command whether the device executes it at all (a silent or
// rejecting device does not). Models never touch file descriptors or threads;
// the transport calls them under its lock.
#pragma once

#include <cstdint>
#include <string>

namespace tarsa::sim {

// The device's normal answer to one command.
struct Answer {
    std::string bytes;  // sent as they are; may be empty (no answer)
    int workMs = 0;     // device work time before the first byte goes out
};

class DeviceModel {
  public:
    virtual ~DeviceModel() = default;
    // Moves the next complete command from the front of `input` into `command`
    // (without its terminator). Bytes the device would never see as part of a
    // command are dropped from `input`. False when no complete command is there.
    virtual bool TakeCommand(std::string& input, std::string& command, uint64_t nowMs) = 0;
    // Executes one command taken by TakeCommand and returns the answer.
    virtual Answer Execute(const std::string& command, uint64_t nowMs) = 0;
    // The baud rate the device's serial port runs at in its current state.
    virtual int LineBaud() const = 0;
};

}  // namespace tarsa::sim
