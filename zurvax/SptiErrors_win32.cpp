#include "zurvax/SptiTransport_win32.h"

#include <windows.h>

#include "zurvax/SptiParts_win32.h"

namespace zurvax {

namespace {

// ERROR_NO_SUCH_DEVICE of the Windows SDK, which the mingw-w64 headers lack.
constexpr DWORD kErrorNoSuchDevice = 433;

} // namespace

bool IsAbsent(std::uint32_t error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DEV_NOT_EXIST:
    case kErrorNoSuchDevice:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
        return true;
    default:
        return false;
    }
}

ScsiResult SptiErrorResult(std::uint32_t win32Error) {
    ScsiResult result;
    result.osErrorCode = static_cast<int>(win32Error);
    switch (win32Error) {
    case ERROR_ACCESS_DENIED:
        result.osError = OsError::PermissionDenied;
        break;
    case ERROR_SEM_TIMEOUT:
    case ERROR_TIMEOUT:
        result.osError = OsError::TimedOut;
        break;
    case ERROR_NOT_READY:
        result.osError = OsError::NoDevice;
        break;
    case ERROR_IO_DEVICE:
    case ERROR_CRC:
    case ERROR_BUS_RESET:
    case ERROR_ADAP_HDW_ERR:
    case ERROR_GEN_FAILURE:
    case ERROR_OPERATION_ABORTED:
    case ERROR_REQUEST_ABORTED:
        result.transport = TransportStatus::Error;
        result.driverStatus = win32Error;
        break;
    default:
        // A device that is gone is told the same way whether it went before or during a command.
        result.osError = IsAbsent(win32Error) ? OsError::NoDevice : OsError::Other;
        break;
    }
    return result;
}

} // namespace zurvax
