// The transport of a simulated device: one thread per device that reads the
// host's bytes from the pty master, lets the device model cut and execute
// commands, applies the fault switches and writes the answers back when they
// are due. The thread blocks in poll() on the master and a wake-up eventfd
// (stop, vanish, changed switches); due times of delayed answers and of bytes
// on the emulated wire become poll time-outs, so nothing spins.
//
// All state is behind one mutex; the device model is only ever called with it
// held. The transport does not know any protocol: commands, answers and line
// speeds come from the model.
#include "sim/simulator.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <deque>
#include <mutex>
#include <thread>

#include "sim/device.h"
#include "sim/pty.h"
#include "sim/radio_link.h"
#include "sim/reader_model.h"

namespace tarsa::sim {

namespace {

using Clock = std::chrono::steady_clock;

// The device name of the radio modem with loggers behind it.
constexpr char kRadioModemName[] = "zl4";

// Baud rate assumed for wire time while the host has set none.
constexpr int kDefaultBaud = 9600;
// Emulated wire time is handed out in slices of about this length.
constexpr int kWireSliceUs = 5000;

// Bytes that a device at another line speed makes out of a byte: the
// receiving UART sees framing noise, never a carriage return.
char LineNoise(char c) {
    return static_cast<char>(0x80 | ((static_cast<unsigned char>(c) >> 1) ^ 0x2A));
}

// A garbled answer keeps its carriage returns and prompt but not its text.
char Garbled(char c) {
    if (c == '\r' || c == '>') return c;
    return static_cast<char>(static_cast<unsigned char>(c) ^ 0x80);
}

uint64_t NowMs() {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
            .count());
}

}  // namespace

Reply Reply::Normal() {
    return Reply{};
}
Reply Reply::Silent() {
    return Reply{Kind::Silent, {}};
}
Reply Reply::Reject(std::string text) {
    return Reply{Kind::Reject, std::move(text)};
}
Reply Reply::Echo() {
    return Reply{Kind::Echo, {}};
}
Reply Reply::BarePrompt() {
    return Reply{Kind::BarePrompt, {}};
}
Reply Reply::Raw(std::string bytes) {
    return Reply{Kind::Raw, std::move(bytes)};
}

struct Simulator::Impl {
    struct Chunk {
        Clock::time_point due;
        std::string bytes;
        int baud = 0;  // line speed the device sends these bytes at
    };

    PtyPair pty;
    int wakeFd = -1;
    std::thread thread;

    mutable std::mutex mu;
    std::unique_ptr<DeviceModel> model;  // what answers on the line
    Device* device = nullptr;            // the model when it is a device with flash
    Device* app = nullptr;               // the device whose application firmware answers
    RadioLink* radio = nullptr;          // the model when it is a radio modem
    ReaderModel* reader = nullptr;       // the model when it is a reader
    bool silent = false;
    bool echo = false;
    std::string reject;
    int delayMs = 0;
    bool garble = false;
    bool baudCheck = true;
    bool wireTime = false;
    std::deque<Reply> script;
    std::string received;
    std::atomic<uint64_t> sentBytes{0};  // bytes the device has put on the line
    int commands = 0;
    bool stopping = false;
    bool vanishing = false;
    bool cutArmed = false;
    bool cutDone = false;
    Cut cut;
    int cutCounted = 0;      // commands counted towards the armed cut
    int garbleEvery = 0;     // garble every n-th loader command's answer
    int loaderCommands = 0;  // loader commands since SetGarbleEveryFrame

    // Transport state, used by the thread under the lock.
    std::string pendingInput;    // bytes the device has heard but not yet taken
    std::deque<Chunk> rxWire;    // host bytes still travelling on the wire
    std::deque<Chunk> txQueue;   // answer bytes waiting for their time
    std::string txReady;         // due bytes the master has not accepted yet
    Clock::time_point rxFree{};  // the wire towards the device is busy until then
    Clock::time_point txFree{};  // the wire towards the host is busy until then

