// The transport to the operating system's SCSI devices, one implementation per OS
// (RealTransport_linux.cpp, RealTransport_win32.cpp); the build compiles exactly one.
#pragma once

#include <memory>

#include "zurvax/Transport.h"

namespace zurvax {

// Enumerates the OS's devices now. Never null: without devices it returns a transport
// with none.
std::unique_ptr<Transport> MakeRealTransport();

} // namespace zurvax
