// What tarsa-update needs of the system beyond the core's platform files:
// terminals, Ctrl-C, the beep, the advice on a port this user may not open,
// and the simulated device of --simulate. One file per platform
// (cli_platform_posix.cpp, cli_platform_win32.cpp).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace tarsa::cli {

bool StdinIsTerminal();
bool StdoutIsTerminal();

// The information sound; `out` is the terminal the program writes to.
void InformationBeep(FILE* out);

// Counts Ctrl-C presses from CatchInterrupts(true) until CatchInterrupts(false),
// which restores what was there before.
void CatchInterrupts(bool on);
int InterruptCount();

// Blocks up to `ms`, returning early when Ctrl-C is pressed.
void WaitForInterrupt(uint32_t ms);

// Prints how to get access to `devicePath` when this user may not open it.
void ExplainPortAccess(const char* devicePath);

// The simulated device of --simulate, on a port the program can open.
class SimulatedDevice {
  public:
    virtual ~SimulatedDevice() = default;
    virtual std::string PortPath() const = 0;
};

// Starts the `n`-th (from 1) demonstration device: a Talox 2.10 with a name
// and serial number of its own, or (`sensorVariant`) a Handra with a Skyra 61
// on its bus; `wireTime` paces it at 9600 baud. `shown` names it for the
// user. Null with `error` set when the system cannot host one.
std::unique_ptr<SimulatedDevice> StartDemoDevice(bool sensorVariant, bool wireTime, int n,
                                                 std::string& shown, std::string& error);

}  // namespace tarsa::cli
