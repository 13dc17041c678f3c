// One program run for a test: a headless session in virtual time, emulated drives from a
// JSON text, a trace of every library call, and a scratch folder as the current directory
// (where the program looks for its firmware image and animation).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "framework/headless/Headless.h"
#include "res/resource.h"

namespace program::test {

using fw::headless::Headless;
using fw::headless::MessageBoxRecord;

class ProgramRun {
public:
    // emulationJson: the ZURVAX_EMULATION file's text.
    explicit ProgramRun(const std::string& emulationJson);
    ~ProgramRun();
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    Headless& ui() { return m_session.windows; }
    fw::VirtualKernel& kernel() { return m_session.kernel; }
    const std::filesystem::path& folder() const { return m_folder; }

    // Queues the operator pressing "&Agree".
    void Agree();
    // Queues a step in the main window.
    void InMain(Headless::Step step) { ui().Then(IDD_DEVICE_DIALOG, std::move(step)); }
    // Queues pressing DONE, which ends the program.
    void Done();

    // Runs the application as the program's entry does (AfxWinMain: InitInstance, then
    // every worker thread to its end). Returns the exit code.
    int Run();

    // Library calls made so far, one trace line each, e.g. "TestUnitReady 0 -> 3a00".
    std::vector<std::string> Trace() const;
    // Trace lines that begin with prefix.
    std::vector<std::string> TraceOf(const std::string& prefix) const;

    // Message boxes shown so far.
    std::vector<MessageBoxRecord> Boxes() { return ui().MessageBoxes(); }
    // Texts of the message boxes, in order.
    std::vector<std::string> BoxTexts();
    // The items of the main window's device list, now or when the window closed.
    std::vector<std::string> ListItems();

    // Writes the firmware image the worker reads ("kmr47000_0200.gbf") into the folder.
    void WriteImage(const std::vector<std::uint8_t>& bytes);
    void WriteFile(const std::string& name, const std::string& bytes);
    // Makes the registry hold what this .reg file text says (empty: no QUORVEL key at
    // all). Where the program reads .reg files the file is written; on Windows the text is
    // imported into the system registry, so the same text must give the same answers.
    void SetRegistry(const std::string& regText);

private:
    fw::headless::HeadlessSession m_session;
    std::filesystem::path m_folder;
    std::filesystem::path m_previousFolder;
};

// An image in the emulated drive's format: "KMR47000-FW:" + revision, then a payload
// pattern, size bytes in all.
std::vector<std::uint8_t> SampleImage(std::size_t size, const char* revision = "0200");

// A JSON text for a list of device objects (each itself a JSON object text).
std::string Devices(const std::vector<std::string>& devices, const std::string& extra = "");

void SetEnv(const char* name, const std::string& value);
void UnsetEnv(const char* name);

} // namespace program::test
