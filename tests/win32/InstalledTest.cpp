// The program as the installer left it (scripts/test-installer.sh runs this after a silent
// install into a fresh Wine prefix): the Start menu entry points at the installed program
// and starts it in the installed folder, and started so, on the library's built-in emulated
// drives, it loads its library and lists the drives.
//
// Environment: FWUPGRADE_INSTALL_DIR, the installed folder as Windows names it.
#include <gtest/gtest.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <filesystem>
#include <string>
#include <vector>

#include "res/Templates.h"
#include "res/resource.h"
#include "tests/win32/Driver.h"

namespace e2e {
namespace {

std::string Caption(int dialogId) {
    const res::DialogTemplate* dialog = res::FindDialogTemplate(dialogId);
    return dialog != nullptr ? dialog->caption : "";
}

std::string WithoutSlash(std::string path) {
    while (!path.empty() && (path.back() == '\\' || path.back() == '/'))
        path.pop_back();
    return path;
}

bool SamePath(const std::string& a, const std::string& b) {
    return ::lstrcmpiA(WithoutSlash(a).c_str(), WithoutSlash(b).c_str()) == 0;
}

struct Shortcut {
    std::string file;
    std::string target;
    std::string workingFolder;
};

// Every shortcut in the all-users Start menu, with its target and working folder.
std::vector<Shortcut> StartMenuShortcuts() {
    std::vector<Shortcut> found;
    char programs[MAX_PATH] = {};
    if (::SHGetFolderPathA(nullptr, CSIDL_COMMON_PROGRAMS, nullptr, 0, programs) != S_OK) {
        ADD_FAILURE() << "no all-users Start menu folder";
        return found;
    }
    std::error_code error;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(programs, error)) {
        if (entry.path().extension() != ".lnk")
            continue;
        IShellLinkA* link = nullptr;
        if (::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                               reinterpret_cast<void**>(&link)) != S_OK) {
            continue;
        }
        IPersistFile* file = nullptr;
        Shortcut shortcut{entry.path().string(), {}, {}};
        if (link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)) == S_OK) {
            if (file->Load(entry.path().wstring().c_str(), STGM_READ) == S_OK) {
                char text[MAX_PATH] = {};
                if (link->GetPath(text, MAX_PATH, nullptr, 0) == S_OK)
                    shortcut.target = text;
                text[0] = '\0';
                if (link->GetWorkingDirectory(text, MAX_PATH) == S_OK)
                    shortcut.workingFolder = text;
            }
            file->Release();
        }
        link->Release();
        found.push_back(shortcut);
    }
    return found;
}

TEST(Installed, StartMenuEntryStartsTheProgramInItsFolderAndItListsTheDrives) {
    const std::string folder = Env("FWUPGRADE_INSTALL_DIR");
    ASSERT_FALSE(folder.empty()) << "FWUPGRADE_INSTALL_DIR is not set";
    const std::string exe = WithoutSlash(folder) + "\\fwupgrade.exe";
    ASSERT_EQ(::CoInitialize(nullptr), S_OK);

    const Shortcut* entry = nullptr;
    const auto shortcuts = StartMenuShortcuts();
    for (const auto& shortcut : shortcuts) {
        if (SamePath(shortcut.target, exe))
            entry = &shortcut;
    }
    ASSERT_NE(entry, nullptr) << "no Start menu shortcut to " << exe << " among "
                              << shortcuts.size();
    EXPECT_TRUE(SamePath(entry->workingFolder, folder))
        << entry->file << " starts in \"" << entry->workingFolder << "\"";

    // As the shortcut starts it; ZURVAX.dll is found in that folder or not at all.
    Program program({entry->target, entry->workingFolder, {{"ZURVAX_EMULATION", "demo"}}, {}});
    HWND agreement = program.WaitWindow(Caption(IDD_AGREEMENT));
    ASSERT_NE(agreement, nullptr) << program.Describe();
    Click(agreement, IDOK);
    HWND main = program.WaitWindow(Caption(IDD_DEVICE_DIALOG));
    ASSERT_NE(main, nullptr) << program.Describe();
    std::vector<std::string> items;
    Poll([&] { return !(items = ListItems(::GetDlgItem(main, IDC_DEVICE_LIST))).empty(); }, 20s);
    ASSERT_FALSE(items.empty()) << "no drive listed:\n" << program.Describe();
    for (const auto& item : items) {
        EXPECT_NE(item.find("KMR-47000"), std::string::npos) << item;
    }
    Click(main, IDOK);
    EXPECT_EQ(program.WaitExit(30s), 0u) << program.Describe();
    ::CoUninitialize();
}

} // namespace
} // namespace e2e