    ~Impl() {
        StopThread();
        PtyClose(pty);
        if (wakeFd >= 0) ::close(wakeFd);
    }

    void Wake() const {
        uint64_t one = 1;
        ssize_t r = ::write(wakeFd, &one, sizeof one);
        (void)r;  // a full counter already means "wake up"
    }

    void StopThread() {
        {
            std::lock_guard<std::mutex> lock(mu);
            stopping = true;
        }
        if (wakeFd >= 0) Wake();
        if (thread.joinable()) thread.join();
    }

    int HostBaud() const {
        int baud = PtyHostBaud(pty);
        return baud > 0 ? baud : kDefaultBaud;
    }

    std::chrono::microseconds ByteTime() const {
        return std::chrono::microseconds(10'000'000 / HostBaud());
    }

    bool LineSpeedMatches() const { return !baudCheck || PtyHostBaud(pty) == model->LineBaud(); }

    // Puts an answer on the wire towards the host, starting `delay` after the
    // wire is free. Whether the host's speed matches is judged when the bytes
    // are due, since the host may change its speed meanwhile.
    void ScheduleAnswer(std::string bytes, int delay, int baud, Clock::time_point now) {
        if (bytes.empty()) return;
        if (garble) std::transform(bytes.begin(), bytes.end(), bytes.begin(), Garbled);
        Clock::time_point start = std::max(now, txFree) + std::chrono::milliseconds(delay);
        if (!wireTime) {
            txQueue.push_back({start, std::move(bytes), baud});
            txFree = start;
            return;
        }
        auto byteTime = ByteTime();
        std::size_t slice = std::max<std::size_t>(1, kWireSliceUs / byteTime.count());
        Clock::time_point due = start;
        for (std::size_t pos = 0; pos < bytes.size(); pos += slice) {
            std::string piece = bytes.substr(pos, slice);
            due += byteTime * static_cast<int64_t>(piece.size());
            txQueue.push_back({due, std::move(piece), baud});
        }
        txFree = due;
    }

    // True when the armed cut falls on `command`.
    bool CutFallsOn(const std::string& command) {
        if (!cutArmed || command.rfind(cut.prefix, 0) != 0) return false;
        return ++cutCounted >= cut.nth;
    }

    // The cut happens: whatever the device was about to say is lost, then it
    // loses its power or its port vanishes.
    void CutNow() {
        cutArmed = false;
        cutDone = true;
        txQueue.clear();
        txReady.clear();
        pendingInput.clear();
        rxWire.clear();
        if (cut.kind == Cut::Kind::Vanish) {
            vanishing = true;
            Wake();  // the thread closes the pty before it waits again
        } else if (device) {
            constexpr uint64_t kUntilPowerOn = uint64_t{1} << 62;
            device->PowerLoss(NowMs(),
                              cut.offMs > 0 ? static_cast<uint64_t>(cut.offMs) : kUntilPowerOn);
        }
    }

    // True when this loader command's answer is to be garbled.
    bool GarbleInTurn() {
        if (garbleEvery <= 0 || !device || device->State() != DeviceState::LoaderActive) {
            return false;
        }
        return ++loaderCommands % garbleEvery == 0;
    }

