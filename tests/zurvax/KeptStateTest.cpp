// The emulated drives' state file under several writers: a held lock is never taken away, a
// dead holder's is no obstacle, and a file that cannot be written is said.
#include <functional>
#include <memory>

#include "TestSupport.h"
#include "zurvax/KeptState.h"

#ifndef _WIN32
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace zurvax::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto kShortPatience = 300ms;

// Undoes what a case arranged (ends a holder, say); may be empty.
using Cleanup = std::function<void()>;

#ifndef _WIN32
// A process of its own that takes the lock, tells so through a pipe, and either dies at once
// (SIGKILL: no chance to give anything back) or holds on until the cleanup.
Cleanup HolderProcess(const fs::path& state, bool dies) {
    int ready[2];
    int go[2];
    if (::pipe(ready) != 0 || ::pipe(go) != 0)
        ADD_FAILURE() << "pipe";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(ready[0]);
        ::close(go[1]);
        const KeptStateLock lock(state.string(), 0ms);
        const char held = lock.held() ? 'y' : 'n';
        if (::write(ready[1], &held, 1) != 1 || dies)
            ::raise(SIGKILL);
        char ignored;
        (void)::read(go[0], &ignored, 1); // returns when the parent closes its end
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(go[0]);
    char held = 'n';
    EXPECT_EQ(::read(ready[0], &held, 1), 1);
    ::close(ready[0]);
    EXPECT_EQ(held, 'y') << "the holder could not take the lock";
    const auto reap = [child] {
        int status = 0;
        ::waitpid(child, &status, 0);
    };
    if (dies) {
        reap();
        ::close(go[1]);
        return {};
    }
    return [go = go[1], reap] {
        ::close(go);
        reap();
    };
}
#endif

struct KeptCase {
    const char* name;
    std::function<Cleanup(const fs::path& state)> arrange;
    KeptStateWrite expected;
};

class KeptStateTest : public LibraryTest {};

TEST_F(KeptStateTest, AnUpdateWaitsOnlyForALiveHolderAndSaysWhyItWroteNothing) {
    const std::vector<KeptCase> cases = {
#ifndef _WIN32
        {"another process holds the lock",
         [](const fs::path& state) { return HolderProcess(state, false); },
         KeptStateWrite::LockHeld},
        {"the process that held the lock was killed",
         [](const fs::path& state) { return HolderProcess(state, true); }, KeptStateWrite::Written},
#endif
        {"another opener in this process holds the lock",
         [](const fs::path& state) -> Cleanup {
             auto holder = std::make_shared<KeptStateLock>(state.string(), 0ms);
             EXPECT_TRUE(holder->held());
             return [holder]() mutable { holder.reset(); };
         },
         KeptStateWrite::LockHeld},
        {"a lock file left behind, held by no one",
         [](const fs::path& state) -> Cleanup {
             std::ofstream(state.string() + ".lock") << "left by a run that ended";
             return {};
         },
         KeptStateWrite::Written},
        {"the temporary file's name is taken by a folder",
         [](const fs::path& state) -> Cleanup {
             fs::create_directory(state.string() + ".tmp");
             return {};
         },
         KeptStateWrite::WriteFailed},
        {"the state file is not what the library writes",
         [](const fs::path& state) -> Cleanup {
             std::ofstream(state) << "[]";
             return {};
         },
         KeptStateWrite::ReadFailed},
    };
    for (const KeptCase& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path folder = scratch(c.name);
        fs::create_directory(folder);
        const fs::path state = folder / "drives.json";
        ASSERT_EQ(SaveKeptState(state.string(), KeptState{{{"SN0", "0100"}}}), "");
        const std::string before = ReadText(state);
        const Cleanup cleanup = c.arrange(state);

        const KeptStateUpdate update =
            UpdateKeptState(state.string(), "SN1", "0200", kShortPatience);

        EXPECT_EQ(update.result, c.expected) << update.message;
        EXPECT_EQ(update.message.empty(), c.expected == KeptStateWrite::Written) << update.message;
        if (c.expected == KeptStateWrite::Written) {
            const auto loaded = LoadKeptState(state.string());
            ASSERT_TRUE(std::holds_alternative<KeptState>(loaded));
            EXPECT_EQ(std::get<KeptState>(loaded).revisions,
                      (std::map<std::string, std::string>{{"SN0", "0100"}, {"SN1", "0200"}}));
        } else if (fs::is_regular_file(state) && c.expected != KeptStateWrite::ReadFailed) {
            EXPECT_EQ(ReadText(state), before) << "the old file stays";
        }
        if (c.expected == KeptStateWrite::LockHeld) {
            EXPECT_FALSE(KeptStateLock(state.string(), 0ms).held())
                << "the waiter took the lock from its live holder";
        }
        if (cleanup)
            cleanup();
        EXPECT_TRUE(KeptStateLock(state.string(), 0ms).held()) << "free once its holder is gone";
    }
}

TEST_F(KeptStateTest, AStateFileTheLibraryCannotWriteIsTracedAndKept) {
    const auto trace = scratch("trace.txt");
    SetEnv("ZURVAX_TRACE", trace.string());
    useEmulation(R"({"state_file": "state.json", "devices": [ {"power_on_attention": false} ]})");
    fs::create_directory(scratch("state.json.tmp"));
    std::string image = std::string(kImageMagic) + "0200";
    ASSERT_EQ(WriteBuffer(0, 5, 0, 0, static_cast<std::uint32_t>(image.size()),
                          reinterpret_cast<std::uint8_t*>(image.data())),
              0u);

    const std::string error = EmulatedStateError();
    EXPECT_NE(error, "");
    const auto lines = ReadLines(trace);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "state file not written: " + error);
    (void)TestUnitReady(0); // a call that changes no firmware
    EXPECT_EQ(ReadLines(trace).size(), lines.size() + 1) << "told once";
}

} // namespace
} // namespace zurvax::test
