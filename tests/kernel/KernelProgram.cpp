// The program's own code on a real kernel: runs inside a virtual machine whose only SCSI
// device is the kernel's scsi_debug posing as a KMR-47000 (tests/kernel/run-vm.sh). The
// scan, the selection and the upgrade run as in the program, through the SG_IO transport,
// with the headless window system playing the operator; every check prints one line
// "KTEST PASS <name>" or "KTEST FAIL <name>: <why>" for the host to collect.
//
// Usage: ktest <scenario>, one scenario per run, as root:
//   upgrade        scan, select and upgrade sg0 (the first command after boot included)
//   commit         the commit command and the unit attention that follows it
//   no-access      as an unprivileged user outside the node's group
//   group-member   as an unprivileged user in the node's group (node mode 0660)
//   read-only      as an unprivileged user in the node's group (node mode 0640)
//   claim          with st attached: ClaimDevice holds /dev/nst0 until ReleaseDevice
//   hold-tape      holds /dev/nst0 open, as another program would, until killed; creates
//                  /tmp/held once it does
//   claim-busy     with /dev/nst0 held by hold-tape: ClaimDevice answers in-use
//   rule-member    after udevd applied the package's rule, with a scsi_debug disk on sg1
//                  beside the drive: as an unprivileged member of the rule's group only
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/FirmwareApp.h"
#include "framework/headless/Headless.h"
#include "res/resource.h"
#include "tests/vm/VmProgram.h"
#include "zurvax/Cdb.h"
#include "zurvax/Classify.h"
#include "zurvax/SgTransport_linux.h"
#include "zurvax/Zurvax.h"
#include "zurvax/ZurvaxApi.h"
#include "zurvax/ZurvaxStatus.h"

namespace {

using fw::headless::Headless;
using vmtest::Joined;
using vmtest::SysfsAddress;

constexpr gid_t kDiskGroup = 6;
constexpr uid_t kNobody = 65534;
constexpr char kNode[] = "/dev/sg0";
constexpr char kFailure[] = "Error: please check the device and try again.";
constexpr char kNoDevices[] = "No supported Vorn tape devices found !!!";

vmtest::Checks g_checks("KTEST");

void Check(const std::string& name, bool passed, const std::string& why) {
    g_checks.Check(name, passed, why);
}

std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(value));
    return text;
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

constexpr char kDescriptorSense[] = "/sys/bus/pseudo/drivers/scsi_debug/dsense";

// Writes text without a newline (scsi_debug refuses some values with one).
bool WriteSysfs(const char* path, const std::string& text) {
    std::ofstream file(path);
    file << text;
    file.flush();
    return static_cast<bool>(file);
}

std::string ReadSysfs(const char* path) {
    std::ifstream file(path);
    std::string text;
    std::getline(file, text);
    return text;
}

// Becomes an unprivileged user, in the disk group or in none.
bool DropPrivileges(bool inDiskGroup) {
    const gid_t groups[] = {kDiskGroup};
    if (setgroups(inDiskGroup ? 1 : 0, groups) != 0)
        return false;
    if (setgid(kNobody) != 0 || setuid(kNobody) != 0)
        return false;
    return getuid() == kNobody && geteuid() == kNobody;
}

// One run of the program with the operator's steps, and, as app/main.cpp does, the
// library's start-up warning shown before the first scan.
class KernelRun : public vmtest::ProgramRun {
public:
    void Agree() {
        ui().Then(IDD_AGREEMENT, [](Headless& windows) { windows.Click(IDOK); });
    }
    void InMain(Headless::Step step) { ui().Then(IDD_DEVICE_DIALOG, std::move(step)); }
    void Done() {
        InMain([](Headless& windows) { windows.Click(IDOK); });
    }
    void WriteImage(std::size_t size) {
        std::vector<std::uint8_t> image(size);
        for (std::size_t i = 0; i < size; ++i)
            image[i] = static_cast<std::uint8_t>((i * 7) & 0xFF);
        ProgramRun::WriteImage(image);
    }
    // Returns ZurvaxOpen's status; message gets its text. The program opens the library
    // again itself once the agreement is accepted, and shows a warning of it.
    std::uint32_t Run(std::string& message) {
        const std::uint32_t status = Open(message);
        if (status != 0)
            return status;
        RunProgram();
        return status;
    }
};

