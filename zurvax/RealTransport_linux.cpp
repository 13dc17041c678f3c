// Linux devices are not reached yet; the SG_IO transport takes this file's place.
#include "zurvax/RealTransport.h"

namespace zurvax {

std::unique_ptr<Transport> MakeRealTransport() { return std::make_unique<EmptyTransport>(); }

}  // namespace zurvax
