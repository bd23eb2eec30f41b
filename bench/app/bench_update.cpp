// A whole firmware update of a simulated Talox at 9600 baud with wire-time
// emulation and device work times, run as the window runs it. The floor is
// the time the bytes need on the wire (10 bits each, both directions), the
// device's work times and the pauses the protocol asks for (every DelayMs);
// the counters report the host's time above it, the process's CPU time as a
// share of wall time and its peak memory (the simulator runs in the same
// process, so the figure is an upper bound for the updater alone).
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>

#include "app/fake_ui.h"
#include "app/main_window.h"
#include "serial/timing.h"
#include "sim/simulator.h"

namespace {

namespace fs = std::filesystem;

double Seconds(clockid_t clock) {
    struct timespec ts {};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

class NoStore : public tarsa::SettingsStore {
  public:
    std::string Read(const std::string&) override { return {}; }
    bool Write(const std::string&, const std::string&) override { return true; }
};

void BM_FullUpdateAt9600(benchmark::State& state) {
    constexpr int kEraseMs = 10;
    constexpr int kProgramMs = 10;
    tarsa::sim::DeviceConfig config;
    config.wireTime = true;
    config.eraseMs = kEraseMs;
    config.programMs = kProgramMs;
    config.settings = {{"i", "BENCH1"}, {"site", "Bench lake"}, {"w", "900"}};
    fs::path dir = fs::temp_directory_path() / ("tarsa_bench_update_" + std::to_string(getpid()));
    fs::create_directories(dir);

    int result = 0;
    double wall = 0, cpu = 0, floor = 0;
    for (auto _ : state) {
        auto device = tarsa::sim::Simulator::Start("talox", config);
        if (!device) {
            state.SkipWithError("no simulated device");
            return;
        }
        tarsa::app::test::FakeUi ui;
        NoStore store;
        tarsa::app::MainWindow window(ui, store, tarsa::app::BuildConfig{}, nullptr);
        tarsa::app::Environment env;
        env.dataFolder = dir.string();
        window.FormShow(env);
        window.SelectPort(device->PortPath());

        uint64_t pausesBefore = tarsa::DelayTotalMs();
        int blocksBefore = device->BlocksWritten();
        double w0 = Seconds(CLOCK_MONOTONIC), c0 = Seconds(CLOCK_PROCESS_CPUTIME_ID);
        window.btnStartClick();
        window.OnTimer(tarsa::app::Timer::Start);
        wall += Seconds(CLOCK_MONOTONIC) - w0;
        cpu += Seconds(CLOCK_PROCESS_CPUTIME_ID) - c0;
        result = window.LastResult();

        double bytes = static_cast<double>(device->Received().size() + device->BytesSent());
        double wire = bytes * 10.0 / 9600.0;
        int erased = 2 + 117;  // information segments and main-flash segments
        int programmed = device->BlocksWritten() - blocksBefore + 1;  // blocks and the vectors
        double work = (erased * kEraseMs + programmed * kProgramMs + 300 /* "yes" */) / 1000.0;
        double pauses = static_cast<double>(tarsa::DelayTotalMs() - pausesBefore) / 1000.0;
        floor += wire + work + pauses;
        state.counters["wire_s"] = wire;
        state.counters["device_s"] = work;
        state.counters["pauses_s"] = pauses;
    }
    fs::remove_all(dir);
    if (result <= 0) state.SkipWithError("the update failed");
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["wall_s"] = wall;
    state.counters["floor_s"] = floor;
    state.counters["host_above_floor_pct"] = floor > 0 ? 100.0 * (wall - floor) / floor : 0;
    state.counters["cpu_pct_of_wall"] = wall > 0 ? 100.0 * cpu / wall : 0;
    state.counters["peak_rss_mb"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}
BENCHMARK(BM_FullUpdateAt9600)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