void ScenarioUpgrade() {
    const auto address = SysfsAddress();
    Check("sysfs-address", address.has_value(),
          "no H:C:T:L behind /sys/class/scsi_generic/sg0/device");
    if (!address)
        return;
    char expected[64];
    std::snprintf(expected, sizeof expected, "00:HA#%02d TID#%02d VORN     KMR-47000        ",
                  address->first, address->second);

    KernelRun run;
    run.WriteImage(2 * 8192 + 100);
    run.Agree();
    bool upgradeEnabled = false;
    std::string revision;
    std::string model;
    run.InMain([&](Headless& ui) {
        upgradeEnabled = ui.Control(IDD_DEVICE_DIALOG, IDC_UPGRADE)->enabled;
        revision = ui.Control(IDD_DEVICE_DIALOG, IDC_REVISION)->text;
        model = ui.Control(IDD_DEVICE_DIALOG, IDC_MODEL)->text;
        ui.Click(IDC_UPGRADE);
    });
    run.ui().Answer("Are you sure you want to upgrade Current Firmware?", IDYES);
    run.ui().Answer("Read Sense Data ?", IDYES);
    run.Done();
    std::string message;
    const std::uint32_t opened = run.Run(message);

    Check("open", opened == 0 && message.empty(),
          "ZurvaxOpen -> " + Hex(opened) + " \"" + message + "\"");
    const auto items = run.ListItems();
    Check("scan-lists-drive", items == std::vector<std::string>{expected},
          "list " + Joined(items) + " expected [" + expected + "]");
    const auto tests = run.TraceOf("TestUnitReady");
    // scsi_debug reports its power-on as 29/01; any 29/xx (power on or reset) is absorbed alike.
    Check("unit-attention-absorbed",
          tests.size() >= 2 && tests[0].rfind("TestUnitReady 0 -> 29", 0) == 0 &&
              tests[0].size() == std::string("TestUnitReady 0 -> 2900").size() &&
              tests[1] == "TestUnitReady 0 -> 0",
          "readiness tests " + Joined(tests));
    Check("upgrade-enabled", upgradeEnabled && revision == "0100" && model == "KMR-47000",
          "enabled=" + std::to_string(upgradeEnabled) + " model=" + model +
              " revision=" + revision);

    const auto transfers = run.TraceOf("WriteBuffer");
    Check("first-chunk-written",
          Contains(transfers, "WriteBuffer 0 mode=2 id=0 offset=0 length=8192 -> 0"),
          "writes " + Joined(transfers));
    const auto reads = run.TraceOf("ReadBuffer");
    const auto boxes = run.BoxTexts();
    Check(
        "read-buffer-refused",
        reads ==
                std::vector<std::string>{"ReadBuffer 0 mode=2 id=0 offset=0 length=8192 -> 2000"} &&
            Contains(boxes, "Error: 2000\nRead Sense Data ?"),
        "reads " + Joined(reads) + " boxes " + Joined(boxes));
    const auto senses = run.TraceOf("RequestSense");
    bool senseShown = false;
    for (const auto& box : boxes)
        senseShown = senseShown || box.rfind("Error Code: \t\t70h\n", 0) == 0;
    Check("sense-read", senses == std::vector<std::string>{"RequestSense 0 -> 0"} && senseShown,
          "requests " + Joined(senses) + " boxes " + Joined(boxes));
    Check("no-commit-after-failed-verify", transfers.size() == 1, "writes " + Joined(transfers));

    // The worker's poll: readiness tests after the refused READ BUFFER.
    const auto trace = run.Trace();
    const auto refused =
        std::find(trace.begin(), trace.end(), reads.empty() ? std::string() : reads[0]);
    const bool polled = refused != trace.end() &&
                        std::find(refused, trace.end(), "TestUnitReady 0 -> 0") != trace.end();
    Check("drive-polled", polled, "trace " + Joined(trace));
    const auto worker = run.WorkerBoxTexts();
    Check("failure-outcome", !worker.empty() && worker.back() == kFailure,
          "worker boxes " + Joined(worker));
    const auto problems = run.ui().Problems();
    Check("script-complete", problems.empty(), "problems " + Joined(problems));
}

