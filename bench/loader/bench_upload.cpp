// Upload of the compiled-in image against the simulated loader with wire-time
// emulation at 9600 baud. The floor is the time the bytes need on the wire in
// both directions (10 bits each) plus the simulated device's work time plus
// the pauses the protocol asks for; the counters report the host's overhead
// on top of it and the process CPU time as a share of wall time.
#include <benchmark/benchmark.h>

#include <ctime>

#include "catalogue/catalogue.h"
#include "loader/bsl_host.h"
#include "sim/simulator.h"

namespace {

double Seconds(clockid_t clock) {
    struct timespec ts {};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void BM_UploadAt9600(benchmark::State& state) {
    tarsa::sim::DeviceConfig config;
    config.wireTime = true;
    config.programMs = static_cast<int>(state.range(0));
    auto device = tarsa::sim::Simulator::Start("talox", config);
    tarsa::TarsaBSLHost host(nullptr);
    if (!device || tarsa::BSLConnect(host, device->PortPath().c_str(), 9600, false, 3) < 0 ||
        tarsa::BSLEraseFlash(host, 0x1100, 0xF9FF, false) < 0) {
        state.SkipWithError("no simulated loader");
        return;
    }
    size_t sentBefore = device->Received().size();
    int blocksBefore = device->BlocksWritten();
    double wall = 0, cpu = 0;
    int rc = 0;
    for (auto _ : state) {
        double w0 = Seconds(CLOCK_MONOTONIC), c0 = Seconds(CLOCK_PROCESS_CPUTIME_ID);
        rc = tarsa::BSLSendFirmware(host, false);
        wall += Seconds(CLOCK_MONOTONIC) - w0;
        cpu += Seconds(CLOCK_PROCESS_CPUTIME_ID) - c0;
    }
    if (rc < 0) state.SkipWithError("upload failed");
    size_t sent = device->Received().size() - sentBefore;
    int frames = device->BlocksWritten() - blocksBefore + 2;  // blocks and two addresses
    size_t received = static_cast<size_t>(frames) * 2;        // "+\r" per frame
    double wire = static_cast<double>(sent + received) * 10.0 / 9600.0;
    double work = (device->BlocksWritten() - blocksBefore) * state.range(0) / 1000.0;
    double floor = wire + work;  // the upload itself asks for no pauses when nothing fails
    state.counters["wall_s"] = wall;
    state.counters["floor_s"] = floor;
    state.counters["overhead_pct"] = floor > 0 ? 100.0 * (wall - floor) / floor : 0;
    state.counters["cpu_pct_of_wall"] = wall > 0 ? 100.0 * cpu / wall : 0;
    tarsa::BSLDisconnect(host);
}
BENCHMARK(BM_UploadAt9600)->Arg(0)->Arg(20)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
