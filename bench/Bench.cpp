// What the program costs beyond the waits it must make: the transfer loop against a
// baseline that only copies and compares, the library's cost per command, the scan as the
// device count grows, and the memory of a whole upgrade as the image grows.
//
// Every wait of the program runs in virtual time, so only the work is measured.
#include <benchmark/benchmark.h>

#ifdef __linux__
#include <sys/resource.h>
#endif

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "app/FirmwareApp.h"
#include "framework/headless/Headless.h"
#include "res/resource.h"
#include "upgrade/DownloadWorker.h"
#include "zurvax/EmulationConfig.h"
#include "zurvax/Transport.h"
#include "zurvax/Zurvax.h"
#include "zurvax/ZurvaxApi.h"

// ---------------------------------------------------------------------------------------
// Heap accounting for the memory figures: live bytes and their peak, process-wide.

namespace {
std::atomic<std::size_t> g_live{0};
std::atomic<std::size_t> g_peak{0};

void* Allocate(std::size_t size) {
    auto* block = static_cast<std::size_t*>(std::malloc(size + sizeof(std::max_align_t)));
    if (block == nullptr)
        throw std::bad_alloc();
    *block = size;
    const std::size_t live = g_live.fetch_add(size) + size;
    std::size_t peak = g_peak.load();
    while (live > peak && !g_peak.compare_exchange_weak(peak, live)) {
    }
    return reinterpret_cast<char*>(block) + sizeof(std::max_align_t);
}

void Release(void* pointer) noexcept {
    if (pointer == nullptr)
        return;
    auto* block =
        reinterpret_cast<std::size_t*>(static_cast<char*>(pointer) - sizeof(std::max_align_t));
    g_live.fetch_sub(*block);
    std::free(block);
}
} // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void operator delete(void* pointer) noexcept { Release(pointer); }
void operator delete[](void* pointer) noexcept { Release(pointer); }
void operator delete(void* pointer, std::size_t) noexcept { Release(pointer); }
void operator delete[](void* pointer, std::size_t) noexcept { Release(pointer); }

namespace {

constexpr std::size_t kChunk = 8192;
constexpr std::size_t kMiB = 1024 * 1024;
constexpr char kBest[] = "best";

double Fastest(const std::vector<double>& values) {
    return *std::min_element(values.begin(), values.end());
}

std::filesystem::path ScratchFolder() {
    auto folder = std::filesystem::temp_directory_path() / "fwupgrade-bench";
    std::filesystem::create_directories(folder);
    return folder;
}

std::vector<std::uint8_t> Image(std::size_t size) {
    std::vector<std::uint8_t> image(size);
    const char header[] = "KMR47000-FW:0200";
    for (std::size_t i = 0; i < size; ++i) {
        image[i] = i < 16 ? static_cast<std::uint8_t>(header[i])
                          : static_cast<std::uint8_t>(i * 31 + (i >> 13));
    }
    return image;
}

void WriteImage(const std::filesystem::path& folder, std::size_t size) {
    const auto image = Image(size);
    std::ofstream file(folder / "kmr47000_0200.gbf", std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));
}

void UseEmulation(const std::string& json) {
    zurvax::UseEmulation(std::get<zurvax::EmulationConfig>(zurvax::ParseEmulation(json, "bench")));
}

// A drive that keeps only the last chunk it was sent: its memory does not grow with the
// image, so what grows is the program's.
class ChunkDrive final : public zurvax::Transport {
public:
    std::uint32_t deviceCount() const override { return 1; }
    zurvax::DevicePath devicePath(std::uint32_t) const override { return {0, 0, 0, 0}; }
    zurvax::ScsiResult execute(std::uint32_t, const zurvax::ScsiCommand& command) override {
        const auto cdb = command.cdb();
        if (cdb[0] == 0x12) {
            const auto inquiry = zurvax::StandardInquiry(1, 0, "VORN", "KMR-47000", "0100");
            std::memcpy(command.dataIn().data(), inquiry.data(),
                        std::min(command.dataIn().size(), inquiry.size()));
        } else if (cdb[0] == 0x3B && (cdb[1] & 0x1F) == 2) {
            m_chunk.assign(command.dataOut().begin(), command.dataOut().end());
        } else if (cdb[0] == 0x3C) {
            std::memcpy(command.dataIn().data(), m_chunk.data(),
                        std::min(command.dataIn().size(), m_chunk.size()));
        }
        return zurvax::ScsiResult{};
    }
    std::string describe() const override { return "chunk drive"; }

private:
    std::vector<std::uint8_t> m_chunk;
};

