#include "cli/simulate.h"

#include <cstdio>

#include "link/terrel_protocol.h"
#include "sim/simulator.h"

namespace tarsa::cli {

int SimulatorSmoke(TarsaLog* log, const std::string& logPath) {
    auto device = tarsa::sim::Simulator::Start("talox");
    if (!device) {
        fprintf(stderr,
                "tarsa-update: could not start the simulated device (no pseudo-terminal)\n");
        return 1;
    }
    printf("Simulated Talox on %s\n", device->PortPath().c_str());
    Terrel_Protocol link(log);
    int rc = TSOpen(link.port, device->PortPath().c_str(), 9600);
    char answer[32] = {};
    int length = sizeof answer;
    uint32_t elapsed = 0;
    if (rc == kTSOk) rc = DeviceCommand(link, "get -ver\r", '>', 800, answer, &length, &elapsed);
    TSClose(link.port);
    if (rc < 0) {
        fprintf(stderr, "tarsa-update: the simulated device did not answer (error %d)\n", rc);
        printf("Log: %s\n", logPath.c_str());
        return 1;
    }
    std::string text(answer, static_cast<size_t>(length));
    while (!text.empty() && (text.front() == '\r' || text.front() == '\n')) text.erase(0, 1);
    while (!text.empty() && (text.back() == '>' || text.back() == '\r')) text.pop_back();
    printf("Device answered \"get -ver\": %s (%u ms)\n", text.c_str(), elapsed);
    printf("Log: %s\n", logPath.c_str());
    return 0;
}

}  // namespace tarsa::cli
