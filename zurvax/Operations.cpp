#include "zurvax/Operations.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <span>
#include <string>

#include "zurvax/Cdb.h"
#include "zurvax/Classify.h"
#include "zurvax/ZurvaxStatus.h"

namespace zurvax {
namespace {

// INQUIRY into inquiry; 0 or a failure status.
std::uint32_t SendInquiry(Transport& transport, std::uint32_t index,
                          std::array<std::uint8_t, sizeof(INQUIRY_DATA)>& inquiry) {
    const Cdb cdb = InquiryCdb(sizeof(INQUIRY_DATA));
    ScsiCommand command(cdb.view(), kInquiryTimeout);
    command.setDataIn(inquiry, inquiry.size());
    return Classify(command, transport.execute(index, command));
}

} // namespace

std::uint8_t Operations::deviceType(std::uint32_t index) {
    if (!exists(index))
        return transport_.deviceTypePastEnd();
    return typeOf(index).type;
}

Operations::TypeAnswer Operations::typeOf(std::uint32_t index) {
    std::array<std::uint8_t, sizeof(INQUIRY_DATA)> inquiry{};
    if (SendInquiry(transport_, index, inquiry) != 0)
        return {transport_.enumeratedDeviceType(index).value_or(NO_DEVICE_TYPE), false};
    return {static_cast<std::uint8_t>(inquiry[0] & 0x1F), true};
}

std::uint32_t Operations::inquiry(std::uint32_t index, INQUIRY_DATA* data) {
    if (!exists(index))
        return END_OF_DEVICE_LIST;
    if (data == nullptr)
        return ZURVAX_STATUS_INVALID_ARGUMENT;
    std::array<std::uint8_t, sizeof(INQUIRY_DATA)> inquiry{};
    if (const auto status = SendInquiry(transport_, index, inquiry))
        return status;
    std::memcpy(data->bytes, inquiry.data(), inquiry.size());
    return 0;
}

DevicePath Operations::path(std::uint32_t index) {
    if (!exists(index))
        return {};
    DevicePath found = transport_.devicePath(index);
    found[0] = 0;
    return found;
}

std::uint32_t Operations::nodes(std::uint32_t index, DEVICE_NODES* records) {
    if (records == nullptr)
        return ZURVAX_STATUS_INVALID_ARGUMENT;
    if (!exists(index))
        return END_OF_DEVICE_LIST;
    const DeviceNodes found = transport_.deviceNodes(index);
    // A cut name would name another node: one that does not fit stays empty.
    const auto put = [](const std::string& name, char(&field)[sizeof DEVICE_NODES::tape]) {
        std::memset(field, 0, sizeof field);
        if (name.size() < sizeof field)
            std::memcpy(field, name.data(), name.size());
    };
    put(found.passThrough, records->passThrough);
    put(found.tape, records->tape);
    return SCSI_STATUS_OK;
}

std::uint32_t Operations::testUnitReady(std::uint32_t index) {
    if (!exists(index))
        return ZURVAX_STATUS_NO_SUCH_DEVICE;
    const Cdb cdb = TestUnitReadyCdb();
    ScsiCommand command(cdb.view(), kTestUnitReadyTimeout);
    return Classify(command, transport_.execute(index, command));
}

std::uint32_t Operations::requestSense(std::uint32_t index, SENSE_DATA* sense) {
    if (!exists(index))
        return ZURVAX_STATUS_NO_SUCH_DEVICE;
    if (sense == nullptr)
        return ZURVAX_STATUS_INVALID_ARGUMENT;
    const Cdb cdb = RequestSenseCdb(kRequestSenseLength);
    std::array<std::uint8_t, kRequestSenseLength> received{};
    ScsiCommand command(cdb.view(), kRequestSenseTimeout);
    command.setDataIn(received, 8);
    const ScsiResult result = transport_.execute(index, command);
    if (const auto status = Classify(command, result))
        return status;

    std::array<std::uint8_t, sizeof(SENSE_DATA)> fixed{};
    const std::size_t count = received.size() - std::min(result.residual, received.size());
    const std::uint8_t code = received[0] & 0x7F;
    if (code == 0x72 || code == 0x73) {
        fixed[0] = code == 0x72 ? 0x70 : 0x71;
        fixed[2] = received[1] & 0x0F;
        fixed[7] = 10;
        fixed[12] = received[2];
        fixed[13] = received[3];
    } else {
        std::copy_n(received.begin(), std::min(count, fixed.size()), fixed.begin());
    }
    std::memcpy(sense->bytes, fixed.data(), fixed.size());
    return 0;
}

std::uint32_t Operations::writeBuffer(std::uint32_t index, std::uint8_t mode, std::uint8_t bufferId,
                                      std::uint32_t offset, std::uint32_t length,
                                      const std::uint8_t* data) {
    if (!exists(index))
        return ZURVAX_STATUS_NO_SUCH_DEVICE;
    const auto cdb = WriteBufferCdb(mode, bufferId, offset, length);
    if (!cdb)
        return ZURVAX_STATUS_FIELD_TOO_LARGE;
    if (data == nullptr && length != 0)
        return ZURVAX_STATUS_INVALID_ARGUMENT;

    ScsiCommand command(cdb->view(), kWriteBufferTimeout);
    command.setDataOut({data, length});
    return Classify(command, transport_.execute(index, command));
}

std::uint32_t Operations::readBuffer(std::uint32_t index, std::uint8_t mode, std::uint8_t bufferId,
                                     std::uint32_t offset, std::uint32_t length,
                                     std::uint8_t* data) {
    if (!exists(index))
        return ZURVAX_STATUS_NO_SUCH_DEVICE;
    const auto cdb = ReadBufferCdb(mode, bufferId, offset, length);
    if (!cdb)
        return ZURVAX_STATUS_FIELD_TOO_LARGE;
    if (data == nullptr && length != 0)
        return ZURVAX_STATUS_INVALID_ARGUMENT;

    // The device's bytes land in the caller's buffer: a download reads every chunk back,
    // and a copy through a buffer of our own would be a fifth of its cost. A failed or short
    // read may have left part of what the device sent there, so the first byte is put back:
    // a caller who set it to a value the device cannot have sent cannot take the rest for
    // data (see ReadBuffer).
    const std::span<std::uint8_t> bytes(data, length);
    const std::uint8_t first = length != 0 ? data[0] : 0;
    ScsiCommand command(cdb->view(), kReadBufferTimeout);
    command.setDataIn(bytes, bytes.size());
    if (const auto status = Classify(command, transport_.execute(index, command))) {
        if (length != 0)
            data[0] = first;
        return status;
    }
    return 0;
}

std::uint32_t Operations::serialNumber(std::uint32_t index, char* serial, std::uint32_t size) {
    if (!exists(index))
        return ZURVAX_STATUS_NO_SUCH_DEVICE;
    std::size_t written = 0;
    return serialOf(index, serial, size, written);
}

std::uint32_t Operations::serialOf(std::uint32_t index, char* serial, std::uint32_t size,
                                   std::size_t& written) {
    if (serial == nullptr || size == 0)
        return ZURVAX_STATUS_INVALID_ARGUMENT;
    const Cdb cdb = VpdInquiryCdb(kVpdUnitSerialNumber, kSerialNumberPageLength);
    std::array<std::uint8_t, kSerialNumberPageLength> page{};
    ScsiCommand command(cdb.view(), kInquiryTimeout);
    command.setDataIn(page, 4);
    const ScsiResult result = transport_.execute(index, command);
    if (const auto status = Classify(command, result))
        return status;

    // The page's own length decides, not the residual, which not every adapter reports.
    const std::size_t received = page.size() - std::min(result.residual, page.size());
    const std::size_t length = (std::size_t{page[2]} << 8) | page[3];
    if (page[1] != kVpdUnitSerialNumber || 4 + length > received)
        return ZURVAX_STATUS_SHORT_TRANSFER;
    auto first = page.begin() + 4;
    auto last = first + static_cast<std::ptrdiff_t>(length);
    const auto padding = [](std::uint8_t c) { return c == ' ' || c == 0; };
    while (first != last && padding(*first))
        ++first;
    while (last != first && padding(*(last - 1)))
        --last;
    const std::span<std::uint8_t> text(first, last);
    if (text.size() >= size)
        return ZURVAX_STATUS_INVALID_ARGUMENT;
    std::copy(text.begin(), text.end(), serial);
    serial[text.size()] = '\0';
    written = text.size();
    return 0;
}

std::uint32_t Operations::claim(std::uint32_t index) {
    if (!exists(index))
        return ZURVAX_STATUS_NO_SUCH_DEVICE;
    const ClaimResult claimed = transport_.claim(index);
    if (claimed.inUse)
        return ZURVAX_STATUS_DEVICE_IN_USE;
    if (const auto failure = ClassifyDelivery(claimed.failure))
        return failure;
    return claimed.lockUnavailable ? std::uint32_t{ZURVAX_STATUS_CLAIMED_WITHOUT_LOCK} : 0;
}

std::uint32_t Operations::release(std::uint32_t index) {
    if (!exists(index))
        return ZURVAX_STATUS_NO_SUCH_DEVICE;
    transport_.release(index);
    return 0;
}

} // namespace zurvax
