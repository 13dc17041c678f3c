#include "tests/vm/VmProgram.h"

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "app/FirmwareApp.h"
#include "res/resource.h"
#include "tests/ScratchFolder.h"
#include "zurvax/Zurvax.h"
#include "zurvax/ZurvaxApi.h"

namespace vmtest {

void Checks::Check(const std::string& name, bool passed, const std::string& why) {
    if (passed) {
        std::printf("%s PASS %s\n", m_prefix.c_str(), name.c_str());
    } else {
        ++m_failures;
        std::printf("%s FAIL %s: %s\n", m_prefix.c_str(), name.c_str(), why.c_str());
    }
    std::fflush(stdout);
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines)
        text += "[" + line + "] ";
    return text;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0;
}

std::optional<std::pair<int, int>> SysfsAddress() {
    std::error_code error;
    const auto target = std::filesystem::read_symlink("/sys/class/scsi_generic/sg0/device", error);
    if (error)
        return std::nullopt;
    int host = 0, channel = 0, id = 0, lun = 0;
    if (std::sscanf(target.filename().c_str(), "%d:%d:%d:%d", &host, &channel, &id, &lun) != 4) {
        return std::nullopt;
    }
    return std::make_pair(host, id);
}

ProgramRun::ProgramRun() {
    m_folder = fwtest::NewScratchFolder("run").string();
    setenv("ZURVAX_TRACE", (m_folder + "/trace.txt").c_str(), 1);
    setenv("FWUPGRADE_REGISTRY", (m_folder + "/registry.reg").c_str(), 1);
    unsetenv("ZURVAX_EMULATION");
    zurvax::Reset();
    std::filesystem::current_path(m_folder);
    theApp.SetModulePath("fwupgrade");
}

ProgramRun::~ProgramRun() { zurvax::Reset(); }

void ProgramRun::WriteImage(const std::vector<std::uint8_t>& image) const {
    std::ofstream file(m_folder + "/kmr47000_0200.gbf", std::ios::binary);
    file.write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));
}

std::uint32_t ProgramRun::Open(std::string& message) {
    char text[512] = {};
    const std::uint32_t status = ZurvaxOpen(text, sizeof text);
    message = text;
    return status;
}

void ProgramRun::RunProgram() { fw::AfxWinMain("fwupgrade"); }

std::vector<std::string> ProgramRun::Trace() const {
    std::ifstream file(m_folder + "/trace.txt");
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> ProgramRun::TraceOf(const std::string& prefix) const {
    std::vector<std::string> lines;
    for (const auto& line : Trace()) {
        if (StartsWith(line, prefix))
            lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> ProgramRun::BoxTexts() {
    std::vector<std::string> texts;
    for (const auto& box : ui().MessageBoxes())
        texts.push_back(box.text);
    return texts;
}

std::vector<std::string> ProgramRun::WorkerBoxTexts() {
    std::vector<std::string> texts;
    for (const auto& box : ui().MessageBoxes()) {
        if (box.workerThread)
            texts.push_back(box.text);
    }
    return texts;
}

std::vector<std::string> ProgramRun::ListItems() {
    return ui().ListBoxItems(IDD_DEVICE_DIALOG, IDC_DEVICE_LIST);
}

} // namespace vmtest
