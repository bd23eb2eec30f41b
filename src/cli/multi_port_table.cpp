// The parts of the multi-port runner that every platform has: port names,
// the list of free ports and the table of results.
#include <cstdio>

#include "cli/multi_port.h"
#include "serial/port_enum.h"
#include "serial/serial_port.h"

namespace tarsa::cli {
namespace {

// Text on one line: line breaks become blanks.
std::string OneLine(std::string text) {
    for (char& c : text) {
        if (c == '\n' || c == '\r' || c == '\t') c = ' ';
    }
    return text;
}

}  // namespace

std::string PortDisplayName(const std::string& port) {
    std::string name = port.rfind("/dev/", 0) == 0 ? port.substr(5) : port;
    for (char& c : name) {
        if (c == '/') c = '-';
    }
    if (name.empty() || name == "." || name == "..") name = "port";
    return name;
}

std::vector<std::string> FreePorts() {
    TarsaSerial port;
    CommPortEntry entries[kCommPortCapacity];
    size_t count = kCommPortCapacity;
    std::vector<std::string> free;
    if (CommPortEnum(port, entries, &count, false) < 0) return free;
    for (size_t i = 0; i < count; ++i) {
        if (!entries[i].busy) free.emplace_back(entries[i].name);
    }
    return free;
}

std::string ResultTable(const std::vector<PortResult>& results) {
    std::string table;
    char line[512];
    snprintf(line, sizeof line, "\n%-10s %-20s %-16s %-14s %7s  %s\n", "Port", "Device", "Serial",
             "Version", "Seconds", "Result");
    table += line;
    size_t succeeded = 0;
    for (const PortResult& r : results) {
        std::string version = r.versionBefore.empty() ? "?" : r.versionBefore;
        if (r.ok && !r.versionAfter.empty()) version += " -> " + r.versionAfter;
        snprintf(line, sizeof line, "%-10.10s %-20.20s %-16.16s %-14.14s %7lld  %s\n",
                 r.port.c_str(), r.deviceName.empty() ? "-" : r.deviceName.c_str(),
                 r.serial.empty() ? "-" : r.serial.c_str(), version.c_str(),
                 static_cast<long long>(r.seconds), OneLine(r.text).substr(0, 200).c_str());
        table += line;
        succeeded += r.ok ? 1 : 0;
    }
    snprintf(line, sizeof line, "%zu of %zu ports succeeded.\n", succeeded, results.size());
    table += line;
    return table;
}

}  // namespace tarsa::cli
