// The command line of tarsa-update: one table of options (CLI11) that both
// parses the arguments and writes --help, followed by the checks that tie
// options together (one mode at a time, --firmware only in repair or factory
// mode, ...). It looks at the words only: whether a port exists or a file
// loads is found out by the run itself.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/web_commands.h"

namespace tarsa::cli {

// What the command line asks for.
struct Options {
    // list-ports, port, restore-settings, backup-settings, dump-image,
    // simulate, check-version, send-feedback
    std::string mode;
    std::string port;
    std::string dataDir;
    std::string firmware;
    std::string dumpPath;
    std::string settingsPath;  // --restore-settings, --backup-settings
    std::string newSerial;
    bool yes = false;
    bool rep = false;
    bool factory = false;
    bool keepData = false;
    bool verbose = false;
    int simulateBaud = 0;  // --simulate-baud: emulate the wire at this line speed
    FeedbackRequest feedback;

    // Factory use: several ports at once, machine-readable events, the dry run.
    std::vector<std::string> ports;  // every --port in order; `port` is the first
    bool allPorts = false;           // --all-ports: every listed port that is not busy
    bool json = false;               // --json: JSON Lines events instead of the text
    bool checkOnly = false;          // --check-only: the checks and the capture, no update
    int simulateCount = 0;           // --simulate N: a tray of N devices; 0: one device
};

// The most ports of one multi-port run, and of a simulated tray.
inline constexpr int kMaxPorts = 64;

// Parses argv into `o`. Returns the exit status when the program ends here:
// 0 after --help or --version (printed on `out`), 2 after a usage error (the
// reason, naming the option, then the help, on `err`). Returns nullopt when
// `o` holds a command to run.
std::optional<int> ParseOptions(int argc, const char* const* argv, Options& o, FILE* out = stdout,
                                FILE* err = stderr);

}  // namespace tarsa::cli
