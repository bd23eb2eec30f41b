// tarsa-update's system calls on POSIX systems.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "cli/cli_platform.h"
#include "sim/simulator.h"

namespace tarsa::cli {
namespace {

volatile sig_atomic_t gInterrupts = 0;
struct sigaction gPrevious {};

void OnInterrupt(int) {
    gInterrupts = gInterrupts + 1;
}

class PtyDevice : public SimulatedDevice {
  public:
    explicit PtyDevice(std::unique_ptr<sim::Simulator> device) : device_(std::move(device)) {}
    std::string PortPath() const override { return device_->PortPath(); }

  private:
    std::unique_ptr<sim::Simulator> device_;
};

}  // namespace

bool StdinIsTerminal() {
    return isatty(STDIN_FILENO) != 0;
}

bool StdoutIsTerminal() {
    return isatty(STDOUT_FILENO) != 0;
}

void InformationBeep(FILE* out) {
    fputc('\a', out);
    fflush(out);
}

void CatchInterrupts(bool on) {
    if (on) {
        struct sigaction sa {};
        sa.sa_handler = OnInterrupt;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = 0;  // no SA_RESTART: a sleep ends when the signal comes
        sigaction(SIGINT, &sa, &gPrevious);
    } else {
        sigaction(SIGINT, &gPrevious, nullptr);
    }
}

int InterruptCount() {
    return gInterrupts;
}

void WaitForInterrupt(uint32_t ms) {
    struct timespec ts {
        static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L
    };
    nanosleep(&ts, nullptr);  // a signal ends it early
}

void ExplainPortAccess(const char* path) {
    if (access(path, F_OK) == 0 && access(path, R_OK | W_OK) != 0 && errno == EACCES) {
        fprintf(stderr,
                "tarsa-update: permission denied on %s. Add your user to the 'dialout' group\n"
                "  (sudo usermod -aG dialout $USER), then log out and in again.\n",
                path);
    }
}

std::unique_ptr<SimulatedDevice> StartDemoDevice(bool sensorVariant, bool wireTime, int n,
                                                 std::string& shown, std::string& error) {
    sim::DeviceConfig config;
    config.wireTime = wireTime;
    const char* model = "talox";
    shown = "Talox 2.10";
    if (sensorVariant) {
        model = "hd";
        shown = "Handra 1.30 with a Skyra 61 Sensor Suite 3.55";
        config.reader.sensor.settings.address = '2';
        char serial[24];
        snprintf(serial, sizeof serial, "SK61-%04d", 41 + n);
        config.reader.sensor.settings.serial = serial;
        config.reader.sensor.settings.calibration1 = "1 0.125 1.250 0.500";
    } else {
        // Each device of a tray has a name and serial number of its own.
        char name[24], serial[24];
        snprintf(name, sizeof name, "DEMO%02d", n);
        snprintf(serial, sizeof serial, "TX%05d", 41 + n);
        config.version = "2.10";
        config.settings = {{"i", name}, {"site", "Demo lake"}, {"w", "900"}, {"sn", serial}};
    }
    auto device = sim::Simulator::Start(model, config);
    if (!device) {
        error = "could not start the simulated device (no pseudo-terminal)";
        return nullptr;
    }
    return std::make_unique<PtyDevice>(std::move(device));
}

}  // namespace tarsa::cli
