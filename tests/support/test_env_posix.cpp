#include <stdlib.h>

#include <filesystem>
#include <vector>

#include "support/test_env.h"

namespace tarsa::test {

void SetEnv(const char* name, const char* value) {
    setenv(name, value, 1);
}

void UnsetEnv(const char* name) {
    unsetenv(name);
}

std::string MakeTempFolder(const std::string& prefix) {
    const std::string pattern = (std::filesystem::temp_directory_path() / prefix).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    const char suffix[] = "XXXXXX";
    name.insert(name.end(), suffix, suffix + sizeof suffix);
    return mkdtemp(name.data()) ? name.data() : "";
}

}  // namespace tarsa::test