// The baseline's device for the worker (BM_BaselineCopyCompare): one memory the image's
// size, written and read in place, and nothing else to keep. The emulated drive does more
// (it keeps the image it last took, so two images alternate in the cache, and the state a
// test may ask for); BM_WorkerTransferEmulated shows the whole of that.
class BaselineDrive final : public zurvax::Transport {
public:
    explicit BaselineDrive(std::size_t size) : m_memory(size) {}
    std::uint32_t deviceCount() const override { return 1; }
    zurvax::DevicePath devicePath(std::uint32_t) const override { return {0, 0, 0, 0}; }
    zurvax::ScsiResult execute(std::uint32_t, const zurvax::ScsiCommand& command) override {
        const auto cdb = command.cdb();
        const std::size_t offset = (std::size_t{cdb[3]} << 16) | (cdb[4] << 8) | cdb[5];
        if (cdb[0] == 0x12) {
            const auto inquiry = zurvax::StandardInquiry(1, 0, "VORN", "KMR-47000", m_revision);
            std::memcpy(command.dataIn().data(), inquiry.data(),
                        std::min(command.dataIn().size(), inquiry.size()));
        } else if (cdb[0] == 0x3B && (cdb[1] & 0x1F) == 2) {
            std::memcpy(m_memory.data() + offset, command.dataOut().data(),
                        command.dataOut().size());
        } else if (cdb[0] == 0x3B) {
            m_revision = "0200";
        } else if (cdb[0] == 0x3C) {
            std::memcpy(command.dataIn().data(), m_memory.data() + offset, command.dataIn().size());
        }
        return zurvax::ScsiResult{};
    }
    std::string describe() const override { return "baseline drive"; }
    // Ready for the next run: the revision it had before.
    void Reset() { m_revision = "0100"; }

private:
    std::vector<std::uint8_t> m_memory;
    std::string m_revision = "0100";
};

// The voluntary context switches of the calling thread so far (0 where not counted).
long VoluntarySwitches() {
#ifdef __linux__
    rusage usage{};
    return getrusage(RUSAGE_THREAD, &usage) == 0 ? usage.ru_nvcsw : 0;
#else
    return 0;
#endif
}

// One run of the download worker, its waits in virtual time.
void RunWorker() {
    fw::headless::HeadlessSession session;
    theApp.m_nDeviceId = 0;
    theApp.m_hUpgradeEvent = fw::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    FirmwareDownloadThread(nullptr);
}

class InFolder {
public:
    explicit InFolder(const std::filesystem::path& folder)
        : m_previous(std::filesystem::current_path()) {
        std::filesystem::current_path(folder);
    }
    ~InFolder() { std::filesystem::current_path(m_previous); }
    InFolder(const InFolder&) = delete;
    InFolder& operator=(const InFolder&) = delete;

private:
    std::filesystem::path m_previous;
};

// The worker's runs against one drive, as one attached drive would be: its memory is the
// device's, not the program's, and is not made anew each time. Each run leaves it ready.
template <typename Prepare>
void TimeWorker(benchmark::State& state, std::size_t size, Prepare prepare) {
    const auto folder = ScratchFolder();
    WriteImage(folder, size);
    InFolder in(folder);
    const long switchesBefore = VoluntarySwitches();
    for (auto _ : state) {
        prepare();
        RunWorker();
        // A run that stopped early would time less than the whole download.
        if (theApp.m_nChunksSent != size / kChunk || !theApp.m_bCommitTaken) {
            state.SkipWithError("the worker did not send and commit the whole image");
            break;
        }
    }
    // Times the worker gave up the processor itself: a blocking call. Unlike wall time, the
    // count does not grow when other work keeps the machine busy.
    state.counters["blocking_waits"] =
        benchmark::Counter(static_cast<double>(VoluntarySwitches() - switchesBefore),
                           benchmark::Counter::kAvgIterations);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
    zurvax::Reset();
}

