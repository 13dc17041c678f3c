// fwupgrade.exe on emulated drives, driven through its windows as an operator would.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "res/Templates.h"
#include "res/Texts.h"
#include "res/resource.h"
#include "tests/win32/Driver.h"

namespace e2e {
namespace {

namespace text = res::text;

std::string Caption(int dialogId) {
    const res::DialogTemplate* dialog = res::FindDialogTemplate(dialogId);
    return dialog != nullptr ? dialog->caption : "";
}

const std::string kAppCaption = "fwupgrade";
constexpr Duration kUpgradeTimeout = 120s;

// The registry value that sets the lowest revision the tool upgrades; removed again with
// the object, so that no other case sees it.
class MinimumRevision {
public:
    explicit MinimumRevision(const std::string& revision) {
        HKEY key = nullptr;
        EXPECT_EQ(::RegCreateKeyExA(HKEY_CLASSES_ROOT, "QUORVEL", 0, nullptr, 0, KEY_ALL_ACCESS,
                                    nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(::RegSetValueExA(key, "Revision", 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(revision.c_str()),
                                   static_cast<DWORD>(revision.size() + 1)),
                  ERROR_SUCCESS);
        ::RegCloseKey(key);
    }
    MinimumRevision(const MinimumRevision&) = delete;
    MinimumRevision& operator=(const MinimumRevision&) = delete;
    ~MinimumRevision() { Remove(); }
    static void Remove() { ::RegDeleteKeyA(HKEY_CLASSES_ROOT, "QUORVEL"); }
};

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        MinimumRevision::Remove();
        DrawOwnCaptions();
        const std::string root = Env("FWUPGRADE_E2E_WORK");
        ASSERT_FALSE(root.empty()) << "FWUPGRADE_E2E_WORK is not set";
        m_work = root + "/" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        ::CreateDirectoryA(WindowsPath(root).c_str(), nullptr);
        ::CreateDirectoryA(WindowsPath(m_work).c_str(), nullptr);
        ::DeleteFileA(WindowsPath(TracePath()).c_str());
    }

    // With no window manager on the test display, Wine draws the caption bars itself
    // when told so: the screenshots then show every window's title.
    static void DrawOwnCaptions() {
        HKEY key = nullptr;
        if (::RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\X11 Driver", 0, nullptr, 0,
                              KEY_SET_VALUE, nullptr, &key, nullptr) == ERROR_SUCCESS) {
            ::RegSetValueExA(key, "Decorated", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2);
            ::RegCloseKey(key);
        }
    }

    std::string TracePath() const { return m_work + "/trace.txt"; }

    // Starts the program on the drives the JSON describes, tracing library calls.
    std::unique_ptr<Program> Start(const std::string& emulation, Program::Options options = {}) {
        const std::string file = m_work + "/emulation.json";
        WriteFile(WindowsPath(file), emulation);
        options.env.emplace_back("ZURVAX_EMULATION", WindowsPath(file));
        options.env.emplace_back("ZURVAX_TRACE", WindowsPath(TracePath()));
        return std::make_unique<Program>(std::move(options));
    }

    // The agreement window, once shown. A notice the library gives at start (its source,
    // drives it may not use) comes first and is read and confirmed on the way.
    HWND WaitAgreement(const Program& program) {
        HWND agreement = nullptr;
        const bool shown = Poll(
            [&] {
                if ((agreement = program.FindWindow(Caption(IDD_AGREEMENT))) != nullptr) {
                    return true;
                }
                if (HWND notice = program.FindMessageBox(kAppCaption, ""); notice != nullptr) {
                    m_notices.push_back(MessageBoxText(notice));
                    Click(notice, IDOK);
                    Poll([&] { return !::IsWindow(notice); }, 20s);
                }
                return false;
            },
            kWindowTimeout);
        EXPECT_TRUE(shown) << "no agreement window; the program shows:\n" << program.Describe();
        return agreement;
    }

    // Accepts the agreement and returns the main window once it shows.
    HWND AcceptAgreement(const Program& program) {
        HWND agreement = WaitAgreement(program);
        if (agreement == nullptr) {
            return nullptr;
        }
        Click(agreement, IDOK);
        return program.WaitWindow(Caption(IDD_DEVICE_DIALOG));
    }

