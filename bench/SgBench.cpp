// Our SG_IO transport against sg3_utils on the same real kernel stack: runs inside the
// virtual machine of bench/run-vm-bench.sh, where /dev/sg0 is the kernel's scsi_debug.
//
// Ours: the file read chunk by chunk, each chunk sent with the library's WriteBuffer as the
// program's worker does, commands back to back on one open node. Theirs: `sg_write_buffer -m 2 -b
// 8192` writing a file of the same chunks to the same node. Its process start-up is no part of a
// command, so its cost per command is the difference between writing many chunks and one,
// over the extra chunks. Each figure is the best of several rounds, ours and theirs taking
// turns, so that a hiccup of the emulated machine spoils neither side alone.
//
// Prints "SGBENCH PASS <check>" / "SGBENCH FAIL <check>: <why>" lines for the host script,
// then "SGBENCH FIGURES ours_ns=<n> sg3_ns=<n> ratio=<r> commands=<n> rounds=<n>".
//
// Usage: sg-bench <sg_write_buffer program>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "zurvax/ZurvaxApi.h"
#include "zurvax/ZurvaxStatus.h"

extern char** environ;

namespace {

constexpr std::uint32_t kChunk = 8192;
constexpr std::uint32_t kCommands = 1024;
constexpr int kRounds = 7;
constexpr char kNode[] = "/dev/sg0";
constexpr char kManyChunks[] = "/tmp/chunks.bin";
constexpr char kOneChunk[] = "/tmp/chunk.bin";

using Clock = std::chrono::steady_clock;

int g_failures = 0;

void Check(const char* name, bool passed, const std::string& why) {
    if (passed) {
        std::printf("SGBENCH PASS %s\n", name);
    } else {
        ++g_failures;
        std::printf("SGBENCH FAIL %s: %s\n", name, why.c_str());
    }
    std::fflush(stdout);
}

std::vector<std::uint8_t> Chunks(std::uint32_t count) {
    std::vector<std::uint8_t> bytes(std::size_t{count} * kChunk);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 31 + (i >> 13));
    return bytes;
}

bool WriteFile(const char* path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(file);
}

double Seconds(Clock::duration duration) { return std::chrono::duration<double>(duration).count(); }

// Seconds to send the file's count chunks through the library, each read from the file
// just before its command as the worker does; negative when a read or a command failed.
double OursOnce(const char* path, std::uint32_t count, std::uint32_t& failed) {
    std::vector<std::uint8_t> chunk(kChunk);
    const auto start = Clock::now();
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t status =
            ::read(fd, chunk.data(), kChunk) == static_cast<ssize_t>(kChunk)
                ? WriteBuffer(0, 2, 0, i * kChunk, kChunk, chunk.data())
                : ZURVAX_STATUS_OS_ERROR;
        if (status != 0) {
            failed = status;
            ::close(fd);
            return -1;
        }
    }
    ::close(fd);
    return Seconds(Clock::now() - start);
}

// Seconds one sg_write_buffer run took, start-up included; negative when it failed.
double TheirsOnce(const std::string& tool, const char* file, int& exitStatus) {
    const std::string chunk = std::to_string(kChunk);
    std::vector<std::string> args = {tool, "-m", "2", "-b", chunk, "-I", file, kNode};
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const auto start = Clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, tool.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
        exitStatus = -1;
        return -1;
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) {
        exitStatus = -1;
        return -1;
    }
    const auto elapsed = Clock::now() - start;
    exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return exitStatus == 0 ? Seconds(elapsed) : -1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <sg_write_buffer program>\n", argv[0]);
        return 2;
    }
    const std::string tool = argv[1];
    Check("files", WriteFile(kManyChunks, Chunks(kCommands)) && WriteFile(kOneChunk, Chunks(1)),
          "cannot write /tmp");

    char message[256] = {};
    const std::uint32_t opened = ZurvaxOpen(message, sizeof message);
    // The power-on unit attention belongs to whichever command comes first: take it here.
    const std::uint32_t ready = TestUnitReady(0);
    const std::uint32_t again = TestUnitReady(0);
    Check("ready", opened == 0 && again == 0,
          "ZurvaxOpen " + std::to_string(opened) + ", TestUnitReady " + std::to_string(ready) +
              " then " + std::to_string(again));

    constexpr double kNone = std::numeric_limits<double>::infinity();
    double ours = kNone, many = kNone, one = kNone;
    std::uint32_t failedStatus = 0;
    int exitMany = 0, exitOne = 0;
    for (int round = 0; round < kRounds && g_failures == 0; ++round) {
        const double o = OursOnce(kManyChunks, kCommands, failedStatus);
        const double m = TheirsOnce(tool, kManyChunks, exitMany);
        const double s = TheirsOnce(tool, kOneChunk, exitOne);
        if (o < 0 || m < 0 || s < 0) {
            Check("commands", false,
                  "WriteBuffer status " + std::to_string(failedStatus) + ", sg_write_buffer exit " +
                      std::to_string(exitMany) + " / " + std::to_string(exitOne));
            break;
        }
        ours = std::min(ours, o);
        many = std::min(many, m);
        one = std::min(one, s);
    }
    if (g_failures == 0) {
        Check("commands", true, {});
        const double oursNs = ours / kCommands * 1e9;
        const double theirsNs = std::max(0.0, many - one) / (kCommands - 1) * 1e9;
        Check("figures", theirsNs > 0,
              "sg_write_buffer took no longer for many chunks than for one");
        std::printf("SGBENCH FIGURES ours_ns=%.0f sg3_ns=%.0f ratio=%.2f commands=%u rounds=%d\n",
                    oursNs, theirsNs, theirsNs > 0 ? oursNs / theirsNs : 0.0, kCommands, kRounds);
        std::printf("SGBENCH NOTE sg_write_buffer whole runs: %u chunks %.1f ms, 1 chunk %.1f ms\n",
                    kCommands, many * 1e3, one * 1e3);
    }
    std::printf("SGBENCH DONE\n");
    std::fflush(stdout);
    return g_failures == 0 ? 0 : 1;
}
