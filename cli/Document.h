// The JSON document of a run and the records of its drives (docs/fwupgrade-result.schema.json).
// Every text from outside the program enters through JsonText, so a document can always be
// written, whatever bytes a drive or a file name holds.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "cli/Drives.h"

namespace cli {

using Json = nlohmann::ordered_json;

// The drive's object as the listing knows it, with no result yet.
Json DriveRecord(const DriveIdentity& drive);

// Gives the record its result and, when reason is not empty, its reason.
void Decide(Json& record, const char* result, const std::string& reason);

// The record's result, or "" while it has none.
std::string ResultOf(const Json& record);

// True when record (another process's, perhaps) names drive: index, path, serial, vendor and
// product alike.
bool Describes(const Json& record, const DriveIdentity& drive);

// The document as text; never throws for the text it holds.
std::string DocumentText(const Json& document);

// The same on one line, no newline after it: a journal line.
std::string LineText(const Json& line);

// JSON text read back, or a discarded value (is_discarded()) when it is not JSON; never
// throws. The parser and the serializer are compiled in this unit alone: in each unit that
// used them they cost seconds of compile and analysis time.
Json ParseText(const std::string& text);

} // namespace cli
