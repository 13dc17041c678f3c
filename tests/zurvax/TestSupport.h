// Shared helpers of the zurvax tests: environment, scratch files, a library fixture and
// a transport double that records every command it is given.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tests/ScratchFolder.h"
#include "tests/TestTree.h"
#include "zurvax/Transport.h"
#include "zurvax/Zurvax.h"
#include "zurvax/ZurvaxApi.h"

namespace zurvax::test {

inline void SetEnv(const char* name, const std::string& value) {
#ifdef _WIN32
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

inline void UnsetEnv(const char* name) {
#ifdef _WIN32
    _putenv_s(name, "");
#else
    unsetenv(name);
#endif
}

inline std::string ReadText(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

inline std::vector<std::string> ReadLines(const std::filesystem::path& path) {
    std::vector<std::string> lines;
    std::istringstream text(ReadText(path));
    for (std::string line; std::getline(text, line);)
        lines.push_back(line);
    return lines;
}

inline std::string DataFile(const char* name) {
    return (fwtest::TestTree() / "data" / "emulation" / name).string();
}

inline std::string Hex(std::uint32_t value) {
    std::ostringstream text;
    text << std::hex << value;
    return text.str();
}

// Fresh library per test: no emulation, no trace, a scratch directory of its own.
class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        UnsetEnv("ZURVAX_EMULATION");
        UnsetEnv("ZURVAX_TRACE");
        Reset();
        dir_ = fwtest::NewScratchFolder("zurvax-tests");
    }
    void TearDown() override {
        UnsetEnv("ZURVAX_EMULATION");
        UnsetEnv("ZURVAX_TRACE");
        Reset();
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    std::filesystem::path scratch(const std::string& name) const { return dir_ / name; }

    // Writes json to <scratch>/emulation.json and makes it the library's source.
    std::string useEmulation(const std::string& json) {
        const auto path = scratch("emulation.json");
        std::ofstream(path, std::ios::binary) << json;
        useEmulationFile(path.string());
        return path.string();
    }
    void useEmulationFile(const std::string& path) {
        SetEnv("ZURVAX_EMULATION", path);
        Reset();
    }

private:
    std::filesystem::path dir_;
};

// What a RecordingTransport saw of one command.
struct Recorded {
    std::uint32_t index = 0;
    std::vector<std::uint8_t> cdb;
    DataDirection direction = DataDirection::None;
    std::vector<std::uint8_t> dataOut;
    std::size_t dataInCapacity = 0;
    std::size_t requiredDataIn = 0;
    std::chrono::milliseconds timeout{0};
};

// Answers with `result` and copies `dataIn` (cut to the buffer) into data-in commands;
// the residual is computed from what was copied unless `residual` is set.
class RecordingTransport final : public Transport {
public:
    struct Script {
        ScsiResult result;
        std::vector<std::uint8_t> dataIn;
        std::optional<std::size_t> residual;
    };

    RecordingTransport(std::vector<Recorded>& log, std::uint32_t devices = 1)
        : log_(log), devices_(devices) {}

    Script script;
    std::optional<std::uint8_t> enumeratedType;

    std::uint32_t deviceCount() const override { return devices_; }
    DevicePath devicePath(std::uint32_t index) const override {
        return {0xEE, 2, static_cast<std::uint8_t>(index + 10), 3};
    }
    std::optional<std::uint8_t> enumeratedDeviceType(std::uint32_t) const override {
        return enumeratedType;
    }
    ScsiResult execute(std::uint32_t index, const ScsiCommand& command) override {
        Recorded recorded;
        recorded.index = index;
        recorded.cdb.assign(command.cdb().begin(), command.cdb().end());
        recorded.direction = command.direction();
        recorded.dataOut.assign(command.dataOut().begin(), command.dataOut().end());
        recorded.dataInCapacity = command.dataIn().size();
        recorded.requiredDataIn = command.requiredDataIn();
        recorded.timeout = command.timeout();
        log_.push_back(recorded);

        ScsiResult result = script.result;
        const auto in = command.dataIn();
        const std::size_t count = std::min(in.size(), script.dataIn.size());
        std::copy_n(script.dataIn.begin(), count, in.begin());
        result.residual = script.residual.value_or(in.size() - count);
        return result;
    }
    std::string describe() const override { return "recording"; }

private:
    std::vector<Recorded>& log_;
    std::uint32_t devices_;
};

} // namespace zurvax::test
