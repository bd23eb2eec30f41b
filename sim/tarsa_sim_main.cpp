// tarsa-sim: runs one simulated device on a pseudo-terminal until SIGINT or
// SIGTERM. The first line of output is "PORT <slave path>", so that a script
// or test can read where to connect. With --count N it serves N independent
// devices of the same configuration (a tray), one pty and one "PORT" line each. All device
// behaviour lives in the tarsa_sim library; this file only reads options.
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim/simulator.h"

namespace {

void Usage(FILE* out) {
    std::fprintf(out,
                 "usage: tarsa-sim --device NAME [--version X.YY] [--silent] [--echo]\n"
                 "                 [--reject TEXT] [--delay-ms N] [--garble]\n"
                 "                 [--in-loader] [--no-loader] [--loader-baud N] [--wire-time]\n"
                 "                 [--refuse-write N] [--power-loss-after N]\n"
                 "                 [--erase-ms N] [--program-ms N]\n"
                 "                 [--radio-modem] [--cellular] [--broken-dataflash]\n"
                 "                 [--set WORD=VALUE]... [--station DEVICE:NAME]...\n"
                 "                 [--count N]\n"
                 "                 instruments: [--login-typing-ms N]\n"
                 "                 readers (hd, tcd): [--hver C] [--battery N] [--no-sensor]\n"
                 "                 [--sensor-type N] [--sensor-version N] [--sensor-in-loader]\n"
                 "                 [--sensor-no-loader]\n"
                 "       tarsa-sim --list-devices\n");
}

int UsageError(const char* what, const char* arg) {
    std::fprintf(stderr, "tarsa-sim: %s%s\n", what, arg);
    Usage(stderr);
    return 2;
}

// A non-negative decimal number up to 10 minutes' worth of milliseconds.
bool ParseMs(const char* text, int& ms) {
    errno = 0;
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < 0 || value > 600'000) return false;
    ms = static_cast<int>(value);
    return true;
}

// "WORD=VALUE" into the settings map; false without "=" or a word.
bool AddSetting(const char* text, std::map<std::string, std::string>& settings) {
    const char* eq = std::strchr(text, '=');
    if (eq == nullptr || eq == text) return false;
    settings[std::string(text, static_cast<std::size_t>(eq - text))] = eq + 1;
    return true;
}

// "DEVICE:NAME": a logger on the radio of a zl4.
bool AddStation(const char* text, std::vector<tarsa::sim::RadioStation>& stations) {
    const char* colon = std::strchr(text, ':');
    if (colon == nullptr || colon == text || colon[1] == '\0') return false;
    tarsa::sim::RadioStation station;
    station.device.assign(text, static_cast<std::size_t>(colon - text));
    station.config.settings["i"] = colon + 1;
    stations.push_back(std::move(station));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string device;
    std::string version;
    std::string reject;
    bool silent = false, echo = false, garble = false, list = false;
    int delayMs = 0;
    tarsa::sim::DeviceConfig config;
    int refuseWrite = 0, powerLoss = 0;
    int count = 1;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](const char*& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        const char* v = nullptr;
        if (arg == "--device") {
            if (!value(v)) return UsageError("missing value for ", "--device");
            device = v;
        } else if (arg == "--version") {
            if (!value(v)) return UsageError("missing value for ", "--version");
            version = v;
            if (version.empty()) return UsageError("empty version", "");
        } else if (arg == "--reject") {
            if (!value(v)) return UsageError("missing value for ", "--reject");
            reject = v;
        } else if (arg == "--delay-ms") {
            if (!value(v)) return UsageError("missing value for ", "--delay-ms");
            if (!ParseMs(v, delayMs)) return UsageError("bad --delay-ms value: ", v);
        } else if (arg == "--loader-baud") {
            if (!value(v)) return UsageError("missing value for ", "--loader-baud");
            if (!ParseMs(v, config.loaderBaud) || config.loaderBaud < 300) {
                return UsageError("bad --loader-baud value: ", v);
            }
        } else if (arg == "--refuse-write") {
            if (!value(v) || !ParseMs(v, refuseWrite)) return UsageError("bad --refuse-write", "");
        } else if (arg == "--power-loss-after") {
            if (!value(v) || !ParseMs(v, powerLoss)) {
                return UsageError("bad --power-loss-after", "");
            }
        } else if (arg == "--erase-ms") {
            if (!value(v) || !ParseMs(v, config.eraseMs)) return UsageError("bad --erase-ms", "");
        } else if (arg == "--program-ms") {
            if (!value(v) || !ParseMs(v, config.programMs)) {
                return UsageError("bad --program-ms", "");
            }
        } else if (arg == "--count") {
            if (!value(v) || !ParseMs(v, count) || count < 1 || count > 64) {
                return UsageError("bad --count (1 to 64)", "");
            }
        } else if (arg == "--login-typing-ms") {
            if (!value(v) || !ParseMs(v, config.loginTypingMs)) {
                return UsageError("bad --login-typing-ms", "");
            }
        } else if (arg == "--set") {
            if (!value(v) || !AddSetting(v, config.settings)) return UsageError("bad --set", "");
        } else if (arg == "--station") {
            if (!value(v) || !AddStation(v, config.stations)) {
                return UsageError("bad --station", "");
            }
        } else if (arg == "--radio-modem") {
            config.radioModem = true;
        } else if (arg == "--cellular") {
            config.cellular = true;
        } else if (arg == "--broken-dataflash") {
            config.brokenDataFlash = true;
        } else if (arg == "--hver") {
            if (!value(v) || std::strlen(v) != 1) return UsageError("bad --hver", "");
            config.reader.hardwareRevision = v[0];
        } else if (arg == "--battery") {
            if (!value(v) || !ParseMs(v, config.reader.battery) || config.reader.battery > 100) {
                return UsageError("bad --battery", "");
            }
        } else if (arg == "--sensor-type") {
            int& type = config.reader.sensor.settings.type;
            if (!value(v) || !ParseMs(v, type) || type < 1 || type > 254) {
                return UsageError("bad --sensor-type", "");
            }
        } else if (arg == "--sensor-version") {
            int& sensorVersion = config.reader.sensor.version;
            if (!value(v) || !ParseMs(v, sensorVersion) || sensorVersion > 999) {
                return UsageError("bad --sensor-version", "");
            }
        } else if (arg == "--no-sensor") {
            config.reader.sensor.present = false;
        } else if (arg == "--sensor-in-loader") {
            config.reader.sensor.startInLoader = true;
        } else if (arg == "--sensor-no-loader") {
            config.reader.sensor.hasLoader = false;
        } else if (arg == "--in-loader") {
            config.startInLoader = true;
        } else if (arg == "--no-loader") {
            config.hasLoader = false;
        } else if (arg == "--wire-time") {
            config.wireTime = true;
        } else if (arg == "--silent") {
            silent = true;
        } else if (arg == "--echo") {
            echo = true;
        } else if (arg == "--garble") {
            garble = true;
        } else if (arg == "--list-devices") {
            list = true;
        } else if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            return 0;
        } else {
            return UsageError("unknown option: ", arg.c_str());
        }
    }
    if (list) {
        for (const std::string& name : tarsa::sim::DeviceNames()) std::printf("%s\n", name.c_str());
        return 0;
    }
    if (device.empty()) return UsageError("--device is required", "");

    config.version = version;

    // Block the signals before any thread exists so that only sigwait sees them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    std::vector<std::unique_ptr<tarsa::sim::Simulator>> sims;
    for (int n = 0; n < count; ++n) {
        auto sim = tarsa::sim::Simulator::Start(device, config);
        if (!sim) {
            bool known = false;
            for (const std::string& name : tarsa::sim::DeviceNames()) {
                known = known || name == device;
            }
            if (!known) return UsageError("unknown device: ", device.c_str());
            std::fprintf(stderr,
                         "tarsa-sim: bad version, setting or station, or no pseudo-terminal\n");
            return 1;
        }
        sim->SetSilent(silent);
        sim->SetEcho(echo);
        sim->SetReject(reject);
        sim->SetAnswerDelayMs(delayMs);
        sim->SetGarble(garble);
        sim->SetRefuseWrite(refuseWrite);
        sim->SetPowerLossAfterBlocks(powerLoss);
        sims.push_back(std::move(sim));
    }
    for (const auto& sim : sims) std::printf("PORT %s\n", sim->PortPath().c_str());
    std::fflush(stdout);

    int received = 0;
    while (sigwait(&signals, &received) != 0) {
    }
    for (const auto& sim : sims) sim->Stop();
    return 0;
}