    // Answers a message box by one of its buttons and waits until it is gone.
    void Answer(const Program& program, HWND box, int button) {
        ASSERT_NE(box, nullptr);
        Click(box, button);
        ASSERT_TRUE(Poll([&] { return !::IsWindow(box) || !::IsWindowVisible(box); }, 20s))
            << program.Describe();
    }

    int TraceLines(const std::string& prefix) const {
        const std::string trace = ReadFile(WindowsPath(TracePath()));
        int count = 0;
        for (std::size_t at = 0; at < trace.size();) {
            const std::size_t end = std::min(trace.find('\n', at), trace.size());
            if (trace.compare(at, prefix.size(), prefix) == 0) {
                ++count;
            }
            at = end + 1;
        }
        return count;
    }

    std::string m_work;
    std::vector<std::string> m_notices;
};

constexpr char kOneDrive[] =
    R"({ "devices": [ { "revision": "0100", "host_adapter": 1, "target": 5 } ] })";

// Waits until every message posted to the window's thread so far has been handled, and
// whatever those posted in turn (an edit control posts WM_CLOSE on Esc): posted messages
// arrive in order, so once a marker posted after them is handled, so are they.
void Drain(const Program& program, HWND dialog, int controlId) {
    HWND edit = ::GetDlgItem(dialog, controlId);
    for (int marker = 1; marker <= 2; ++marker) {
        ::PostMessageW(edit, EM_SETSEL, static_cast<WPARAM>(marker), marker + 3);
        ASSERT_TRUE(
            Poll([&] { return Send(edit, EM_GETSEL) == MAKELONG(marker, marker + 3); }, 20s))
            << program.Describe();
    }
}

TEST_F(EndToEnd, DecliningTheAgreementAndSayingNoEndsTheProgram) {
    auto program = Start(kOneDrive);
    HWND agreement = WaitAgreement(*program);
    ASSERT_NE(agreement, nullptr);
    EXPECT_EQ(ItemText(agreement, IDC_AGREEMENT_TEXT), text::kAgreement);
    Screenshot("agreement");

    Click(agreement, IDCANCEL);
    HWND question = program->WaitMessageBox(text::kMakerCaption, "You must accept the agreement");
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(MessageBoxText(question), text::kDeclineQuestion);
    EXPECT_EQ(program->FindWindow(Caption(IDD_DEVICE_DIALOG)), nullptr)
        << "the main window shows before the agreement is accepted";
    Click(question, IDNO);
    EXPECT_EQ(program->WaitExit(30s), 0u) << program->Describe();
    EXPECT_EQ(TraceLines("GetDeviceType"), 0) << "a declined agreement must not scan";
}

TEST_F(EndToEnd, DecliningThenGoingBackAndAgreeingOpensTheMainWindow) {
    auto program = Start(kOneDrive);
    HWND agreement = WaitAgreement(*program);
    ASSERT_NE(agreement, nullptr);
    Click(agreement, IDCANCEL);
    HWND question = program->WaitMessageBox(text::kMakerCaption, "You must accept the agreement");
    Answer(*program, question, IDYES);

    HWND main = AcceptAgreement(*program);
    ASSERT_NE(main, nullptr);
    EXPECT_GT(TraceLines("GetDeviceType"), 0);
}

TEST_F(EndToEnd, ListsTheSupportedDrivesAndShowsTheFirst) {
    auto program = Start(R"({ "devices": [
        { "revision": "0100", "host_adapter": 1, "target": 5 },
        { "type": 0, "vendor": "DISKCO", "product": "DK-2000", "revision": "1.00" },
        { "revision": "0150", "host_adapter": 1, "target": 6, "medium": true } ] })");
    HWND main = AcceptAgreement(*program);
    ASSERT_NE(main, nullptr);
    HWND list = ::GetDlgItem(main, IDC_DEVICE_LIST);
    ASSERT_TRUE(Poll([&] { return ItemText(main, IDC_REVISION) == "0100"; }, 20s))
        << "revision shown: \"" << ItemText(main, IDC_REVISION) << "\"";

    const auto items = ListItems(list);
    ASSERT_EQ(items.size(), 2u) << "the disk is no supported drive";
    EXPECT_NE(items[0].find("HA#01 TID#05"), std::string::npos) << items[0];
    EXPECT_NE(items[0].find("KMR-47000"), std::string::npos) << items[0];
    EXPECT_NE(items[1].find("HA#01 TID#06"), std::string::npos) << items[1];
    EXPECT_EQ(Send(list, LB_GETCURSEL), 0);
    EXPECT_EQ(ItemText(main, IDC_MODEL), "KMR-47000");
    EXPECT_EQ(ItemText(main, IDC_HEADING).rfind("Firmware Upgrade tool for Model", 0), 0u);
    EXPECT_TRUE(::IsWindowEnabled(::GetDlgItem(main, IDC_UPGRADE)));
    EXPECT_TRUE(::GetWindowLongW(main, GWL_EXSTYLE) & WS_EX_TOPMOST);
    Screenshot("main");

    Click(main, IDOK);
    EXPECT_EQ(program->WaitExit(30s), 0u) << program->Describe();
}

