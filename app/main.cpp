// Process entry: installs the backend this program is built with, then runs the application.
#include <string>

#include "app/FirmwareApp.h"
#include "framework/Backend.h"

int main(int argc, char** argv) {
    (void)argc;
    fw::BackendRun backend = fw::StartBackend();
    const std::string module = fw::ModuleFileName(argv[0]);
    return fw::AfxWinMain(module.c_str());
}
