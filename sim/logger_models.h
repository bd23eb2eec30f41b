// The simulated data loggers: which models exist, which settings each model
// has at which firmware version, and the application firmware's answers to
// "get", "set", "show", "hertz", "time", "yes", "term", "query", "login" and
// "logout".
//
// Everything a model is lies in tables (logger_models.cpp): a row per model
// (model word, default version, base feature bits and the versions from which
// more bits come, the radio and cellular hardware it always has) and a row per
// setting (option word, value type, range or length, the feature bit that
// makes it exist, hardware it needs). A device works out its feature bits
// from its model and the version it runs now, so a firmware update that
// changes the version changes its command set.
//
// The settings are kept as the text the device prints for them; "set" checks
// and normalises a value before it is stored. The clock runs from a base
// value set at a monotonic instant. The logger's own radio modem (when it has
// one) is a Zl4 modem model reached through "get -rch"-style commands and,
// on old firmware, through "term" pass-through.
//
// This file knows nothing about pty, threads or fault switches, and nothing
// about the loader: Device (device.h) runs the loader and calls in here for
// application-firmware lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "sim/device_model.h"
#include "sim/radio_modem.h"

namespace tarsa::sim {

class Device;
struct DeviceConfig;
struct DeviceKind;
struct LoggerModel;

// The running state of a logger's application firmware.
struct LoggerState {
    const LoggerModel* model = nullptr;
    std::map<std::string, std::string> values;  // setting word -> the text "get" prints
    int64_t clockBase = 0;                      // seconds since 2000-01-01 at clockBaseMs
    uint64_t clockBaseMs = 0;                   // monotonic ms when clockBase was set
    int lineBaud = 9600;                        // "set -baud" changes it
    int resets = 0;                             // restarts since the factory
    int storedRecords = 0;                      // measurements kept; "yes" erases them
    bool radioModem = false;                    // a Zl4 radio modem is fitted
    bool cellular = false;                      // a cellular modem is fitted
    bool brokenDataFlash = false;               // "yes" fails
    int eraseDataMs = 0;                        // work time of "yes"
    bool terminal = false;                      // old firmware: "term" pass-through to the modem
    bool terminalEscape = false;                // the input taken last in "term" was "+++"
    Zl4Modem modem;                             // the fitted radio modem
};

// Sets up a logger of the model `modelName` from `config`: factory defaults,
// then the configured values. False when the model is unknown or a configured
// value is unknown or out of range (the device would refuse it).
bool LoggerInit(LoggerState& state, std::string_view modelName, const DeviceConfig& config,
                uint64_t nowMs);

// A firmware update: every setting back to its factory default, except the
// serial number and what lives in the radio modem; the line speed is the
// configured one again and the reset counter counts one more.
void LoggerFactoryReset(LoggerState& state, const DeviceConfig& config, uint64_t nowMs);

// Executes one application-firmware line (without its carriage return).
Answer LoggerExecute(Device& device, const std::string& line, uint64_t nowMs);

// The current settings as the device prints them, plus "clock" (seconds since
// 2000), "baud", "rch", "rsch" and "rver" (when a radio modem is fitted).
std::map<std::string, std::string> LoggerSettings(const LoggerState& state, uint64_t nowMs);

// The device kinds of the logger models, one per model.
const DeviceKind* LoggerKinds(std::size_t& count);

// The default identity ("Talox 2.29") of a model, empty for an unknown one.
std::string LoggerDefaultIdentity(std::string_view modelName);

// The model word as the device prints it ("Talox", "BR"), empty when unknown.
std::string LoggerModelWord(std::string_view modelName);

// Feature bits of a model at a version (major * 100 + hundredths).
uint32_t LoggerFeatures(const LoggerModel& model, int version);

// Old firmware: no "get", identity only through "show".
bool LoggerOldFirmware(const LoggerModel& model, int version);

// Version number of an identity "Model X.YZ" (X*100 + Y*10 + Z), -1 when unreadable.
int IdentityVersion(std::string_view identity);

// Calendar helpers: seconds since 2000-01-01 00:00:00 without any time zone.
int64_t SecondsSince2000(int year, int month, int day, int hour, int minute, int second);
void CalendarFromSeconds(int64_t seconds, int& year, int& month, int& day, int& hour, int& minute,
                         int& second);

}  // namespace tarsa::sim
