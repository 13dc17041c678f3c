// fwupgrade history: what the journal (Journal.h) holds, one entry per drive and run, newest
// last. A drive whose journal has no outcome shows as "outcome unknown" with the last phase
// its lines recorded: the process was killed, or the host went down, or it still runs.
#pragma once

#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/Document.h"

namespace cli {

// The entries of a journal's text, in the order their first lines were written, and the
// number of lines that are no journal line (one torn by a crash, say).
struct History {
    // Each: run, host, program, index, path, serial, vendor, product, started, ended,
    // revision_before, image, last_phase (the furthest phase event, or "started", or null),
    // result (null while no outcome is known), reason, revision_after, judged.
    std::vector<Json> entries;
    std::size_t unreadable = 0;
};
History ReadHistory(const std::string& text);

// The command: prints the entries the selectors name (all without --device), as lines or as
// one JSON document; exit 0, 4 when --device named no entry, 1 when the journal cannot be
// read.
int RunHistory(const CommandLine& line);

} // namespace cli