// Against the baseline's own device: what is left beyond the baseline is the program's and
// the library's.
void BM_WorkerTransfer(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0)) * kMiB;
    auto drive = std::make_unique<BaselineDrive>(size);
    BaselineDrive* device = drive.get();
    zurvax::UseTransport(std::move(drive));
    TimeWorker(state, size, [device] { device->Reset(); });
}
BENCHMARK(BM_WorkerTransfer)
    ->Arg(1)
    ->Arg(4)
    ->Arg(16)
    ->ComputeStatistics(kBest, Fastest)
    ->Unit(benchmark::kMillisecond);

// Against the emulated drive every test and demo uses.
void BM_WorkerTransferEmulated(benchmark::State& state) {
    UseEmulation(
        R"({"devices":[{"medium":true,"power_on_attention":false,"activation_polls":0}]})");
    TimeWorker(state, static_cast<std::size_t>(state.range(0)) * kMiB, [] {});
}
BENCHMARK(BM_WorkerTransferEmulated)
    ->Arg(1)
    ->Arg(16)
    ->ComputeStatistics(kBest, Fastest)
    ->Unit(benchmark::kMillisecond);

// What any program must do with the same bytes: read them in chunks, copy each to a
// device buffer and back, and compare.
void BM_BaselineCopyCompare(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0)) * kMiB;
    const auto folder = ScratchFolder();
    WriteImage(folder, size);
    std::vector<std::uint8_t> device(size);
    std::vector<std::uint8_t> sent(kChunk);
    std::vector<std::uint8_t> back(kChunk);
    for (auto _ : state) {
        std::ifstream file(folder / "kmr47000_0200.gbf", std::ios::binary);
        for (std::size_t offset = 0; offset < size; offset += kChunk) {
            const std::size_t length = std::min(kChunk, size - offset);
            file.read(reinterpret_cast<char*>(sent.data()), static_cast<std::streamsize>(length));
            std::memcpy(device.data() + offset, sent.data(), length);
            std::memcpy(back.data(), device.data() + offset, length);
            if (std::memcmp(sent.data(), back.data(), kChunk) != 0)
                state.SkipWithError("mismatch");
        }
        benchmark::DoNotOptimize(back.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}
BENCHMARK(BM_BaselineCopyCompare)
    ->Arg(1)
    ->Arg(4)
    ->Arg(16)
    ->ComputeStatistics(kBest, Fastest)
    ->Unit(benchmark::kMillisecond);

void BM_LibraryCommand(benchmark::State& state) {
    UseEmulation(R"({"devices":[{"medium":true,"power_on_attention":false}]})");
    std::vector<std::uint8_t> data(kChunk, 0x5A);
    INQUIRY_DATA inquiry{};
    SENSE_DATA sense{};
    const auto op = state.range(0);
    WriteBuffer(0, 2, 0, 0, kChunk, data.data());
    for (auto _ : state) {
        switch (op) {
        case 0:
            benchmark::DoNotOptimize(GetDeviceType(0));
            break;
        case 1:
            benchmark::DoNotOptimize(ReadRawInquiryData(0, &inquiry));
            break;
        case 2:
            benchmark::DoNotOptimize(GetScsiPath(0));
            break;
        case 3:
            benchmark::DoNotOptimize(TestUnitReady(0));
            break;
        case 4:
            benchmark::DoNotOptimize(RequestSense(0, &sense));
            break;
        case 5:
            benchmark::DoNotOptimize(WriteBuffer(0, 2, 0, 0, kChunk, data.data()));
            break;
        default:
            benchmark::DoNotOptimize(ReadBuffer(0, 2, 0, 0, kChunk, data.data()));
            break;
        }
    }
    const char* names[] = {"GetDeviceType", "ReadRawInquiryData", "GetScsiPath",  "TestUnitReady",
                           "RequestSense",  "WriteBuffer 8K",     "ReadBuffer 8K"};
    state.SetLabel(names[op]);
    zurvax::Reset();
}
BENCHMARK(BM_LibraryCommand)
    ->DenseRange(0, 6)
    ->ComputeStatistics(kBest, Fastest)
    ->Unit(benchmark::kNanosecond);

// A scan as the operator's Rescan runs it, with n drives attached.
void BM_Scan(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    std::string json = R"({"devices":[)";
    for (std::size_t i = 0; i < count; ++i)
        json += std::string(i ? "," : "") + R"({"medium":true,"power_on_attention":false})";
    json += "]}";
    UseEmulation(json);
    fw::headless::HeadlessSession session;
    theApp.SetModulePath("fwupgrade");
    session.windows.Then(IDD_AGREEMENT, [](fw::headless::Headless& ui) { ui.Click(IDOK); });
    session.windows.Then(IDD_DEVICE_DIALOG, [&](fw::headless::Headless& ui) {
        for (auto _ : state) {
            ui.Click(IDCANCEL);
        }
        ui.Click(IDOK);
    });
    theApp.InitInstance();
    state.SetComplexityN(static_cast<std::int64_t>(count));
    zurvax::Reset();
}
BENCHMARK(BM_Scan)
    ->Arg(1)
    ->Arg(16)
    ->Arg(256)
    ->Complexity(benchmark::oN)
    ->ComputeStatistics(kBest, Fastest)
    ->Unit(benchmark::kMicrosecond);

// Peak heap of a whole worker run, against a drive that keeps nothing of the image.
std::size_t PeakOfUpgrade(std::size_t size) {
    const auto folder = ScratchFolder();
    WriteImage(folder, size);
    InFolder in(folder);
    zurvax::UseTransport(std::make_unique<ChunkDrive>());
    const std::size_t before = g_live.load();
    g_peak.store(before);
    RunWorker();
    const std::size_t peak = g_peak.load() - before;
    zurvax::Reset();
    return peak;
}

void BM_UpgradeMemory(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0)) * kMiB;
    std::size_t peak = 0;
    for (auto _ : state) {
        peak = PeakOfUpgrade(size);
    }
    state.counters["peak_heap_bytes"] = static_cast<double>(peak);
}
BENCHMARK(BM_UpgradeMemory)
    ->Arg(1)
    ->Arg(16)
    ->Iterations(1)
    ->ComputeStatistics(kBest, Fastest)
    ->Unit(benchmark::kMillisecond);

