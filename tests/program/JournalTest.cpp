// The journal: each drive's phases on the disk as they happen, from the command line and the
// interactive program alike, and what history makes of them, a run killed outright included.
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/History.h"
#include "cli/InteractiveJournal.h"
#include "cli/Journal.h"
#include "cli/Unattended.h"
#include "tests/program/Harness.h"

namespace program::test {
namespace {

using Json = nlohmann::json;

constexpr char kConfirm[] = "Are you sure you want to upgrade Current Firmware?";

// The journal of a test of its own, in the run's folder.
struct JournalFolder {
    explicit JournalFolder(const ProgramRun& run) : path(run.folder() / "state") {
        SetEnv("FWUPGRADE_STATE_DIR", path.string());
    }
    ~JournalFolder() { UnsetEnv("FWUPGRADE_STATE_DIR"); }
    JournalFolder(const JournalFolder&) = delete;
    JournalFolder& operator=(const JournalFolder&) = delete;

    std::vector<Json> Lines() const {
        std::vector<Json> lines;
        std::ifstream file(path / "journal.jsonl");
        for (std::string line; std::getline(file, line);)
            lines.push_back(Json::parse(line));
        return lines;
    }
    // Each line's event, and the result of an outcome: "started", ..., "outcome upgraded".
    std::vector<std::string> Events(unsigned index) const {
        std::vector<std::string> events;
        for (const Json& line : Lines()) {
            if (line["index"] != index)
                continue;
            std::string event = line["event"];
            if (event == "outcome")
                event += " " + line["result"].get<std::string>();
            events.push_back(event);
        }
        return events;
    }

    std::filesystem::path path;
};

const std::vector<std::string> kFull = {"started",     "claimed", "transfer_started",
                                        "commit_sent", "polling", "outcome upgraded"};

TEST(Journal, EachDriveIsOnTheDiskPhaseByPhase) {
    struct Case {
        const char* device;
        std::vector<std::string> events;
    };
    const Case cases[] = {
        {R"({"activation_polls":0,"serial":"SN-A"})", kFull},
        {R"({"faults":[{"op":"TestUnitReady","count":0,"status":"0x0402"}]})",
         {"started", "outcome refused"}},
        // Refused at the commit: said before it went out, and the drive kept its old code.
        {R"({"faults":[{"op":"WriteBuffer","mode":5,"status":"0x2600"}]})",
         {"started", "claimed", "transfer_started", "commit_sent", "polling", "outcome failed"}},
        {R"({"revision":"0200"})", {"started", "outcome current"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.device);
        ProgramRun run(Devices({c.device}));
        const JournalFolder journal(run);
        run.WriteImage(SampleImage(2 * 8192));
        cli::RunUnattended(
            {"upgrade", "--image", "kmr47000_0200.gbf", "--accept-agreement", "--yes"},
            run.kernel());
        EXPECT_EQ(journal.Events(0), c.events);
        const std::vector<Json> lines = journal.Lines();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.front()["revision_before"],
                  Json::parse(c.device).value("revision", "0100"));
        EXPECT_EQ(lines.front()["image"]["revision"], "0200");
        EXPECT_EQ(lines.front()["image"]["sha256"].get<std::string>().size(), 64u);
        for (const Json& line : lines) {
            EXPECT_EQ(line["run"], lines.front()["run"]);
            EXPECT_EQ(line["program"], "upgrade");
        }
    }
}

TEST(Journal, TheInteractiveProgramAppendsItsDownloads) {
    ProgramRun run(Devices({R"({"activation_polls":0,"serial":"SN-I"})"}));
    const JournalFolder journal(run);
    run.WriteImage(SampleImage(2 * 8192));
    {
        const cli::InteractiveJournal keeping;
        run.Agree();
        run.InMain([](Headless& ui) { EXPECT_TRUE(ui.Click(IDC_UPGRADE)); });
        run.ui().Answer(kConfirm, IDYES);
        run.Done();
        run.Run();
    }
    EXPECT_EQ(journal.Events(0), kFull);
    const std::vector<Json> lines = journal.Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front()["program"], "interactive");
    EXPECT_EQ(lines.front()["serial"], "SN-I");
    EXPECT_EQ(lines.back()["revision_after"], "0200");
}

TEST(Journal, OneThatCannotBeWrittenStopsNothing) {
    ProgramRun run(Devices({R"({"activation_polls":0})"}));
    run.WriteFile("state", "a file where the folder would be");
    const JournalFolder journal(run);
    run.WriteImage(SampleImage(8192));
    EXPECT_EQ(cli::RunUnattended(
                  {"upgrade", "--image", "kmr47000_0200.gbf", "--accept-agreement", "--yes"},
                  run.kernel()),
              cli::kExitDone);
    EXPECT_EQ(run.TraceOf("WriteBuffer 0 mode=5").size(), 1u);
}

// Journal lines as the program writes them, for history to read.
std::string Line(const char* run, const char* serial, const char* event, const char* more = "") {
    return std::string(R"({"time":"2026-12-09T08:00:00Z","run":")") + run +
           R"(","host":"h","pid":1,"program":"upgrade","event":")" + event +
           R"(","index":0,"path":"1:5:0","serial":")" + serial + R"(","vendor":"VORN",)" +
           R"("product":"KMR-47000")" + more + "}\n";
}

TEST(History, EachDriveAndRunIsOneEntryWithHowFarItGot) {
    const std::string started = R"(,"revision_before":"0100","image":{"revision":"0200"})";
    const std::string text =
        // Killed outright after its commit: nothing after commit_sent.
        Line("r1", "SN-A", "started", started.c_str()) + Line("r1", "SN-A", "claimed") +
        Line("r1", "SN-A", "transfer_started") + Line("r1", "SN-A", "commit_sent") +
        // Another drive of the same run, judged by its parent.
        Line("r1", "SN-B", "started") + Line("r1", "SN-B", "claimed") +
        Line("r1", "SN-B", "outcome", R"(,"result":"failed","reason":"x","judged":true)") +
        // A line torn by a crash, then a later run of the first drive.
        R"({"time":"2026-12-09T08:01:00Z","run":"r2","ev)"
        "\n" +
        Line("r2", "SN-A", "started") +
        Line("r2", "SN-A", "outcome", R"(,"result":"upgraded","revision_after":"0200")");
    const cli::History history = cli::ReadHistory(text);
    EXPECT_EQ(history.unreadable, 1u);
    ASSERT_EQ(history.entries.size(), 3u);
    const Json& killed = history.entries[0];
    EXPECT_TRUE(killed["result"].is_null());
    EXPECT_EQ(killed["last_phase"], "commit_sent");
    EXPECT_EQ(killed["revision_before"], "0100");
    EXPECT_EQ(history.entries[1]["result"], "failed");
    EXPECT_EQ(history.entries[1]["judged"], true);
    EXPECT_EQ(history.entries[2]["run"], "r2");
    EXPECT_EQ(history.entries[2]["result"], "upgraded");
}

} // namespace
} // namespace program::test
