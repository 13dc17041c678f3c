// The unattended command line on emulated drives, in virtual time: what it decides for each
// drive, its exit status, and what reaches the drives (the library's trace).
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "cli/Children.h"
#include "cli/CommandLine.h"
#include "cli/Drives.h"
#include "cli/Text.h"
#include "cli/Unattended.h"
#include "cli/Verdict.h"
#include "tests/program/Harness.h"
#include "upgrade/Sha256.h"

namespace program::test {
namespace {

using Json = nlohmann::json;

struct Outcome {
    int status = -1;
    Json report;
};

// Runs fwupgrade with arguments (the image, when given, written first) and reads its report.
Outcome RunCommand(ProgramRun& run, std::vector<std::string> arguments) {
    std::filesystem::remove(run.folder() / "report.json");
    arguments.insert(arguments.end(), {"--report", "report.json"});
    Outcome outcome;
    outcome.status = cli::RunUnattended(arguments, run.kernel());
    std::ifstream file(run.folder() / "report.json");
    outcome.report = Json::parse(file, nullptr, false);
    return outcome;
}

std::string Sha256Hex(const std::vector<std::uint8_t>& bytes) {
    Sha256 digest;
    digest.Update(bytes.data(), bytes.size());
    return Sha256::Hex(digest.Finish());
}

std::vector<std::string> Results(const Json& report) {
    std::vector<std::string> results;
    for (const auto& drive : report["drives"])
        results.push_back(drive["result"].get<std::string>());
    return results;
}

const std::vector<std::string> kUpgrade = {"upgrade", "--image", "kmr47000_0200.gbf",
                                           "--accept-agreement", "--yes"};

TEST(Unattended, EachDriveGetsItsResultAndTheStatusSaysTheWorst) {
    ProgramRun run(Devices({
        R"({"activation_polls":0})",                                          // upgraded
        R"({"revision":"0200"})",                                             // current
        R"({"faults":[{"op":"TestUnitReady","count":0,"status":"0x0402"}]})", // not ready
        R"({"faults":[{"op":"WriteBuffer","mode":5,"status":"0x2600"}]})",    // rejects the image
        R"({"revision":"0300"})",                                             // downgrade
    }));
    run.WriteImage(SampleImage(3 * 8192));
    const Outcome outcome = RunCommand(run, kUpgrade);

    ASSERT_FALSE(outcome.report.is_discarded());
    EXPECT_EQ(Results(outcome.report),
              (std::vector<std::string>{"upgraded", "current", "refused", "failed", "refused"}));
    EXPECT_EQ(outcome.status, cli::kExitFailed);
    EXPECT_EQ(outcome.report["exit_status"], cli::kExitFailed);
    EXPECT_EQ(outcome.report["drives"][0]["revision_after"], "0200");
    EXPECT_TRUE(outcome.report["drives"][3]["sense"].contains("sense_key"))
        << "the sense data is always asked for";
    EXPECT_EQ(outcome.report["summary"]["refused"], 2);
    // Only the drives that were to be flashed saw a commit; the current one saw no data.
    EXPECT_EQ(run.TraceOf("WriteBuffer 0 mode=5").size(), 1u);
    EXPECT_TRUE(run.TraceOf("WriteBuffer 1").empty());
    EXPECT_TRUE(run.TraceOf("WriteBuffer 2").empty());
    EXPECT_TRUE(run.TraceOf("WriteBuffer 4").empty());
}

// What a drive's revision means for the run, and each way a taken commit can still need the
// operator (exit status 1).
TEST(Unattended, RevisionsAndAttentionDecideTheResult) {
    struct Case {
        const char* device;
        std::vector<std::string> extra;
        const char* result;
        int status;
    };
    const Case cases[] = {
        {R"({"revision":"01ab"})", {"--revision", "01AB"}, "current", cli::kExitDone},
        {R"({"revision":"0300"})", {}, "refused", cli::kExitRefused},
        {R"({"revision":"0300","activation_polls":0})",
         {"--allow-older"},
         "upgraded",
         cli::kExitDone},
        // Taken, but never ready again within the poll's 150 tries.
        {R"({"activation_polls":1000})", {}, "attention", cli::kExitFailed},
        // Taken, and back with another revision than the one named.
        {R"({"activation_polls":0})", {"--revision", "0300"}, "attention", cli::kExitFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.device);
        ProgramRun run(Devices({c.device}));
        run.WriteImage(SampleImage(8192));
        std::vector<std::string> arguments = kUpgrade;
        arguments.insert(arguments.end(), c.extra.begin(), c.extra.end());
        const Outcome outcome = RunCommand(run, arguments);
        EXPECT_EQ(Results(outcome.report), std::vector<std::string>{c.result});
        EXPECT_EQ(outcome.status, c.status);
    }
}

// After a commit the drive may be gone from the listing, not ready, or back at another
// revision: each needs the operator; only back, ready and at the image's revision is upgraded.
TEST(Unattended, ACommitTakenIsUpgradedOnlyBackReadyAtTheRevision) {
    struct Case {
        std::optional<std::string> after;
        bool ready;
        const char* result;
    };
    const Case cases[] = {
        {"0200", true, "upgraded"},
        {"0200", false, "attention"},
        {"0100", true, "attention"},
        {std::nullopt, true, "attention"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.after.value_or("not listed"));
        cli::Json record = cli::DriveRecord(cli::DriveIdentity{});
        cli::DecideAfterCommit(record, c.after, "0200", c.ready);
        EXPECT_EQ(cli::ResultOf(record), c.result);
        EXPECT_EQ(record["revision_after"].is_null(), !c.after);
    }
}

TEST(Unattended, CheckAndListSendNoWriteBuffer) {
    ProgramRun run(Devices({R"({"serial":"SN-A"})", R"({"serial":"SN-B","revision":"0200"})"}));
    run.WriteImage(SampleImage(8192));
    const Outcome check = RunCommand(run, {"check", "--image", "kmr47000_0200.gbf"});
    EXPECT_EQ(Results(check.report), (std::vector<std::string>{"would-upgrade", "current"}));
    EXPECT_EQ(check.status, cli::kExitDone);
    const Outcome list = RunCommand(run, {"list"});
    EXPECT_EQ(list.status, cli::kExitDone);
    ASSERT_EQ(list.report["drives"].size(), 2u);
    EXPECT_EQ(list.report["drives"][1]["serial"], "SN-B");
    EXPECT_TRUE(list.report["drives"][1]["sg_node"].is_null()) << "emulated drives have none";
    cli::DriveIdentity onLinux;
    onLinux.passThroughNode = "/dev/sg3";
    onLinux.tapeNode = "/dev/nst0";
    const cli::Json record = cli::DriveRecord(onLinux);
    EXPECT_EQ(record["sg_node"], "/dev/sg3");
    EXPECT_EQ(record["tape_node"], "/dev/nst0");
    EXPECT_TRUE(list.report["drives"][1]["result"].is_null());
    EXPECT_TRUE(run.TraceOf("WriteBuffer").empty());
    EXPECT_FALSE(run.TraceOf("ReadSerialNumber").empty());
}

std::vector<unsigned> Indices(const Json& report) {
    std::vector<unsigned> indices;
    for (const auto& drive : report["drives"])
        indices.push_back(drive["index"].get<unsigned>());
    return indices;
}

// Serials that read as an index, a path or "all" must never select another drive than meant.
TEST(Unattended, SelectorsNameOneDriveOrAreRefused) {
    struct Case {
        const char* devices; // the emulation's devices
        std::string selector;
        int status;
        std::vector<unsigned> selected;
    };
    const char* const kMixed = R"({"serial":"1","target":3},{"serial":"SN-B","target":4},
        {"serial":"0:4:0","target":5},{"serial":"1234567890","target":6},
        {"serial":"0:9:0","target":7})";
    const char* const kAll = R"({"serial":"SN-A"},{"serial":"all"})";
    const Case cases[] = {
        {kMixed, "0", cli::kExitDone, {0}},
        {kMixed, "1", cli::kExitUsage, {}}, // drive 1's index, drive 0's serial
        {kMixed, "index:1", cli::kExitDone, {1}},
        {kMixed, "serial:1", cli::kExitDone, {0}},
        {kMixed, "0:4:0", cli::kExitUsage, {}}, // drive 1's path, drive 2's serial
        {kMixed, "path:0:4:0", cli::kExitDone, {1}},
        {kMixed, "serial:0:4:0", cli::kExitDone, {2}},
        {kMixed, "0:9:0", cli::kExitDone, {4}}, // no drive's path: the serial
        {kMixed, "1234567890", cli::kExitDone, {3}},
        {kMixed, "SN-B", cli::kExitDone, {1}},
        {kMixed, "all", cli::kExitDone, {0, 1, 2, 3, 4}},
        {kMixed, "SN-C", cli::kExitNoDrive, {}},
        {kMixed, "7", cli::kExitNoDrive, {}},
        {kMixed, "index:x", cli::kExitUsage, {}},
        {kMixed, "path:0:4", cli::kExitUsage, {}},
        {kMixed, "serial:", cli::kExitUsage, {}},
        {kAll, "all", cli::kExitUsage, {}}, // every drive, or drive 1 by its serial
        {kAll, "serial:all", cli::kExitDone, {1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.selector);
        ProgramRun run("{\"devices\":[" + std::string(c.devices) + "]}");
        run.WriteImage(SampleImage(8192));
        const Outcome outcome =
            RunCommand(run, {"check", "--image", "kmr47000_0200.gbf", "--device", c.selector});
        EXPECT_EQ(outcome.status, c.status);
        if (c.status == cli::kExitUsage) {
            EXPECT_TRUE(outcome.report.is_discarded()) << "no document for a usage error";
        } else {
            EXPECT_EQ(Indices(outcome.report), c.selected);
        }
        EXPECT_TRUE(run.TraceOf("TestUnitReady").empty() || c.status != cli::kExitUsage)
            << "nothing beyond the listing before the selection is settled";
    }
}

// A child process is handed one drive's identity; the drive it finds at that index must be
// that drive, or it sends nothing.
TEST(Unattended, AChildUpgradesOnlyTheDriveItWasHanded) {
    const std::string image = Sha256Hex(SampleImage(8192));
    cli::DriveIdentity drive0{0, 0, 0, 0, "SN-A", "VORN", "KMR-47000", "", "", ""};
    struct Case {
        const char* what;
        cli::DriveIdentity handed;
        const char* result;
    };
    cli::DriveIdentity otherSerial = drive0;
    otherSerial.serial = "SN-Z";
    cli::DriveIdentity otherIndex = drive0;
    otherIndex.index = 1;
    cli::DriveIdentity otherProduct = drive0;
    otherProduct.product = "KMR-47000X";
    const Case cases[] = {
        {"the very drive", drive0, "upgraded"},
        {"another serial at its index", otherSerial, "refused"},
        {"its serial at another index", otherIndex, "refused"},
        {"another product", otherProduct, "refused"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ProgramRun run(
            Devices({R"({"serial":"SN-A","activation_polls":0})", R"({"serial":"SN-B"})"}));
        run.WriteImage(SampleImage(8192));
        const Outcome outcome = RunCommand(
            run, {"upgrade", "--image", "kmr47000_0200.gbf", "--sha256", image, "--child-drive",
                  cli::EncodeIdentity(c.handed), "--accept-agreement", "--yes"});
        EXPECT_EQ(Results(outcome.report), std::vector<std::string>{c.result});
        EXPECT_EQ(run.TraceOf("WriteBuffer").empty(), std::string(c.result) != "upgraded");
        EXPECT_TRUE(run.TraceOf("WriteBuffer 1").empty());
    }
}

TEST(Unattended, TheParentTakesOnlyARecordOfTheDriveItHandedOut) {
    const cli::DriveIdentity drive{1, 0, 1, 0, "SN-B", "VORN", "KMR-47000", "0100", "", ""};
    const auto document = [](const cli::Json& record) {
        return cli::Json{{"drives", cli::Json::array({record})}}.dump();
    };
    cli::Json own = cli::DriveRecord(drive);
    cli::Decide(own, "upgraded", "");
    cli::DriveIdentity other = drive;
    other.serial = "SN-A";
    cli::Json foreign = cli::DriveRecord(other);
    cli::Decide(foreign, "upgraded", "");
    const std::string committed = cli::PhaseLine(RunPhase::TransferStarted) + "\n" +
                                  cli::PhaseLine(RunPhase::CommitSent) + "\n";
    struct Case {
        std::string output;
        const char* result; // "" for no record
        RunPhase reached;
    };
    const Case cases[] = {
        {committed + document(own), "upgraded", RunPhase::CommitSent},
        {document(foreign), "attention", RunPhase{}},
        {"", "", RunPhase{}},
        {"{\"drives\": []}", "", RunPhase{}},
        {committed, "", RunPhase::CommitSent}, // killed after its commit
    };
    for (const Case& c : cases) {
        const cli::ChildReport report = cli::ReadChildOutput(c.output, drive);
        EXPECT_EQ(report.hasRecord ? cli::ResultOf(report.record) : "", c.result) << c.output;
        EXPECT_EQ(report.reached, c.reached) << c.output;
    }
}

// A drive seen through two paths reports one serial number: flashing both would send it the
// image twice.
TEST(Unattended, ADriveSeenTwiceIsNotFlashed) {
    ProgramRun run(Devices({R"({"serial":"SN-X"})", R"({"serial":"SN-Y","activation_polls":0})",
                            R"({"serial":"SN-X"})"}));
    run.WriteImage(SampleImage(8192));
    const Outcome outcome = RunCommand(run, kUpgrade);
    EXPECT_EQ(Results(outcome.report),
              (std::vector<std::string>{"refused", "upgraded", "refused"}));
    EXPECT_EQ(outcome.status, cli::kExitRefused);
    EXPECT_TRUE(run.TraceOf("WriteBuffer 0").empty());
    EXPECT_TRUE(run.TraceOf("WriteBuffer 2").empty());
}

// Bytes that are not UTF-8, from a drive or a file name, reach the document as the characters
// of the same value, and never end the run.
TEST(Unattended, BytesThatAreNotTextNeverStopTheRun) {
    // INQUIRY: type 1; vendor, product and revision each with bytes of 0x80 and up.
    const std::string inquiry = "01 80 05 02 1f 00 00 00 56 4f 52 4e 80 ff 20 20 "
                                "4b 4d 52 2d 34 37 30 30 30 e9 c3 28 a0 20 20 20 30 31 e9 30";
    ProgramRun run(Devices({R"({"inquiry":")" + inquiry +
                            R"(","serial_hex":"53 4e e9 ff 80","activation_polls":0})"}));
    const std::string image = "fw\xe9\xff_0200.gbf";
    const auto bytes = SampleImage(8192);
    run.WriteFile(image, std::string(bytes.begin(), bytes.end()));
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {"list"}, {"upgrade", "--image", image, "--accept-agreement", "--yes"}}) {
        SCOPED_TRACE(arguments[0]);
        const Outcome outcome = RunCommand(run, arguments);
        ASSERT_FALSE(outcome.report.is_discarded());
        EXPECT_EQ(outcome.status, cli::kExitDone);
        const Json& drive = outcome.report["drives"][0];
        EXPECT_EQ(drive["serial"], cli::JsonText("SN\xe9\xff\x80"));
        EXPECT_EQ(drive["vendor"], cli::JsonText("VORN\x80\xff"));
        EXPECT_EQ(drive["product"], cli::JsonText("KMR-47000\xe9\xc3(\xa0"));
        EXPECT_EQ(drive["revision_before"], cli::JsonText("01\xe9"
                                                          "0"));
        if (arguments[0] == "upgrade") {
            EXPECT_EQ(drive["result"], "upgraded");
            EXPECT_EQ(outcome.report["image"]["path"], cli::JsonText(image));
        }
    }
    EXPECT_EQ(cli::JsonText("a\xe9"), "a\xc3\xa9");
    EXPECT_EQ(cli::HumanText("a\x1b[2J\xe9"), "a\\x1b[2J\\xe9");
}

TEST(Unattended, UsageErrorsTouchNoDrive) {
    ProgramRun run(Devices({"{}"}));
    run.WriteImage(SampleImage(8192));
    run.WriteFile("firmware.gbf", "KMR47000-FW:0200");
    run.WriteFile("empty_0200.gbf", "");
    const std::string digest = Sha256Hex(SampleImage(8192));
#ifdef _WIN32
    const std::string device = "NUL";
#else
    const std::string device = "/dev/null";
    ASSERT_EQ(::mkfifo((run.folder() / "fifo_0200.gbf").string().c_str(), 0600), 0);
#endif
    const std::vector<std::vector<std::string>> cases = {
        {"check", "--image", "kmr47000_0200.gbf", "--sha256", std::string(64, '0')},
        {"check", "--image", "kmr47000_0200.gbf", "--sha256", digest.substr(1)},
        {"check", "--image", device, "--revision", "0200"},
#ifndef _WIN32
        {"check", "--image", "fifo_0200.gbf"}, // would wait for a writer forever
#endif
        {"upgrade", "--image", "kmr47000_0200.gbf", "--sha256", digest, "--child-drive", "1.2"},
        {"upgrade", "--image", "kmr47000_0200.gbf", "--yes"},
        {"upgrade", "--image", "kmr47000_0200.gbf", "--accept-agreement"},
        {"check", "--image", "firmware.gbf"},
        {"check", "--image", "empty_0200.gbf"},
        {"check", "--image", "missing_0200.gbf"},
        {"check"},
        {"upgrade", "--image", "kmr47000_0200.gbf", "--accept-agreement", "--yes", "--jobs", "0"},
        {"frobnicate"},
    };
    for (const auto& arguments : cases) {
        EXPECT_EQ(cli::RunUnattended(arguments, run.kernel()), cli::kExitUsage) << arguments.back();
    }
    EXPECT_TRUE(run.Trace().empty()) << "not even the device library was opened";
}

TEST(Unattended, TheImagesNameCarriesItsRevision) {
    const std::pair<const char*, const char*> cases[] = {{"kmr47000_0200.gbf", "0200"},
                                                         {"/x/y/FW_ab12.bin", "AB12"},
                                                         {"kmr47000.gbf", nullptr},
                                                         {"fw_020.gbf", nullptr}};
    for (const auto& [name, revision] : cases) {
        const auto found = cli::RevisionFromImageName(name);
        EXPECT_EQ(found.has_value(), revision != nullptr) << name;
        if (found && revision != nullptr) {
            EXPECT_EQ(*found, revision);
        }
    }
}

TEST(Unattended, TheImagesDigestIsSha256) {
    // The standard's own examples, the second one across a block boundary, fed in pieces.
    const std::pair<std::string, const char*> cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    };
    for (const auto& [text, hex] : cases) {
        Sha256 digest;
        for (const char c : text)
            digest.Update(&c, 1);
        EXPECT_EQ(Sha256::Hex(digest.Finish()), hex) << text;
    }
}

} // namespace
} // namespace program::test
