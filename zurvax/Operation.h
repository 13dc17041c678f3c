// The library's operations, as named in the C API, traces and emulation files.
#pragma once

#include <optional>
#include <string_view>

namespace zurvax {

enum class Operation {
    GetDeviceType,
    ReadRawInquiryData,
    GetScsiPath,
    TestUnitReady,
    RequestSense,
    WriteBuffer,
    ReadBuffer,
    ReadSerialNumber,
    ClaimDevice,
    ReleaseDevice,
};

std::string_view OperationName(Operation op);
// The operation with this exact name, or nullopt.
std::optional<Operation> OperationFromName(std::string_view name);

} // namespace zurvax
