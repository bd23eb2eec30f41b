// A tray of simulated Taloxes updated at once against one alone, both at
// 9600 baud with wire-time emulation and device work times, run as a
// factory script runs tarsa-update. Reports the tray's wall time as a ratio
// of the single device's, and the CPU the updater takes for the whole tray
// (the parent and every child process, user + system time) as a share of
// one core over the run. The simulated devices run in a tarsa-sim process
// of their own, so their CPU is not counted.
//
// Usage: bench_tray [N]   (N devices in the tray, default 16)
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr const char* kEraseMs = "10";
constexpr const char* kProgramMs = "10";

double Now() {
    struct timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double CpuOf(const struct rusage& r) {
    return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

// Starts `argv` with standard output into `out` (a pipe's write end or a
// file); returns its pid.
pid_t Start(std::vector<std::string> args, int out) {
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out, STDOUT_FILENO);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

struct Figures {
    double wall = 0;
    double cpu = 0;
    int status = -1;
};

// Serves `count` devices from one tarsa-sim, updates them all with one
// tarsa-update, and measures that run.
Figures Run(int count, const fs::path& dir) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return {};
    const pid_t sim = Start({TARSA_SIM_PATH, "--device", "talox", "--version", "2.10",
                             "--wire-time", "--erase-ms", kEraseMs, "--program-ms", kProgramMs,
                             "--set", "i=BENCH", "--count", std::to_string(count)},
                            pipeFds[1]);
    close(pipeFds[1]);
    FILE* ports = fdopen(pipeFds[0], "r");
    std::vector<std::string> args = {TARSA_UPDATE_PATH, "--yes", "--data-dir",
                                     (dir / std::to_string(count)).string()};
    char line[256];
    for (int n = 0; n < count && fgets(line, sizeof line, ports); ++n) {
        std::string port = line;
        if (port.rfind("PORT ", 0) != 0) break;
        port = port.substr(5, port.find_last_not_of("\r\n") - 4);
        args.insert(args.end(), {"--port", port});
    }
    Figures f;
    if (args.size() != 4 + 2 * static_cast<size_t>(count)) {
        fprintf(stderr, "bench_tray: tarsa-sim did not serve %d devices\n", count);
        kill(sim, SIGTERM);
        waitpid(sim, nullptr, 0);
        return f;
    }
    const fs::path log = dir / ("out" + std::to_string(count) + ".txt");
    FILE* out = fopen(log.c_str(), "w");
    struct rusage before {};
    getrusage(RUSAGE_CHILDREN, &before);
    const double start = Now();
    const pid_t update = Start(args, fileno(out));
    int status = 0;
    waitpid(update, &status, 0);
    f.wall = Now() - start;
    struct rusage after {};
    getrusage(RUSAGE_CHILDREN, &after);  // tarsa-update and its children, reaped
    f.cpu = CpuOf(after) - CpuOf(before);
    f.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    fclose(out);
    kill(sim, SIGTERM);
    waitpid(sim, nullptr, 0);
    fclose(ports);
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? atoi(argv[1]) : 16;
    if (count < 1 || count > 64) {
        fprintf(stderr, "usage: bench_tray [N]   (1 to 64 devices)\n");
        return 2;
    }
    const fs::path dir = fs::temp_directory_path() / ("bench_tray_" + std::to_string(getpid()));
    fs::create_directories(dir);
    setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    printf(
        "Tray benchmark: Talox updates at 9600 baud, wire time emulated, erase %s ms, "
        "program %s ms per block\n",
        kEraseMs, kProgramMs);
    fflush(stdout);
    const Figures one = Run(1, dir);
    printf("  1 device:   %7.1f s wall, %6.2f s CPU (%.2f%% of one core), exit %d\n", one.wall,
           one.cpu, 100.0 * one.cpu / one.wall, one.status);
    fflush(stdout);
    const Figures tray = Run(count, dir);
    printf("  %d devices: %7.1f s wall, %6.2f s CPU (%.2f%% of one core), exit %d\n", count,
           tray.wall, tray.cpu, 100.0 * tray.cpu / tray.wall, tray.status);
    printf("  wall time ratio tray/one: %.3f (goal <= 1.1)\n", tray.wall / one.wall);
    printf("  updater CPU for the tray: %.2f%% of one core (goal < 5%%)\n",
           100.0 * tray.cpu / tray.wall);
    fs::remove_all(dir);
    return one.status == 0 && tray.status == 0 ? 0 : 1;
}