void ScenarioCommit() {
    unsetenv("ZURVAX_EMULATION");
    unsetenv("ZURVAX_TRACE");
    zurvax::Reset();
    Check("commit-accepted",
          WriteBuffer(0, BUFFER_MODE_DOWNLOAD_MICROCODE_SAVE, 0, 0, 0, nullptr) == 0,
          "mode 5 WRITE BUFFER refused");
    const std::uint32_t attention = TestUnitReady(0);
    const std::uint32_t after = TestUnitReady(0);
    Check("commit-unit-attention", attention == 0x3F16 && after == 0,
          "readiness after the commit " + Hex(attention) + ", then " + Hex(after));
    // Descriptor-format sense, as the kernel hands it over, goes through the same decoding.
    const bool descriptorMode =
        WriteSysfs(kDescriptorSense, "1") && ReadSysfs(kDescriptorSense) == "1";
    zurvax::SgTransport transport(zurvax::MakeSgSystem());
    std::vector<std::uint8_t> received(16, 0);
    const auto cdb = zurvax::ReadBufferCdb(BUFFER_MODE_DATA, 0, 0, 16);
    zurvax::ScsiCommand command(cdb->view(), std::chrono::seconds(10));
    command.setDataIn(received, received.size());
    const zurvax::ScsiResult result = transport.execute(0, command);
    const std::uint8_t format = result.sense.empty() ? 0 : result.sense[0] & 0x7F;
    const std::uint32_t classified = zurvax::Classify(command, result);
    // The kernel may copy out what its own buffer holds even for a CHECK CONDITION: of the
    // caller's bytes only the first is sure to stay.
    std::vector<std::uint8_t> buffer(16, 0xAB);
    const std::uint32_t read = ReadBuffer(0, BUFFER_MODE_DATA, 0, 0, 16, buffer.data());
    SENSE_DATA sense{};
    const std::uint32_t requested = RequestSense(0, &sense);
    Check("descriptor-sense",
          descriptorMode && format == 0x72 && classified == 0x2000 && read == 0x2000 &&
              buffer[0] == 0xAB && requested == 0 && sense.bytes[0] == 0x70,
          "dsense set " + std::to_string(descriptorMode) + ", sense format " + Hex(format) +
              ", classified " + Hex(classified) + ", READ BUFFER " + Hex(read) +
              ", REQUEST SENSE " + Hex(requested) + " code " + Hex(sense.bytes[0]) +
              ", buffer starts " + Hex(buffer[0]) + " " + Hex(buffer[1]));
    WriteSysfs(kDescriptorSense, "0");

    // A device that sends less than asked for: the kernel's residual makes a short transfer.
    std::vector<std::uint8_t> standard(255, 0);
    const auto inquiryCdb = zurvax::InquiryCdb(255);
    zurvax::ScsiCommand longInquiry(inquiryCdb.view(), std::chrono::seconds(10));
    longInquiry.setDataIn(standard, standard.size());
    const zurvax::ScsiResult answered = transport.execute(0, longInquiry);
    const std::size_t sent = std::size_t{standard[4]} + 5;
    Check("residual-short-transfer",
          sent < standard.size() && answered.residual == standard.size() - sent &&
              zurvax::Classify(longInquiry, answered) == ZURVAX_STATUS_SHORT_TRANSFER,
          "INQUIRY sent " + std::to_string(sent) + " bytes, residual " +
              std::to_string(answered.residual));
    // The revision a drive reports after activation is read afresh.
    WriteSysfs("/sys/module/scsi_debug/parameters/inq_rev", "0200");
    INQUIRY_DATA inquiry{};
    const std::uint32_t status = ReadRawInquiryData(0, &inquiry);
    const std::string text(reinterpret_cast<const char*>(inquiry.bytes) + 32, 4);
    Check("revision-read-afresh", status == 0 && text == "0200",
          "INQUIRY " + Hex(status) + " revision " + text);
}

void ScenarioNoAccess() {
    if (!DropPrivileges(false)) {
        Check("no-access", false, "cannot become an unprivileged user");
        return;
    }
    KernelRun run;
    run.Agree();
    run.Done();
    std::string message;
    const std::uint32_t opened = run.Run(message);
    const bool named = message.find(kNode) != std::string::npos &&
                       message.find("root") != std::string::npos &&
                       message.find("\"disk\"") != std::string::npos;
    Check("permission-warning", opened == 0 && named,
          "ZurvaxOpen -> " + Hex(opened) + " \"" + message + "\"");
    const auto boxes = run.BoxTexts();
    Check("warning-before-scan", boxes.size() == 2 && boxes[0] == message && boxes[1] == kNoDevices,
          "boxes " + Joined(boxes));
    // The scan stopped at the first index, the one it may not use.
    const auto trace = run.Trace();
    const std::uint32_t ready = TestUnitReady(0);
    Check("denied-commands",
          trace == std::vector<std::string>{"ZurvaxOpen -> 0", "ZurvaxOpen -> 0",
                                            "GetDeviceType 0 -> 31"} &&
              ready == ZURVAX_STATUS_PERMISSION_DENIED,
          "trace " + Joined(trace) + " TEST UNIT READY " + Hex(ready));
    std::printf("KTEST INFO warning: %s\n", message.c_str());
}

