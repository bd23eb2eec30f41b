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

struct Seed {
    std::string file;
    std::string bytes;
};

std::vector<Seed> Corpus(const std::string& name) {
    std::vector<Seed> inputs;
    fs::path dir = fs::path(TARSA_FUZZ_CORPUS) / name;
    for (const auto& entry : fs::directory_iterator(dir)) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        inputs.push_back({entry.path().filename().string(), ss.str()});
    }
    return inputs;
}

// Each corpus input, then `rounds` cut, bit-flipped and spliced copies of it.
void Replay(const std::string& name, int (*target)(const uint8_t*, size_t), int rounds = 200) {
    std::vector<Seed> inputs = Corpus(name);
    ASSERT_FALSE(inputs.empty()) << "no corpus for " << name;
    std::mt19937 rng(12345);
    for (const Seed& seed : inputs) {
        // Seeds named "refused_..." walk the failure paths: they must stay refused.
        const int accepted = seed.file.rfind("refused_", 0) == 0 ? 0 : 1;
        const std::string& input = seed.bytes;
        EXPECT_EQ(target(reinterpret_cast<const uint8_t*>(input.data()), input.size()), accepted)
            << name << "/" << seed.file << (accepted ? " is no longer accepted" : " is accepted");
        for (int round = 0; round < rounds; ++round) {
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
                    const std::string& other = inputs[rng() % inputs.size()].bytes;
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

// Device answers travel over a pty, so fewer mutations each.
struct AnswerCorpus {
    const char* name;
    int (*target)(const uint8_t*, size_t);
};
class FuzzAnswers : public ::testing::TestWithParam<AnswerCorpus> {};
TEST_P(FuzzAnswers, Replay) {
    Replay(GetParam().name, GetParam().target, 25);
}
INSTANTIATE_TEST_SUITE_P(
    DeviceAnswers, FuzzAnswers,
    ::testing::Values(AnswerCorpus{"version_answers", tarsa::fuzz::VersionAnswers},
                      AnswerCorpus{"show_answers", tarsa::fuzz::ShowAnswers},
                      AnswerCorpus{"sdi12_answers", tarsa::fuzz::Sdi12Answers},
                      AnswerCorpus{"record_lists", tarsa::fuzz::RecordLists},
                      AnswerCorpus{"loader_replies", tarsa::fuzz::LoaderReplies}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
