// Windows devices: every unit behind every SCSI adapter, through SCSI pass-through.
#include "zurvax/RealTransport.h"
#include "zurvax/SptiTransport_win32.h"

namespace zurvax {

std::unique_ptr<Transport> MakeRealTransport() {
    return std::make_unique<SptiTransport>(MakeWin32DeviceIo());
}

} // namespace zurvax
