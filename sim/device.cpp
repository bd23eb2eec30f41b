// The application firmware's line handling and the command tables of the
// device kinds. Handlers only build answers and change the device's state;
// timing and faults belong to the transport.
#include "sim/device.h"

#include <iterator>

namespace tarsa::sim {

namespace {

Answer GetCommand(Device& device, std::string_view args) {
    if (args == "-ver") return Say(device.Identity());
    return Say("ERROR");
}

// Application firmware of the data loggers of the Talox family.
constexpr CommandEntry kLoggerCommands[] = {
    {"get", GetCommand},
};

constexpr DeviceKind kKinds[] = {
    {"talox", kLoggerCommands, std::size(kLoggerCommands)},
};

}  // namespace

const DeviceKind* DeviceKinds(std::size_t& count) {
    count = std::size(kKinds);
    return kKinds;
}

const DeviceKind* FindDeviceKind(std::string_view name) {
    for (const DeviceKind& kind : kKinds) {
        if (name == kind.name) return &kind;
    }
    return nullptr;
}

Answer Say(std::string_view text) {
    Answer answer;
    answer.bytes.reserve(text.size() + 3);
    answer.bytes += '\r';
    answer.bytes += text;
    answer.bytes += "\r>";
    return answer;
}

Device::Device(const DeviceKind& kind, DeviceConfig config)
    : kind_(kind), config_(std::move(config)), identity_(config_.identity) {}

int Device::LineBaud() const {
    return config_.appBaud;
}

bool Device::TakeCommand(std::string& input, std::string& command, uint64_t /*nowMs*/) {
    // A line feed that follows a carriage return belongs to the previous line.
    while (!input.empty() && input.front() == '\n') input.erase(0, 1);
    std::size_t cr = input.find('\r');
    if (cr == std::string::npos) {
        if (input.size() > kAppLineCapacity) {
            lineOverflow_ = true;
            input.clear();
        }
        return false;
    }
    if (lineOverflow_ || cr > kAppLineCapacity) {
        // The device's line buffer ran over: it answers the rest of the line
        // as a malformed command.
        lineOverflow_ = false;
        command.assign(kAppLineCapacity + 1, '\x01');
    } else {
        command.assign(input, 0, cr);
    }
    input.erase(0, cr + 1);
    return true;
}

Answer Device::Execute(const std::string& command, uint64_t /*nowMs*/) {
    if (command.empty()) return Say("");
    if (command.size() > kAppLineCapacity) return Say("ERROR");
    std::string_view line(command);
    std::size_t blank = line.find(' ');
    std::string_view word = line.substr(0, blank);
    std::string_view args =
        blank == std::string_view::npos ? std::string_view() : line.substr(blank + 1);
    for (std::size_t i = 0; i < kind_.commandCount; ++i) {
        if (word == kind_.commands[i].word) return kind_.commands[i].handler(*this, args);
    }
    return Say("Unsupported");
}

}  // namespace tarsa::sim
