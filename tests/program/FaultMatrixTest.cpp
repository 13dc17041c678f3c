// Every library call an upgrade makes, failed in turn with every kind of status: whatever
// the fault, the program must never claim a success it did not have, never commit after a
// failed chunk, never leave a drive it has touched without polling it, and always end the
// progress window and rebuild the list.
#include <algorithm>
#include <cstdio>
#include <sstream>

#include <fstream>
#include <nlohmann/json.hpp>

#include "app/FirmwareApp.h"
#include "cli/Unattended.h"
#include "tests/program/Harness.h"
#include "zurvax/Zurvax.h"

namespace program::test {
namespace {

constexpr std::size_t kChunk = 8192;
constexpr char kSuccess[] = "Congratulations ! \n\nYour device firmware update is now complete.";
constexpr char kFailure[] = "Error: please check the device and try again.";

struct Fault {
    std::string description;
    std::string json; // one entry of "faults"
};

// The calls of one upgrade, in order, for an image of `chunks` chunks. TestUnitReady calls
// 1-2 are the selection's, 3 the request's, 4 the worker's pre-check, 5 on the poll
// (an undisturbed poll of this drive takes five calls).
std::vector<Fault> FaultsFor(std::size_t chunks) {
    const char* statuses[] = {"0x3A00", "0x0400", "0x2600", "0x10003"};
    std::vector<std::pair<std::string, std::string>> places; // description, json without status
    places.emplace_back("request readiness", R"("op":"TestUnitReady","from":3)");
    places.emplace_back("pre-check", R"("op":"TestUnitReady","from":4)");
    for (std::size_t i = 1; i <= chunks; ++i) {
        places.emplace_back("write " + std::to_string(i),
                            R"("op":"WriteBuffer","mode":2,"from":)" + std::to_string(i));
        places.emplace_back("read-back " + std::to_string(i),
                            R"("op":"ReadBuffer","from":)" + std::to_string(i));
    }
    places.emplace_back("commit", R"("op":"WriteBuffer","mode":5,"from":1)");
    for (int poll = 0; poll < 5; ++poll) {
        places.emplace_back("poll " + std::to_string(poll + 1),
                            R"("op":"TestUnitReady","from":)" + std::to_string(5 + poll));
    }
    std::vector<Fault> faults;
    for (const auto& [where, json] : places) {
        for (const char* status : statuses) {
            faults.push_back(
                {where + " answers " + status, "{" + json + R"(,"status":")" + status + "\"}"});
        }
    }
    for (std::size_t i = 1; i <= chunks; ++i) {
        faults.push_back(
            {"read-back " + std::to_string(i) + " corrupted",
             R"({"op":"ReadBuffer","from":)" + std::to_string(i) + R"(,"corrupt":true})"});
        faults.push_back({"write " + std::to_string(i) + " stored corrupted",
                          R"({"op":"WriteBuffer","mode":2,"from":)" + std::to_string(i) +
                              R"(,"corrupt":true})"});
    }
    return faults;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0;
}

std::uint32_t StatusOf(const std::string& traceLine) {
    return static_cast<std::uint32_t>(
        std::stoul(traceLine.substr(traceLine.rfind("-> ") + 3), nullptr, 16));
}

bool Good(std::uint32_t status) { return status == 0 || status == 0x3A00; }

// Runs one upgrade with one fault and checks every promise; returns false when one broke.
void CheckOneRun(const std::vector<std::uint8_t>& image, const Fault& fault) {
    const std::size_t imageSize = image.size();
    SCOPED_TRACE(std::to_string(imageSize) + " bytes, " + fault.description);
    ProgramRun run(Devices({std::string(R"({"faults":[)") + fault.json + "]}"}));
    run.WriteImage(image);
    run.Agree();
    run.InMain([](Headless& ui) { ui.Click(IDC_UPGRADE); });
    run.ui().Answer("Are you sure", IDYES);
    run.Done();
    // Reports are declined and the rescan may find the drive still busy: answer every
    // further question No.
    for (int i = 0; i < 4; ++i)
        run.ui().Answer("Read Sense Data ?", IDNO);
    run.Run();

    // Commands to the drive; claiming it only holds the system's tape node.
    std::vector<std::string> trace;
    for (const auto& line : run.Trace()) {
        if (!StartsWith(line, "ClaimDevice") && !StartsWith(line, "ReleaseDevice"))
            trace.push_back(line);
    }
    std::vector<std::string> worker;
    std::vector<std::string> texts;
    bool workerRan = false;
    for (const auto& box : run.Boxes()) {
        if (box.workerThread) {
            workerRan = true;
            texts.push_back(box.text);
        }
    }
    const bool succeeded = std::count(texts.begin(), texts.end(), kSuccess) == 1;
    const bool failed = std::count(texts.begin(), texts.end(), kFailure) == 1;

    // The worker's calls: from the pre-check (4th readiness test) to the rescan.
    int tests = 0;
    std::size_t first = trace.size();
    for (std::size_t i = 0; i < trace.size(); ++i) {
        if (StartsWith(trace[i], "TestUnitReady") && ++tests == 4) {
            first = i;
            break;
        }
    }
    std::size_t last = first;
    while (last < trace.size() && !StartsWith(trace[last], "GetDeviceType"))
        ++last;
    worker.assign(trace.begin() + static_cast<std::ptrdiff_t>(std::min(first, trace.size())),
                  trace.begin() + static_cast<std::ptrdiff_t>(last));

    if (!workerRan) {
        // Refused before the download: nothing was sent and nothing claimed.
        EXPECT_TRUE(worker.empty());
        EXPECT_EQ(theApp.m_bUpgradeDone, 0);
        return;
    }
    EXPECT_NE(succeeded, failed) << "exactly one outcome";
    EXPECT_EQ(theApp.m_bUpgradeDone, succeeded ? 1 : 0);

    // No commit after a failed chunk.
    const auto commit = std::find_if(worker.begin(), worker.end(), [](const std::string& l) {
        return StartsWith(l, "WriteBuffer 0 mode=5");
    });
    const bool chunkFailed =
        std::any_of(worker.begin(), commit,
                    [](const std::string& l) {
                        return (StartsWith(l, "WriteBuffer") || StartsWith(l, "ReadBuffer") ||
                                StartsWith(l, "TestUnitReady")) &&
                               !Good(StatusOf(l));
                    }) ||
        std::find(texts.begin(), texts.end(), "Error: ReadBuffer not equal to WriteBuffer") !=
            texts.end();
    if (chunkFailed) {
        EXPECT_EQ(commit, worker.end()) << "committed after a failed chunk";
    }

    // The drive is polled after the last command the worker sent it.
    auto lastCommand = std::find_if(worker.rbegin(), worker.rend(), [](const std::string& l) {
        return StartsWith(l, "WriteBuffer") || StartsWith(l, "ReadBuffer");
    });
    if (lastCommand != worker.rend()) {
        EXPECT_NE(lastCommand, worker.rbegin()) << "not polled after " << *lastCommand;
        EXPECT_TRUE(StartsWith(worker.back(), "TestUnitReady"));
    }
    if (!worker.empty()) {
        EXPECT_TRUE(Good(StatusOf(worker.back())) || failed) << "a success ends on a ready drive";
    }

    if (succeeded) {
        // Every chunk written and read back, in order, then the commit.
        const std::size_t chunks = (imageSize + kChunk - 1) / kChunk;
        ASSERT_NE(commit, worker.end());
        EXPECT_EQ(static_cast<std::size_t>(std::count_if(
                      worker.begin(), commit,
                      [](const std::string& l) { return StartsWith(l, "ReadBuffer"); })),
                  chunks);
        EXPECT_EQ(
            std::find(texts.begin(), texts.end(), "Error: ReadBuffer not equal to WriteBuffer"),
            texts.end());
        const auto drive = zurvax::EmulatedDriveState(0);
        ASSERT_TRUE(drive);
        const std::uint32_t commitStatus = StatusOf(*commit);
        if (commitStatus == 0) {
            // The drive's own account: it took exactly the file.
            EXPECT_EQ(drive->acceptedCommits, 1u);
            EXPECT_EQ(drive->lastImage, image);
        } else {
            // A commit answered by no-tape or by a lost device is left to the poll.
            EXPECT_TRUE(commitStatus == 0x3A00 || commitStatus == 0x10003) << *commit;
        }
    }

    // The window ended once, within a tick of the signal that came 2000 ms before the
    // outcome, and the list was rebuilt.
    int progressEnded = 0;
    std::uint64_t endedAt = 0;
    int resets = 0;
    for (const auto& op : run.ui().Operations()) {
        if (op.what == "EndDialog" && op.dialogId == IDD_PROGRESS) {
            ++progressEnded;
            endedAt = op.time;
        }
        resets += op.what == "LB_RESETCONTENT";
    }
    EXPECT_EQ(progressEnded, 1);
    const std::uint64_t outcomeAt = run.Boxes().back().time;
    EXPECT_LE(endedAt + 2000, outcomeAt + 100);
    EXPECT_GE(endedAt + 2000, outcomeAt);
    EXPECT_EQ(resets, 2);
}

// The same fault through the unattended command line: it may call a drive upgraded only
// where the program itself said "Congratulations !" and the drive took exactly the image.
void CheckUnattendedRun(const std::vector<std::uint8_t>& image, const Fault& fault) {
    SCOPED_TRACE("unattended, " + std::to_string(image.size()) + " bytes, " + fault.description);
    ProgramRun run(Devices({std::string(R"({"faults":[)") + fault.json + "]}"}));
    run.WriteImage(image);
    const int status =
        cli::RunUnattended({"upgrade", "--image", "kmr47000_0200.gbf", "--accept-agreement",
                            "--yes", "--report", "report.json"},
                           run.kernel());
    std::ifstream file(run.folder() / "report.json");
    const auto report = nlohmann::json::parse(file, nullptr, false);
    ASSERT_FALSE(report.is_discarded());
    ASSERT_EQ(report["drives"].size(), 1u);
    const auto& drive = report["drives"][0];
    const std::string result = drive["result"].get<std::string>();
    bool congratulated = false;
    for (const auto& message : drive["messages"])
        congratulated = congratulated || message["text"] == kSuccess;
    if (result == "upgraded") {
        EXPECT_TRUE(congratulated);
        const auto state = zurvax::EmulatedDriveState(0);
        ASSERT_TRUE(state);
        EXPECT_EQ(state->lastImage, image);
    }
    const int expected = result == "upgraded" ? 0 : result == "refused" ? 3 : 1;
    EXPECT_EQ(status, expected) << result;
    EXPECT_EQ(report["exit_status"], status);
}

// A header, then chunks that are all alike (0xFF padding, common in firmware): a read-back
// that delivers nothing would find the previous chunk's bytes still in place.
std::vector<std::uint8_t> RepeatingImage(std::size_t size) {
    std::vector<std::uint8_t> image = SampleImage(size);
    std::fill(image.begin() + 16, image.end(), std::uint8_t{0xFF});
    return image;
}

TEST(FaultMatrix, NoFaultMakesTheProgramLieOrAbandonTheDrive) {
    const std::vector<std::uint8_t> images[] = {SampleImage(kChunk), SampleImage(3 * kChunk),
                                                SampleImage(2 * kChunk + 100),
                                                RepeatingImage(3 * kChunk)};
    std::size_t cases = 0;
    for (const auto& image : images) {
        const std::size_t chunks = (image.size() + kChunk - 1) / kChunk;
        for (const auto& fault : FaultsFor(chunks)) {
            CheckOneRun(image, fault);
            CheckUnattendedRun(image, fault);
            ++cases;
            if (::testing::Test::HasFatalFailure())
                return;
        }
    }
    std::printf("fault matrix: %zu cases\n", cases);
    EXPECT_EQ(cases, 228u) << "every image size brings its chunks' places";
}

} // namespace
} // namespace program::test
