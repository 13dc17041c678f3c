// What the SPTI transport's sources share with one another and with nothing else.
#pragma once

#include <cstdint>

namespace zurvax {

// Whether a Win32 error says the device is not there: never was, or has gone.
bool IsAbsent(std::uint32_t error);

// The peripheral device type of a tape drive.
inline constexpr std::uint8_t kSequentialAccess = 0x01;

} // namespace zurvax
