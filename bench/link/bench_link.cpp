// Round trips of the prompted command exchange against the simulated device:
// DeviceCommand("get -ver") through the real serial layer on a pty.
#include <benchmark/benchmark.h>

#include <ctime>

#include "link/terrel_protocol.h"
#include "sim/simulator.h"

namespace {

double Seconds(clockid_t clock) {
    struct timespec ts {};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void BM_DeviceCommandRoundTrips(benchmark::State& state) {
    auto device = tarsa::sim::Simulator::Start("talox");
    tarsa::Terrel_Protocol link(nullptr);
    if (!device || tarsa::TSOpen(link.port, device->PortPath().c_str(), 9600) != tarsa::kTSOk) {
        state.SkipWithError("no simulated device");
        return;
    }
    const int count = static_cast<int>(state.range(0));
    int failures = 0;
    double wall = 0, cpu = 0;
    for (auto _ : state) {
        double w0 = Seconds(CLOCK_MONOTONIC), c0 = Seconds(CLOCK_PROCESS_CPUTIME_ID);
        for (int i = 0; i < count; ++i) {
            char answer[32];
            int length = sizeof answer;
            if (tarsa::DeviceCommand(link, "get -ver\r", '>', 800, answer, &length, nullptr) < 0)
                ++failures;
        }
        wall += Seconds(CLOCK_MONOTONIC) - w0;
        cpu += Seconds(CLOCK_PROCESS_CPUTIME_ID) - c0;
    }
    if (failures) state.SkipWithError("a command failed");
    state.counters["round_trips_per_s"] = wall > 0 ? count * state.iterations() / wall : 0;
    state.counters["cpu_pct_of_wall"] = wall > 0 ? 100.0 * cpu / wall : 0;
}
BENCHMARK(BM_DeviceCommandRoundTrips)->Arg(1000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
