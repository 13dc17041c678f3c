#include "cli/Verdict.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <optional>
#include <vector>

#include "app/FirmwareApp.h"
#include "cli/Operator.h"
#include "cli/Processes.h"
#include "cli/Text.h"
#include "res/Texts.h"
#include "scsi/TapeError.h"

namespace cli {
namespace {

std::string StatusText(UINT status) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04x", status);
    return text;
}

// What the program's code said of one drive while its windows ran.
class Recorder : public RunObserver {
public:
    explicit Recorder(const PhaseListener& onPhase) : m_onPhase(onPhase) {}

    void CallFailed(UINT status, UINT /*device*/) override {
        std::lock_guard lock(m_mutex);
        m_failures.push_back(status);
    }
    void SenseRead(const SENSE_DATA& sense) override {
        std::lock_guard lock(m_mutex);
        m_sense = sense;
    }
    void Refused(Refusal why) override {
        std::lock_guard lock(m_mutex);
        // The rescan after a download qualifies the first drive again: not of this request.
        if (!m_refusal && m_phase < RunPhase::Claimed) {
            m_refusal = why;
        }
    }
    // Forgets what was said before the operator chose the drive.
    void Forget() {
        std::lock_guard lock(m_mutex);
        m_failures.clear();
        m_sense.reset();
        m_refusal.reset();
    }
    void ClaimedWithoutLock() override {
        std::lock_guard lock(m_mutex);
        m_unlocked = true;
    }
    void Phase(RunPhase phase) override {
        {
            std::lock_guard lock(m_mutex);
            m_phase = std::max(m_phase, phase);
        }
        if (m_onPhase) {
            m_onPhase(phase);
        }
    }
    void Outcome(bool committed, bool ready, bool stopped) override {
        std::lock_guard lock(m_mutex);
        m_committed = committed;
        m_ready = ready;
        m_stopped = stopped;
    }
    bool StopBeforeCommit() override { return StopRequested(); }

    // Read once the windows have returned, and with them the worker.
    std::vector<UINT> m_failures;
    std::optional<SENSE_DATA> m_sense;
    std::optional<Refusal> m_refusal;
    RunPhase m_phase{};
    bool m_committed = false;
    bool m_ready = false;
    bool m_stopped = false;
    bool m_unlocked = false;

private:
    std::mutex m_mutex;
    const PhaseListener& m_onPhase;
};

// Installs a recorder for as long as it lives.
class Recording {
public:
    explicit Recording(Recorder& recorder) { SetRunObserver(&recorder); }
    ~Recording() { SetRunObserver(nullptr); }
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;
};

std::string RefusalReason(Refusal why, const std::vector<UINT>& failures) {
    switch (why) {
    case Refusal::WrongDevice:
        return "not a drive the program upgrades";
    case Refusal::InUse:
        return "in use by another program";
    case Refusal::BelowMinimum:
        return "below the minimum revision";
    case Refusal::NotReady:
        return failures.empty() ? "not ready" : "not ready: status " + StatusText(failures[0]);
    case Refusal::NotClaimed:
        return failures.empty() ? "cannot be claimed"
                                : "cannot be claimed: status " + StatusText(failures[0]);
    }
    return "refused";
}

// The first error the program told of this drive, for a failure's reason.
std::string Trouble(const DialogRun& run, const Recorder& facts) {
    if (!facts.m_failures.empty()) {
        return "status " + StatusText(facts.m_failures[0]);
    }
    for (const auto& box : run.boxes) {
        if (box.text != res::text::kConfirmUpgrade && box.text != res::text::kDriveNotLocked &&
            box.text != res::text::kUpgradeFailed && box.text != res::text::kUpgradeSucceeded &&
            box.caption != res::text::kSenseCaption) {
            return box.text.substr(0, box.text.find('\n'));
        }
    }
    return "the download did not complete";
}

} // namespace

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &now);
#else
    gmtime_r(&now, &utc);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