    void HandleCommand(const std::string& command, Clock::time_point now) {
        ++commands;
        const bool cutHere = CutFallsOn(command);
        if (cutHere && !cut.afterExecute) {
            CutNow();
            return;
        }
        const bool garbleThis = GarbleInTurn();
        Reply reply;
        if (!script.empty()) {
            reply = std::move(script.front());
            script.pop_front();
        }
        if (reply.kind == Reply::Kind::Normal) {
            if (silent) {
                reply = Reply::Silent();
            } else if (echo) {
                reply = Reply::Echo();
            } else if (!reject.empty()) {
                reply = Reply::Reject(reject);
            }
        }
        int baud = model->LineBaud();
        switch (reply.kind) {
            case Reply::Kind::Normal: {
                Answer answer = model->Execute(command, NowMs());
                if (garbleThis) {
                    std::transform(answer.bytes.begin(), answer.bytes.end(), answer.bytes.begin(),
                                   Garbled);
                }
                ScheduleAnswer(std::move(answer.bytes), delayMs + answer.workMs, baud, now);
                break;
            }
            case Reply::Kind::Silent:
                break;
            case Reply::Kind::Reject:
                ScheduleAnswer(Say(reply.text).bytes, delayMs, baud, now);
                break;
            case Reply::Kind::Echo:
                ScheduleAnswer(command + "\r>", delayMs, baud, now);
                break;
            case Reply::Kind::BarePrompt:
                ScheduleAnswer("\r\r>", delayMs, baud, now);
                break;
            case Reply::Kind::Raw:
                ScheduleAnswer(reply.text, delayMs, baud, now);
                break;
        }
        if (cutHere) CutNow();
    }

    // Host bytes just read from the master.
    void Arrived(std::string bytes, Clock::time_point now) {
        received += bytes;
        if (!LineSpeedMatches()) {
            std::transform(bytes.begin(), bytes.end(), bytes.begin(), LineNoise);
        }
        if (!wireTime) {
            pendingInput += bytes;
            return;
        }
        rxFree = std::max(now, rxFree) + ByteTime() * static_cast<int64_t>(bytes.size());
        rxWire.push_back({rxFree, std::move(bytes)});
    }

    // Moves what is due along and returns the next due time (max() when none).
    Clock::time_point Advance(Clock::time_point now) {
        while (!rxWire.empty() && rxWire.front().due <= now) {
            pendingInput += rxWire.front().bytes;
            rxWire.pop_front();
        }
        std::string command;
        while (!vanishing && model->TakeCommand(pendingInput, command, NowMs())) {
            HandleCommand(command, now);
        }
        while (!txQueue.empty() && txQueue.front().due <= now) {
            std::string& bytes = txQueue.front().bytes;
            if (baudCheck && PtyHostBaud(pty) != txQueue.front().baud) {
                std::transform(bytes.begin(), bytes.end(), bytes.begin(), LineNoise);
            }
            txReady += bytes;
            txQueue.pop_front();
        }
        if (!txReady.empty() && pty.master >= 0) {
            ssize_t n = ::write(pty.master, txReady.data(), txReady.size());
            if (n > 0) {
                txReady.erase(0, static_cast<std::size_t>(n));
                sentBytes += static_cast<uint64_t>(n);
            }
        }
        Clock::time_point next = Clock::time_point::max();
        if (!rxWire.empty()) next = std::min(next, rxWire.front().due);
        if (!txQueue.empty()) next = std::min(next, txQueue.front().due);
        return next;
    }

    void Run() {
        bool masterDead = false;
        for (;;) {
            Clock::time_point next;
            bool wantWrite;
            {
                std::lock_guard<std::mutex> lock(mu);
                if (stopping) return;
                if (vanishing) {
                    PtyClose(pty);
                    return;
                }
                next = Advance(Clock::now());
                wantWrite = !txReady.empty();
            }
            int timeout = -1;
            if (next != Clock::time_point::max()) {
                auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now());
                timeout = static_cast<int>(std::clamp<int64_t>(wait.count(), 0, 60'000));
            }
            pollfd fds[2] = {{wakeFd, POLLIN, 0}, {pty.master, 0, 0}};
            if (!masterDead) fds[1].events = static_cast<short>(POLLIN | (wantWrite ? POLLOUT : 0));
            int nfds = masterDead ? 1 : 2;
            int r = ::poll(fds, static_cast<nfds_t>(nfds), timeout);
            if (r < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (fds[0].revents & POLLIN) {
                uint64_t count;
                ssize_t n = ::read(wakeFd, &count, sizeof count);
                (void)n;
            }
            if (nfds == 2 && fds[1].revents != 0) {
                if (fds[1].revents & POLLIN) {
                    char buf[4096];
                    ssize_t n = ::read(pty.master, buf, sizeof buf);
                    if (n > 0) {
                        std::lock_guard<std::mutex> lock(mu);
                        Arrived(std::string(buf, static_cast<std::size_t>(n)), Clock::now());
                    } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                        masterDead = true;
                    }
                } else if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) {
                    // Cannot happen while our own slave descriptor is open;
                    // if it does, stop watching the master instead of spinning.
                    masterDead = true;
                }
            }
        }
    }
};

