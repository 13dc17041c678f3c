#include "zurvax/Operation.h"

#include <array>
#include <utility>

namespace zurvax {
namespace {

constexpr std::array<std::pair<Operation, std::string_view>, 10> kNames{{
    {Operation::GetDeviceType, "GetDeviceType"},
    {Operation::ReadRawInquiryData, "ReadRawInquiryData"},
    {Operation::GetScsiPath, "GetScsiPath"},
    {Operation::TestUnitReady, "TestUnitReady"},
    {Operation::RequestSense, "RequestSense"},
    {Operation::WriteBuffer, "WriteBuffer"},
    {Operation::ReadBuffer, "ReadBuffer"},
    {Operation::ReadSerialNumber, "ReadSerialNumber"},
    {Operation::ClaimDevice, "ClaimDevice"},
    {Operation::ReleaseDevice, "ReleaseDevice"},
}};

} // namespace

std::string_view OperationName(Operation op) {
    for (const auto& [candidate, name] : kNames) {
        if (candidate == op)
            return name;
    }
    return "?";
}

std::optional<Operation> OperationFromName(std::string_view name) {
    for (const auto& [op, candidate] : kNames) {
        if (candidate == name)
            return op;
    }
    return std::nullopt;
}

} // namespace zurvax
