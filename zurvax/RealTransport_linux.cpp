// Linux devices: the SCSI generic nodes under /dev, through SG_IO.
#include "zurvax/RealTransport.h"
#include "zurvax/SgTransport_linux.h"

namespace zurvax {

std::unique_ptr<Transport> MakeRealTransport() {
    return std::make_unique<SgTransport>(MakeSgSystem());
}

} // namespace zurvax
