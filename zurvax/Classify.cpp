#include "zurvax/Classify.h"

#include "zurvax/ZurvaxStatus.h"

namespace zurvax {

std::optional<AdditionalSense> ParseSense(std::span<const std::uint8_t> sense) {
    if (sense.empty())
        return std::nullopt;
    switch (sense[0] & 0x7F) {
    case 0x70:
    case 0x71:
        if (sense.size() < 14)
            return std::nullopt;
        return AdditionalSense{static_cast<std::uint8_t>(sense[2] & 0x0F), sense[12], sense[13]};
    case 0x72:
    case 0x73:
        if (sense.size() < 4)
            return std::nullopt;
        return AdditionalSense{static_cast<std::uint8_t>(sense[1] & 0x0F), sense[2], sense[3]};
    default:
        return std::nullopt;
    }
}

namespace {

std::uint32_t FromOsError(OsError error) {
    switch (error) {
    case OsError::None:
        return 0;
    case OsError::PermissionDenied:
        return ZURVAX_STATUS_PERMISSION_DENIED;
    case OsError::NoDevice:
        return ZURVAX_STATUS_NO_SUCH_DEVICE;
    case OsError::TimedOut:
        return ZURVAX_STATUS_TIMEOUT;
    case OsError::Other:
        return ZURVAX_STATUS_OS_ERROR;
    }
    return ZURVAX_STATUS_OS_ERROR;
}

std::uint32_t FromTransport(TransportStatus status) {
    switch (status) {
    case TransportStatus::Ok:
        return 0;
    case TransportStatus::Timeout:
        return ZURVAX_STATUS_TIMEOUT;
    case TransportStatus::NoDevice:
        return ZURVAX_STATUS_NO_SUCH_DEVICE;
    case TransportStatus::Error:
        return ZURVAX_STATUS_TRANSPORT_ERROR;
    }
    return ZURVAX_STATUS_TRANSPORT_ERROR;
}

std::uint32_t FromCheckCondition(std::span<const std::uint8_t> sense) {
    const auto parsed = ParseSense(sense);
    if (!parsed)
        return ZURVAX_STATUS_CHECK_CONDITION_NO_SENSE;
    if (parsed->asc == 0 && parsed->ascq == 0)
        return ZURVAX_STATUS_CHECK_CONDITION_NO_ASC;
    return (std::uint32_t{parsed->asc} << 8) | parsed->ascq;
}

} // namespace

std::uint32_t ClassifyDelivery(const ScsiResult& result) {
    if (const auto os = FromOsError(result.osError))
        return os;
    return FromTransport(result.transport);
}

std::uint32_t Classify(const ScsiCommand& command, const ScsiResult& result) {
    if (const auto delivery = ClassifyDelivery(result))
        return delivery;
    switch (result.scsiStatus) {
    case kScsiGood:
        break;
    case kScsiCheckCondition:
        return FromCheckCondition(result.sense);
    case kScsiBusy:
        return ZURVAX_STATUS_BUSY;
    case kScsiReservationConflict:
        return ZURVAX_STATUS_RESERVATION_CONFLICT;
    default:
        return ZURVAX_STATUS_OTHER_SCSI_STATUS;
    }
    switch (command.direction()) {
    case DataDirection::FromDevice: {
        const std::size_t size = command.dataIn().size();
        const std::size_t transferred = result.residual >= size ? 0 : size - result.residual;
        if (transferred < command.requiredDataIn())
            return ZURVAX_STATUS_SHORT_TRANSFER;
        break;
    }
    case DataDirection::ToDevice:
        // A device that took less than it was given has not got the data we meant.
        if (result.residual != 0)
            return ZURVAX_STATUS_SHORT_TRANSFER;
        break;
    case DataDirection::None:
        break;
    }
    return 0;
}

} // namespace zurvax
