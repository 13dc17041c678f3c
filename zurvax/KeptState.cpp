#include "zurvax/KeptState.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>
#include <thread>
#include <utility>

#include <nlohmann/json.hpp>

#include "zurvax/JsonReader.h"

#ifdef _WIN32
#include <windows.h>
#include <io.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace zurvax {
namespace {

using nlohmann::json;

constexpr auto kLockRetry = std::chrono::milliseconds(10);

} // namespace

KeptStateOutcome LoadKeptState(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        if (errno == ENOENT)
            return KeptState{};
        return ConfigError{path + ": cannot open: " + std::strerror(errno)};
    }
    std::ostringstream content;
    content << file.rdbuf();
    if (file.bad())
        return ConfigError{path + ": cannot read"};
    const std::string text = content.str();
    json top;
    if (std::string error = ParseJsonText(text, path, top); !error.empty())
        return ConfigError{std::move(error)};
    try {
        JsonReader reader(path + ": ");
        if (!top.is_object())
            reader.fail("expected an object at the top level");
        reader.onlyKeys(top, {"drives"});
        KeptState state;
        if (!top.contains("drives"))
            return state;
        const json& drives = top.at("drives");
        if (!drives.is_object())
            reader.fail("key \"drives\": expected an object, got " +
                        std::string(drives.type_name()));
        for (const auto& drive : drives.items()) {
            const JsonReader entry(path + ": drive " + JsonReader::quoted(drive.key()) + ": ");
            if (!drive.value().is_object())
                entry.fail("expected an object");
            entry.onlyKeys(drive.value(), {"revision"});
            const auto revision = entry.text(drive.value(), "revision", 4);
            if (!revision || revision->size() != 4)
                entry.fail("key \"revision\": expected 4 characters");
            state.revisions[drive.key()] = *revision;
        }
        return state;
    } catch (const JsonProblem& problem) {
        return ConfigError{problem.message};
    }
}

std::string SaveKeptState(const std::string& path, const KeptState& state) {
    json drives = json::object();
    for (const auto& [serial, revision] : state.revisions)
        drives[serial] = {{"revision", revision}};
    const std::string text = json{{"drives", drives}}.dump(2) + "\n";
    const std::string temporary = path + ".tmp";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr)
        return temporary + ": cannot create: " + std::strerror(errno);
    bool written =
        std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fflush(file) == 0;
    // On the disk before the rename makes it the state: a power cut must not leave an
    // empty file behind the new name.
#ifdef _WIN32
    written = written && _commit(_fileno(file)) == 0;
#else
    written = written && ::fsync(fileno(file)) == 0;
#endif
    written = std::fclose(file) == 0 && written;
    std::error_code error;
    if (written)
        std::filesystem::rename(temporary, path, error);
    if (!written || error) {
        const std::string why = written ? error.message() : "cannot write";
        std::filesystem::remove(temporary, error);
        return (written ? path : temporary) + ": " + why;
    }
    return {};
}

#ifdef _WIN32

KeptStateLock::KeptStateLock(const std::string& statePath, std::chrono::milliseconds patience) {
    const std::filesystem::path path(statePath + ".lock");
    // Shared opening: the lock, not the share mode, is what keeps other writers out.
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        outcome_ = {KeptStateWrite::LockFailed,
                    path.string() + ": cannot open: " +
                        std::system_category().message(static_cast<int>(GetLastError()))};
        return;
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
    const auto since = std::chrono::steady_clock::now();
    for (;;) {
        OVERLAPPED where{};
        if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                       &where)) {
            return;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_LOCK_VIOLATION && error != ERROR_IO_PENDING) {
            outcome_ = {KeptStateWrite::LockFailed,
                        path.string() + ": cannot lock: " +
                            std::system_category().message(static_cast<int>(error))};
            return;
        }
        if (std::chrono::steady_clock::now() - since >= patience)
            break;
        std::this_thread::sleep_for(kLockRetry);
    }
    outcome_ = {KeptStateWrite::LockHeld, path.string() + ": held by another process for " +
                                              std::to_string(patience.count()) + " ms"};
}

KeptStateLock::~KeptStateLock() {
    if (handle_ != -1)
        CloseHandle(reinterpret_cast<HANDLE>(handle_)); // closing gives the lock back
}

#else

KeptStateLock::KeptStateLock(const std::string& statePath, std::chrono::milliseconds patience) {
    const std::string path = statePath + ".lock";
    const int file = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (file < 0) {
        outcome_ = {KeptStateWrite::LockFailed, path + ": cannot open: " + std::strerror(errno)};
        return;
    }
    handle_ = file;
    // flock, not fcntl: its lock belongs to this open file, so that two openers in one
    // process exclude each other too, and closing another descriptor of the file keeps it.
    const auto since = std::chrono::steady_clock::now();
    for (;;) {
        if (::flock(file, LOCK_EX | LOCK_NB) == 0)
            return;
        if (errno != EWOULDBLOCK && errno != EINTR) {
            outcome_ = {KeptStateWrite::LockFailed,
                        path + ": cannot lock: " + std::strerror(errno)};
            return;
        }
        if (std::chrono::steady_clock::now() - since >= patience)
            break;
        std::this_thread::sleep_for(kLockRetry);
    }
    outcome_ = {KeptStateWrite::LockHeld,
                path + ": held by another process for " + std::to_string(patience.count()) + " ms"};
}

KeptStateLock::~KeptStateLock() {
    if (handle_ != -1)
        ::close(static_cast<int>(handle_)); // closing gives the lock back
}

#endif

KeptStateUpdate UpdateKeptState(const std::string& path, const std::string& serial,
                                const std::string& revision, std::chrono::milliseconds patience) {
    const KeptStateLock lock(path, patience);
    if (!lock.held())
        return lock.outcome();
    KeptStateOutcome loaded = LoadKeptState(path);
    if (auto* error = std::get_if<ConfigError>(&loaded))
        return {KeptStateWrite::ReadFailed, std::move(error->message)};
    auto& state = std::get<KeptState>(loaded);
    state.revisions[serial] = revision;
    std::string written = SaveKeptState(path, state);
    if (!written.empty())
        return {KeptStateWrite::WriteFailed, std::move(written)};
    return {};
}

void ApplyKeptState(const KeptState& state, EmulationConfig& config) {
    for (DeviceConfig& device : config.devices) {
        const auto kept = state.revisions.find(device.drive.serial);
        if (kept == state.revisions.end())
            continue;
        std::copy(kept->second.begin(), kept->second.end(), device.drive.inquiry.begin() + 32);
    }
}

} // namespace zurvax
