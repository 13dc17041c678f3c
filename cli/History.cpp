#include "cli/History.h"

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <tuple>

#include "cli/Journal.h"
#include "cli/Selector.h"
#include "cli/Text.h"
#include "cli/Unattended.h"

namespace cli {
namespace {

// How far a drive got, by the event names the journal writes: later is further.
int PhaseRank(const std::string& event) {
    for (int phase = static_cast<int>(RunPhase::Claimed); phase < static_cast<int>(RunPhase::Ended);
         ++phase) {
        if (event == PhaseEvent(static_cast<RunPhase>(phase))) {
            return phase;
        }
    }
    return event == "started" ? 0 : -1;
}

std::string Text(const Json& value) {
    return value.is_string() ? value.get<std::string>() : std::string();
}

// The drive an entry names, as the selectors read drives.
DriveIdentity IdentityOf(const Json& entry) {
    DriveIdentity drive;
    drive.index = entry.value("index", 0U);
    std::sscanf(Text(entry["path"]).c_str(), "%d:%d:%d", &drive.host, &drive.target, &drive.lun);
    drive.serial = Text(entry["serial"]);
    drive.vendor = Text(entry["vendor"]);
    drive.product = Text(entry["product"]);
    return drive;
}

bool Selected(const Json& entry, const std::vector<std::string>& selectors) {
    if (selectors.empty()) {
        return true;
    }
    const auto chosen = ResolveSelectors({IdentityOf(entry)}, selectors);
    const auto* positions = std::get_if<std::vector<std::size_t>>(&chosen);
    return positions != nullptr && !positions->empty();
}

std::string Line(const Json& entry) {
    std::string line = Text(entry["started"]) + "  " + Text(entry["path"]);
    if (!Text(entry["serial"]).empty()) {
        line += " serial " + Text(entry["serial"]);
    }
    const std::string before = Text(entry["revision_before"]);
    const std::string image =
        entry["image"].is_object() ? Text(entry["image"]["revision"]) : std::string();
    if (!before.empty() || !image.empty()) {
        line += "  " + (before.empty() ? "?" : before) + " -> " + (image.empty() ? "?" : image);
    }
    if (entry["result"].is_string()) {
        line += "  " + Text(entry["result"]);
        if (entry["reason"].is_string()) {
            line += ": " + Text(entry["reason"]);
        }
    } else {
        std::string phase = Text(entry["last_phase"]);
        for (char& c : phase) {
            c = c == '_' ? ' ' : c;
        }
        line += "  outcome unknown; last phase recorded: " + (phase.empty() ? "none" : phase);
    }
    return line + "  (run " + Text(entry["run"]) + " on " + Text(entry["host"]) + ")";
}

} // namespace

History ReadHistory(const std::string& text) {
    History history;
    std::map<std::tuple<std::string, std::string, std::string, std::string, unsigned>, std::size_t>
        positions;
    std::istringstream lines(text);
    for (std::string raw; std::getline(lines, raw);) {
        if (raw.empty()) {
            continue;
        }
        const Json line = ParseText(raw);
        if (line.is_discarded() || !line.is_object() || !line["event"].is_string() ||
            !line["run"].is_string() || !line["path"].is_string() || !line["time"].is_string()) {
            ++history.unreadable;
            continue;
        }
        const auto key = std::make_tuple(Text(line["run"]), Text(line["host"]), Text(line["path"]),
                                         Text(line["serial"]), line.value("index", 0U));
        auto [at, made] = positions.try_emplace(key, history.entries.size());
        if (made) {
            Json entry{{"run", line["run"]},
                       {"host", line.value("host", Json(""))},
                       {"program", line.value("program", Json(""))},
                       {"index", line.value("index", 0U)},
                       {"path", line["path"]},
                       {"serial", line.value("serial", Json(""))},
                       {"vendor", line.value("vendor", Json(""))},
                       {"product", line.value("product", Json(""))},
                       {"started", line["time"]},
                       {"ended", nullptr},
                       {"revision_before", nullptr},
                       {"image", nullptr},
                       {"last_phase", nullptr},
                       {"result", nullptr},
                       {"reason", nullptr},
                       {"revision_after", nullptr},
                       {"judged", false}};
            history.entries.push_back(std::move(entry));
        }
        Json& entry = history.entries[at->second];
        const std::string event = Text(line["event"]);
        if (event == "started") {
            entry["revision_before"] = line.value("revision_before", Json(nullptr));
            entry["image"] = line.value("image", Json(nullptr));
        }
        if (event == "outcome") {
            entry["ended"] = line["time"];
            entry["result"] = line.value("result", Json(nullptr));
            entry["reason"] = line.value("reason", Json(nullptr));
            entry["revision_after"] = line.value("revision_after", Json(nullptr));
            entry["judged"] = line.value("judged", false);
        } else if (const int rank = PhaseRank(event);
                   rank >= 0 &&
                   (entry["last_phase"].is_null() || rank > PhaseRank(Text(entry["last_phase"])))) {
            entry["last_phase"] = event;
        }
    }
    return history;
}

int RunHistory(const CommandLine& line) {
    const std::string path = JournalPath();
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    if (!file) {
        std::fprintf(stderr, "fwupgrade: no journal at %s: no upgrade was recorded\n",
                     HumanText(path).c_str());
    } else if (!(text << file.rdbuf()) && !file.eof()) {
        std::fprintf(stderr, "fwupgrade: the journal %s cannot be read\n", HumanText(path).c_str());
        return kExitFailed;
    }
    const History history = ReadHistory(text.str());
    Json shown = Json::array();
    for (const Json& entry : history.entries) {
        if (Selected(entry, line.devices)) {
            shown.push_back(entry);
        }
    }
    if (history.unreadable > 0) {
        std::fprintf(stderr, "fwupgrade: %zu line(s) of the journal are unreadable\n",
                     history.unreadable);
    }
    if (line.json) {
        const Json document{{"format_version", 1},
                            {"journal", JsonText(path)},
                            {"entries", shown},
                            {"unreadable_lines", history.unreadable}};
        std::printf("%s\n", DocumentText(document).c_str());
    } else {
        for (const Json& entry : shown) {
            std::printf("%s\n", HumanText(Line(entry)).c_str());
        }
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        std::fprintf(stderr, "fwupgrade: the history could not be written out\n");
        return kExitFailed;
    }
    return !line.devices.empty() && shown.empty() ? kExitNoDrive : kExitDone;
}

} // namespace cli
