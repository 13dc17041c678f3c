#include "scsi/RunObserver.h"

#include <atomic>

namespace {
RunObserver g_ignoring;
std::atomic<RunObserver*> g_observer{&g_ignoring};
} // namespace

void SetRunObserver(RunObserver* observer) {
    g_observer = observer != nullptr ? observer : &g_ignoring;
}

RunObserver& CurrentRunObserver() { return *g_observer; }
