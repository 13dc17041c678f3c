#include "cli/Selector.h"

#include <algorithm>

#include "cli/Text.h"

namespace cli {
namespace {

struct Path {
    int host = 0;
    int target = 0;
    int lun = 0;
};

std::optional<Path> ParsePath(const std::string& text) {
    const auto first = text.find(':');
    const auto second = first == std::string::npos ? first : text.find(':', first + 1);
    if (second == std::string::npos) {
        return std::nullopt;
    }
    const auto host = DecimalNumber(text.substr(0, first), 3);
    const auto target = DecimalNumber(text.substr(first + 1, second - first - 1), 3);
    const auto lun = DecimalNumber(text.substr(second + 1), 3);
    if (!host || !target || !lun || *host > 255 || *target > 255 || *lun > 255) {
        return std::nullopt;
    }
    return Path{static_cast<int>(*host), static_cast<int>(*target), static_cast<int>(*lun)};
}

bool HasPrefix(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

constexpr char kIndex[] = "index:";
constexpr char kPath[] = "path:";
constexpr char kSerial[] = "serial:";
constexpr std::size_t kIndexDigits = 9;

std::string Quoted(const std::string& text) { return "\"" + HumanText(text) + "\""; }

// The positions one reading of a word names.
using Matches = std::vector<std::size_t>;

template <typename Predicate>
Matches Where(const std::vector<DriveIdentity>& drives, Predicate matches) {
    Matches found;
    for (std::size_t i = 0; i < drives.size(); ++i) {
        if (matches(drives[i])) {
            found.push_back(i);
        }
    }
    return found;
}

Matches ByIndex(const std::vector<DriveIdentity>& drives, unsigned long index) {
    return Where(drives, [&](const DriveIdentity& d) { return d.index == index; });
}
Matches ByPath(const std::vector<DriveIdentity>& drives, const Path& path) {
    return Where(drives, [&](const DriveIdentity& d) {
        return d.host == path.host && d.target == path.target && d.lun == path.lun;
    });
}
Matches BySerial(const std::vector<DriveIdentity>& drives, const std::string& serial) {
    return Where(drives,
                 [&](const DriveIdentity& d) { return !d.serial.empty() && d.serial == serial; });
}

std::string Names(const std::vector<DriveIdentity>& drives, const Matches& matches) {
    std::string names;
    for (const std::size_t i : matches) {
        names += (names.empty() ? "" : ", ") + drives[i].Name();
    }
    return names;
}

// A bare word: what it names as all, an index or a path (at most one of these applies), and
// what it names as a serial number.
std::variant<Matches, SelectionError> ResolveBare(const std::vector<DriveIdentity>& drives,
                                                  const std::string& word) {
    Matches other;
    const char* meaning = nullptr;
    std::string explicitForm;
    if (word == "all") {
        other = Where(drives, [](const DriveIdentity&) { return true; });
        meaning = "as all";
        explicitForm = "leave out --device for every drive";
    } else if (const auto index = DecimalNumber(word, kIndexDigits)) {
        other = ByIndex(drives, *index);
        meaning = "as an index";
        explicitForm = std::string(kIndex) + word;
    } else if (const auto path = ParsePath(word)) {
        other = ByPath(drives, *path);
        meaning = "as a path";
        explicitForm = std::string(kPath) + word;
    }
    const Matches serial = BySerial(drives, word);
    if (!serial.empty() && !other.empty() && serial != other) {
        return SelectionError{true, Quoted(word) + " is ambiguous: " + meaning + " it names " +
                                        Names(drives, other) + ", as a serial number " +
                                        Names(drives, serial) + "; say " + explicitForm + " or " +
                                        kSerial + HumanText(word)};
    }
    return serial.empty() ? other : serial;
}

std::variant<Matches, SelectionError> Resolve(const std::vector<DriveIdentity>& drives,
                                              const std::string& selector) {
    if (const auto error = SelectorFormError(selector)) {
        return SelectionError{true, *error};
    }
    if (HasPrefix(selector, kIndex)) {
        return ByIndex(drives, *DecimalNumber(selector.substr(sizeof kIndex - 1), kIndexDigits));
    }
    if (HasPrefix(selector, kPath)) {
        return ByPath(drives, *ParsePath(selector.substr(sizeof kPath - 1)));
    }
    if (HasPrefix(selector, kSerial)) {
        return BySerial(drives, selector.substr(sizeof kSerial - 1));
    }
    return ResolveBare(drives, selector);
}

} // namespace

std::optional<std::string> SelectorFormError(const std::string& selector) {
    if (selector.empty()) {
        return "--device needs all, an index, HA:TID:LUN or a serial number";
    }
    if (HasPrefix(selector, kIndex) &&
        !DecimalNumber(selector.substr(sizeof kIndex - 1), kIndexDigits)) {
        return "--device " + Quoted(selector) + ": index: needs a number";
    }
    if (HasPrefix(selector, kPath) && !ParsePath(selector.substr(sizeof kPath - 1))) {
        return "--device " + Quoted(selector) + ": path: needs HA:TID:LUN, each 0 to 255";
    }
    if (HasPrefix(selector, kSerial) && selector.size() == sizeof kSerial - 1) {
        return "--device " + Quoted(selector) + ": serial: needs a serial number";
    }
    return std::nullopt;
}

std::variant<std::vector<std::size_t>, SelectionError>
ResolveSelectors(const std::vector<DriveIdentity>& drives,
                 const std::vector<std::string>& selectors) {
    std::vector<bool> chosen(drives.size(), selectors.empty());
    for (const std::string& selector : selectors) {
        auto resolved = Resolve(drives, selector);
        if (auto* error = std::get_if<SelectionError>(&resolved)) {
            return std::move(*error);
        }
        const Matches& matches = std::get<Matches>(resolved);
        if (matches.empty()) {
            return SelectionError{false, "no drive matches " + Quoted(selector)};
        }
        for (const std::size_t i : matches) {
            chosen[i] = true;
        }
    }
    std::vector<std::size_t> selected;
    for (std::size_t i = 0; i < drives.size(); ++i) {
        if (chosen[i]) {
            selected.push_back(i);
        }
    }
    return selected;
}

} // namespace cli
