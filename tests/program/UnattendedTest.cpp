// The unattended command line on emulated drives, in virtual time: what it decides for each
// drive, its exit status, and what reaches the drives (the library's trace).
#include <fstream>
#include <nlohmann/json.hpp>

#include "cli/CommandLine.h"
#include "cli/Unattended.h"
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
    arguments.insert(arguments.end(), {"--report", "report.json"});
    Outcome outcome;
    outcome.status = cli::RunUnattended(arguments, run.kernel());
    std::ifstream file(run.folder() / "report.json");
    outcome.report = Json::parse(file, nullptr, false);
    return outcome;
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
    EXPECT_TRUE(list.report["drives"][1]["result"].is_null());
    EXPECT_TRUE(run.TraceOf("WriteBuffer").empty());
    EXPECT_FALSE(run.TraceOf("ReadSerialNumber").empty());
}

TEST(Unattended, SelectorsNameDrivesByIndexPathOrSerial) {
    ProgramRun run(Devices({R"({"serial":"SN-A","target":3})", R"({"serial":"SN-B","target":4})"}));
    run.WriteImage(SampleImage(8192));
    struct Case {
        std::string selector;
        int status;
        std::size_t drives;
    };
    for (const Case& c :
         {Case{"1", 0, 1}, Case{"0:4:0", 0, 1}, Case{"SN-A", 0, 1}, Case{"all", 0, 2},
          Case{"SN-C", cli::kExitNoDrive, 0}, Case{"7", cli::kExitNoDrive, 0}}) {
        const Outcome outcome =
            RunCommand(run, {"check", "--image", "kmr47000_0200.gbf", "--device", c.selector});
        EXPECT_EQ(outcome.status, c.status) << c.selector;
        EXPECT_EQ(outcome.report["drives"].size(), c.drives) << c.selector;
    }
}

TEST(Unattended, UsageErrorsTouchNoDrive) {
    ProgramRun run(Devices({"{}"}));
    run.WriteImage(SampleImage(8192));
    run.WriteFile("firmware.gbf", "KMR47000-FW:0200");
    run.WriteFile("empty_0200.gbf", "");
    const std::vector<std::vector<std::string>> cases = {
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