void ScenarioGroupMember() {
    if (!DropPrivileges(true)) {
        Check("group-member", false, "cannot become an unprivileged user in the disk group");
        return;
    }
    zurvax::Reset();
    char message[256] = {};
    const std::uint32_t opened = ZurvaxOpen(message, sizeof message);
    Check("member-opens", opened == 0 && message[0] == '\0' && GetDeviceType(0) == 1,
          "ZurvaxOpen -> " + Hex(opened) + " \"" + message + "\"");
    std::vector<std::uint8_t> chunk(512, 0x5A);
    const std::uint32_t written = WriteBuffer(0, BUFFER_MODE_DATA, 0, 0, 512, chunk.data());
    Check("member-writes", written == 0, "WRITE BUFFER " + Hex(written));
}

void ScenarioReadOnly() {
    if (!DropPrivileges(true)) {
        Check("read-only", false, "cannot become an unprivileged user in the disk group");
        return;
    }
    zurvax::Reset();
    char message[256] = {};
    const std::uint32_t opened = ZurvaxOpen(message, sizeof message);
    const std::uint32_t ready = TestUnitReady(0);
    Check("read-only-opens",
          opened == 0 && message[0] == '\0' && GetDeviceType(0) == 1 && ready == 0,
          "ZurvaxOpen -> " + Hex(opened) + " \"" + message + "\", TEST UNIT READY " + Hex(ready));
    std::vector<std::uint8_t> chunk(512, 0x5A);
    const std::uint32_t written = WriteBuffer(0, BUFFER_MODE_DATA, 0, 0, 512, chunk.data());
    Check("read-only-write-denied", written == ZURVAX_STATUS_PERMISSION_DENIED,
          "WRITE BUFFER " + Hex(written));
}

constexpr char kTapeNode[] = "/dev/nst0";

// errno of an open of st's node as another program would try it, 0 when it opened.
int OpenTapeError() {
    const int fd = ::open(kTapeNode, O_RDONLY | O_NONBLOCK);
    if (fd < 0)
        return errno;
    ::close(fd);
    return 0;
}

void ScenarioClaim() {
    zurvax::Reset();
    DEVICE_NODES nodes = {};
    const std::uint32_t named = GetDeviceNodes(0, &nodes);
    Check("device-nodes",
          named == 0 && std::string(nodes.passThrough) == "/dev/sg0" &&
              std::string(nodes.tape) == kTapeNode,
          "GetDeviceNodes -> " + Hex(named) + " \"" + nodes.passThrough + "\" \"" + nodes.tape +
              "\"");
    const std::uint32_t claimed = ClaimDevice(0);
    const int whileClaimed = OpenTapeError();
    Check("claim-holds-tape", claimed == 0 && whileClaimed == EBUSY,
          "ClaimDevice -> " + Hex(claimed) + ", open of " + kTapeNode + ": " +
              std::strerror(whileClaimed));
    const std::uint32_t released = ReleaseDevice(0);
    const int afterRelease = OpenTapeError();
    Check("release-frees-tape", released == 0 && afterRelease == 0,
          "ReleaseDevice -> " + Hex(released) + ", open of " + kTapeNode + ": " +
              std::strerror(afterRelease));
}

void HoldTape() {
    const int fd = ::open(kTapeNode, O_RDONLY | O_NONBLOCK);
    if (fd < 0) {
        Check("tape-held", false,
              std::string("open of ") + kTapeNode + ": " + std::strerror(errno));
        return;
    }
    std::ofstream("/tmp/held") << "held\n";
    for (;;)
        ::pause();
}

void ScenarioClaimBusy() {
    zurvax::Reset();
    const std::uint32_t claimed = ClaimDevice(0);
    Check("claim-in-use", claimed == ZURVAX_STATUS_DEVICE_IN_USE, "ClaimDevice -> " + Hex(claimed));
    // Only st is held: the drive itself still answers through sg (GOOD or a unit attention).
    const std::uint32_t ready = TestUnitReady(0);
    Check("in-use-drive-still-answers", ready <= 0xFFFF, "TEST UNIT READY " + Hex(ready));
}

