#include "cli/CommandLine.h"

#include <algorithm>
#include <cctype>

#include "cli/Drives.h"
#include "cli/Image.h"
#include "cli/Selector.h"
#include "cli/Text.h"

namespace cli {
namespace {

constexpr std::size_t kRevisionLength = 4;
constexpr unsigned kMostJobs = 64;

bool IsRevision(const std::string& text) {
    return text.size() == kRevisionLength && std::all_of(text.begin(), text.end(), [](char c) {
               return std::isalnum(static_cast<unsigned char>(c)) != 0;
           });
}

std::string NotAnOption(const std::string& option, const std::string& command) {
    return "\"" + option + "\" is not an option of " + command + " (see --help)";
}

} // namespace

const char* UsageText() {
    return "usage: fwupgrade                       the interactive program\n"
           "       fwupgrade list   [--json]\n"
           "       fwupgrade check  --image FILE [--device SEL]... [--revision R] [--sha256 HEX]\n"
           "                        [--json]\n"
           "       fwupgrade upgrade --image FILE [--device SEL]... [--revision R] [--sha256 HEX]\n"
           "                        --accept-agreement --yes [--allow-older] [--jobs N] [--json]\n"
           "                        [--report FILE]\n"
           "       fwupgrade history [--json] [--device SEL]...\n"
           "       fwupgrade --help | --version\n"
           "SEL: index:N, path:HA:TID:LUN or serial:S; or all (the default), N, HA:TID:LUN or S\n"
           "     alone where that names one drive in one way only.\n"
           "HEX: the image's SHA-256; an image with another digest is refused.\n"
           "R: the revision the image carries; by default taken from its name (kmr47000_0200.gbf: "
           "0200).\n"
           "history: what the journal, journal.jsonl in $FWUPGRADE_STATE_DIR (by default\n"
           "     /var/lib/fwupgrade for root, else ~/.local/state/fwupgrade), holds of each\n"
           "     drive and run; a run killed outright shows as \"outcome unknown\".\n"
           "Exit status: 0 done, 1 a drive failed or needs attention, 2 usage or input error,\n"
           "3 a drive was refused, 4 no drive matched, 5 interrupted.\n";
}

std::optional<std::string> RevisionFromImageName(const std::string& path) {
    std::string name = path.substr(path.find_last_of("/\\") + 1);
    const auto dot = name.find_last_of('.');
    if (dot != std::string::npos) {
        name.erase(dot);
    }
    const auto underscore = name.find_last_of('_');
    if (underscore == std::string::npos) {
        return std::nullopt;
    }
    const std::string revision = name.substr(underscore + 1);
    if (!IsRevision(revision)) {
        return std::nullopt;
    }
    return UpperCase(revision);
}

std::variant<CommandLine, UsageError> ParseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine line;
    line.arguments = arguments;
    if (arguments.empty()) {
        return UsageError{"no command"};
    }
    const std::string& command = arguments[0];
    if (command == "--help" || command == "-h" || command == "help") {
        line.command = Command::Help;
        return line;
    }
    if (command == "--version") {
        line.command = Command::Version;
        return line;
    }
    if (command == "list") {
        line.command = Command::List;
    } else if (command == "check") {
        line.command = Command::Check;
    } else if (command == "upgrade") {
        line.command = Command::Upgrade;
    } else if (command == "history") {
        line.command = Command::History;
    } else {
        return UsageError{"unknown command \"" + command +
                          "\" (list, check, upgrade, history, --help)"};
    }

    std::optional<std::string> revision;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& option = arguments[i];
        // An option and its value, as "--image FILE" or "--image=FILE".
        std::string name = option;
        std::optional<std::string> value;
        if (const auto equals = option.find('=');
            option.rfind("--", 0) == 0 && equals != std::string::npos) {
            name = option.substr(0, equals);
            value = option.substr(equals + 1);
        }
        const auto take = [&]() -> std::optional<std::string> {
            if (value) {
                return value;
            }
            if (i + 1 < arguments.size()) {
                return arguments[++i];
            }
            return std::nullopt;
        };
        const bool listing = line.command == Command::List;
        const bool upgrading = line.command == Command::Upgrade;
        const bool history = line.command == Command::History;
        if (history && name != "--json" && name != "--device") {
            return UsageError{NotAnOption(option, command)};
        }
        if (name == "--json" && !value) {
            line.json = true;
        } else if (name == "--image" && !listing) {
            const auto file = take();
            if (!file || file->empty())
                return UsageError{"--image needs a file"};
            line.image = *file;
        } else if (name == "--device" && !listing) {
            const auto selector = take().value_or("");
            if (const auto problem = SelectorFormError(selector))
                return UsageError{*problem};
            line.devices.push_back(selector);
        } else if (name == "--sha256" && !listing) {
            const auto digest = ParseDigest(take().value_or(""));
            if (!digest)
                return UsageError{"--sha256 needs the image's SHA-256 as 64 hex digits"};
            line.sha256 = *digest;
        } else if (name == "--child-drive" && upgrading) {
            line.childDrive = take().value_or("");
            if (!DecodeIdentity(line.childDrive))
                return UsageError{"--child-drive is not a drive's identity"};
        } else if (name == "--revision" && !listing) {
            const auto given = take();
            if (!given || !IsRevision(*given))
                return UsageError{"--revision needs four letters or digits"};
            revision = UpperCase(*given);
        } else if (name == "--accept-agreement" && upgrading && !value) {
            line.acceptAgreement = true;
        } else if (name == "--yes" && upgrading && !value) {
            line.yes = true;
        } else if (name == "--allow-older" && upgrading && !value) {
            line.allowOlder = true;
        } else if (name == "--jobs" && upgrading) {
            const auto count = take();
            unsigned jobs = 0;
            if (!count || count->empty() || count->size() > 3 ||
                !std::all_of(count->begin(), count->end(),
                             [](char c) { return c >= '0' && c <= '9'; }) ||
                (jobs = static_cast<unsigned>(std::stoul(*count))) == 0 || jobs > kMostJobs) {
                return UsageError{"--jobs needs a number from 1 to " + std::to_string(kMostJobs)};
            }
            line.jobs = jobs;
        } else if (name == "--report") {
            const auto file = take();
            if (!file || file->empty())
                return UsageError{"--report needs a file"};
            line.report = *file;
        } else {
            return UsageError{NotAnOption(option, command)};
        }
    }

    if (line.command == Command::List || line.command == Command::History) {
        return line;
    }
    if (!line.childDrive.empty() &&
        (line.sha256.empty() || !line.devices.empty() || line.jobs != 1)) {
        return UsageError{"--child-drive goes with --sha256, and without --device or --jobs"};
    }
    if (line.image.empty()) {
        return UsageError{command + " needs --image FILE"};
    }
    if (!revision) {
        revision = RevisionFromImageName(line.image);
    }
    if (!revision) {
        return UsageError{
            "the image's name carries no revision (as kmr47000_0200.gbf does): give --revision R"};
    }
    line.revision = *revision;
    return line;
}

} // namespace cli
