// CPU cost of waiting: a TSWait of 10 s on a silent line must sleep in the
// kernel, not spin. Reports wall time, process CPU time and their ratio.
#include <benchmark/benchmark.h>

#include <ctime>

#include "serial/serial_port.h"
#include "support/pty_pair.h"

namespace {

double Seconds(clockid_t clock) {
    struct timespec ts {};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void BM_TSWaitSilentLine(benchmark::State& state) {
    tarsa::test::PtyPair pty;
    tarsa::TarsaSerial port;
    if (!pty.ok() || tarsa::TSOpen(port, pty.SlavePath().c_str(), 9600) != tarsa::kTSOk) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    const auto waitMs = static_cast<uint32_t>(state.range(0));
    double wall = 0, cpu = 0;
    for (auto _ : state) {
        double w0 = Seconds(CLOCK_MONOTONIC), c0 = Seconds(CLOCK_PROCESS_CPUTIME_ID);
        benchmark::DoNotOptimize(tarsa::TSWait(port, waitMs, '>'));
        wall += Seconds(CLOCK_MONOTONIC) - w0;
        cpu += Seconds(CLOCK_PROCESS_CPUTIME_ID) - c0;
    }
    state.counters["wall_s"] = wall;
    state.counters["cpu_s"] = cpu;
    state.counters["cpu_pct_of_wall"] = wall > 0 ? 100.0 * cpu / wall : 0;
    tarsa::TSClose(port);
}
BENCHMARK(BM_TSWaitSilentLine)->Arg(10000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
