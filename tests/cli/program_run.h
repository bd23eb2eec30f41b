// Runs the tarsa-update program under test as a script would: arguments
// quoted for the shell, extra environment in front, standard input closed,
// standard output and standard error collected together.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

namespace tarsa::clitest {

struct ProgramRun {
    int status = -1;
    std::string out;  // standard output and standard error together
};

// Runs tarsa-update (or the copy `program`) with `args` and the environment
// additions `env` ("NAME=value").
inline ProgramRun RunProgram(const std::vector<std::string>& args,
                             const std::vector<std::string>& env = {},
                             const std::string& program = TARSA_UPDATE_PATH) {
    std::string command;
    for (const std::string& e : env) command += e + " ";
    command += "'" + program + "'";
    for (const std::string& a : args) {
        std::string quoted;
        for (char c : a) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        command += " '" + quoted + "'";
    }
    command += " </dev/null 2>&1";
    ProgramRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    std::array<char, 4096> buf{};
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), pipe)) > 0) run.out.append(buf.data(), n);
    int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

}  // namespace tarsa::clitest
