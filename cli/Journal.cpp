#include "cli/Journal.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "cli/Files.h"
#include "cli/Processes.h"
#include "cli/Text.h"
#include "cli/Verdict.h"

namespace cli {
namespace {

constexpr char kRunVariable[] = "FWUPGRADE_RUN_ID";

struct JournalState {
    std::mutex mutex;
    std::string program = "upgrade";
    bool quiet = false;
    bool failed = false;
    std::optional<std::string> problem;
};

JournalState& State() {
    static JournalState state;
    return state;
}

std::string StateFolder() {
    const char* folder = std::getenv("FWUPGRADE_STATE_DIR");
    return folder != nullptr && folder[0] != '\0' ? folder : DefaultStateFolder();
}

} // namespace

std::string JournalPath() {
    const std::string folder = StateFolder();
    return folder.empty() ? std::string() : folder + PathSeparator() + "journal.jsonl";
}

std::string RunName() {
    static const std::string name = [] {
        const char* given = std::getenv(kRunVariable);
        if (given != nullptr && given[0] != '\0') {
            return std::string(given);
        }
        std::string made;
        for (const char c : UtcNow()) {
            if (c != '-' && c != ':') {
                made += c;
            }
        }
        made += "-" + std::to_string(ProcessId());
        SetEnvironment(kRunVariable, made);
        return made;
    }();
    return name;
}

void SetJournalProgram(const std::string& program, bool quiet) {
    JournalState& state = State();
    std::lock_guard lock(state.mutex);
    state.program = program;
    state.quiet = quiet;
}

std::optional<std::string> JournalProblem() {
    JournalState& state = State();
    std::lock_guard lock(state.mutex);
    return state.problem;
}

void JournalAppend(const DriveIdentity& drive, const char* event, Json facts) {
    const std::string path = JournalPath();
    const std::string run = RunName();
    JournalState& state = State();
    std::lock_guard lock(state.mutex);
    Json line{{"time", UtcNow()},   {"run", JsonText(run)},     {"host", JsonText(HostName())},
              {"pid", ProcessId()}, {"program", state.program}, {"event", event}};
    const Json record = DriveRecord(drive);
    for (const char* key : {"index", "path", "serial", "vendor", "product"}) {
        line[key] = record[key];
    }
    for (auto& [key, value] : facts.items()) {
        line[key] = value;
    }
    const std::string text = LineText(line) + "\n";
    if (state.failed) {
        return; // said once; a journal that failed once is not trusted to be whole again
    }
    const bool kept = !path.empty() && MakeFolders(FolderOf(path)) && AppendDurably(path, text);
    if (kept) {
        return;
    }
    state.failed = true;
    state.problem = path.empty()
                        ? "no journal is kept: no folder for it (set FWUPGRADE_STATE_DIR)"
                        : "the journal " + path + " cannot be written: this run is not in it";
    if (!state.quiet) {
        std::fprintf(stderr, "fwupgrade: %s\n", HumanText(*state.problem).c_str());
    }
}

const char* PhaseEvent(RunPhase phase) {
    switch (phase) {
    case RunPhase::Claimed:
        return "claimed";
    case RunPhase::TransferStarted:
        return "transfer_started";
    case RunPhase::CommitSent:
        return "commit_sent";
    case RunPhase::Polling:
        return "polling";
    case RunPhase::Ended:
        return "ended";
    }
    return "started";
}

void JournalPhase(const DriveIdentity& drive, RunPhase phase) {
    if (phase != RunPhase::Ended) {
        JournalAppend(drive, PhaseEvent(phase));
    }
}

void JournalOutcome(const DriveIdentity& drive, const Json& record, bool judged) {
    Json facts{{"result", record.value("result", Json(nullptr))},
               {"reason", record.value("reason", Json(nullptr))},
               {"revision_after", record.value("revision_after", Json(nullptr))}};
    if (judged) {
        facts["judged"] = true;
    }
    JournalAppend(drive, "outcome", std::move(facts));
}

} // namespace cli
