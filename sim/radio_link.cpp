// Routing of the host's bytes through the simulated Zl4 modem to the radio
// loggers, and the loggers' sleep, wake and login rules.
#include "sim/radio_link.h"

#include <algorithm>
#include <cstdio>

namespace tarsa::sim {

RadioLink::RadioLink(const DeviceConfig& config)
    : baud_(config.appBaud), latencyMs_(config.radioLatencyMs > 0 ? config.radioLatencyMs : 0) {
    modem_.channel = modem_.savedChannel = config.radioChannel;
    modem_.subChannel = modem_.savedSubChannel = config.radioSubChannel;
    modem_.version = config.radioVersion;
    for (const RadioStation& s : config.stations) {
        const DeviceKind* kind = FindDeviceKind(s.device);
        if (kind == nullptr || kind->logger == nullptr) {
            configOk_ = false;
            continue;
        }
        DeviceConfig stationConfig = s.config;
        stationConfig.radioModem = true;
        Station station;
        station.device = std::make_unique<Device>(*kind, stationConfig);
        configOk_ = configOk_ && station.device->ConfigOk();
        station.wakeCarriageReturns = stationConfig.wakeCarriageReturns;
        station.awakeMs = stationConfig.awakeMs;
        stations_.push_back(std::move(station));
    }
}

bool RadioLink::TakeCommand(std::string& input, std::string& command, uint64_t nowMs) {
    Zl4Input got = Zl4Take(modem_, input, command, nowMs);
    if (got == Zl4Input::None) return false;
    lastWasEscape_ = got == Zl4Input::Escape;
    lastForModem_ = lastWasEscape_ || modem_.commandMode;
    if (lastWasEscape_) command = "+++";
    return true;
}

Answer RadioLink::Execute(const std::string& command, uint64_t nowMs) {
    if (lastWasEscape_) return Answer{Zl4Escape(modem_, nowMs), 0};
    if (lastForModem_) return Answer{Zl4Command(modem_, command, nowMs), 0};
    Answer answers;
    for (Station& station : stations_) {
        Answer heard = Hear(station, command, nowMs);
        answers.bytes += heard.bytes;
        answers.workMs = std::max(answers.workMs, heard.workMs);
    }
    if (!answers.bytes.empty()) answers.workMs += latencyMs_;
    return answers;
}

Answer RadioLink::Hear(Station& s, const std::string& line, uint64_t nowMs) {
    const Zl4Modem& own = s.device->Logger().modem;
    if (own.channel != modem_.channel || own.subChannel != modem_.subChannel) return {};
    bool awake = nowMs < s.awakeUntilMs;
    if (!awake) s.loggedIn = false;  // a session ends when the logger falls asleep
    if (line.empty()) {
        ++s.emptyRun;
        if (!awake && s.emptyRun < s.wakeCarriageReturns) return {};
    } else {
        s.emptyRun = 0;
        if (!awake) return {};
    }
    s.awakeUntilMs = nowMs + static_cast<uint64_t>(s.awakeMs > 0 ? s.awakeMs : 0);

    const std::string& name = s.device->Logger().values["i"];
    if (line == "logout" || (line.rfind("login ", 0) == 0 && line.substr(6) != name)) {
        if (s.loggedIn) {
            s.loggedIn = false;
            s.awakeUntilMs = 0;
        }
        return {};
    }
    if (line == "login " + name) {
        s.loggedIn = true;
        return Answer{"\rOK\r>", 0};
    }
    if (line == "query") return Answer{name + "\r", 0};
    if (!s.loggedIn) return {};
    return s.device->Execute(line, nowMs);
}

std::map<std::string, std::string> RadioLink::Settings() const {
    char text[16];
    std::map<std::string, std::string> out;
    std::snprintf(text, sizeof text, "%X", modem_.channel);
    out["rch"] = text;
    std::snprintf(text, sizeof text, "%X", modem_.subChannel);
    out["rsch"] = text;
    std::snprintf(text, sizeof text, "%X", modem_.savedChannel);
    out["saved_rch"] = text;
    std::snprintf(text, sizeof text, "%X", modem_.savedSubChannel);
    out["saved_rsch"] = text;
    out["rver"] = modem_.version;
    out["mode"] = modem_.commandMode ? "command" : "data";
    return out;
}

std::map<std::string, std::string> RadioLink::StationSettings(std::size_t n, uint64_t nowMs) const {
    if (n >= stations_.size()) return {};
    return LoggerSettings(stations_[n].device->Logger(), nowMs);
}

}  // namespace tarsa::sim