TEST_F(EndToEnd, RejectsADriveWhoseInquiryFailsOnSelection) {
    auto program = Start(R"({ "devices": [ { "revision": "0100",
        "faults": [ { "op": "ReadRawInquiryData", "from": 2, "count": 1, "status": "0x00010002" } ] } ] })");
    HWND agreement = WaitAgreement(*program);
    ASSERT_NE(agreement, nullptr);
    Click(agreement, IDOK);

    HWND error = program->WaitMessageBox(text::kTapeErrorCaption, "Error: 10002");
    ASSERT_NE(error, nullptr);
    EXPECT_NE(MessageBoxText(error).find("Read Sense Data ?"), std::string::npos);
    Answer(*program, error, IDNO);
    HWND rejected = program->WaitMessageBox(text::kWrongDeviceCaption, "may not be a tape drive");
    Answer(*program, rejected, IDOK);

    HWND main = program->WaitWindow(Caption(IDD_DEVICE_DIALOG));
    ASSERT_NE(main, nullptr);
    EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(main, IDC_UPGRADE)));
}

TEST_F(EndToEnd, AFailingInquiryOffersAndShowsTheSenseData) {
    auto program = Start(R"({ "devices": [ { "revision": "0100",
        "sense": "70 00 05 00 00 00 00 0a 00 00 00 00 24 00 00",
        "faults": [ { "op": "ReadRawInquiryData", "from": 2, "count": 1, "status": "0x2400" } ] } ] })");
    HWND agreement = WaitAgreement(*program);
    ASSERT_NE(agreement, nullptr);
    Click(agreement, IDOK);

    HWND error = program->WaitMessageBox(text::kTapeErrorCaption, "Error: 2400");
    Answer(*program, error, IDYES);
    HWND sense = program->WaitMessageBox(text::kSenseCaption, "Sense Key:");
    ASSERT_NE(sense, nullptr);
    const std::string shown = MessageBoxText(sense);
    EXPECT_NE(shown.find("Illegal Request"), std::string::npos) << shown;
    EXPECT_NE(shown.find("Sense Code:\t\t24h"), std::string::npos) << shown;
    EXPECT_GE(TraceLines("RequestSense 0"), 1);
    Answer(*program, sense, IDOK);
    Answer(*program, program->WaitMessageBox(text::kWrongDeviceCaption, "may not be a tape drive"),
           IDOK);
    ASSERT_NE(program->WaitWindow(Caption(IDD_DEVICE_DIALOG)), nullptr);
}

