// The "zl4" device: a Zl4 radio modem on the host's serial line and the data
// loggers in radio reach of it.
//
// In data mode every line the host sends goes over the radio to the loggers
// whose own modem is on the modem's channel and sub-channel; their answers
// come back after the radio's latency, in station order. "+++" puts the modem
// into AT command mode (radio_modem.h), where nothing reaches the radio.
//
// A radio logger sleeps. It wakes after hearing `wakeCarriageReturns`
// consecutive empty lines (a wake sequence) and stays awake for `awakeMs`
// after the last line it heard. Awake and not logged in, it answers only
// "query" (its name and a carriage return) and "login NAME" with its own
// name ("\rOK\r>"); everything else gets no answer. Logged in, it is the
// ordinary logger of its model. "logout", or a login for another name, ends
// its session without an answer and puts it back to sleep.
//
// The loggers are ordinary Device objects; this file only decides who hears
// what. It knows nothing about pty, threads or the transport's switches.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim/device.h"
#include "sim/device_model.h"
#include "sim/radio_modem.h"
#include "sim/simulator.h"

namespace tarsa::sim {

class RadioLink : public DeviceModel {
  public:
    explicit RadioLink(const DeviceConfig& config);

    bool TakeCommand(std::string& input, std::string& command, uint64_t nowMs) override;
    Answer Execute(const std::string& command, uint64_t nowMs) override;
    int LineBaud() const override { return baud_; }

    // False when a station's model is unknown or its configuration refused.
    bool ConfigOk() const { return configOk_; }
    std::map<std::string, std::string> Settings() const;
    std::size_t StationCount() const { return stations_.size(); }
    std::map<std::string, std::string> StationSettings(std::size_t n, uint64_t nowMs) const;

  private:
    struct Station {
        std::unique_ptr<Device> device;
        int wakeCarriageReturns = 20;
        int awakeMs = 30000;
        int emptyRun = 0;           // consecutive empty lines heard
        uint64_t awakeUntilMs = 0;  // asleep from then on
        bool loggedIn = false;
    };

    Answer Hear(Station& station, const std::string& line, uint64_t nowMs);

    Zl4Modem modem_;
    int baud_ = 9600;
    int latencyMs_ = 0;
    bool configOk_ = true;
    bool lastWasEscape_ = false;
    bool lastForModem_ = false;
    std::vector<Station> stations_;
};

}  // namespace tarsa::sim
