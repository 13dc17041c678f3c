// The unattended command line: what the operator asked for, read from the arguments.
//
//   fwupgrade list   [--json]
//   fwupgrade check  --image FILE [--device SEL]... [--revision R] [--sha256 HEX] [--json]
// (--report FILE, which writes the JSON document to a file as well, is taken by every
// command)
//   fwupgrade upgrade --image FILE [--device SEL]... [--revision R] [--sha256 HEX]
//                     --accept-agreement --yes [--allow-older] [--jobs N] [--json]
//                     [--report FILE]
// SEL as Selector.h reads it. A process --jobs starts is given --child-drive instead of
// --device: the one drive it is to upgrade, which it checks before it sends anything.
//   fwupgrade history [--json] [--device SEL]...   (History.h)
//   fwupgrade --help | --version
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace cli {

enum class Command { List, Check, Upgrade, History, Help, Version };

struct CommandLine {
    Command command = Command::Help;
    std::vector<std::string> arguments; // as given, without the program's name
    std::string image;
    std::vector<std::string> devices; // selectors as given; none means all
    std::string revision;             // from --revision or the image's name
    std::string sha256;               // the digest the image must have (lower case), or empty
    std::string childDrive;           // --child-drive: EncodeIdentity's word, or empty
    bool json = false;
    bool acceptAgreement = false;
    bool yes = false;
    bool allowOlder = false;
    unsigned jobs = 1;
    std::string report;
};

// A one-line reason the arguments cannot be used.
struct UsageError {
    std::string message;
};

std::variant<CommandLine, UsageError> ParseCommandLine(const std::vector<std::string>& arguments);

// The revision an image's file name carries: the four letters or digits after the last '_'
// of the name without its extension ("kmr47000_0200.gbf" carries "0200").
std::optional<std::string> RevisionFromImageName(const std::string& path);

// The usage text --help prints.
const char* UsageText();

} // namespace cli
