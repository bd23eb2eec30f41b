// A full logger settings read and write of a simulated Talox 2.29 with every
// setting present (cellular and radio modems fitted), at 9600 baud with the
// simulator's wire-time emulation: bytes exchanged, wall time, and the host's
// share of the wall time.
//
// Two floors are reported: the wire floor (10 bits per byte each way at
// 9600 baud; the simulated device has no work time) and the replay floor: the
// same commands sent by a bare client (write, then read until the prompt) on
// the same pty, which adds the simulator's and the pty's own latency to the
// wire. The host's share is the time above the replay floor.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "link/logger_connection.h"
#include "link/logger_settings.h"
#include "link/terrel_protocol.h"
#include "sim/simulator.h"

namespace {

constexpr uint32_t kAllSettings = 0x0FFFFFFF;

double Seconds(clockid_t clock) {
    struct timespec ts {};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

struct Traffic {
    size_t sent = 0;
    size_t received = 0;
};

// Sends each command and reads until the prompt, with nothing else between.
// Returns the wall time in seconds, or a negative value when a prompt never came.
double Replay(const std::string& path, const std::vector<std::string>& commands) {
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return -1;
    const double start = Seconds(CLOCK_MONOTONIC);
    bool ok = true;
    for (const std::string& command : commands) {
        if (write(fd, command.data(), command.size()) != static_cast<ssize_t>(command.size())) {
            ok = false;
            break;
        }
        bool prompt = false;
        while (!prompt) {
            struct pollfd pfd {
                fd, POLLIN, 0
            };
            if (poll(&pfd, 1, 2000) <= 0) {
                ok = false;
                break;
            }
            char buf[256];
            ssize_t n = read(fd, buf, sizeof buf);
            if (n <= 0) {
                ok = false;
                break;
            }
            prompt = memchr(buf, '>', static_cast<size_t>(n)) != nullptr;
        }
        if (!ok) break;
    }
    const double took = Seconds(CLOCK_MONOTONIC) - start;
    close(fd);
    return ok ? took : -1;
}

void Run(benchmark::State& state, int direction) {
    tarsa::sim::DeviceConfig config;
    config.wireTime = true;
    config.cellular = true;
    config.radioModem = true;
    auto device = tarsa::sim::Simulator::Start("talox", config);
    tarsa::Terrel_Protocol link(nullptr);
    tarsa::ConnectionRequest request;
    if (device)
        snprintf(request.portName, sizeof request.portName, "%s", device->PortPath().c_str());
    request.linkKind = tarsa::kLinkCable;
    request.baudCode = 2;
    if (!device || tarsa::ConnectDevice(link, &request) != 1) {
        state.SkipWithError("no simulated Talox");
        return;
    }
    tarsa::LoggerSettings record;
    uint32_t mask = kAllSettings;
    if (tarsa::DeviceSettings(link, &record, &mask, 0) != 1) {
        state.SkipWithError("the first read failed");
        return;
    }
    const uint32_t writeMask = mask & ~(tarsa::kSetIdentity | tarsa::kSetRadioVersion);

    Traffic traffic;
    tarsa::LinkOptions options;
    tarsa::DeviceOptions(link, options, 0);
    options.trace = 3;
    tarsa::DeviceOptions(link, options, 1);
    bool sending = true;
    bool recording = true;  // the commands of the first run, for the replay
    std::vector<std::string> commands;
    // DeviceCommand traces the command, then the answer.
    link.traceSink = [&](const char* text) {
        (sending ? traffic.sent : traffic.received) += strlen(text);
        if (sending && recording) commands.emplace_back(text);
        sending = !sending;
    };

    double wall = 0, cpu = 0;
    int failures = 0;
    for (auto _ : state) {
        double w0 = Seconds(CLOCK_MONOTONIC), c0 = Seconds(CLOCK_PROCESS_CPUTIME_ID);
        uint32_t m = direction == 0 ? kAllSettings : writeMask;
        tarsa::LoggerSettings r = record;
        if (tarsa::DeviceSettings(link, &r, &m, direction) != 1) ++failures;
        recording = false;
        wall += Seconds(CLOCK_MONOTONIC) - w0;
        cpu += Seconds(CLOCK_PROCESS_CPUTIME_ID) - c0;
    }
    if (failures) state.SkipWithError("a settings exchange failed");
    link.traceSink = nullptr;
    tarsa::DisconnectDevice(link, 0);  // at 9600 on a cable: nothing sent, the port closes
    double replay = 0;
    for (int i = 0; i < 3; ++i) {
        const double once = Replay(device->PortPath(), commands);
        if (once < 0) {
            state.SkipWithError("the replay lost a prompt");
            return;
        }
        replay += once;
    }
    replay /= 3;
    const double runs = static_cast<double>(state.iterations());
    const double bytes = static_cast<double>(traffic.sent + traffic.received) / runs;
    const double floor = bytes * 10.0 / 9600.0;
    const double perRun = wall / runs;
    state.counters["bytes_sent"] = static_cast<double>(traffic.sent) / runs;
    state.counters["bytes_received"] = static_cast<double>(traffic.received) / runs;
    state.counters["wall_ms"] = perRun * 1000.0;
    state.counters["wire_floor_ms"] = floor * 1000.0;
    state.counters["replay_floor_ms"] = replay * 1000.0;
    state.counters["above_wire_pct"] = floor > 0 ? 100.0 * (perRun - floor) / floor : 0;
    state.counters["host_share_pct"] = replay > 0 ? 100.0 * (perRun - replay) / replay : 0;
    state.counters["commands"] = static_cast<double>(commands.size());
    state.counters["cpu_pct_of_wall"] = wall > 0 ? 100.0 * cpu / wall : 0;
}

void BM_TaloxSettingsRead(benchmark::State& state) {
    Run(state, 0);
}
void BM_TaloxSettingsWrite(benchmark::State& state) {
    Run(state, 1);
}
BENCHMARK(BM_TaloxSettingsRead)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TaloxSettingsWrite)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
