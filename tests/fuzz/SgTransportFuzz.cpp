// What the kernel hands back from SG_IO is the device's and the driver's word: any sense
// length claimed, any residual, any status. The transport is driven through the library's
// operations over a stand-in for the kernel that answers from the input.
#include <fcntl.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "tests/fuzz/FuzzTargets.h"
#include "zurvax/Operations.h"
#include "zurvax/SgTransport_linux.h"

namespace fuzz {
namespace {

class FuzzedKernel final : public zurvax::SgSystem {
public:
    explicit FuzzedKernel(Input& in) : m_in(in) {}

    std::vector<std::string> listSgNames(const std::string&) override {
        std::vector<std::string> names;
        for (int count = m_in.Byte() % 4; count > 0; --count) {
            const auto bytes = m_in.Bytes(m_in.Byte() % 8);
            names.push_back("sg" + std::string(bytes.begin(), bytes.end()));
        }
        return names;
    }
    zurvax::SgOpenResult open(const std::string&, int) override {
        static const int kErrors[] = {0, EACCES, EPERM, EROFS, ENOENT, ENODEV, EBUSY};
        const int error = kErrors[m_in.Byte() % 7];
        if (error != 0)
            return {-1, error};
        return {m_nextFd++, 0};
    }
    void close(int) override {}
    int sgIo(int, sg_io_hdr_t& header) override {
        const std::uint8_t error = m_in.Byte();
        if (error % 8 == 1)
            return EIO;
        if (error % 8 == 2)
            return ETIMEDOUT;
        // The kernel never writes past the lengths it was given; what it claims is another matter.
        if (header.dxfer_direction == SG_DXFER_FROM_DEV && header.dxferp != nullptr) {
            const auto data = m_in.Bytes(m_in.U16() % (header.dxfer_len + 1));
            std::memcpy(header.dxferp, data.data(), data.size());
        }
        if (header.sbp != nullptr) {
            const auto sense = m_in.Bytes(m_in.Byte() % (header.mx_sb_len + 1u));
            std::memcpy(header.sbp, sense.data(), sense.size());
        }
        header.sb_len_wr = m_in.Byte();
        header.status = m_in.Byte();
        header.masked_status = static_cast<unsigned char>(header.status >> 1);
        header.host_status = m_in.Byte() % 12;
        header.driver_status = m_in.Byte();
        header.resid = static_cast<int>(m_in.U32());
        header.duration = m_in.U32();
        header.info = m_in.Byte();
        return 0;
    }
    int getScsiId(int, sg_scsi_id& id) override {
        static const int kErrors[] = {0, 0, ENOTTY, EINVAL, ENODEV, EIO};
        const int error = kErrors[m_in.Byte() % 6];
        id.host_no = static_cast<int>(m_in.U32());
        id.scsi_id = static_cast<int>(m_in.U32());
        id.lun = static_cast<int>(m_in.U32());
        id.scsi_type = static_cast<int>(m_in.U32());
        return error;
    }
    std::optional<gid_t> nodeGroup(const std::string&) override {
        if (m_in.Bool())
            return std::nullopt;
        return static_cast<gid_t>(m_in.U32());
    }
    std::optional<std::string> groupName(gid_t) override {
        if (m_in.Bool())
            return std::nullopt;
        const auto bytes = m_in.Bytes(m_in.Byte() % 16);
        return std::string(bytes.begin(), bytes.end());
    }

private:
    Input& m_in;
    int m_nextFd = 3;
};

} // namespace

int SgTransport(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    zurvax::SgTransport transport(std::make_unique<FuzzedKernel>(in), "/dev");
    transport.describe();
    const std::uint32_t devices = transport.deviceCount();
    zurvax::Operations operations(transport);
    FUZZ_CHECK(devices <= 3);

    // Records and buffers are heap blocks of their exact size.
    const auto inquiry = std::make_unique<INQUIRY_DATA>();
    const auto sense = std::make_unique<SENSE_DATA>();
    const std::size_t length = 1 + in.Byte();
    const auto buffer = std::make_unique<std::uint8_t[]>(length);
    for (int calls = 0; calls < 32 && !in.Done(); ++calls) {
        const std::uint32_t index = in.Byte() % (devices + 1);
        switch (in.Byte() % 7) {
        case 0:
            operations.deviceType(index);
            break;
        case 1:
            operations.inquiry(index, inquiry.get());
            break;
        case 2:
            operations.testUnitReady(index);
            break;
        case 3:
            operations.requestSense(index, sense.get());
            break;
        case 4:
            operations.readBuffer(index, 2, 0, 0, static_cast<std::uint32_t>(length), buffer.get());
            break;
        case 5:
            operations.writeBuffer(index, 2, 0, 0, static_cast<std::uint32_t>(length),
                                   buffer.get());
            break;
        default:
            operations.path(index);
            break;
        }
    }

    // One header straight into the result translation, with a sense buffer exactly as
    // long as the header says it may hold.
    sg_io_hdr_t header{};
    header.mx_sb_len = in.Byte();
    std::vector<std::uint8_t> senseBuffer(header.mx_sb_len);
    const auto senseBytes = in.Bytes(senseBuffer.size());
    std::copy(senseBytes.begin(), senseBytes.end(), senseBuffer.begin());
    header.sb_len_wr = in.Byte();
    header.status = in.Byte();
    header.host_status = in.U16();
    header.driver_status = in.U16();
    header.resid = static_cast<int>(in.U32());
    const zurvax::ScsiResult result =
        zurvax::SgResult(header, senseBuffer.empty() ? nullptr : senseBuffer.data());
    FUZZ_CHECK(result.sense.size() <= header.mx_sb_len);
    FUZZ_CHECK(result.sense.size() <= header.sb_len_wr);
    return 0;
}

} // namespace fuzz
