// What the program's own code knows of an upgrade as it happens, told to whoever keeps a
// record of it (the unattended command line, the journal). The code that knows a fact says it
// here, on whichever thread it runs; an observer only records, and nothing the program does
// depends on it but for StopBeforeCommit, a stop the operator's side asks for.
#pragma once

#include "framework/afxwin.h"
#include "zurvax/ZurvaxApi.h"

// How far a download got. Ordered: a later phase implies the earlier ones.
enum class RunPhase : int {
    Claimed = 1,         // the request holds the drive and is about to start the worker
    TransferStarted = 2, // the first WRITE BUFFER is about to go out
    CommitSent = 3,      // the commit (WRITE BUFFER mode 5) was sent: the drive may take it
    Polling = 4,         // waiting for the drive to answer TEST UNIT READY again
    Ended = 5,           // the worker's outcome is settled (Outcome says which)
};

// Why an upgrade request went no further than the drive's qualification.
enum class Refusal : int {
    WrongDevice = 1,  // not a drive the program upgrades
    NotReady = 2,     // the readiness test failed
    BelowMinimum = 3, // its revision is below the minimum
    InUse = 4,        // another program holds its tape node
    NotClaimed = 5,   // the claim failed for another reason
};

class RunObserver {
public:
    virtual ~RunObserver() = default;
    // A device call the caller does not accept: the status the error report names.
    virtual void CallFailed(UINT /*status*/, UINT /*device*/) {}
    // The sense data the error report read for it, as the drive gave it.
    virtual void SenseRead(const SENSE_DATA& /*sense*/) {}
    virtual void Refused(Refusal /*why*/) {}
    // The drive was claimed, but its tape node could not be held against other programs.
    virtual void ClaimedWithoutLock() {}
    virtual void Phase(RunPhase /*phase*/) {}
    // The worker's end: committed, the drive took the commit; ready, it answered afterwards.
    virtual void Outcome(bool /*committed*/, bool /*ready*/, bool /*stopped*/) {}
    // Asked by the worker before every chunk and before the commit: true ends the download
    // there, the old firmware still running, as a failure the worker reports.
    virtual bool StopBeforeCommit() { return false; }
};

// The observer the program's code tells; one that ignores everything while none is set.
// Set it only while no worker runs; the caller keeps it alive until it is set again.
void SetRunObserver(RunObserver* observer);
RunObserver& CurrentRunObserver();
