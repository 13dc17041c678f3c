#include "zurvax/FaultInjection.h"

#include <cstddef>
#include <span>
#include <utility>

#include "zurvax/Cdb.h"

namespace zurvax {
namespace {

void CorruptLast(std::span<std::uint8_t> bytes) {
    if (!bytes.empty())
        bytes.back() ^= 0xFF;
}

} // namespace

FaultRules FaultRulesOf(const EmulationConfig& config) {
    FaultRules rules;
    rules.reserve(config.devices.size());
    for (const auto& device : config.devices)
        rules.push_back(device.faults);
    return rules;
}

FaultyOperations::FaultyOperations(Transport& transport, FaultRules rules) : Operations(transport) {
    devices_.reserve(rules.size());
    for (auto& device : rules) {
        std::vector<std::uint64_t> calls(device.size(), 0);
        devices_.push_back(Device{std::move(device), std::move(calls)});
    }
}

FaultyOperations::Intercept FaultyOperations::intercept(Operation op, std::uint32_t index,
                                                        std::optional<std::uint8_t> mode) {
    Intercept chosen;
    if (!exists(index) || index >= devices_.size())
        return chosen;
    Device& device = devices_[index];
    for (std::size_t i = 0; i < device.rules.size(); ++i) {
        const FaultRule& rule = device.rules[i];
        if (rule.op && *rule.op != op)
            continue;
        if (rule.mode && (!mode || *rule.mode != *mode))
            continue;
        const std::uint64_t call = ++device.calls[i];
        const bool active = call >= rule.from && (rule.count == 0 || call - rule.from < rule.count);
        // Every matching rule counts the call; the first active one decides it.
        if (active && chosen.kind == Intercept::Kind::Proceed) {
            chosen.kind = rule.corrupt ? Intercept::Kind::Corrupt : Intercept::Kind::Fail;
            chosen.status = rule.status;
        }
    }
    return chosen;
}

std::uint8_t FaultyOperations::deviceType(std::uint32_t index) {
    const Intercept fault = intercept(Operation::GetDeviceType, index);
    if (fault.kind == Intercept::Kind::Fail)
        return NO_DEVICE_TYPE;
    if (fault.kind == Intercept::Kind::Proceed)
        return Operations::deviceType(index);
    // Only a type an INQUIRY moved is data to corrupt.
    const TypeAnswer answer = typeOf(index);
    return answer.inquired ? static_cast<std::uint8_t>(answer.type ^ 0x01) : answer.type;
}

std::uint32_t FaultyOperations::inquiry(std::uint32_t index, INQUIRY_DATA* data) {
    const Intercept fault = intercept(Operation::ReadRawInquiryData, index);
    if (fault.kind == Intercept::Kind::Fail)
        return fault.status;
    const std::uint32_t status = Operations::inquiry(index, data);
    if (status == 0 && fault.kind == Intercept::Kind::Corrupt)
        CorruptLast(data->bytes);
    return status;
}

DevicePath FaultyOperations::path(std::uint32_t index) {
    const Intercept fault = intercept(Operation::GetScsiPath, index);
    if (fault.kind == Intercept::Kind::Fail)
        return {};
    DevicePath found = Operations::path(index);
    if (fault.kind == Intercept::Kind::Corrupt)
        CorruptLast(found);
    return found;
}

std::uint32_t FaultyOperations::testUnitReady(std::uint32_t index) {
    const Intercept fault = intercept(Operation::TestUnitReady, index);
    if (fault.kind == Intercept::Kind::Fail)
        return fault.status;
    return Operations::testUnitReady(index);
}

std::uint32_t FaultyOperations::requestSense(std::uint32_t index, SENSE_DATA* sense) {
    const Intercept fault = intercept(Operation::RequestSense, index);
    if (fault.kind == Intercept::Kind::Fail)
        return fault.status;
    const std::uint32_t status = Operations::requestSense(index, sense);
    if (status == 0 && fault.kind == Intercept::Kind::Corrupt)
        CorruptLast(sense->bytes);
    return status;
}

std::uint32_t FaultyOperations::writeBuffer(std::uint32_t index, std::uint8_t mode,
                                            std::uint8_t bufferId, std::uint32_t offset,
                                            std::uint32_t length, const std::uint8_t* data) {
    const Intercept fault = intercept(Operation::WriteBuffer, index, mode);
    if (fault.kind == Intercept::Kind::Fail)
        return fault.status;
    // The bytes sent are a copy, taken only for a call that gets to send: the caller's stay
    // as they were, and a length past what the CDB holds is refused before any is read.
    if (fault.kind == Intercept::Kind::Proceed || length == 0 || data == nullptr ||
        !WriteBufferCdb(mode, bufferId, offset, length))
        return Operations::writeBuffer(index, mode, bufferId, offset, length, data);
    std::vector<std::uint8_t> corrupted(data, data + length);
    CorruptLast(corrupted);
    return Operations::writeBuffer(index, mode, bufferId, offset, length, corrupted.data());
}

std::uint32_t FaultyOperations::readBuffer(std::uint32_t index, std::uint8_t mode,
                                           std::uint8_t bufferId, std::uint32_t offset,
                                           std::uint32_t length, std::uint8_t* data) {
    const Intercept fault = intercept(Operation::ReadBuffer, index, mode);
    if (fault.kind == Intercept::Kind::Fail)
        return fault.status;
    const std::uint32_t status =
        Operations::readBuffer(index, mode, bufferId, offset, length, data);
    if (status == 0 && fault.kind == Intercept::Kind::Corrupt)
        CorruptLast({data, length});
    return status;
}

std::uint32_t FaultyOperations::serialNumber(std::uint32_t index, char* serial,
                                             std::uint32_t size) {
    const Intercept fault = intercept(Operation::ReadSerialNumber, index);
    if (fault.kind == Intercept::Kind::Fail)
        return fault.status;
    if (fault.kind == Intercept::Kind::Proceed)
        return Operations::serialNumber(index, serial, size);
    std::size_t length = 0;
    const std::uint32_t status = serialOf(index, serial, size, length);
    if (status == 0 && length != 0)
        serial[length - 1] = static_cast<char>(serial[length - 1] ^ 0xFF);
    return status;
}

std::uint32_t FaultyOperations::claim(std::uint32_t index) {
    const Intercept fault = intercept(Operation::ClaimDevice, index);
    if (fault.kind == Intercept::Kind::Fail)
        return fault.status;
    return Operations::claim(index);
}

std::uint32_t FaultyOperations::release(std::uint32_t index) {
    const Intercept fault = intercept(Operation::ReleaseDevice, index);
    if (fault.kind == Intercept::Kind::Fail)
        return fault.status;
    return Operations::release(index);
}

} // namespace zurvax
