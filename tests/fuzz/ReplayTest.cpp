// Every seed and every input a fuzzer once broke a property with, run again in every
// build: no crash found stays fixed only on the machines that have clang.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/TestTree.h"
#include "tests/fuzz/FuzzTargets.h"

namespace fuzz {
namespace {

std::vector<std::filesystem::path> FilesIn(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    if (!std::filesystem::is_directory(folder))
        return files;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.is_regular_file())
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<std::uint8_t> ReadAll(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class Replay : public ::testing::TestWithParam<NamedTarget> {};

TEST_P(Replay, EverySeedAndEveryRegressionPasses) {
    const NamedTarget target = GetParam();
    const std::filesystem::path root = fwtest::TestTree() / "fuzz";
    const auto seeds = FilesIn(root / "corpus" / target.name);
    EXPECT_FALSE(seeds.empty()) << "a target without seeds starts from nothing";
    auto inputs = seeds;
    const auto regressions = FilesIn(root / "regressions" / target.name);
    inputs.insert(inputs.end(), regressions.begin(), regressions.end());
    for (const auto& file : inputs) {
        // Named before it runs: a broken property aborts the whole program.
        std::fprintf(stderr, "%s: %s\n", target.name, file.string().c_str());
        const auto bytes = ReadAll(file);
        EXPECT_EQ(target.run(bytes.data(), bytes.size()), 0) << file;
    }
    const std::uint8_t none = 0;
    EXPECT_EQ(target.run(&none, 0), 0) << "the empty input";
}

INSTANTIATE_TEST_SUITE_P(Fuzz, Replay, ::testing::ValuesIn(kTargets),
                         [](const ::testing::TestParamInfo<NamedTarget>& tested) {
                             return std::string(tested.param.name);
                         });

} // namespace
} // namespace fuzz
