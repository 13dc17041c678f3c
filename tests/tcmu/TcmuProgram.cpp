// The program's own code against the emulated KMR-47000 served by fwupgrade-tcmu behind the
// kernel's tcm_loop fabric (tests/tcmu/run-vm.sh): the scan, the selection and the upgrade
// run through the SG_IO transport on /dev/sg nodes, with the headless window system playing
// the operator. Every check prints "TCMU PASS <name>" or "TCMU FAIL <name>: <why>".
//
// Usage: tcmu-test <case> <image copy>, one case per run, as root, with one drive exported:
//   complete   a whole upgrade of a good image (the handler records what it took)
//   corrupt    the handler corrupts the second data READ BUFFER
//   rejected   the image's header is wrong, so the drive refuses the commit
//   stall      the handler stops answering during the transfer for longer than the
//              backstore's command time-out, then answers again
// The image the program reads is also written to <image copy>, for the script to compare
// with what the handler recorded.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "app/FirmwareApp.h"
#include "framework/headless/Headless.h"
#include "res/resource.h"
#include "tests/vm/VmProgram.h"
#include "zurvax/Zurvax.h"
#include "zurvax/ZurvaxApi.h"

namespace {

using fw::headless::Headless;
using vmtest::Joined;
using vmtest::StartsWith;
using vmtest::SysfsAddress;

constexpr std::size_t kChunk = 8192;
constexpr char kConfirm[] = "Are you sure you want to upgrade Current Firmware?";
constexpr char kSuccess[] = "Congratulations ! \n\nYour device firmware update is now complete.";
constexpr char kFailure[] = "Error: please check the device and try again.";
constexpr char kMismatch[] = "Error: ReadBuffer not equal to WriteBuffer";
const std::string kCommit = "WriteBuffer 0 mode=5 id=0 offset=0 length=0";

vmtest::Checks g_checks("TCMU");
std::string g_case;

void Check(const std::string& name, bool passed, const std::string& why) {
    g_checks.Check(g_case + "/" + name, passed, why);
}

// An image in the drive's format: magic, revision, then a payload pattern.
std::vector<std::uint8_t> Image(std::size_t size, const std::string& magic) {
    std::vector<std::uint8_t> image(size);
    const std::string header = magic + "0200";
    for (std::size_t i = 0; i < size; ++i) {
        image[i] = i < header.size() ? static_cast<std::uint8_t>(header[i])
                                     : static_cast<std::uint8_t>((i * 7 + i / kChunk) & 0xFF);
    }
    return image;
}

// One run of the program with the operator's steps of an upgrade.
class TcmuRun : public vmtest::ProgramRun {
public:
    // The image the program reads, and a copy of it at copy for the host script.
    void WriteImage(const std::vector<std::uint8_t>& image, const std::string& copy) {
        ProgramRun::WriteImage(image);
        std::ofstream file(copy, std::ios::binary);
        file.write(reinterpret_cast<const char*>(image.data()),
                   static_cast<std::streamsize>(image.size()));
    }

    // Agree, press Upgrade, say Yes, ask for the sense of the error when one is expected,
    // then DONE.
    void ScriptUpgrade(bool errorExpected) {
        ui().Then(IDD_AGREEMENT, [](Headless& windows) { windows.Click(IDOK); });
        ui().Then(IDD_DEVICE_DIALOG, [this](Headless& windows) {
            m_revisionBefore = windows.Control(IDD_DEVICE_DIALOG, IDC_REVISION)->text;
            m_upgradeEnabled = windows.Control(IDD_DEVICE_DIALOG, IDC_UPGRADE)->enabled;
            windows.Click(IDC_UPGRADE);
        });
        ui().Answer(kConfirm, IDYES);
        if (errorExpected)
            ui().Answer("Read Sense Data ?", IDYES);
        ui().Then(IDD_DEVICE_DIALOG, [this](Headless& windows) {
            m_revisionAfter = windows.Control(IDD_DEVICE_DIALOG, IDC_REVISION)->text;
            windows.Click(IDOK);
        });
    }

    void Run() {
        std::string message;
        const std::uint32_t status = Open(message);
        Check("open", status == 0 && message.empty(),
              "ZurvaxOpen -> " + std::to_string(status) + " " + message);
        if (status != 0)
            return;
        const auto start = std::chrono::steady_clock::now();
        RunProgram();
        m_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("TCMU INFO program ran %.2f s\n", m_seconds);
    }

    // Readiness tests after the last trace line that begins with prefix.
    std::vector<std::string> TestsAfter(const std::string& prefix) const {
        const auto trace = Trace();
        auto from = trace.end();
        for (auto it = trace.begin(); it != trace.end(); ++it) {
            if (StartsWith(*it, prefix))
                from = it;
        }
        std::vector<std::string> tests;
        if (from == trace.end())
            return tests;
        for (auto it = from + 1; it != trace.end(); ++it) {
            if (StartsWith(*it, "TestUnitReady"))
                tests.push_back(*it);
        }
        return tests;
    }