Simulator::Simulator(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Simulator::~Simulator() {
    Stop();
}

std::unique_ptr<Simulator> Simulator::Start(const std::string& device, DeviceConfig config) {
    const DeviceKind* kind = FindDeviceKind(device);
    std::unique_ptr<DeviceModel> model;
    Device* asDevice = nullptr;
    Device* asApp = nullptr;
    RadioLink* asRadio = nullptr;
    ReaderModel* asReader = nullptr;
    if (auto reader = ReaderModel::Create(device, config)) {
        asReader = reader.get();
        asDevice = &reader->LoaderDevice();
        asApp = &reader->OwnDevice();
        model = std::move(reader);
    } else if (device == kRadioModemName) {
        auto radio = std::make_unique<RadioLink>(config);
        if (!radio->ConfigOk()) return nullptr;
        asRadio = radio.get();
        model = std::move(radio);
    } else if (kind != nullptr) {
        auto dev = std::make_unique<Device>(*kind, config);
        if (!dev->ConfigOk()) return nullptr;
        asDevice = dev.get();
        asApp = asDevice;
        model = std::move(dev);
    } else {
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    if (PtyOpen(impl->pty) != 1) return nullptr;
    impl->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (impl->wakeFd < 0) return nullptr;
    impl->baudCheck = config.checkBaud;
    impl->wireTime = config.wireTime;
    impl->model = std::move(model);
    impl->device = asDevice;
    impl->app = asApp;
    impl->radio = asRadio;
    impl->reader = asReader;
    Impl* raw = impl.get();
    impl->thread = std::thread([raw] { raw->Run(); });
    return std::unique_ptr<Simulator>(new Simulator(std::move(impl)));
}

const std::string& Simulator::PortPath() const {
    return impl_->pty.slavePath;
}

void Simulator::SetSilent(bool on) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->silent = on;
}

void Simulator::SetEcho(bool on) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->echo = on;
}

void Simulator::SetReject(std::string text) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->reject = std::move(text);
}

void Simulator::SetAnswerDelayMs(int ms) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->delayMs = std::max(0, ms);
}

void Simulator::SetGarble(bool on) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->garble = on;
}

void Simulator::SetBaudCheck(bool on) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->baudCheck = on;
}

void Simulator::SetWireTime(bool on) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->wireTime = on;
}

void Simulator::ScriptReplies(std::vector<Reply> replies) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->script.assign(std::make_move_iterator(replies.begin()),
                         std::make_move_iterator(replies.end()));
}

void Simulator::SetRefuseWrite(int n) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    if (impl_->device) impl_->device->SetRefuseWrite(n);
}

void Simulator::SetPowerLossAfterBlocks(int n) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    if (impl_->device) impl_->device->SetPowerLossAfterBlocks(n);
}

void Simulator::SetEraseMs(int ms) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    if (impl_->device) impl_->device->SetEraseMs(ms);
}

void Simulator::SetProgramMs(int ms) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    if (impl_->device) impl_->device->SetProgramMs(ms);
}

void Simulator::SetRefuseEveryBlock(int n) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    if (impl_->device) impl_->device->SetRefuseEvery(n);
}

void Simulator::SetGarbleEveryFrame(int n) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->garbleEvery = std::max(0, n);
    impl_->loaderCommands = 0;
}

