// fwupgrade-tcmu: serves the emulated KMR-47000 (zurvax::EmulatedDrive, configured by the
// ZURVAX_EMULATION file) as TCMU backstores, so that the kernel's tcm_loop fabric turns it
// into a real SCSI device with a /dev/sg node.
//
//   fwupgrade-tcmu [options] /dev/uio0 [/dev/uio1 ...]
//
// The i-th uio device is served by device i of the file (without ZURVAX_EMULATION: drives
// with the model's defaults, serial numbers by position). A state_file in the file is read
// at start and rewritten whenever a drive's firmware revision changes. Options:
//   --ready FILE            create FILE once every device is mapped (configfs may then
//                           export the LUN: the kernel's scan needs a running handler)
//   --record DIR            write DIR/image<i>.bin, the image device i took, after each
//                           download-microcode WRITE BUFFER, on SIGUSR1 and at exit
//   --corrupt-read N        flip one byte of the N-th data-mode READ BUFFER's data-in
//   --stall-after-writes N  answer nothing from the data-mode WRITE BUFFER after the N-th
//   --stall-ms MS           ... for MS milliseconds, then serve again (default: forever)
//   --verbose               one line per command on standard error
// SIGTERM or SIGINT ends the program.
#include <exception>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "zurvax/EmulatedDrive.h"
#include "zurvax/EmulationConfig.h"
#include "zurvax/KeptState.h"
#include "zurvax/tcmu/TcmuRing.h"

namespace {

using Clock = std::chrono::steady_clock;

volatile sig_atomic_t g_stop = 0;
volatile sig_atomic_t g_dump = 0;

void OnStop(int) { g_stop = 1; }
void OnDump(int) { g_dump = 1; }

constexpr std::uint8_t kWriteBuffer = 0x3B;
constexpr std::uint8_t kReadBuffer = 0x3C;
constexpr std::uint8_t kDataMode = 0x02;
constexpr std::uint8_t kMicrocodeSaveMode = 0x05;

// Commands that move data to the device; every other command with a buffer reads.
bool IsDataOut(std::uint8_t opcode) {
    switch (opcode) {
    case 0x04:
    case 0x0A:
    case 0x15:
    case 0x1D:
    case 0x2A:
    case 0x2E:
    case 0x3B:
    case 0x4C:
    case 0x55:
    case 0x8A:
    case 0xAA:
        return true;
    default:
        return false;
    }
}

struct Options {
    std::string ready;
    std::string record;
    unsigned corruptRead = 0;
    std::optional<unsigned> stallAfterWrites;
    std::optional<long> stallMs;
    bool verbose = false;
    std::vector<std::string> devices;
};

struct Served {
    std::string node;
    int fd = -1;
    std::uint8_t* area = nullptr;
    std::size_t size = 0;
    zurvax::EmulatedDrive drive;
    unsigned dataReads = 0;
    unsigned dataWrites = 0;
    bool stalled = false;
    bool stallDone = false;
    std::optional<Clock::time_point> stallEnd;
    std::string keptRevision; // the firmware revision the state file has
};

[[noreturn]] void Fail(const std::string& message) {
    std::fprintf(stderr, "fwupgrade-tcmu: %s\n", message.c_str());
    std::exit(1);
}

unsigned long Number(const char* text, const char* option) {
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0')
        Fail(std::string("bad number for ") + option + ": " + text);
    return value;
}

Options Parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&]() -> const char* {
            if (i + 1 >= argc)
                Fail("missing value for " + arg);
            return argv[++i];
        };
        if (arg == "--ready") {
            options.ready = value();
        } else if (arg == "--record") {
            options.record = value();
        } else if (arg == "--corrupt-read") {
            options.corruptRead = static_cast<unsigned>(Number(value(), "--corrupt-read"));
        } else if (arg == "--stall-after-writes") {
            options.stallAfterWrites =
                static_cast<unsigned>(Number(value(), "--stall-after-writes"));
        } else if (arg == "--stall-ms") {
            options.stallMs = static_cast<long>(Number(value(), "--stall-ms"));
        } else if (arg == "--verbose") {
            options.verbose = true;
        } else if (arg.rfind("--", 0) == 0) {
            Fail("unknown option " + arg);
        } else {
            options.devices.push_back(arg);
        }
    }
    if (options.devices.empty())
        Fail("usage: fwupgrade-tcmu [options] /dev/uioN...");
    return options;
}

// The drives to serve and what they keep across runs.
struct Emulation {
    std::vector<zurvax::DriveModelConfig> configs;
    std::string stateFile;
    zurvax::KeptState kept;
};

