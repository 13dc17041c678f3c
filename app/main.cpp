// Process entry. With arguments, the unattended command line, which never draws a window;
// without, the interactive program on the backend this program is built with.
#include <string>
#include <vector>

#include "app/FirmwareApp.h"
#include "cli/InteractiveJournal.h"
#include "cli/Unattended.h"
#include "framework/Backend.h"
#include "framework/kernel/RealKernel.h"

int main(int argc, char** argv) {
    if (argc > 1) {
        fw::RealKernel kernel;
        return cli::RunUnattended(std::vector<std::string>(argv + 1, argv + argc), kernel);
    }
    // Declared first, so that it outlives the screen: what it has to say comes after it.
    const cli::InteractiveJournal journal;
    fw::BackendRun backend = fw::StartBackend();
    const std::string module = fw::ModuleFileName(argv[0]);
    return fw::AfxWinMain(module.c_str());
}
