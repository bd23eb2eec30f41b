#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <random>

#include "support/test_env.h"

namespace tarsa::test {

void SetEnv(const char* name, const char* value) {
    _putenv_s(name, value);
}

// An empty value removes the variable on Windows.
void UnsetEnv(const char* name) {
    _putenv_s(name, "");
}

std::string MakeTempFolder(const std::string& prefix) {
    const std::string base = (std::filesystem::temp_directory_path() / prefix).string();
    std::random_device seed;
    std::mt19937 random(seed());
    std::uniform_int_distribution<unsigned> pick(0, 0xFFFFFF);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = base + std::to_string(pick(random));
        if (CreateDirectoryA(name.c_str(), nullptr)) return name;
        if (GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    return "";
}

}  // namespace tarsa::test
