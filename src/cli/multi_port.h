// Several ports at once: one tarsa-update process per port, run in parallel
// under one parent that draws the progress, passes Ctrl-C on and prints the
// table of results.
//
// Each child runs the single-port update with --json on its own port, in its
// own process group (so a Ctrl-C on the terminal reaches only the parent),
// with its own data folder <data dir>/<port name>/ for its log, settings file
// and settings history, and standard input closed: a question is answered by
// --yes or refused. The parent waits in poll() on the children's pipes and
// reads their JSON events; a child that fails or hangs never holds up the
// others. The first Ctrl-C warns, a second within 3 s stops every child the
// way a second Ctrl-C stops a single run: each keeps its settings file.
//
// On a terminal every port has one line (bar, percentage, phase, time left)
// redrawn in place; otherwise each event is a plain line prefixed with the
// port name. With --json the children's events are passed through, one
// object per line, and nothing else is printed on standard output.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tarsa::cli {

struct MultiPortJob {
    std::vector<std::string> ports;      // as given: /dev/ttyUSB3, ttyUSB3, /dev/pts/4
    std::string program;                 // the tarsa-update to start for each port
    std::vector<std::string> childArgs;  // options every child gets (--yes, --rep ...)
    std::string dataDir;                 // the parent's data folder
    bool json = false;                   // pass the JSON events through
    bool tty = false;                    // redraw one line per port
};

// What one port's run came to.
struct PortResult {
    std::string port;  // the port's name, as in its data folder
    std::string deviceName;
    std::string serial;
    std::string versionBefore;
    std::string versionAfter;
    std::string text;
    int code = 0;  // the run's result: > 0 success
    int64_t seconds = 0;
    bool ok = false;
};

// The name of `port` as a folder and as the prefix of its lines: the path
// below /dev with '/' as '-' ("ttyUSB3", "pts-4").
std::string PortDisplayName(const std::string& port);

// Every port of the port list that is not busy, by name.
std::vector<std::string> FreePorts();

// Runs the job; `results` receives one entry per port in the order given.
// Returns 0 when every port succeeded, 1 when any failed or was stopped,
// 2 when the job cannot start (a port given twice, no ports, no folder).
int RunMultiPort(const MultiPortJob& job, FILE* out, FILE* err, std::vector<PortResult>* results);

// The table printed at the end of a run.
std::string ResultTable(const std::vector<PortResult>& results);

}  // namespace tarsa::cli
