#include "zurvax/ScsiCommand.h"

#include <algorithm>

namespace zurvax {

ScsiCommand::ScsiCommand(std::span<const std::uint8_t> cdb, std::chrono::milliseconds timeout)
    : cdbLength_(std::min(cdb.size(), kMaxCdbLength)), timeout_(timeout) {
    std::copy_n(cdb.begin(), cdbLength_, cdb_.begin());
}

void ScsiCommand::setDataOut(std::span<const std::uint8_t> data) {
    direction_ = data.empty() ? DataDirection::None : DataDirection::ToDevice;
    dataOut_ = data;
    dataIn_ = {};
    requiredDataIn_ = 0;
}

void ScsiCommand::setDataIn(std::span<std::uint8_t> buffer, std::size_t requiredBytes) {
    direction_ = buffer.empty() ? DataDirection::None : DataDirection::FromDevice;
    dataIn_ = buffer;
    dataOut_ = {};
    requiredDataIn_ = std::min(requiredBytes, buffer.size());
}

} // namespace zurvax