// Collects the figures for the closing table: per benchmark its "best" statistic, the
// fastest of its repetitions (or its only run without repetitions). CPU time, not wall
// time, and the best rather than the mean: the machine may be busy with other work, which
// only ever adds time, and every wait of the program is virtual anyway. The transfer's wall
// time is shown beside its CPU time (each the best of its repetitions), as a wait that does
// not go through the virtual kernel shows only there.
class TableReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            if (run.error_occurred)
                continue;
            const bool best = run.run_type == Run::RT_Aggregate && run.aggregate_name == kBest;
            const std::string name = run.run_name.str();
            // The mean over the repetitions, not the fewest: a blocking call in any counts.
            const auto waits = run.counters.find("blocking_waits");
            const bool mean = run.run_type == Run::RT_Aggregate && run.aggregate_name == "mean";
            if (waits != run.counters.end() && (mean || !m_waits.count(name)))
                m_waits[name] = waits->second.value;
            if (run.run_type != Run::RT_Iteration && !best)
                continue;
            if (best || !m_ns.count(name)) {
                const double toNs = run.time_unit == benchmark::kMillisecond   ? 1e6
                                    : run.time_unit == benchmark::kMicrosecond ? 1e3
                                                                               : 1.0;
                m_ns[name] = run.GetAdjustedCPUTime() * toNs;
                m_wallNs[name] = run.GetAdjustedRealTime() * toNs;
            }
            const auto counter = run.counters.find("peak_heap_bytes");
            if (counter != run.counters.end())
                m_peak[name] = std::max(m_peak[name], counter->second.value);
            if (!run.report_label.empty())
                m_labels[name] = run.report_label;
        }
    }
    void PrintTable() const {
        std::printf("\n== fwupgrade performance ==\n");
        for (int mib : {1, 4, 16}) {
            const auto ours = Get("BM_WorkerTransfer/" + std::to_string(mib));
            const auto base = Get("BM_BaselineCopyCompare/" + std::to_string(mib));
            std::printf(
                "transfer %2d MiB: ours %8.2f ms, baseline %8.2f ms, ratio %.2f (target <= 1.3)\n",
                mib, ours / 1e6, base / 1e6, base > 0 ? ours / base : 0.0);
        }
        for (int mib : {1, 16}) {
            const auto ours = Get("BM_WorkerTransferEmulated/" + std::to_string(mib));
            const auto base = Get("BM_BaselineCopyCompare/" + std::to_string(mib));
            std::printf("transfer %2d MiB to the emulated drive: %8.2f ms, ratio %.2f (no "
                        "target: the emulated drive's own work counts too)\n",
                        mib, ours / 1e6, base > 0 ? ours / base : 0.0);
        }
        // Every wait of the worker is virtual: wall time beyond its CPU time is the system
        // keeping it waiting (a blocking call), or other work on a busy machine.
        // The baseline cannot block (memory and a file in the page cache): its own ratio is
        // what the machine's load alone adds.
        for (int mib : {1, 4, 16}) {
            const std::string name = "BM_WorkerTransfer/" + std::to_string(mib);
            const std::string base = "BM_BaselineCopyCompare/" + std::to_string(mib);
            const auto cpu = Get(name);
            const auto wall = GetWall(name);
            const auto waits = m_waits.find(name);
            std::printf("transfer %2d MiB wall: %8.2f ms against %8.2f ms CPU, ratio %.2f "
                        "(target <= 1.2; the baseline's %.2f), blocking waits a run %.2f\n",
                        mib, wall / 1e6, cpu / 1e6, cpu > 0 ? wall / cpu : 0.0,
                        Get(base) > 0 ? GetWall(base) / Get(base) : 0.0,
                        waits != m_waits.end() ? waits->second : 0.0);
        }
        for (int op = 0; op <= 6; ++op) {
            const std::string name = "BM_LibraryCommand/" + std::to_string(op);
            const auto label = m_labels.find(name);
            std::printf("library %-20s %8.0f ns\n",
                        label != m_labels.end() ? label->second.c_str() : name.c_str(), Get(name));
        }
        for (int n : {1, 16, 256}) {
            const auto t = Get("BM_Scan/" + std::to_string(n));
            std::printf("scan %3d devices: %10.1f us (%.2f us per device)\n", n, t / 1e3,
                        t / 1e3 / n);
        }
        const auto small = m_peak.count("BM_UpgradeMemory/1/iterations:1")
                               ? m_peak.at("BM_UpgradeMemory/1/iterations:1")
                               : 0;
        const auto large = m_peak.count("BM_UpgradeMemory/16/iterations:1")
                               ? m_peak.at("BM_UpgradeMemory/16/iterations:1")
                               : 0;
        std::printf("peak heap of an upgrade: 1 MiB image %.0f bytes, 16 MiB image %.0f bytes, "
                    "difference %.0f bytes "
                    "(target < 1 MiB)\n",
                    small, large, large - small);
    }

private:
    double Get(const std::string& name) const {
        const auto found = m_ns.find(name);
        return found != m_ns.end() ? found->second : 0.0;
    }
    double GetWall(const std::string& name) const {
        const auto found = m_wallNs.find(name);
        return found != m_wallNs.end() ? found->second : 0.0;
    }
    std::map<std::string, double> m_ns;
    std::map<std::string, double> m_wallNs;
    std::map<std::string, double> m_waits;
    std::map<std::string, double> m_peak;
    std::map<std::string, std::string> m_labels;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    TableReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintTable();
    benchmark::Shutdown();
    return 0;
}
