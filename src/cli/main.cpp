// tarsa-update: the command-line front end of the firmware updater.
//
// This build offers the simulator smoke run: it starts a simulated Talox on a
// pseudo-terminal, opens it through the real serial layer, asks the device who
// it is and prints the answer and the path of the diagnostic log. The firmware
// update itself is not offered yet; options that would start one are refused
// with a usage error rather than half-done.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "link/terrel_protocol.h"
#include "log/tarsa_log.h"
#include "serial/serial_port.h"
#include "sim/simulator.h"

namespace {

constexpr const char* kWindowCaption = "Talox Firmware Updater";
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

void PrintUsage(FILE* out) {
    fprintf(out,
            "Usage: tarsa-update --simulate [--data-dir DIR] [--verbose]\n"
            "       tarsa-update --help | --version\n"
            "\n"
            "  --simulate      talk to a simulated Talox on a pseudo-terminal: open it through\n"
            "                  the serial layer, ask \"get -ver\" and print the answer\n"
            "  --data-dir DIR  folder of the diagnostic log (default: "
            "$XDG_DATA_HOME/Corvane/TarsaBSL)\n"
            "  --verbose       log byte-level serial traces too\n");
}

// Creates `path` and its parents; true when it exists afterwards.
bool MakeFolders(const std::string& path) {
    std::string partial;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        partial = path.substr(0, pos);
        if (!partial.empty() && mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string DefaultDataDir() {
    const char* xdg = getenv("XDG_DATA_HOME");
    if (xdg && xdg[0] == '/') return std::string(xdg) + "/Corvane/TarsaBSL";
    const char* home = getenv("HOME");
    return std::string(home && home[0] ? home : ".") + "/.local/share/Corvane/TarsaBSL";
}

int RunSimulatorSmoke(const std::string& dataDir, bool verbose) {
    if (!MakeFolders(dataDir)) {
        fprintf(stderr, "tarsa-update: cannot create the data folder %s: %s\n", dataDir.c_str(),
                strerror(errno));
        return kExitFailed;
    }
    std::string logPath = dataDir + "/" + kWindowCaption + ".errors.txt";
    tarsa::TarsaLog log(logPath.c_str(), verbose ? tarsa::kLogBytes : tarsa::kLogDetail, false);

    auto device = tarsa::sim::Simulator::Start("talox");
    if (!device) {
        fprintf(stderr,
                "tarsa-update: could not start the simulated device (no pseudo-terminal)\n");
        return kExitFailed;
    }
    printf("Simulated Talox on %s\n", device->PortPath().c_str());

    tarsa::Terrel_Protocol link(&log);
    int rc = tarsa::TSOpen(link.port, device->PortPath().c_str(), 9600);
    if (rc != tarsa::kTSOk) {
        fprintf(stderr, "tarsa-update: could not open %s (error %d)\n", device->PortPath().c_str(),
                rc);
        printf("Log: %s\n", logPath.c_str());
        return kExitFailed;
    }
    char answer[32];
    int length = sizeof answer;
    uint32_t elapsed = 0;
    rc = tarsa::DeviceCommand(link, "get -ver\r", '>', 800, answer, &length, &elapsed);
    tarsa::TSClose(link.port);
    if (rc < 0) {
        fprintf(stderr, "tarsa-update: the device did not answer \"get -ver\" (error %d)\n", rc);
        printf("Log: %s\n", logPath.c_str());
        return kExitFailed;
    }
    // Show the answer without its framing carriage returns and prompt.
    std::string text(answer, static_cast<size_t>(length));
    while (!text.empty() && (text.front() == '\r' || text.front() == '\n')) text.erase(0, 1);
    while (!text.empty() && (text.back() == '>' || text.back() == '\r' || text.back() == '\n'))
        text.pop_back();
    printf("Device answered \"get -ver\": %s (%u ms)\n", text.c_str(), elapsed);
    printf("Log: %s\n", logPath.c_str());
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    bool simulate = false;
    bool verbose = false;
    std::string dataDir;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            PrintUsage(stdout);
            return kExitOk;
        } else if (arg == "--version") {
            printf("tarsa-update %s\n", TARSA_VERSION);
            return kExitOk;
        } else if (arg == "--simulate") {
            simulate = true;
        } else if (arg == "--verbose") {
            verbose = true;
        } else if (arg == "--data-dir" && i + 1 < argc) {
            dataDir = argv[++i];
        } else {
            fprintf(stderr, "tarsa-update: unknown or incomplete option '%s'\n", argv[i]);
            PrintUsage(stderr);
            return kExitUsage;
        }
    }
    if (!simulate) {
        PrintUsage(stderr);
        return kExitUsage;
    }
    return RunSimulatorSmoke(dataDir.empty() ? DefaultDataDir() : dataDir, verbose);
}
