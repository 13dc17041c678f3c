// The journal: what each drive received, kept on the disk as it happens, so that a run that
// was killed outright (SIGKILL, a host that lost power) still says how far each drive got.
//
// One JSON object per line in journal.jsonl of the state folder ($FWUPGRADE_STATE_DIR, else
// DefaultStateFolder), appended by every process of a run (its --jobs children, the
// interactive program too), each line on the disk before the program goes on. Every line has
// "time" (UTC), "run" (the run's name, $FWUPGRADE_RUN_ID, which a run's children inherit),
// "host", "pid", "program" and "event", and the drive's "index", "path", "serial", "vendor"
// and "product". The events, in the order a drive reaches them:
//   started           the run took the drive on: "revision_before", "image" {path, sha256,
//                     revision}
//   claimed, transfer_started, commit_sent, polling
//                     the download's phases (RunPhase)
//   outcome           "result", "reason", "revision_after"; "judged": true when the parent
//                     decided it for a child that ended without a result
// A journal that cannot be written is said once on standard error and stops nothing.
#pragma once

#include <optional>
#include <string>

#include "cli/Document.h"
#include "cli/Drives.h"
#include "scsi/RunObserver.h"

namespace cli {

std::string JournalPath();
// The image as the operator named it, which a run hands its children (they read a copy):
// for their journal lines alone.
inline constexpr char kImageNamedVariable[] = "FWUPGRADE_RUN_IMAGE";
// The name the journal's lines of this run carry; made at the first call unless the
// environment gives one, and put in the environment for the run's children.
std::string RunName();

// Which program writes: "upgrade" (the default) or "interactive". The interactive program
// keeps a failure to write for JournalProblem instead of writing over its screen.
void SetJournalProgram(const std::string& program, bool quiet);
// The first failure to write the journal, once quiet; nothing while it could be written.
std::optional<std::string> JournalProblem();

// Appends one line for drive: event and facts (an object whose members join the line's).
void JournalAppend(const DriveIdentity& drive, const char* event, Json facts = Json::object());
// The line for a phase of the download; nothing for RunPhase::Ended (its outcome follows).
void JournalPhase(const DriveIdentity& drive, RunPhase phase);
// The line for the result a record holds.
void JournalOutcome(const DriveIdentity& drive, const Json& record, bool judged);

// The event name of a phase ("commit_sent"), and how history shows it ("commit sent").
const char* PhaseEvent(RunPhase phase);

} // namespace cli
