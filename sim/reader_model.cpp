// The reader's modes and steering characters, its own text commands, the
// SDI-12 bus with its break, and the bridge to the sensor's loader line
// (which answers a carriage return itself while no loader runs there).
#include "sim/reader_model.h"

namespace tarsa::sim {

namespace {

// Longest SDI-12 command the reader passes on ("?X5", 512 characters, "!"
// fit); longer ones are lost on the bus.
constexpr std::size_t kBusLineCapacity = 600;

constexpr std::string_view kSteering = "[]`";

// What the bridge answers a carriage return while no loader listens behind
// it: the same character as a loader that waits for a host.
constexpr char kBridgeReady = '$';

}  // namespace

std::unique_ptr<ReaderModel> ReaderModel::Create(std::string_view name,
                                                 const DeviceConfig& config) {
    bool reader = false;
    for (const char* known : kReaderNames) reader = reader || name == known;
    const DeviceKind* kind = reader ? FindDeviceKind(name) : nullptr;
    if (kind == nullptr) return nullptr;
    auto model = std::make_unique<ReaderModel>(*kind, config);
    if (!model->own_->ConfigOk()) return nullptr;
    return model;
}

ReaderModel::ReaderModel(const DeviceKind& kind, const DeviceConfig& config)
    : reader_(config.reader), own_(std::make_unique<Device>(kind, config)) {
    if (reader_.sensor.present) sensor_ = std::make_unique<Sdi12Sensor>(reader_.sensor, config);
}

Device& ReaderModel::LoaderDevice() {
    return sensor_ ? sensor_->Firmware() : *own_;
}

int ReaderModel::LineBaud() const {
    return own_->LineBaud();
}

void ReaderModel::Steer(char c) {
    switch (c) {
        case '[':
            mode_ = Mode::Sdi12;
            busLine_.clear();
            busOverflow_ = false;
            break;
        case ']':
            mode_ = Mode::Bridge;
            break;
        default:
            mode_ = Mode::Commands;
            break;
    }
}

bool ReaderModel::TakeCommand(std::string& input, std::string& command, uint64_t nowMs) {
    for (;;) {
        switch (mode_) {
            case Mode::Commands: {
                taken_ = Mode::Commands;
                // The reader's own loader (when its firmware has one) hears
                // every byte while it runs.
                if (own_->State() != DeviceState::Application) {
                    return own_->TakeCommand(input, command, nowMs);
                }
                std::size_t steer = input.find_first_of(kSteering);
                std::size_t cr = input.find('\r');
                if (steer == std::string::npos || (cr != std::string::npos && cr < steer)) {
                    return own_->TakeCommand(input, command, nowMs);
                }
                char c = input[steer];
                input.erase(0, steer + 1);
                Steer(c);
                break;
            }
            case Mode::Sdi12: {
                taken_ = Mode::Sdi12;
                std::size_t i = 0;
                bool steered = false;
                for (; i < input.size() && !steered; ++i) {
                    char c = input[i];
                    if (kSteering.find(c) != std::string_view::npos) {
                        Steer(c);
                        steered = true;
                    } else if (c == '|') {
                        busLine_.clear();
                        busOverflow_ = false;
                        if (sensor_) sensor_->Break(nowMs);
                    } else if (c == '!') {
                        command = busOverflow_ ? std::string() : busLine_ + '!';
                        busLine_.clear();
                        busOverflow_ = false;
                        input.erase(0, i + 1);
                        return true;
                    } else if (busLine_.size() < kBusLineCapacity) {
                        busLine_ += c;
                    } else {
                        busOverflow_ = true;
                    }
                }
                input.erase(0, i);
                if (!steered) return false;
                break;
            }
            case Mode::Bridge: {
                taken_ = Mode::Bridge;
                std::size_t steer = input.find_first_of(kSteering);
                std::size_t upto = steer == std::string::npos ? input.size() : steer;
                bridgeInput_.append(input, 0, upto);
                input.erase(0, upto);
                bridgeOwnAnswer_ = !sensor_ || !sensor_->InLoader();
                if (!bridgeOwnAnswer_) {
                    if (sensor_->TakeLoaderCommand(bridgeInput_, command, nowMs)) return true;
                } else {
                    // Nothing on the loader line takes bytes: the bridge
                    // itself answers a carriage return and drops the rest.
                    std::size_t cr = bridgeInput_.find('\r');
                    if (cr != std::string::npos) {
                        bridgeInput_.erase(0, cr + 1);
                        command = "\r";
                        return true;
                    }
                    bridgeInput_.clear();
                }
                if (input.empty()) return false;
                char c = input[0];
                input.erase(0, 1);
                Steer(c);
                break;
            }
        }
    }
}

Answer ReaderModel::Execute(const std::string& command, uint64_t nowMs) {
    switch (taken_) {
        case Mode::Sdi12:
            return sensor_ ? sensor_->Command(command, nowMs) : Answer{};
        case Mode::Bridge:
            if (bridgeOwnAnswer_) return Answer{std::string(1, kBridgeReady), 0};
            return sensor_->ExecuteLoader(command, nowMs);
        case Mode::Commands:
            break;
    }
    if (own_->State() == DeviceState::Application) {
        if (command == "get -hver") return Say(std::string(1, reader_.hardwareRevision));
        if (command == "get -batt") return Say(std::to_string(reader_.battery));
    }
    return own_->Execute(command, nowMs);
}

}  // namespace tarsa::sim