TEST_F(EndToEnd, ACompleteUpgradeInstallsTheNewRevision) {
    auto program = Start(kOneDrive);
    HWND main = AcceptAgreement(*program);
    ASSERT_NE(main, nullptr);
    ASSERT_TRUE(
        Poll([&] { return ::IsWindowEnabled(::GetDlgItem(main, IDC_UPGRADE)) != FALSE; }, 20s));
    EXPECT_EQ(ItemText(main, IDC_REVISION), "0100");

    Click(main, IDC_UPGRADE);
    HWND confirm = program->WaitMessageBox(text::kConfirmCaption, "C A U T I O N");
    Answer(*program, confirm, IDYES);

    HWND progress = program->WaitWindow(Caption(IDD_PROGRESS));
    ASSERT_NE(progress, nullptr);
    EXPECT_EQ(ItemText(progress, IDC_WARNING_TEXT), text::kDownloadWarning);
    EXPECT_FALSE(::IsWindowEnabled(main)) << "the progress window must block the main window";
    EXPECT_EQ(::GetWindow(progress, GW_OWNER), main);
    HWND bar = ::GetDlgItem(progress, IDC_PROGRESS);
    const LRESULT first = Send(bar, PBM_GETPOS);
    EXPECT_TRUE(Poll([&] { return Send(bar, PBM_GETPOS) != first; }, 10s))
        << "the progress bar does not move";
    Screenshot("progress");

    ASSERT_TRUE(program->WaitGone(Caption(IDD_PROGRESS), kUpgradeTimeout));
    HWND done = program->WaitMessageBox(kAppCaption, "Congratulations !", kUpgradeTimeout);
    ASSERT_NE(done, nullptr);
    EXPECT_EQ(MessageBoxText(done), text::kUpgradeSucceeded);
    Answer(*program, done, IDOK);

    EXPECT_TRUE(Poll([&] { return ItemText(main, IDC_REVISION) == "0200"; }, 20s))
        << "revision after the upgrade: \"" << ItemText(main, IDC_REVISION) << "\"";
    EXPECT_EQ(ListItems(::GetDlgItem(main, IDC_DEVICE_LIST)).size(), 1u);
    EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(main, IDC_UPGRADE)));
    EXPECT_TRUE(::IsWindowEnabled(main));

    // The whole image went out in 8 KiB chunks, each read back, then one commit.
    const auto imageSize = ReadFile(ProgramFolder() + res::kFirmwareImageName).size();
    ASSERT_GT(imageSize, 0u);
    const int chunks = static_cast<int>((imageSize + 8191) / 8192);
    EXPECT_EQ(TraceLines("WriteBuffer 0 mode=2"), chunks);
    EXPECT_EQ(TraceLines("ReadBuffer 0 mode=2"), chunks);
    EXPECT_EQ(TraceLines("WriteBuffer 0 mode=5"), 1);
}

TEST_F(EndToEnd, AReadBackMismatchFailsTheUpgrade) {
    auto program = Start(R"({ "devices": [ { "revision": "0100",
        "faults": [ { "op": "ReadBuffer", "mode": 2, "from": 2, "count": 1, "corrupt": true } ] } ] })");
    HWND main = AcceptAgreement(*program);
    ASSERT_NE(main, nullptr);
    ASSERT_TRUE(
        Poll([&] { return ::IsWindowEnabled(::GetDlgItem(main, IDC_UPGRADE)) != FALSE; }, 20s));
    Click(main, IDC_UPGRADE);
    Answer(*program, program->WaitMessageBox(text::kConfirmCaption, "C A U T I O N"), IDYES);

    HWND mismatch = program->WaitMessageBox(kAppCaption, text::kReadBackMismatch, kUpgradeTimeout);
    Answer(*program, mismatch, IDOK);
    HWND failed = program->WaitMessageBox(kAppCaption, text::kUpgradeFailed, kUpgradeTimeout);
    Answer(*program, failed, IDOK);
    ASSERT_TRUE(program->WaitGone(Caption(IDD_PROGRESS)));
    EXPECT_TRUE(
        Poll([&] { return ::IsWindowEnabled(::GetDlgItem(main, IDC_UPGRADE)) != FALSE; }, 20s));
    EXPECT_EQ(ItemText(main, IDC_REVISION), "0100");
    EXPECT_EQ(TraceLines("WriteBuffer 0 mode=5"), 0) << "a mismatch must never commit";
}

