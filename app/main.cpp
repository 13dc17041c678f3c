// Process entry: installs the backend this program is built with, makes sure the device
// library can open its device source, then runs the application.
#include "app/FirmwareApp.h"
#include "framework/Backend.h"
#include "scsi/ScsiContract.h"

int main(int argc, char** argv) {
    (void)argc;
    fw::BackendRun backend = fw::StartBackend();
    theApp.SetModulePath(argv[0]);
    char message[512] = {};
    if (ZurvaxOpen(message, sizeof message) != 0) {
        // A bad device configuration is told before any window opens; nothing half-read
        // is used.
        fw::ReportStartupFailure(message);
        return 2;
    }
    if (message[0] != '\0') {
        // The library opened but warns (e.g. drives it may not use): said once, before the
        // first scan.
        AfxMessageBox(message, MB_OK | MB_ICONEXCLAMATION);
    }
    return fw::AfxWinMain(argv[0]);
}