Emulation DriveConfigs(std::size_t count) {
    Emulation emulation;
    const char* file = std::getenv("ZURVAX_EMULATION");
    if (file == nullptr || *file == '\0') {
        emulation.configs.resize(count);
        for (std::size_t i = 0; i < count; ++i)
            emulation.configs[i].serial = zurvax::DefaultSerial(i);
        return emulation;
    }
    auto outcome = zurvax::LoadEmulationFile(file);
    if (const auto* error = std::get_if<zurvax::ConfigError>(&outcome))
        Fail(error->message);
    auto& config = std::get<zurvax::EmulationConfig>(outcome);
    if (config.devices.size() < count) {
        Fail(std::string(file) + " describes " + std::to_string(config.devices.size()) +
             " device(s), " + std::to_string(count) + " uio device(s) given");
    }
    if (!config.stateFile.empty()) {
        auto loaded = zurvax::LoadKeptState(config.stateFile);
        if (const auto* error = std::get_if<zurvax::ConfigError>(&loaded))
            Fail(error->message);
        emulation.kept = std::move(std::get<zurvax::KeptState>(loaded));
        zurvax::ApplyKeptState(emulation.kept, config);
        emulation.stateFile = config.stateFile;
    }
    for (std::size_t i = 0; i < count; ++i)
        emulation.configs.push_back(config.devices[i].drive);
    return emulation;
}

// The size of the uio device's only map, as sysfs gives it ("0x...").
std::size_t MapSize(const std::string& node) {
    const std::string name = std::filesystem::path(node).filename().string();
    std::ifstream file("/sys/class/uio/" + name + "/maps/map0/size");
    std::string text;
    if (!(file >> text))
        Fail("cannot read the map size of " + node);
    return static_cast<std::size_t>(std::strtoull(text.c_str(), nullptr, 0));
}

void Map(Served& served) {
    served.size = MapSize(served.node);
    served.fd = ::open(served.node.c_str(), O_RDWR | O_CLOEXEC);
    if (served.fd < 0)
        Fail(served.node + ": " + std::strerror(errno));
    void* area = ::mmap(nullptr, served.size, PROT_READ | PROT_WRITE, MAP_SHARED, served.fd, 0);
    if (area == MAP_FAILED)
        Fail(served.node + ": mmap: " + std::strerror(errno));
    served.area = static_cast<std::uint8_t*>(area);
}

void WriteFileAtomically(const std::filesystem::path& path,
                         const std::vector<std::uint8_t>& bytes) {
    const auto temporary = path.string() + ".part";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        if (!file)
            Fail("cannot write " + temporary);
    }
    std::filesystem::rename(temporary, path);
}

void Record(const Options& options, const std::vector<Served>& devices) {
    if (options.record.empty())
        return;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        if (devices[i].drive.commits() == 0)
            continue;
        WriteFileAtomically(std::filesystem::path(options.record) /
                                ("image" + std::to_string(i) + ".bin"),
                            devices[i].drive.lastImage());
    }
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    char digits[4];
    for (const std::uint8_t byte : bytes) {
        std::snprintf(digits, sizeof digits, "%02x", unsigned{byte});
        text += digits;
    }
    return text;
}

class Server {
public:
    Server(const Options& options, std::vector<Served>& devices, Emulation& emulation)
        : options_(options), devices_(devices), emulation_(emulation) {}

    // Serves whatever the device's ring holds; true when the kernel must be kicked.
    bool Walk(Served& served) {
        if (served.stalled) {
            if (!served.stallEnd || Clock::now() < *served.stallEnd)
                return false;
            served.stalled = false;
            served.stallDone = true;
            std::fprintf(stderr, "fwupgrade-tcmu: %s: serving again\n", served.node.c_str());
        }
        const auto result = zurvax::tcmu::WalkRing(
            std::span<std::uint8_t>(served.area, served.size),
            [&](const zurvax::tcmu::RingCommand& command, zurvax::tcmu::RingReply& reply) {
                return Serve(served, command, reply);
            });
        if (result.broken)
            Fail(served.node + ": the command ring holds an entry out of bounds");
        return result.completed != 0;
    }

private:
    bool Serve(Served& served, const zurvax::tcmu::RingCommand& command,
               zurvax::tcmu::RingReply& reply) {
        if (command.cdb.empty()) {
            reply.status = 0x02;
            reply.sense = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20, 0x00, 0, 0, 0, 0};
            return true;
        }
        const std::uint8_t opcode = command.cdb[0];
        const std::uint8_t mode = command.cdb.size() > 1 ? command.cdb[1] & 0x1F : 0;
        const bool dataWrite = opcode == kWriteBuffer && mode == kDataMode;
        if (dataWrite && options_.stallAfterWrites && !served.stallDone &&
            served.dataWrites == *options_.stallAfterWrites) {
            served.stalled = true;
            if (options_.stallMs)
                served.stallEnd = Clock::now() + std::chrono::milliseconds(*options_.stallMs);
            std::fprintf(stderr, "fwupgrade-tcmu: %s: stalled after %u data writes\n",
                         served.node.c_str(), served.dataWrites);
            return false;
        }
        if (dataWrite)
            ++served.dataWrites;