TEST_F(EndToEnd, AMissingImageIsReported) {
    // A working folder with the animation but without the image.
    const std::string folder = m_work + "/noimage";
    ::CreateDirectoryA(WindowsPath(folder).c_str(), nullptr);
    ::DeleteFileA(WindowsPath(folder + "/" + res::kFirmwareImageName).c_str());
    ASSERT_TRUE(::CopyFileA((ProgramFolder() + res::kAnimationName).c_str(),
                            WindowsPath(folder + "/" + res::kAnimationName).c_str(), FALSE));
    Program::Options options;
    options.workingFolder = WindowsPath(folder);
    auto program = Start(kOneDrive, options);
    HWND main = AcceptAgreement(*program);
    ASSERT_NE(main, nullptr);
    ASSERT_TRUE(
        Poll([&] { return ::IsWindowEnabled(::GetDlgItem(main, IDC_UPGRADE)) != FALSE; }, 20s));
    Click(main, IDC_UPGRADE);
    Answer(*program, program->WaitMessageBox(text::kConfirmCaption, "C A U T I O N"), IDYES);

    HWND missing = program->WaitMessageBox(kAppCaption, text::kImageNotOpened, kUpgradeTimeout);
    Answer(*program, missing, IDOK);
    ASSERT_TRUE(program->WaitGone(Caption(IDD_PROGRESS)));
    EXPECT_EQ(TraceLines("WriteBuffer"), 0);
    EXPECT_EQ(ItemText(main, IDC_REVISION), "0100");
}

TEST_F(EndToEnd, TheRegistryRevisionGateRefusesOlderDrives) {
    MinimumRevision gate("1000");
    auto program = Start(kOneDrive);
    HWND main = AcceptAgreement(*program);
    ASSERT_NE(main, nullptr);
    ASSERT_TRUE(
        Poll([&] { return ::IsWindowEnabled(::GetDlgItem(main, IDC_UPGRADE)) != FALSE; }, 20s));
    Click(main, IDC_UPGRADE);
    HWND refused = program->WaitMessageBox(kAppCaption, text::kNotSupported);
    ASSERT_NE(refused, nullptr);
    EXPECT_EQ(program->FindMessageBox(text::kConfirmCaption, "C A U T I O N"), nullptr);
    Answer(*program, refused, IDOK);
    EXPECT_EQ(program->FindWindow(Caption(IDD_PROGRESS)), nullptr);
    EXPECT_EQ(TraceLines("WriteBuffer"), 0);
}

TEST_F(EndToEnd, EscapeInTheMainWindowScansAgain) {
    auto program = Start(kOneDrive);
    HWND main = AcceptAgreement(*program);
    ASSERT_NE(main, nullptr);
    ASSERT_TRUE(Poll([&] { return ItemText(main, IDC_REVISION) == "0100"; }, 20s));
    const int firstScan = TraceLines("GetDeviceType");
    ASSERT_GT(firstScan, 0);

    ASSERT_NE(PressKey(main, VK_ESCAPE), nullptr);
    EXPECT_TRUE(Poll([&] { return TraceLines("GetDeviceType") == 2 * firstScan; }, 20s))
        << TraceLines("GetDeviceType") << " calls after Esc, " << firstScan << " in one scan";
    EXPECT_NE(program->FindWindow(Caption(IDD_DEVICE_DIALOG)), nullptr);
    EXPECT_EQ(ListItems(::GetDlgItem(main, IDC_DEVICE_LIST)).size(), 1u);
}

TEST_F(EndToEnd, EnterAndEscapeDoNotCloseTheProgressWindow) {
    // A drive that never comes back after the commit keeps the progress window up.
    auto program = Start(R"({ "devices": [ { "revision": "0100", "activation_polls": -1 } ] })");
    HWND main = AcceptAgreement(*program);
    ASSERT_NE(main, nullptr);
    ASSERT_TRUE(
        Poll([&] { return ::IsWindowEnabled(::GetDlgItem(main, IDC_UPGRADE)) != FALSE; }, 20s));
    Click(main, IDC_UPGRADE);
    Answer(*program, program->WaitMessageBox(text::kConfirmCaption, "C A U T I O N"), IDYES);
    HWND progress = program->WaitWindow(Caption(IDD_PROGRESS));
    ASSERT_NE(progress, nullptr);

    ASSERT_NE(PressKey(progress, VK_RETURN), nullptr);
    ASSERT_NE(PressKey(progress, VK_ESCAPE), nullptr);
    Drain(*program, progress, IDC_WARNING_TEXT);
    EXPECT_TRUE(::IsWindow(progress) && ::IsWindowVisible(progress)) << program->Describe();
    EXPECT_EQ(program->FindMessageBox(kAppCaption, ""), nullptr) << program->Describe();
}

