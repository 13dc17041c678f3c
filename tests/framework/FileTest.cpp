// Files on Linux: a write of another program to a file open with shareDenyWrite is noticed
// by every open of that file that it followed, and by none that it preceded, also when
// several opens of one file come and go (several downloads of one image at once). The same
// cases run against the write watch alone: where the kernel stamps times finely, the file's
// status would notice every write by itself and hide a watch that misses one.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <vector>

#include "framework/file/WriteWatches.h"
#include "framework/fw.h"
#include "tests/ScratchFolder.h"

namespace {

constexpr int kOpens = 3;

enum class Act { Open, Close, Write };

struct Step {
    Act act;
    int file; // which of the opens; unused by Write
};

struct Case {
    const char* name;
    std::vector<Step> steps;
    std::array<bool, kOpens> changed; // HasChanged of each open after the steps
};

TEST(File, AWriteIsNoticedByEveryOpenItFollowedAndByNoneItPreceded) {
    const Case cases[] = {
        {"nothing written", {{Act::Open, 0}}, {false, false, false}},
        {"written while open", {{Act::Open, 0}, {Act::Write, 0}}, {true, false, false}},
        {"two opens, both see it",
         {{Act::Open, 0}, {Act::Open, 1}, {Act::Write, 0}},
         {true, true, false}},
        {"the other open ended before the write",
         {{Act::Open, 0}, {Act::Open, 1}, {Act::Close, 0}, {Act::Write, 0}},
         {false, true, false}},
        {"written before the second open",
         {{Act::Open, 0}, {Act::Write, 0}, {Act::Open, 1}},
         {true, false, false}},
        {"written while none was open, then opened",
         {{Act::Open, 0}, {Act::Close, 0}, {Act::Write, 0}, {Act::Open, 1}},
         {false, false, false}},
        {"opened again after its write",
         {{Act::Open, 0}, {Act::Write, 0}, {Act::Close, 0}, {Act::Open, 0}},
         {false, false, false}},
        {"a later write after an earlier one was noticed",
         {{Act::Open, 0},
          {Act::Write, 0},
          {Act::Open, 1},
          {Act::Open, 2},
          {Act::Close, 0},
          {Act::Write, 0}},
         {false, true, true}},
    };
    const auto folder = fwtest::NewScratchFolder("fwupgrade-file");
    const auto path = folder / "image.gbf";
    const auto write = [&] {
        // The same size and, within one clock tick, the same times.
        std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
        return static_cast<bool>(file.write("X", 1));
    };
    const auto restore = [&] {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file << "KMR47000-FW:0200 and the rest of the image";
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        restore();
        std::array<fw::CFile, kOpens> files;
        for (const Step& step : c.steps) {
            if (step.act == Act::Open) {
                ASSERT_TRUE(files[step.file].Open(path.string().c_str(),
                                                  fw::CFile::modeRead | fw::CFile::shareDenyWrite));
            } else if (step.act == Act::Close) {
                files[step.file].Close();
            } else {
                ASSERT_TRUE(write());
            }
        }
        for (int i = 0; i < kOpens; ++i) {
            EXPECT_EQ(files[i].HasChanged() != FALSE, c.changed[i]) << "file, open " << i;
        }
    }

    fw::WriteWatches& watches = fw::WriteWatches::Instance();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        restore();
        std::array<int, kOpens> fds{-1, -1, -1};
        std::array<std::optional<fw::WriteWatches::Watched>, kOpens> watched;
        const auto close = [&](int i) {
            if (watched[i]) {
                watches.Remove(*watched[i]);
                watched[i].reset();
            }
            if (fds[i] >= 0) {
                ::close(fds[i]);
                fds[i] = -1;
            }
        };
        for (const Step& step : c.steps) {
            if (step.act == Act::Open) {
                fds[step.file] = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
                ASSERT_GE(fds[step.file], 0);
                watched[step.file] = watches.Add(fds[step.file]);
                ASSERT_TRUE(watched[step.file].has_value());
            } else if (step.act == Act::Close) {
                close(step.file);
            } else {
                ASSERT_TRUE(write());
            }
        }
        for (int i = 0; i < kOpens; ++i) {
            EXPECT_EQ(watched[i] && watches.WrittenSince(*watched[i]), c.changed[i])
                << "watch, open " << i;
            close(i);
        }
    }
    std::filesystem::remove_all(folder);
}

} // namespace
