// The simulated text-command instruments: which models exist, which settings
// each has from which firmware version, their record lists, login, battery,
// clock and data erase, and the application firmware's answers to "get",
// "set", "reset", "login", "logout", "yes" and "query".
//
// Everything a model is lies in tables (instrument_models.cpp): a row per
// model (device name, model word, default version, type code, the options it
// has and the versions from which more come, which extra commands it has, its
// loader memory map and line speed) and a row per option (wire word, value
// shape, length or range, factory value). Settings are kept as the text the
// device prints for them; "set" checks a value before it is stored.
//
// Two readers ("hd", "tcd") are data loggers and instruments at once: their
// logger row (logger_models.h) answers everything their instrument row does
// not know, so an instrument row for them only adds commands.
//
// This file knows nothing about pty, threads, fault switches or the loader:
// Device (device.h) runs the loader and calls in here for application lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "sim/device_model.h"
#include "sim/flash.h"

namespace tarsa::sim {

class Device;
struct DeviceConfig;
struct InstrumentModel;

// The access code that "login *CODE" must carry.
inline constexpr std::string_view kInstrumentAccessCode = "5738";

// The running state of an instrument's application firmware.
struct InstrumentState {
    const InstrumentModel* model = nullptr;
    std::map<std::string, std::string> values;  // option word -> stored text
    std::vector<std::string> equations;         // "eqn" records by number
    std::vector<std::string> users;             // "user" records by number
    int64_t clockBase = 0;                      // seconds since 2000-01-01 at clockBaseMs
    uint64_t clockBaseMs = 0;                   // monotonic ms when clockBase was set
    bool loggedIn = false;                      // "login *CODE" accepted since the last start
    int loginTypingMs = 0;                      // least gap between typed login characters
    int storedRecords = 0;                      // measurements kept; "yes" erases them
    bool brokenDataFlash = false;               // "yes" fails
    int eraseDataMs = 0;                        // work time of "yes"
    int resets = 0;                             // restarts from flash since the factory
};

// Sets up an instrument of `model` from `config`: factory values, then the
// configured values this model knows. Words the model does not know are left
// in `leftover` (a reader's logger row takes them). False when a value of a
// known word is refused.
bool InstrumentInit(InstrumentState& state, const InstrumentModel& model,
                    const DeviceConfig& config, std::map<std::string, std::string>& leftover,
                    uint64_t nowMs);

// A firmware update: factory values except the serial number, record lists
// empty, logged out, clock at 2000-01-01 00:00:00, one reset more.
void InstrumentFactoryReset(InstrumentState& state, uint64_t nowMs);

// Executes one application line. `handled` is false when the model leaves the
// line to the device's logger row (only for models that have one).
Answer InstrumentExecute(Device& device, InstrumentState& state, const std::string& line,
                         uint64_t nowMs, bool& handled);

// The current values as "get" prints them, plus "clock", "records",
// "resets" and "login" ("1" when logged in).
std::map<std::string, std::string> InstrumentSettings(const InstrumentState& state, uint64_t nowMs);

// The model of a device name ("h8"), null when there is none.
const InstrumentModel* FindInstrumentModel(std::string_view name);
// The i-th row of the model table (in the order of the type codes), null past its end.
const InstrumentModel* InstrumentModelAt(std::size_t i);
const char* InstrumentName(const InstrumentModel& model);  // its device name
// True when the model is also a logger row's reader ("hd", "tcd").
bool InstrumentHasLoggerRow(const InstrumentModel& model);

// Identity ("H8 2.10"), memory map and loader speed of a model.
std::string InstrumentDefaultIdentity(const InstrumentModel& model);
FlashMap InstrumentFlashMap(const InstrumentModel& model);
int InstrumentLoaderBaud(const InstrumentModel& model);

}  // namespace tarsa::sim