TEST_F(EndToEnd, NothingEndsTheProgressWindowOrReachesAnotherDriveMidDownload) {
    auto program = Start(R"({ "devices": [ { "revision": "0100", "target": 5 },
                                           { "revision": "0150", "target": 6 } ] })");
    HWND main = AcceptAgreement(*program);
    ASSERT_NE(main, nullptr);
    ASSERT_TRUE(Poll([&] { return ItemText(main, IDC_REVISION) == "0100"; }, 20s));
    HWND list = ::GetDlgItem(main, IDC_DEVICE_LIST);
    Send(list, LB_SETCURSEL, 1);
    ::PostMessageW(main, WM_COMMAND, MAKEWPARAM(IDC_DEVICE_LIST, LBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(list));
    ASSERT_TRUE(Poll([&] { return ItemText(main, IDC_REVISION) == "0150"; }, 20s));
    ASSERT_TRUE(
        Poll([&] { return ::IsWindowEnabled(::GetDlgItem(main, IDC_UPGRADE)) != FALSE; }, 20s));
    Click(main, IDC_UPGRADE);
    Answer(*program, program->WaitMessageBox(text::kConfirmCaption, "C A U T I O N"), IDYES);
    HWND progress = program->WaitWindow(Caption(IDD_PROGRESS));
    ASSERT_NE(progress, nullptr);

    // Esc in the warning text (which posts WM_CLOSE), Alt+F4's command, close requests of
    // other programs to both windows, and commands posted to the disabled main window.
    ASSERT_NE(PressKey(progress, VK_TAB), nullptr);
    Drain(*program, progress, IDC_WARNING_TEXT);
    EXPECT_EQ(PressKey(progress, VK_ESCAPE), ::GetDlgItem(progress, IDC_WARNING_TEXT));
    ::PostMessageW(progress, WM_SYSCOMMAND, SC_CLOSE, 0);
    ::PostMessageW(progress, WM_CLOSE, 0, 0);
    ::PostMessageW(main, WM_CLOSE, 0, 0);
    for (const int id : {IDCANCEL, IDC_UPGRADE, IDOK}) {
        ::PostMessageW(main, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
    }
    Drain(*program, progress, IDC_WARNING_TEXT);
    EXPECT_TRUE(::IsWindow(progress) && ::IsWindowVisible(progress)) << program->Describe();
    EXPECT_TRUE(::IsWindow(main)) << program->Describe();

    ASSERT_TRUE(program->WaitGone(Caption(IDD_PROGRESS), kUpgradeTimeout));
    Answer(*program, program->WaitMessageBox(kAppCaption, "Congratulations !", kUpgradeTimeout),
           IDOK);
    // Drive 0 saw only the selections around the download.
    EXPECT_TRUE(Poll([&] { return TraceLines("TestUnitReady 0") == 4; }, 20s))
        << TraceLines("TestUnitReady 0");
    EXPECT_EQ(TraceLines("WriteBuffer 0"), 0);
    EXPECT_EQ(TraceLines("ReadBuffer 0"), 0);
    EXPECT_EQ(TraceLines("WriteBuffer 1 mode=5"), 1);
    EXPECT_EQ(program->FindMessageBox(text::kConfirmCaption, "C A U T I O N"), nullptr)
        << "no second request";
    Click(main, IDOK);
    EXPECT_EQ(program->WaitExit(30s), 0u) << program->Describe();
}

TEST_F(EndToEnd, DoneRightAfterTheProgressWindowStillShowsTheOutcome) {
    auto program = Start(kOneDrive);
    HWND main = AcceptAgreement(*program);
    ASSERT_NE(main, nullptr);
    ASSERT_TRUE(
        Poll([&] { return ::IsWindowEnabled(::GetDlgItem(main, IDC_UPGRADE)) != FALSE; }, 20s));
    Click(main, IDC_UPGRADE);
    Answer(*program, program->WaitMessageBox(text::kConfirmCaption, "C A U T I O N"), IDYES);
    ASSERT_NE(program->WaitWindow(Caption(IDD_PROGRESS)), nullptr);
    ASSERT_TRUE(program->WaitGone(Caption(IDD_PROGRESS), kUpgradeTimeout));
    // The worker holds its signal for two seconds before its outcome: DONE now.
    Click(main, IDOK);
    HWND done = program->WaitMessageBox(kAppCaption, "Congratulations !");
    ASSERT_NE(done, nullptr) << program->Describe();
    EXPECT_EQ(program->WaitExit(1s), static_cast<DWORD>(STILL_ACTIVE))
        << "ended under its outcome box";
    Answer(*program, done, IDOK);
    EXPECT_EQ(program->WaitExit(30s), 0u) << program->Describe();
}

TEST_F(EndToEnd, BoxesAreCaptionedWithTheExecutablesOwnNameWhateverStartedIt) {
    Program::Options options;
    options.argv0 = "C:\\elsewhere\\Launcher Name.exe";
    auto program = Start(R"({ "devices": [] })", options);
    HWND agreement = WaitAgreement(*program);
    ASSERT_NE(agreement, nullptr);
    Click(agreement, IDOK);
    // Shown by the first scan, while the main window is still being set up.
    HWND none = program->WaitMessageBox(kAppCaption, text::kNoDevicesFound);
    ASSERT_NE(none, nullptr) << program->Describe();
    Answer(*program, none, IDOK);
}

TEST_F(EndToEnd, ABadEmulationFileIsToldOnceTheAgreementIsAcceptedAndEndsTheProgram) {
    auto program = Start(R"({ "devices": [ { "revision": "01500" } ] })");
    HWND agreement = WaitAgreement(*program);
    ASSERT_NE(agreement, nullptr);
    EXPECT_TRUE(m_notices.empty()) << "the device source was opened before the agreement";
    Click(agreement, IDOK);
    HWND box = program->WaitMessageBox(kAppCaption, "revision");
    ASSERT_NE(box, nullptr);
    Answer(*program, box, IDOK);
    EXPECT_EQ(program->WaitExit(30s), 2u);
}

TEST_F(EndToEnd, TheLibraryIsNeverTakenFromTheCurrentFolder) {
    // The program alone in its folder, the library only in the folder it is started in.
    const std::string programFolder = m_work + "/program";
    const std::string current = m_work + "/current";
    ::CreateDirectoryA(WindowsPath(programFolder).c_str(), nullptr);
    ::CreateDirectoryA(WindowsPath(current).c_str(), nullptr);
    ::DeleteFileA(WindowsPath(programFolder + "/ZURVAX.dll").c_str());
    ASSERT_TRUE(::CopyFileA((ProgramFolder() + "fwupgrade.exe").c_str(),
                            WindowsPath(programFolder + "/fwupgrade.exe").c_str(), FALSE));
    ASSERT_TRUE(::CopyFileA((ProgramFolder() + "ZURVAX.dll").c_str(),
                            WindowsPath(current + "/ZURVAX.dll").c_str(), FALSE));
    Program::Options options;
    options.exe = WindowsPath(programFolder + "/fwupgrade.exe");
    options.workingFolder = WindowsPath(current);
    options.env.emplace_back("ZURVAX_EMULATION", "demo");
    Program program(options);

    HWND agreement = WaitAgreement(program);
    ASSERT_NE(agreement, nullptr);
    Click(agreement, IDOK);
    HWND box = program.WaitMessageBox(kAppCaption, "ZURVAX.dll");
    ASSERT_NE(box, nullptr);
    EXPECT_NE(MessageBoxText(box).find("could not be loaded"), std::string::npos)
        << MessageBoxText(box);
    Answer(program, box, IDOK);
    EXPECT_EQ(program.WaitExit(30s), 2u);
}

} // namespace
} // namespace e2e