void Simulator::SetCut(Cut cut) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->cut = std::move(cut);
    impl_->cutArmed = true;
    impl_->cutDone = false;
    impl_->cutCounted = 0;
}

bool Simulator::CutDone() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->cutDone;
}

void Simulator::PowerOn() {
    std::lock_guard<std::mutex> lock(impl_->mu);
    if (impl_->device) impl_->device->PowerOn(NowMs());
}

bool Simulator::Reconnect() {
    {
        std::lock_guard<std::mutex> lock(impl_->mu);
        impl_->vanishing = true;
    }
    impl_->Wake();
    if (impl_->thread.joinable()) impl_->thread.join();
    std::lock_guard<std::mutex> lock(impl_->mu);
    PtyClose(impl_->pty);
    if (PtyOpen(impl_->pty) != 1) return false;
    // A new adapter: nothing is on its way in either direction.
    impl_->pendingInput.clear();
    impl_->rxWire.clear();
    impl_->txQueue.clear();
    impl_->txReady.clear();
    impl_->rxFree = impl_->txFree = Clock::time_point{};
    impl_->vanishing = false;
    Impl* raw = impl_.get();
    impl_->thread = std::thread([raw] { raw->Run(); });
    return true;
}

std::vector<uint8_t> Simulator::Flash() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    if (!impl_->device) return {};
    return impl_->device->Memory().bytes;
}

std::string Simulator::State() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    if (!impl_->device) return "application";
    switch (impl_->device->State()) {
        case DeviceState::Application:
            return "application";
        case DeviceState::LoaderWaiting:
            return "loader waiting";
        case DeviceState::LoaderActive:
            return "loader";
    }
    return {};
}

int Simulator::BlocksWritten() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->device ? impl_->device->BlocksWritten() : 0;
}

std::map<std::string, std::string> Simulator::Settings() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    if (impl_->radio) return impl_->radio->Settings();
    std::map<std::string, std::string> out;
    const Device* app = impl_->app;
    if (app == nullptr) return out;
    if (app->Logger().model) out = LoggerSettings(app->Logger(), NowMs());
    if (app->Instrument().model) out.merge(InstrumentSettings(app->Instrument(), NowMs()));
    return out;
}

std::vector<std::string> Simulator::Records(const std::string& word) const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    const Device* app = impl_->app;
    if (app == nullptr || !app->Instrument().model) return {};
    if (word == "eqn") return app->Instrument().equations;
    if (word == "user") return app->Instrument().users;
    return {};
}

bool Simulator::WithSensor(const std::function<void(Sdi12Sensor&)>& use) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    Sdi12Sensor* sensor = impl_->reader ? impl_->reader->Sensor() : nullptr;
    if (sensor == nullptr) return false;
    use(*sensor);
    return true;
}

std::map<std::string, std::string> Simulator::StationSettings(std::size_t n) const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    if (!impl_->radio) return {};
    return impl_->radio->StationSettings(n, NowMs());
}

uint64_t Simulator::BytesSent() const {
    return impl_->sentBytes.load();
}

std::string Simulator::Received() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->received;
}

int Simulator::CommandCount() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->commands;
}

void Simulator::Vanish() {
    {
        std::lock_guard<std::mutex> lock(impl_->mu);
        impl_->vanishing = true;
    }
    impl_->Wake();
    if (impl_->thread.joinable()) impl_->thread.join();
    std::lock_guard<std::mutex> lock(impl_->mu);
    PtyClose(impl_->pty);
}

void Simulator::Stop() {
    impl_->StopThread();
    std::lock_guard<std::mutex> lock(impl_->mu);
    PtyClose(impl_->pty);
}

std::vector<std::string> DeviceNames() {
    std::size_t count = 0;
    const DeviceKind* kinds = DeviceKinds(count);
    std::vector<std::string> names;
    for (std::size_t i = 0; i < count; ++i) names.emplace_back(kinds[i].name);
    names.emplace_back(kRadioModemName);
    return names;
}

}  // namespace tarsa::sim
