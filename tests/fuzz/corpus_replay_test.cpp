// Replays the committed fuzz corpus, and mutations of it, through every fuzz
// target as ordinary tests: a parser that crashes or aborts on one of them
// fails here in every build, sanitizers included.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz_targets.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> Corpus(const std::string& name) {
    std::vector<std::string> inputs;
    fs::path dir = fs::path(TARSA_FUZZ_CORPUS) / name;
    for (const auto& entry : fs::directory_iterator(dir)) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        inputs.push_back(ss.str());
    }
    return inputs;
}

// Each corpus input, then cut, bit-flipped and spliced copies of it.
void Replay(const std::string& name, int (*target)(const uint8_t*, size_t)) {
    std::vector<std::string> inputs = Corpus(name);
    ASSERT_FALSE(inputs.empty()) << "no corpus for " << name;
    std::mt19937 rng(12345);
    for (const std::string& input : inputs) {
        EXPECT_EQ(target(reinterpret_cast<const uint8_t*>(input.data()), input.size()), 1)
            << "a corpus seed of " << name << " is no longer accepted";
        for (int round = 0; round < 200; ++round) {
            std::string m = input;
            switch (rng() % 3) {
                case 0:
                    m.resize(m.empty() ? 0 : rng() % m.size());
                    break;
                case 1:
                    for (int k = 0; k < 4 && !m.empty(); ++k)
                        m[rng() % m.size()] ^= 1 << (rng() % 8);
                    break;
                default: {
                    const std::string& other = inputs[rng() % inputs.size()];
                    m = m.substr(0, m.empty() ? 0 : rng() % m.size()) +
                        other.substr(other.empty() ? 0 : rng() % other.size());
                }
            }
            target(reinterpret_cast<const uint8_t*>(m.data()), m.size());
        }
    }
}

TEST(FuzzCorpus, TiTxtFiles) {
    Replay("ti_txt", tarsa::fuzz::TiTxt);
}
TEST(FuzzCorpus, VersionDocuments) {
    Replay("version_document", tarsa::fuzz::VersionDocument);
}
TEST(FuzzCorpus, SettingsFiles) {
    Replay("settings_file", tarsa::fuzz::SettingsFile);
}

}  // namespace
