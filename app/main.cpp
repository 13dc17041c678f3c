// Process entry: installs the backend this program is built with, makes sure the device
// library can open its device source, then runs the application.
#include <cstdio>

#include "framework/Backend.h"
#include "framework/fw.h"
#include "scsi/ScsiContract.h"

int main(int argc, char** argv) {
    (void)argc;
    fw::BackendRun backend = fw::StartBackend();
    char message[512] = {};
    if (ZurvaxOpen(message, sizeof message) != 0) {
        fw::ReportStartupFailure(message);
        return 2;
    }
    return fw::AfxWinMain(argv[0]);
}