// The group's id as /etc/group has it (read directly: a static program has no NSS).
std::optional<gid_t> GroupId(const std::string& name) {
    std::ifstream file("/etc/group");
    for (std::string line; std::getline(file, line);) {
        const auto first = line.find(':');
        const auto second = line.find(':', first + 1);
        const auto third = line.find(':', second + 1);
        if (line.substr(0, first) == name && third != std::string::npos) {
            return static_cast<gid_t>(std::stoul(line.substr(second + 1, third - second - 1)));
        }
    }
    return std::nullopt;
}

std::string NodeOwner(const struct stat& node) {
    char text[64];
    std::snprintf(text, sizeof text, "group %u mode %03o", static_cast<unsigned>(node.st_gid),
                  static_cast<unsigned>(node.st_mode & 0777));
    return text;
}

void ScenarioRuleMember() {
    const auto group = GroupId(zurvax::kRuleGroup);
    struct stat drive {};
    struct stat disk {};
    const bool nodes = stat(kNode, &drive) == 0 && stat("/dev/sg1", &disk) == 0;
    Check("rule-nodes", group.has_value() && nodes,
          std::string("group ") + zurvax::kRuleGroup + (group ? " known" : " not in /etc/group") +
              (nodes ? "" : ", /dev/sg0 or /dev/sg1 missing"));
    if (!group || !nodes)
        return;
    Check("rule-drive-node", drive.st_gid == *group && (drive.st_mode & 0777) == 0660,
          NodeOwner(drive));
    Check("rule-disk-untouched", disk.st_gid != *group && (disk.st_mode & 0077) == 0,
          NodeOwner(disk));

    const gid_t groups[] = {*group};
    if (setgroups(1, groups) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0 ||
        getuid() != kNobody) {
        Check("rule-member", false, "cannot become an unprivileged user in the rule's group");
        return;
    }
    const auto address = SysfsAddress();
    char expected[64] = {};
    if (address) {
        std::snprintf(expected, sizeof expected, "00:HA#%02d TID#%02d VORN     KMR-47000        ",
                      address->first, address->second);
    }
    KernelRun run;
    run.Agree();
    run.Done();
    std::string message;
    const std::uint32_t opened = run.Run(message);
    const auto items = run.ListItems();
    Check("rule-member-lists",
          opened == 0 && message.empty() && items == std::vector<std::string>{expected},
          "ZurvaxOpen -> " + Hex(opened) + " \"" + message + "\", list " + Joined(items));
    // The download and its commit: scsi_debug takes both (its READ BUFFER is refused, so the
    // program's own read-back cannot complete here; the upgrade scenario covers that).
    std::vector<std::uint8_t> chunk(8192, 0x5A);
    const std::uint32_t written = WriteBuffer(0, BUFFER_MODE_DATA, 0, 0, 8192, chunk.data());
    const std::uint32_t committed =
        WriteBuffer(0, BUFFER_MODE_DOWNLOAD_MICROCODE_SAVE, 0, 0, 0, nullptr);
    Check("rule-member-flashes", written == 0 && committed == 0,
          "WRITE BUFFER " + Hex(written) + ", commit " + Hex(committed));
    const std::uint32_t diskReady = TestUnitReady(1);
    Check("rule-disk-denied", diskReady == ZURVAX_STATUS_PERMISSION_DENIED,
          "TEST UNIT READY on sg1 " + Hex(diskReady));
}

} // namespace

int main(int argc, char** argv) {
    const std::string scenario = argc > 1 ? argv[1] : "";
    if (scenario == "upgrade") {
        ScenarioUpgrade();
    } else if (scenario == "commit") {
        ScenarioCommit();
    } else if (scenario == "no-access") {
        ScenarioNoAccess();
    } else if (scenario == "group-member") {
        ScenarioGroupMember();
    } else if (scenario == "read-only") {
        ScenarioReadOnly();
    } else if (scenario == "claim") {
        ScenarioClaim();
    } else if (scenario == "hold-tape") {
        HoldTape();
    } else if (scenario == "claim-busy") {
        ScenarioClaimBusy();
    } else if (scenario == "rule-member") {
        ScenarioRuleMember();
    } else {
        Check("usage", false, "unknown scenario \"" + scenario + "\"");
    }
    return g_checks.Failures() == 0 ? 0 : 1;
}
