// The application firmware's line handling and command tables, the loader's
// greeting and framed commands, and restarts from flash. Handlers only build
// answers and change the device's state; timing and the transport's fault
// switches belong to simulator.cpp.
#include "sim/device.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iterator>

namespace tarsa::sim {

namespace {

// The word the application firmware wants before it starts its loader.
constexpr std::string_view kLoaderWord = "QUAB";

bool IsUpperHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Upper-case hex digits only, as the host formats addresses and checksums.
bool ParseUpperHex(std::string_view text, uint32_t& value) {
    if (text.empty() || text.size() > 8) return false;
    value = 0;
    for (char c : text) {
        if (!IsUpperHex(c)) return false;
        value = value * 16 + static_cast<uint32_t>(HexValue(c));
    }
    return true;
}

// Image text in word form: each four digits "cdab" are the bytes ab, cd.
// Digits of either case, as they come from a file.
bool ParseWords(std::string_view text, std::vector<uint8_t>& bytes) {
    if (text.empty() || text.size() % 4 != 0) return false;
    bytes.clear();
    for (std::size_t i = 0; i < text.size(); i += 4) {
        int d[4];
        for (int k = 0; k < 4; ++k) {
            d[k] = HexValue(text[i + k]);
            if (d[k] < 0) return false;
        }
        bytes.push_back(static_cast<uint8_t>(d[2] * 16 + d[3]));
        bytes.push_back(static_cast<uint8_t>(d[0] * 16 + d[1]));
    }
    return true;
}

uint64_t SteadyMs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

Answer Text(std::string text, int workMs = 0) {
    return Answer{std::move(text), workMs};
}

}  // namespace

// The logger kinds, each with the instrument row of the same name when there
// is one (the readers), then the instrument-only kinds.
const DeviceKind* DeviceKinds(std::size_t& count) {
    static const std::vector<DeviceKind> kinds = [] {
        std::vector<DeviceKind> all;
        std::size_t loggers = 0;
        const DeviceKind* loggerKinds = LoggerKinds(loggers);
        for (std::size_t i = 0; i < loggers; ++i) {
            DeviceKind kind = loggerKinds[i];
            kind.instrument = FindInstrumentModel(kind.name);
            all.push_back(kind);
        }
        for (std::size_t i = 0; const InstrumentModel* model = InstrumentModelAt(i); ++i) {
            if (InstrumentHasLoggerRow(*model)) continue;
            all.push_back({InstrumentName(*model), nullptr, 0, nullptr, model});
        }
        return all;
    }();
    count = kinds.size();
    return kinds.data();
}

const DeviceKind* FindDeviceKind(std::string_view name) {
    std::size_t count = 0;
    const DeviceKind* kinds = DeviceKinds(count);
    for (std::size_t i = 0; i < count; ++i) {
        if (name == kinds[i].name) return &kinds[i];
    }
    return nullptr;
}

Answer AppBootCommand(Device& device, std::string_view args) {
    if (args != kLoaderWord) return Say("ERROR");
    if (!device.Config().hasLoader) return Say("TarsaBSL MISSING");
    return device.EnterLoader();
}

// "post" and "post -init" report the start-up check of the flash contents.
Answer AppPostCommand(Device& device, std::string_view args) {
    if (!args.empty() && args != "-init") return Say("ERROR");
    return Say(device.CodeGood() ? "Code Good!" : "Code Corrupt!");
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
    : kind_(kind), config_(std::move(config)), identity_(config_.identity) {
    const InstrumentModel* instrument = kind_.instrument;
    // An instrument's loader has the memory map and speed of its type unless
    // the configuration names others.
    if (instrument != nullptr && config_.flash == FlashMap{}) {
        config_.flash = InstrumentFlashMap(*instrument);
    }
    if (config_.loaderBaud <= 0) {
        config_.loaderBaud = instrument != nullptr ? InstrumentLoaderBaud(*instrument) : 9600;
    }
    if (identity_.empty() && kind_.logger != nullptr) {
        identity_ = config_.version.empty() ? LoggerDefaultIdentity(kind_.name)
                                            : LoggerModelWord(kind_.name) + " " + config_.version;
    } else if (identity_.empty() && instrument != nullptr) {
        identity_ = InstrumentDefaultIdentity(*instrument);
        if (!config_.version.empty())
            identity_ = identity_.substr(0, identity_.find(' ') + 1) + config_.version;
    }
    // The instrument row takes the starting values it knows; a reader's logger
    // row takes the rest, and a plain instrument refuses them.
    std::map<std::string, std::string> leftover = config_.settings;
    if (instrument != nullptr) {
        configOk_ = IdentityVersion(identity_) >= 0 &&
                    InstrumentInit(instrument_, *instrument, config_, leftover, SteadyMs());
        if (kind_.logger == nullptr && !leftover.empty()) configOk_ = false;
    }
    if (kind_.logger != nullptr && configOk_) {
        DeviceConfig loggerConfig = config_;
        loggerConfig.settings = leftover;
        configOk_ = IdentityVersion(identity_) >= 0 &&
                    LoggerInit(logger_, kind_.name, loggerConfig, SteadyMs());
    }
    flash_ = FlashCreate(config_.flash);
    FlashInstallFactoryImage(flash_, identity_);
    if (config_.startInLoader) {
        for (uint32_t a = flash_.map.mainStart; a < flash_.map.memoryEnd; a += kMainSegmentSize) {
            FlashErase(flash_, a);
        }
        Restart(0, 0, true);
    }
}

int Device::LineBaud() const {
    if (state_ != DeviceState::Application) return config_.loaderBaud;
    return kind_.logger != nullptr ? logger_.lineBaud : config_.appBaud;
}

bool Device::TakeLine(std::string& input, std::string& command, std::size_t capacity) {
    // A line feed that follows a carriage return belongs to the previous line.
    while (!input.empty() && input.front() == '\n') input.erase(0, 1);
    std::size_t cr = input.find('\r');
    if (cr == std::string::npos) {
        if (input.size() > capacity) {
            lineOverflow_ = true;
            input.clear();
        }
        return false;
    }
    if (lineOverflow_ || cr > capacity) {
        // The line buffer ran over: the rest of the line is answered as a
        // malformed command.
        lineOverflow_ = false;
        command.assign(capacity + 1, '\x01');
    } else {
        command.assign(input, 0, cr);
    }
    input.erase(0, cr + 1);
    return true;
}

bool Device::TakeCommand(std::string& input, std::string& command, uint64_t nowMs) {
    if (nowMs < deafUntilMs_) {
        input.clear();  // restarting or without power: the bytes are lost
        return false;
    }
    switch (state_) {
        case DeviceState::Application: {
            if (logger_.terminal) {
                // "term": the bytes go to the logger's radio modem, which
                // also knows the escape "+++" without a line end.
                Zl4Input got = Zl4Take(logger_.modem, input, command, nowMs);
                logger_.terminalEscape = got == Zl4Input::Escape;
                if (got == Zl4Input::Escape) command = "+++";
                return got != Zl4Input::None;
            }
            // Bytes not seen before arrived now; the transport only appends.
            if (arrivals_.size() > input.size()) arrivals_.assign(input.size(), nowMs);
            arrivals_.resize(input.size(), nowMs);
            std::size_t before = input.size();
            bool taken = TakeLine(input, command, kAppLineCapacity);
            std::size_t removed = before - input.size();
            if (taken) {
                // The line's characters end right before its carriage return.
                lineArrivals_.clear();
                if (command.size() + 1 <= removed) {
                    auto end = arrivals_.begin() + static_cast<long>(removed - 1);
                    lineArrivals_.assign(end - static_cast<long>(command.size()), end);
                }
            }
            arrivals_.erase(arrivals_.begin(), arrivals_.begin() + static_cast<long>(std::min(
                                                                       removed, arrivals_.size())));
            return taken;
        }
        case DeviceState::LoaderActive:
            arrivals_.clear();
            return TakeLine(input, command, kLoaderLineCapacity);
        case DeviceState::LoaderWaiting:
            arrivals_.clear();
            // Waiting for a host, the loader reacts to single characters and
            // ignores everything else.
            while (!input.empty()) {
                char c = input.front();
                input.erase(0, 1);
                if (c == '\r' || c == 'P') {
                    command.assign(1, c);
                    return true;
                }
            }
            return false;
    }
    return false;
}

Answer Device::Execute(const std::string& command, uint64_t nowMs) {
    switch (state_) {
        case DeviceState::Application:
            return ExecuteApplication(command, nowMs);
        case DeviceState::LoaderWaiting:
            if (command == "P") {
                state_ = DeviceState::LoaderActive;
                lineOverflow_ = false;
                return Text("#");
            }
            return Text("$");
        case DeviceState::LoaderActive:
            return ExecuteFrame(command, nowMs);
    }
    return {};
}

Answer Device::ExecuteApplication(const std::string& command, uint64_t nowMs) {
    if (command.size() > kAppLineCapacity) return Say("ERROR");
    if (kind_.instrument != nullptr) {
        bool handled = false;
        Answer answer = InstrumentExecute(*this, instrument_, command, nowMs, handled);
        if (handled) return answer;
    }
    if (kind_.logger != nullptr) return LoggerExecute(*this, command, nowMs);
    if (command.empty()) return Say("");
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

Answer Device::EnterLoader() {
    state_ = DeviceState::LoaderWaiting;
    lineOverflow_ = false;
    address_ = 0;
    // The application hands over without a prompt of its own.
    return Text("\rOK\r");
}

Answer Device::ExecuteFrame(const std::string& frame, uint64_t nowMs) {
    if (frame.size() > kLoaderLineCapacity) return Text("-\r");
    std::size_t n = frame.size();
    uint32_t sent = 0;
    if (n < 6 || frame[n - 5] != '.' ||
        !ParseUpperHex(std::string_view(frame).substr(n - 4), sent)) {
        return Text("?\r");
    }
    char letter = frame[0];
    std::string_view payload = std::string_view(frame).substr(1, n - 6);
    int64_t sum = 46 + static_cast<signed char>(letter);
    for (char c : payload) sum += static_cast<signed char>(c);
    if (sum % 65535 != static_cast<int64_t>(sent)) return Text("-\r");

    uint32_t value = 0;
    bool address = (payload.size() == 4 || payload.size() == 5) && ParseUpperHex(payload, value);
    switch (letter) {
        case 'g': {
            if (!payload.empty()) return Text("-\r");
            char reply[24];
            std::snprintf(reply, sizeof reply, "+%d+\r", config_.loaderVersion);
            return Text(reply);
        }
        case '@':
            if (!address || value >= flash_.map.memoryEnd) return Text("-\r");
            address_ = value;
            return Text("+\r");
        case 'X':
            if (!address || FlashErase(flash_, value) != kFlashOk) return Text("-\r");
            return Text("+\r", config_.eraseMs);
        case 'W':
            return Write(std::string(payload), nowMs);
        case 'V': {
            std::vector<uint8_t> vectors;
            if (payload.size() != 4 * kVectorCount) return Text("-\r");
            for (char c : payload) {
                if (!IsUpperHex(c)) return Text("-\r");
            }
            ParseWords(payload, vectors);
            if (FlashProgram(flash_, kVectorAddress, vectors, true) != kFlashOk) {
                return Text("-\r");
            }
            Restart(nowMs, config_.programMs + config_.restartMs, false);
            return Text("+", config_.programMs);
        }
        default:
            return Text("?\r");
    }
}

Answer Device::Write(const std::string& payload, uint64_t nowMs) {
    std::vector<uint8_t> data;
    if (payload.size() > 512 || !ParseWords(payload, data)) return Text("-\r");
    if (refuseWriteIn_ > 0 && --refuseWriteIn_ == 0) return Text("-\r");
    if (refuseEvery_ > 0 && ++writesSeen_ % refuseEvery_ == 0) return Text("-\r");
    if (FlashProgram(flash_, address_, data, false) != kFlashOk) return Text("-\r");
    address_ += static_cast<uint32_t>(data.size());
    ++blocksWritten_;
    if (powerLossIn_ > 0 && --powerLossIn_ == 0) {
        // The block is in flash, its acknowledgement never goes out.
        Restart(nowMs, config_.programMs + config_.powerOffMs, true);
        return {};
    }
    return Text("+\r", config_.programMs);
}

void Device::PowerLoss(uint64_t nowMs, uint64_t offMs) {
    if (state_ != DeviceState::Application) {
        Restart(nowMs, 0, true);
    } else {
        // The application starts again from the same flash with the settings
        // it keeps; only what it was in the middle of is gone.
        lineOverflow_ = false;
    }
    deafUntilMs_ = std::max(deafUntilMs_, nowMs + offMs);
}

void Device::Restart(uint64_t nowMs, int deafMs, bool toLoader) {
    deafUntilMs_ = nowMs + static_cast<uint64_t>(deafMs > 0 ? deafMs : 0);
    lineOverflow_ = false;
    address_ = 0;
    FlashIdentity found = FlashIdentify(flash_);
    if (toLoader || FlashWord(flash_, kResetVector) == 0xFFFF || !found.marker) {
        state_ = DeviceState::LoaderWaiting;
        return;
    }
    state_ = DeviceState::Application;
    identity_ = found.label;
    codeGood_ = found.codeGood;
    // New firmware starts from its factory settings.
    if (kind_.logger != nullptr) LoggerFactoryReset(logger_, config_, nowMs);
    if (kind_.instrument != nullptr) InstrumentFactoryReset(instrument_, nowMs);
}

}  // namespace tarsa::sim
