// What a transport reports back comes from the device and the driver: sense bytes of any
// length and format, any status, residuals that do not fit the buffer. Classify judges it
// and the operations copy from it into the caller's records.
#include <memory>
#include <string>
#include <vector>

#include "tests/fuzz/FuzzTargets.h"
#include "zurvax/Classify.h"
#include "zurvax/Operations.h"
#include "zurvax/ZurvaxStatus.h"

namespace fuzz {
namespace {

zurvax::ScsiResult ResultFrom(Input& in) {
    zurvax::ScsiResult result;
    const std::uint8_t kinds = in.Byte();
    // Mostly clean deliveries, so that the SCSI status and the residual get judged.
    result.osError =
        (kinds & 0x08) != 0 ? static_cast<zurvax::OsError>(kinds % 5) : zurvax::OsError::None;
    result.transport = (kinds & 0x80) != 0 ? static_cast<zurvax::TransportStatus>((kinds >> 4) % 4)
                                           : zurvax::TransportStatus::Ok;
    result.scsiStatus = in.Byte();
    const auto sense = in.Bytes(in.Byte());
    result.sense.assign(sense.begin(), sense.end());
    const std::uint8_t residualKind = in.Byte();
    switch (residualKind % 4) {
    case 0:
        result.residual = 0;
        break;
    case 1:
        result.residual = in.Byte();
        break;
    case 2:
        result.residual = in.U16();
        break;
    default:
        result.residual = static_cast<std::size_t>(in.U64());
        break;
    }
    return result;
}

// Answers every command from the input: some data (never more than the buffer holds, as
// a driver would) and a result.
class ScriptedTransport final : public zurvax::Transport {
public:
    explicit ScriptedTransport(Input& in) : m_in(in) {}
    std::uint32_t deviceCount() const override { return 1; }
    zurvax::DevicePath devicePath(std::uint32_t) const override { return {0, 1, 2, 3}; }
    zurvax::ScsiResult execute(std::uint32_t, const zurvax::ScsiCommand& command) override {
        const auto in = command.dataIn();
        const auto bytes = m_in.Bytes(m_in.Byte() % (in.size() + 1));
        std::copy(bytes.begin(), bytes.end(), in.begin());
        return ResultFrom(m_in);
    }
    std::string describe() const override { return "scripted"; }

private:
    Input& m_in;
};

} // namespace

int Classify(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);

    // ParseSense alone, on a heap block of exactly the sense length.
    {
        const auto bytes = in.Bytes(in.Byte() % 40);
        const std::vector<std::uint8_t> sense(bytes.begin(), bytes.end());
        const auto parsed = zurvax::ParseSense(sense);
        if (parsed)
            FUZZ_CHECK(parsed->senseKey <= 0x0F);
    }

    // One command of each direction judged against an arbitrary result.
    {
        const std::uint8_t cdb[6] = {0x12, 0, 0, 0, 36, 0};
        zurvax::ScsiCommand command(cdb, std::chrono::milliseconds(1000));
        std::vector<std::uint8_t> buffer(in.Byte());
        const std::uint8_t direction = in.Byte() % 3;
        const std::size_t required = in.Byte();
        if (direction == 1)
            command.setDataOut(buffer);
        if (direction == 2)
            command.setDataIn(buffer, required);
        const zurvax::ScsiResult result = ResultFrom(in);
        const std::uint32_t status = zurvax::Classify(command, result);
        const bool delivered = result.osError == zurvax::OsError::None &&
                               result.transport == zurvax::TransportStatus::Ok;
        if (!delivered || result.scsiStatus != zurvax::kScsiGood)
            FUZZ_CHECK(status != 0);
        if (status == 0 && command.direction() == zurvax::DataDirection::FromDevice) {
            FUZZ_CHECK(command.requiredDataIn() == 0 ||
                       result.residual <= buffer.size() - command.requiredDataIn());
        }
        if (status == 0 && command.direction() == zurvax::DataDirection::ToDevice)
            FUZZ_CHECK(result.residual == 0);
        // Only the sense of a delivered CHECK CONDITION becomes an ASC/ASCQ status.
        if (delivered && result.scsiStatus == zurvax::kScsiCheckCondition) {
            const auto parsed = zurvax::ParseSense(result.sense);
            if (parsed && (parsed->asc != 0 || parsed->ascq != 0)) {
                FUZZ_CHECK(status == ((std::uint32_t{parsed->asc} << 8) | parsed->ascq));
            } else {
                FUZZ_CHECK(status > 0xFFFF);
            }
        }
    }

    // The operations copying what the transport left into the caller's records, which
    // are heap blocks of their exact size.
    ScriptedTransport transport(in);
    zurvax::Operations operations(transport);
    const auto inquiry = std::make_unique<INQUIRY_DATA>();
    const auto sense = std::make_unique<SENSE_DATA>();
    const std::size_t length = in.Byte();
    const auto buffer = std::make_unique<std::uint8_t[]>(length + 1);
    while (!in.Done()) {
        *inquiry = INQUIRY_DATA{};
        *sense = SENSE_DATA{};
        switch (in.Byte() % 6) {
        case 0:
            operations.deviceType(0);
            break;
        case 1:
            operations.inquiry(0, inquiry.get());
            break;
        case 2:
            operations.testUnitReady(0);
            break;
        case 3: {
            const std::uint32_t status = operations.requestSense(0, sense.get());
            if (status != 0)
                FUZZ_CHECK(sense->bytes[0] == 0 && sense->bytes[14] == 0);
            break;
        }
        case 4: {
            std::memset(buffer.get(), 0xEE, length + 1);
            const std::uint32_t status =
                operations.readBuffer(0, 2, 0, 0, static_cast<std::uint32_t>(length), buffer.get());
            // A failed read leaves the caller's first byte as it was, and no read writes
            // past the length.
            FUZZ_CHECK(buffer[length] == 0xEE);
            if (status != 0 && length != 0)
                FUZZ_CHECK(buffer[0] == 0xEE);
            break;
        }
        default:
            operations.writeBuffer(0, 2, 0, 0, static_cast<std::uint32_t>(length), buffer.get());
            break;
        }
    }
    return 0;
}

} // namespace fuzz