        auto response = served.drive.execute(command.cdb, command.data, command.capacity);
        if (opcode == kReadBuffer && mode == kDataMode &&
            ++served.dataReads == options_.corruptRead && !response.dataIn.empty()) {
            response.dataIn[response.dataIn.size() / 2] ^= 0x5A;
        }
        reply.status = response.status;
        reply.sense = std::move(response.sense);
        reply.dataIn = std::move(response.dataIn);
        reply.dataInCommand = !IsDataOut(opcode);
        if (options_.verbose) {
            std::fprintf(stderr,
                         "fwupgrade-tcmu: %s: cdb %s data %zu -> status %02x in %zu sense %s\n",
                         served.node.c_str(), Hex(command.cdb).c_str(), command.capacity,
                         unsigned{reply.status}, reply.dataIn.size(), Hex(reply.sense).c_str());
        }
        if (opcode == kWriteBuffer && mode == kMicrocodeSaveMode)
            Record(options_, devices_);
        if (!emulation_.stateFile.empty())
            Keep(served);
        return true;
    }

    void Keep(Served& served) {
        std::string revision = served.drive.firmwareRevision();
        if (revision == served.keptRevision)
            return;
        emulation_.kept.revisions[served.drive.serial()] = revision;
        const std::string error = zurvax::SaveKeptState(emulation_.stateFile, emulation_.kept);
        if (!error.empty())
            std::fprintf(stderr, "fwupgrade-tcmu: %s\n", error.c_str());
        served.keptRevision = std::move(revision);
    }

    const Options& options_;
    std::vector<Served>& devices_;
    Emulation& emulation_;
};

void Kick(const Served& served) {
    const std::uint32_t one = 1;
    if (::write(served.fd, &one, sizeof one) != static_cast<ssize_t>(sizeof one)) {
        Fail(served.node + ": cannot notify the kernel: " + std::strerror(errno));
    }
}

} // namespace

namespace {

int Serve(int argc, char** argv) {
    const Options options = Parse(argc, argv);

    struct sigaction action {};
    action.sa_handler = OnStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    action.sa_handler = OnDump;
    sigaction(SIGUSR1, &action, nullptr);

    std::vector<Served> devices;
    Emulation emulation = DriveConfigs(options.devices.size());
    for (std::size_t i = 0; i < options.devices.size(); ++i) {
        devices.push_back(Served{options.devices[i],
                                 -1,
                                 nullptr,
                                 0,
                                 zurvax::EmulatedDrive(emulation.configs[i]),
                                 0,
                                 0,
                                 false,
                                 false,
                                 std::nullopt,
                                 {}});
        devices.back().keptRevision = devices.back().drive.firmwareRevision();
        Map(devices.back());
    }
    Server server(options, devices, emulation);

    // Commands may already wait in a ring whose interrupt came before we opened it.
    for (Served& served : devices) {
        if (server.Walk(served))
            Kick(served);
    }
    if (!options.ready.empty())
        std::ofstream(options.ready) << "ready\n";
    std::fprintf(stderr, "fwupgrade-tcmu: serving %zu device(s)\n", devices.size());

    std::vector<pollfd> fds;
    fds.reserve(devices.size());
    for (const Served& served : devices)
        fds.push_back({served.fd, POLLIN, 0});
    while (g_stop == 0) {
        int timeout = 1000;
        for (const Served& served : devices) {
            if (served.stalled && served.stallEnd) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    *served.stallEnd - Clock::now());
                timeout = std::max(0, std::min<int>(timeout, static_cast<int>(left.count()) + 1));
            }
        }
        const int ready = ::poll(fds.data(), fds.size(), timeout);
        if (ready < 0 && errno != EINTR)
            Fail(std::string("poll: ") + std::strerror(errno));
        if (g_dump != 0) {
            g_dump = 0;
            Record(options, devices);
        }
        for (std::size_t i = 0; i < devices.size(); ++i) {
            if (ready > 0 && (fds[i].revents & POLLIN) != 0) {
                std::uint32_t count = 0;
                if (::read(devices[i].fd, &count, sizeof count) < 0 && errno != EINTR &&
                    errno != EAGAIN) {
                    Fail(devices[i].node + ": read: " + std::strerror(errno));
                }
            }
            if (server.Walk(devices[i]))
                Kick(devices[i]);
        }
    }
    Record(options, devices);
    for (const Served& served : devices) {
        ::munmap(served.area, served.size);
        ::close(served.fd);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // Out of memory or a broken configuration are the only ways out by exception: say which
    // and end with an error status rather than let the runtime abort silently.
    try {
        return Serve(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "fwupgrade-tcmu: %s\n", error.what());
        return 1;
    }
}
