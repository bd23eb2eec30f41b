// The --simulate run of tarsa-update: the program against a simulated Talox
// on a pseudo-terminal, through the real serial layer.
#pragma once

#include <string>

namespace tarsa {
class TarsaLog;
}

namespace tarsa::cli {

// Asks a simulated Talox "get -ver" and prints its answer and the log path.
// Returns the process exit status.
int SimulatorSmoke(TarsaLog* log, const std::string& logPath);

}  // namespace tarsa::cli
