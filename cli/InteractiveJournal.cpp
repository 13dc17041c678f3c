#include "cli/InteractiveJournal.h"

#include <cstdio>
#include <mutex>
#include <optional>

#include "app/FirmwareApp.h"
#include "cli/CommandLine.h"
#include "cli/Image.h"
#include "cli/Journal.h"
#include "cli/Text.h"
#include "cli/Verdict.h"

namespace cli {

struct InteractiveJournal::Observer : RunObserver {
    void Phase(RunPhase phase) override {
        std::lock_guard lock(mutex);
        if (phase == RunPhase::Claimed) {
            Start();
        }
        if (drive) {
            JournalPhase(*drive, phase);
        }
    }

    void Outcome(bool committed, bool ready, bool /*stopped*/) override {
        std::lock_guard lock(mutex);
        if (!drive) {
            return;
        }
        Json record{{"result", nullptr}, {"reason", nullptr}, {"revision_after", nullptr}};
        if (!committed) {
            Decide(record, "failed", "the download did not complete; the old firmware still runs");
        } else {
            // The worker addresses the drive by its index, which holds until the next scan.
            const auto now = IdentityAt(drive->index);
            std::optional<std::string> after;
            if (now && now->serial == drive->serial) {
                after = now->revision;
            }
            // An image whose name carries no revision: the drive's own after the commit.
            DecideAfterCommit(record, after,
                              revision.empty() ? UpperCase(after.value_or("")) : revision, ready);
        }
        JournalOutcome(*drive, record, false);
        drive.reset();
    }

    // The drive the operator chose and the image the worker is about to read, as they are
    // at the claim: the worker notices a change to the image before its commit.
    void Start() {
        drive = IdentityAt(theApp.m_nDeviceId);
        if (!drive) {
            return;
        }
        const std::string path = theApp.m_strImagePath.c_str();
        revision = RevisionFromImageName(path).value_or("");
        Json image{{"path", JsonText(path)}, {"sha256", nullptr}, {"revision", nullptr}};
        const auto read = ReadImage(path, "", nullptr);
        if (const auto* bytes = std::get_if<RunImage>(&read)) {
            image["sha256"] = bytes->sha256;
        }
        if (!revision.empty()) {
            image["revision"] = revision;
        }
        JournalAppend(*drive, "started",
                      Json{{"revision_before", JsonText(drive->revision)}, {"image", image}});
    }

    std::mutex mutex;
    std::optional<DriveIdentity> drive;
    std::string revision;
};

InteractiveJournal::InteractiveJournal() : m_observer(std::make_unique<Observer>()) {
    SetJournalProgram("interactive", true);
    SetRunObserver(m_observer.get());
}

InteractiveJournal::~InteractiveJournal() {
    SetRunObserver(nullptr);
    if (const auto problem = JournalProblem()) {
        std::fprintf(stderr, "fwupgrade: %s\n", HumanText(*problem).c_str());
    }
}

} // namespace cli
