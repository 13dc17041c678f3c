#include "scsi/DeviceLibrary.h"

#include "zurvax/ZurvaxApi.h"

bool OpenDeviceLibrary(CWnd& owner) {
    char message[512] = {};
    if (ZurvaxOpen(message, sizeof message) != SCSI_STATUS_OK) {
        owner.MessageBox(message, nullptr, MB_OK | MB_ICONSTOP);
        return false;
    }
    if (message[0] != '\0') {
        owner.MessageBox(message, nullptr, MB_OK | MB_ICONEXCLAMATION);
    }
    return true;
}