    std::string m_revisionBefore;
    std::string m_revisionAfter;
    bool m_upgradeEnabled = false;
    double m_seconds = 0;
};

std::string Chunk(const char* op, std::size_t offset, std::size_t length,
                  const std::string& status = "0") {
    return std::string(op) + " 0 mode=2 id=0 offset=" + std::to_string(offset) +
           " length=" + std::to_string(length) + " -> " + status;
}

// The data-mode transfers of a whole image, each chunk written then read back.
std::vector<std::string> AllChunks(std::size_t size) {
    std::vector<std::string> lines;
    for (std::size_t offset = 0; offset < size; offset += kChunk) {
        const std::size_t length = std::min(kChunk, size - offset);
        lines.push_back(Chunk("WriteBuffer", offset, length));
        lines.push_back(Chunk("ReadBuffer", offset, length));
    }
    return lines;
}

std::vector<std::string> Transfers(const TcmuRun& run) {
    std::vector<std::string> lines;
    for (const auto& line : run.Trace()) {
        if (StartsWith(line, "WriteBuffer 0 mode=2") || StartsWith(line, "ReadBuffer 0 mode=2")) {
            lines.push_back(line);
        }
    }
    return lines;
}

// Checks every case shares: the drive listed where the kernel put it, the power-on unit
// attention taken by the first readiness test, the request allowed.
void CheckSelection(TcmuRun& run) {
    const auto address = SysfsAddress();
    std::string expected = "(no sysfs address)";
    if (address) {
        char text[80];
        std::snprintf(text, sizeof text, "00:HA#%02d TID#%02d VORN     KMR-47000        ",
                      address->first, address->second);
        expected = text;
    }
    const auto items = run.ListItems();
    Check("listed-at-kernel-address", address && items == std::vector<std::string>{expected},
          "list " + Joined(items) + " expected [" + expected + "]");
    const auto tests = run.TraceOf("TestUnitReady");
    Check("power-on-attention-absorbed",
          tests.size() >= 2 && tests[0] == "TestUnitReady 0 -> 2900" &&
              tests[1] == "TestUnitReady 0 -> 3a00",
          "readiness tests " + Joined(tests));
    Check("upgrade-offered", run.m_upgradeEnabled && run.m_revisionBefore == "0100",
          "enabled=" + std::to_string(run.m_upgradeEnabled) + " revision=" + run.m_revisionBefore);
}

void CheckEnd(TcmuRun& run, bool success) {
    const auto worker = run.WorkerBoxTexts();
    const auto boxes = run.BoxTexts();
    const bool congratulated = std::find(boxes.begin(), boxes.end(), kSuccess) != boxes.end();
    if (success) {
        Check("success-outcome",
              worker == std::vector<std::string>{kSuccess} && theApp.m_bUpgradeDone == 1,
              "worker boxes " + Joined(worker));
    } else {
        Check("failure-outcome",
              !worker.empty() && worker.back() == kFailure && !congratulated &&
                  theApp.m_bUpgradeDone == 0,
              "worker boxes " + Joined(worker));
    }
    const auto problems = run.ui().Problems();
    Check("script-complete", problems.empty(), "problems " + Joined(problems));
}

void CaseComplete(const std::string& copy) {
    const std::size_t size = 5 * kChunk + 1234;
    TcmuRun run;
    run.WriteImage(Image(size, "KMR47000-FW:"), copy);
    run.ScriptUpgrade(false);
    // Through SG_IO, as sg_vpd reads it in the script: the handler's first default.
    char serial[SERIAL_NUMBER_SIZE] = {};
    const std::uint32_t serialStatus = ReadSerialNumber(0, serial, sizeof serial);
    Check("serial-read", serialStatus == 0 && std::string(serial) == "EMU0000001",
          "ReadSerialNumber -> " + std::to_string(serialStatus) + " " + serial);
    run.Run();
    CheckSelection(run);

    auto expected = AllChunks(size);
    const auto transfers = Transfers(run);
    Check("every-chunk-written-and-verified", transfers == expected,
          "transfers " + Joined(transfers));
    const auto commits = run.TraceOf("WriteBuffer 0 mode=5");
    Check("commit-accepted", commits == std::vector<std::string>{kCommit + " -> 0"},
          "commits " + Joined(commits));
    const auto poll = run.TestsAfter(kCommit);
    // Activating, then back with its unit attentions one per command, then ready without a
    // cartridge; the rescan's own tests follow.
    const std::vector<std::string> activation{"TestUnitReady 0 -> 401", "TestUnitReady 0 -> 401",
                                              "TestUnitReady 0 -> 2900", "TestUnitReady 0 -> 3f01",
                                              "TestUnitReady 0 -> 3a00"};
    Check("polled-through-activation",
          poll.size() >= activation.size() &&
              std::equal(activation.begin(), activation.end(), poll.begin()),
          "tests after the commit " + Joined(poll));
    CheckEnd(run, true);
    Check("rescan-shows-new-revision", run.m_revisionAfter == "0200",
          "revision after " + run.m_revisionAfter);
    Check("quick", run.m_seconds < 20, "the upgrade took " + std::to_string(run.m_seconds) + " s");
}

void CaseCorrupt(const std::string& copy) {
    const std::size_t size = 3 * kChunk + 100;
    TcmuRun run;
    run.WriteImage(Image(size, "KMR47000-FW:"), copy);
    run.ScriptUpgrade(false);
    run.Run();
    CheckSelection(run);
    const auto transfers = Transfers(run);
    const auto all = AllChunks(size);
    Check("stopped-at-mismatch",
          transfers == std::vector<std::string>(all.begin(), all.begin() + 4),
          "transfers " + Joined(transfers));
    const auto worker = run.WorkerBoxTexts();
    Check("mismatch-reported", !worker.empty() && worker.front() == kMismatch,
          "worker boxes " + Joined(worker));
    const auto commits = run.TraceOf("WriteBuffer 0 mode=5");
    Check("no-commit", commits.empty(), "commits " + Joined(commits));
    const auto poll = run.TestsAfter("ReadBuffer");
    Check("drive-polled", !poll.empty() && poll.front() == "TestUnitReady 0 -> 3a00",
          "tests after the read-back " + Joined(poll));
    CheckEnd(run, false);
}

void CaseRejected(const std::string& copy) {
    const std::size_t size = 2 * kChunk + 77;
    TcmuRun run;
    run.WriteImage(Image(size, "KMR47000-XX:"), copy);
    run.ScriptUpgrade(true);
    run.Run();
    CheckSelection(run);
    Check("every-chunk-written-and-verified", Transfers(run) == AllChunks(size),
          "transfers " + Joined(Transfers(run)));
    const auto commits = run.TraceOf("WriteBuffer 0 mode=5");
    Check("commit-refused", commits == std::vector<std::string>{kCommit + " -> 2600"},
          "commits " + Joined(commits));
    const auto worker = run.WorkerBoxTexts();
    const bool senseShown = std::any_of(worker.begin(), worker.end(), [](const std::string& box) {
        return StartsWith(box, "Error Code: \t\t70h\n") &&
               box.find("Illegal Request") != std::string::npos;
    });
    Check("refusal-reported",
          !worker.empty() && worker.front() == "Error: 2600\nRead Sense Data ?" && senseShown,
          "worker boxes " + Joined(worker));
    const auto poll = run.TestsAfter(kCommit);
    Check("drive-polled", !poll.empty() && poll.front() == "TestUnitReady 0 -> 3a00",
          "tests after the commit " + Joined(poll));
    CheckEnd(run, false);
}

void CaseStall(const std::string& copy) {
    const std::size_t size = 4 * kChunk + 10;
    TcmuRun run;
    run.WriteImage(Image(size, "KMR47000-FW:"), copy);
    run.ScriptUpgrade(true);
    run.Run();
    CheckSelection(run);
    const auto transfers = Transfers(run);
    const auto all = AllChunks(size);
    // The third chunk's WRITE BUFFER is the one left unanswered: the kernel fails it as
    // NOT READY, logical unit communication failure (08/00).
    auto expected = std::vector<std::string>(all.begin(), all.begin() + 4);
    expected.push_back(Chunk("WriteBuffer", 2 * kChunk, kChunk, "800"));
    Check("time-out-reported-as-status", transfers == expected, "transfers " + Joined(transfers));
    const auto worker = run.WorkerBoxTexts();
    Check("time-out-shown", !worker.empty() && worker.front() == "Error: 800\nRead Sense Data ?",
          "worker boxes " + Joined(worker));
    const auto commits = run.TraceOf("WriteBuffer 0 mode=5");
    Check("no-commit", commits.empty(), "commits " + Joined(commits));
    const auto poll = run.TestsAfter("WriteBuffer 0 mode=2");
    Check("drive-polled", !poll.empty() && poll.front() == "TestUnitReady 0 -> 3a00",
          "tests " + Joined(poll));
    CheckEnd(run, false);
    Check("nothing-hangs", run.m_seconds < 30,
          "the run took " + std::to_string(run.m_seconds) + " s");
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: tcmu-test complete|corrupt|rejected|stall <image copy>\n");
        return 2;
    }
    const std::string which = argv[1];
    g_case = which;
    const std::string copy = std::filesystem::absolute(argv[2]).string();
    if (which == "complete") {
        CaseComplete(copy);
    } else if (which == "corrupt") {
        CaseCorrupt(copy);
    } else if (which == "rejected") {
        CaseRejected(copy);
    } else if (which == "stall") {
        CaseStall(copy);
    } else {
        std::fprintf(stderr, "unknown case %s\n", which.c_str());
        return 2;
    }
    return g_checks.Failures() == 0 ? 0 : 1;
}