Json SenseJson(const SENSE_DATA& sense) {
    const std::uint8_t* b = sense.bytes;
    const auto word = [&](int at) {
        return (std::uint32_t{b[at]} << 24) | (std::uint32_t{b[at + 1]} << 16) |
               (std::uint32_t{b[at + 2]} << 8) | std::uint32_t{b[at + 3]};
    };
    std::string raw;
    for (const std::uint8_t byte : sense.bytes) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", byte);
        raw += hex;
    }
    return Json{{"response_code", b[0] & 0x7F},
                {"valid", (b[0] & 0x80) != 0},
                {"segment", b[1]},
                {"sense_key", b[2] & 0x0F},
                {"sense_key_name", SenseKeyName(b[2])},
                {"filemark", (b[2] & 0x80) != 0},
                {"end_of_medium", (b[2] & 0x40) != 0},
                {"incorrect_length", (b[2] & 0x20) != 0},
                {"information", word(3)},
                {"additional_length", b[7]},
                {"command_specific", word(8)},
                {"asc", b[12]},
                {"ascq", b[13]},
                {"field_replaceable_unit", b[14]},
                {"bytes", raw}};
}

std::optional<std::string> RevisionNow(const DriveIdentity& drive) {
    std::optional<std::string> after;
    for (const DriveIdentity& now : ListDrives()) {
        // By its serial number, or its index for a drive without one.
        if (drive.serial.empty() ? now.index == drive.index : now.serial == drive.serial) {
            after = now.revision;
        }
    }
    return after;
}

void DecideAfterCommit(Json& record, const std::optional<std::string>& after,
                       const std::string& revision, bool ready) {
    record["revision_after"] = after ? Json(JsonText(*after)) : Json(nullptr);
    if (!after) {
        Decide(record, "attention", "the drive took the new firmware but is no longer listed");
    } else if (!ready) {
        Decide(record, "attention", "the drive took the new firmware but did not come back ready");
    } else if (UpperCase(*after) != revision) {
        Decide(record, "attention",
               "the drive came back with revision " + *after + ", not " + revision);
    } else {
        Decide(record, "upgraded", "");
    }
}

Json HandleDrive(fw::Kernel& kernel, const DriveIdentity& drive, const CommandLine& line,
                 const std::string& image, const PhaseListener& onPhase) {
    const auto started = std::chrono::steady_clock::now();
    const bool upgrading = line.command == Command::Upgrade;
    Json record = DriveRecord(drive);
    record["started"] = UtcNow();
    const std::string before = UpperCase(drive.revision);
    if (before == line.revision) {
        Decide(record, "current", "already at " + line.revision);
    } else if (before > line.revision && !line.allowOlder) {
        Decide(record, "refused",
               "a downgrade from " + drive.revision + " to " + line.revision +
                   " (--allow-older allows it)");
    } else {
        if (!line.json) {
            std::fprintf(stderr, "%s: %s\n", drive.Name().c_str(),
                         upgrading ? "upgrading" : "checking");
        }
        Recorder facts(onPhase);
        DialogRun run;
        {
            const Recording recording(facts);
            run = RunWindows(kernel, drive, image, upgrading, upgrading && !line.json,
                             [&facts] { facts.Forget(); });
        }
        for (const auto& box : run.boxes) {
            record["messages"].push_back(
                Json{{"caption", JsonText(box.caption)}, {"text", JsonText(box.text)}});
        }
        if (facts.m_sense) {
            record["sense"] = SenseJson(*facts.m_sense);
        }
        if (!run.chosen) {
            Decide(record, "refused", "the drive's list entry cannot be chosen");
        } else if (facts.m_refusal) {
            Decide(record, "refused", RefusalReason(*facts.m_refusal, facts.m_failures));
        } else if (!run.confirmationAsked) {
            Decide(record, "refused", "the program does not offer an upgrade of it");
        } else if (!upgrading) {
            Decide(record, "would-upgrade", "");
        } else if (facts.m_committed) {
            DecideAfterCommit(record, RevisionNow(drive), line.revision, facts.m_ready);
        } else if (facts.m_stopped) {
            Decide(record, "failed", kInterruptedBeforeCommit);
        } else {
            Decide(record, "failed", Trouble(run, facts));
        }
        if (facts.m_unlocked && record["reason"].is_null()) {
            record["reason"] = "without the lock against other programs: the system could not "
                               "tell the drive's tape node";
        }
    }
    record["ended"] = UtcNow();
    record["seconds"] =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return record;
}

} // namespace cli
