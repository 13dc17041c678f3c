#include "tests/program/Harness.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "app/FirmwareApp.h"
#include "tests/ScratchFolder.h"
#include "tests/program/RegistryImport.h"
#include "zurvax/Zurvax.h"

namespace program::test {

void SetEnv(const char* name, const std::string& value) {
#ifdef _WIN32
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

void UnsetEnv(const char* name) {
#ifdef _WIN32
    _putenv_s(name, "");
#else
    unsetenv(name);
#endif
}

ProgramRun::ProgramRun(const std::string& emulationJson) {
    m_folder = fwtest::NewScratchFolder("fwupgrade-test");
    WriteFile("emulation.json", emulationJson);
    SetEnv("ZURVAX_EMULATION", (m_folder / "emulation.json").string());
    SetEnv("ZURVAX_TRACE", (m_folder / "trace.txt").string());
    SetEnv("FWUPGRADE_REGISTRY", (m_folder / "registry.reg").string());
    zurvax::Reset();
    m_previousFolder = std::filesystem::current_path();
    std::filesystem::current_path(m_folder);
    theApp.SetModulePath("fwupgrade");
}

ProgramRun::~ProgramRun() {
    m_session.kernel.JoinThreads();
    SetRegistry("");
    std::filesystem::current_path(m_previousFolder);
    zurvax::Reset();
    UnsetEnv("ZURVAX_TRACE");
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
}

void ProgramRun::Agree() {
    ui().Then(IDD_AGREEMENT, [](Headless& windows) { EXPECT_TRUE(windows.Click(IDOK)); });
}

void ProgramRun::Done() {
    InMain([](Headless& windows) { EXPECT_TRUE(windows.Click(IDOK)); });
}

int ProgramRun::Run() { return fw::AfxWinMain("fwupgrade"); }

std::vector<std::string> ProgramRun::Trace() const {
    std::ifstream file(m_folder / "trace.txt");
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> ProgramRun::TraceOf(const std::string& prefix) const {
    std::vector<std::string> lines;
    for (const auto& line : Trace()) {
        if (line.rfind(prefix, 0) == 0) {
            lines.push_back(line);
        }
    }
    return lines;
}

std::vector<std::string> ProgramRun::BoxTexts() {
    std::vector<std::string> texts;
    for (const auto& box : Boxes()) {
        texts.push_back(box.text);
    }
    return texts;
}

std::vector<std::string> ProgramRun::ListItems() {
    return ui().ListBoxItems(IDD_DEVICE_DIALOG, IDC_DEVICE_LIST);
}

void ProgramRun::WriteImage(const std::vector<std::uint8_t>& bytes) {
    WriteFile("kmr47000_0200.gbf", std::string(bytes.begin(), bytes.end()));
}

void ProgramRun::WriteFile(const std::string& name, const std::string& bytes) {
    std::ofstream file(m_folder / name, std::ios::binary);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void ProgramRun::SetRegistry(const std::string& regText) {
#ifdef _WIN32
    ImportRegistryText(regText);
#else
    if (regText.empty()) {
        std::filesystem::remove(m_folder / "registry.reg");
    } else {
        WriteFile("registry.reg", regText);
    }
#endif
}

std::vector<std::uint8_t> SampleImage(std::size_t size, const char* revision) {
    std::vector<std::uint8_t> image(size);
    const std::string header = std::string("KMR47000-FW:") + revision;
    for (std::size_t i = 0; i < size; ++i) {
        image[i] = i < header.size() ? static_cast<std::uint8_t>(header[i])
                                     : static_cast<std::uint8_t>((i * 7 + i / 8192) & 0xFF);
    }
    return image;
}

std::string Devices(const std::vector<std::string>& devices, const std::string& extra) {
    std::ostringstream json;
    json << "{" << extra << (extra.empty() ? "" : ",") << "\"devices\":[";
    for (std::size_t i = 0; i < devices.size(); ++i) {
        json << (i != 0 ? "," : "") << devices[i];
    }
    json << "]}";
    return json.str();
}

} // namespace program::test
