// Time to load a 1 MB TI-TXT file, beside the time srec_cat needs to convert
// the same file to binary (a separate process, measured in wall time), so
// that the two can be compared as a ratio. Reports numbers, never fails.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "loader/ti_txt.h"
#include "stand_in.h"

extern char** environ;

namespace {

using namespace tarsa;
namespace fs = std::filesystem;

// A deterministic image of about 1 MiB of TI-TXT text: a main section below
// the loader's flash, a long section above 64 KB, and the vectors.
const std::string& BenchFile() {
    static const std::string path = [] {
        std::vector<ImageSection> sections(2);
        uint32_t x = 0x12345678;
        auto fill = [&x](ImageSection& s, uint32_t address, size_t size) {
            s.address = address;
            s.bytes.resize(size);
            for (auto& b : s.bytes) {
                x ^= x << 13;
                x ^= x >> 17;
                x ^= x << 5;
                b = static_cast<uint8_t>(x >> 24);
            }
        };
        fill(sections[0], 0x1200, 0xFA00 - 0x1200);
        fill(sections[1], 0x10000, 1048576 / 3 - (0xFA00 - 0x1200));
        std::array<uint32_t, kVectorCount> vectors;
        vectors.fill(0x1260);
        std::string text = FormatTiTxt(sections, &vectors);
        std::string p =
            (fs::temp_directory_path() / ("bench_ti_txt_" + std::to_string(getpid()) + ".txt"))
                .string();
        std::ofstream(p, std::ios::binary) << text;
        return p;
    }();
    return path;
}

struct RemoveBenchFile {
    ~RemoveBenchFile() {
        std::error_code ec;
        fs::remove(BenchFile(), ec);
    }
};

int64_t FileBytes() {
    return static_cast<int64_t>(fs::file_size(BenchFile()));
}

void BM_LoadTIFile(benchmark::State& state) {
    const char* path = BenchFile().c_str();
    for (auto _ : state) {
        FirmwareImage image;
        int r = LoadTIFile(image, nullptr, path);
        if (r != 1) {
            state.SkipWithError("LoadTIFile failed");
            break;
        }
        benchmark::DoNotOptimize(image.text.data());
    }
    state.SetBytesProcessed(state.iterations() * FileBytes());
    state.counters["file_bytes"] = static_cast<double>(FileBytes());
}
BENCHMARK(BM_LoadTIFile)->Unit(benchmark::kMillisecond)->UseRealTime();

// The conversion alone, without reading the file.
void BM_ParseTiTxt(benchmark::State& state) {
    std::ifstream in(BenchFile(), std::ios::binary);
    std::string contents((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (auto _ : state) {
        std::string compact;
        std::array<uint32_t, kVectorCount> vectors;
        benchmark::DoNotOptimize(ParseTiTxt(contents, compact, vectors));
        benchmark::DoNotOptimize(compact.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(contents.size()));
}
BENCHMARK(BM_ParseTiTxt)->Unit(benchmark::kMillisecond)->UseRealTime();

bool RunSrecCat(const std::string& path) {
    std::string in = path;
    const char* argv[] = {"srec_cat", in.c_str(), "-ti-txt", "-o", "/dev/null", "-binary", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, "srec_cat", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return false;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double MeanLoadSeconds(int rounds) {
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i) {
        FirmwareImage image;
        LoadTIFile(image, nullptr, BenchFile().c_str());
    }
    std::chrono::duration<double> d = std::chrono::steady_clock::now() - start;
    return d.count() / rounds;
}

// srec_cat reading the same file and writing it as binary, as a child process
// (wall time, process start included).
void BM_SrecCatConvert(benchmark::State& state) {
    if (system("command -v srec_cat >/dev/null 2>&1") != 0) {
        state.SkipWithError("srec_cat is not on PATH (Debian package srecord)");
        return;
    }
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (!RunSrecCat(BenchFile())) {
            state.SkipWithError("srec_cat failed");
            break;
        }
    }
    std::chrono::duration<double> d = std::chrono::steady_clock::now() - start;
    state.SetBytesProcessed(state.iterations() * FileBytes());
    if (state.iterations() > 0) {
        double srec = d.count() / static_cast<double>(state.iterations());
        state.counters["srec_cat_over_loader"] = srec / MeanLoadSeconds(5);
    }
}
BENCHMARK(BM_SrecCatConvert)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    RemoveBenchFile cleanup;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
