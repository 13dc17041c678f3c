#include "cli/Verdict.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>

#include "app/FirmwareApp.h"
#include "cli/Operator.h"
#include "cli/Text.h"
#include "res/Texts.h"

namespace cli {
namespace {

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](char c) {
        return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    });
    return text;
}

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

// The sense display's thirteen "Label:\t\tvalue" lines as an object.
Json ParseSense(const std::string& text) {
    Json sense = Json::object();
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        const std::string line = text.substr(at, end - at);
        if (const auto colon = line.find(':'); colon != std::string::npos) {
            std::string key;
            for (const char c : line.substr(0, colon)) {
                key +=
                    c == ' ' ? '_' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            }
            key.erase(key.find_last_not_of('_') + 1);
            std::string value = line.substr(colon + 1);
            value.erase(0, value.find_first_not_of(" \t"));
            sense[JsonText(key)] = JsonText(value);
        }
        at = end + 1;
    }
    return sense;
}

bool Shown(const DialogRun& run, const std::string& part) {
    return std::any_of(run.boxes.begin(), run.boxes.end(),
                       [&](const auto& box) { return box.text.find(part) != std::string::npos; });
}

// The revision the drive reports now, as a fresh listing finds it by its serial number (or
// its index, for a drive without one); nothing when it is no longer listed.
std::optional<std::string> RevisionNow(const DriveIdentity& drive) {
    for (const DriveIdentity& now : ListDrives()) {
        if (drive.serial.empty() ? now.index == drive.index : now.serial == drive.serial) {
            return now.revision;
        }
    }
    return std::nullopt;
}

} // namespace

Json HandleDrive(fw::Kernel& kernel, const DriveIdentity& drive, const CommandLine& line,
                 const std::string& image) {
    const auto started = std::chrono::steady_clock::now();
    const bool upgrading = line.command == Command::Upgrade;
    Json record = DriveRecord(drive);
    const std::string before = Upper(drive.revision);
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
        const DialogRun run = RunWindows(kernel, drive, image, upgrading, upgrading && !line.json);
        for (const auto& box : run.boxes) {
            record["messages"].push_back(
                Json{{"caption", JsonText(box.caption)}, {"text", JsonText(box.text)}});
            if (box.caption == res::text::kSenseCaption) {
                record["sense"] = ParseSense(box.text);
            }
        }
        std::string trouble; // the first error the program told, before its outcome
        for (const auto& box : run.boxes) {
            if (box.text != res::text::kConfirmUpgrade && box.caption != res::text::kSenseCaption &&
                box.text != res::text::kUpgradeFailed && box.text != res::text::kUpgradeSucceeded) {
                trouble = FirstLine(box.text);
                break;
            }
        }
        if (!run.chosen) {
            Decide(record, "refused", "the drive's list entry cannot be chosen");
        } else if (Shown(run, res::text::kWrongDevice)) {
            Decide(record, "refused", "not a drive the program upgrades");
        } else if (Shown(run, res::text::kDriveInUse)) {
            Decide(record, "refused", "in use by another program");
        } else if (Shown(run, res::text::kNotSupported)) {
            Decide(record, "refused", "below the minimum revision");
        } else if (!run.confirmationAsked) {
            Decide(record, "refused",
                   trouble.empty() ? "the program does not offer an upgrade of it"
                                   : "not ready: " + trouble);
        } else if (!upgrading) {
            Decide(record, "would-upgrade", "");
        } else if (Shown(run, res::text::kUpgradeSucceeded) || theApp.m_bCommitTaken) {
            const std::optional<std::string> after = RevisionNow(drive);
            record["revision_after"] = after ? Json(JsonText(*after)) : Json(nullptr);
            if (after && Upper(*after) == line.revision &&
                Shown(run, res::text::kUpgradeSucceeded)) {
                Decide(record, "upgraded", "");
            } else if (!after) {
                Decide(record, "attention",
                       "the drive took the new firmware but is no longer listed");
            } else if (Upper(*after) != line.revision) {
                Decide(record, "attention",
                       "the drive came back with revision " + *after + ", not " + line.revision);
            } else {
                Decide(record, "attention",
                       "the drive took the new firmware but did not come back ready");
            }
        } else {
            Decide(record, "failed", trouble.empty() ? "the download did not complete" : trouble);
        }
    }
    record["seconds"] =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return record;
}

} // namespace cli
