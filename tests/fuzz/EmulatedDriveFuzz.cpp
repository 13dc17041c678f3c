// The emulated drive answers whatever CDBs reach it: through the library today, from the
// kernel once it serves as a user-space target.
#include <memory>
#include <vector>

#include "tests/fuzz/FuzzTargets.h"
#include "zurvax/Cdb.h"
#include "zurvax/EmulatedDrive.h"

namespace fuzz {

int EmulatedDrive(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    zurvax::DriveModelConfig config;
    const std::uint8_t flags = in.Byte();
    config.medium = (flags & 0x01) != 0;
    config.powerOnAttention = (flags & 0x02) != 0;
    config.checkImage = (flags & 0x04) != 0;
    config.activationPolls = static_cast<int>(in.Byte() % 5) - 1;
    if ((flags & 0x08) != 0) {
        const auto inquiry = in.Bytes(zurvax::kInquiryLength);
        std::copy(inquiry.begin(), inquiry.end(), config.inquiry.begin());
    }
    if ((flags & 0x10) != 0) {
        const auto sense = in.Bytes(1 + in.Byte() % 252);
        config.sense.emplace(sense.begin(), sense.end());
    }
    zurvax::EmulatedDrive drive(config);

    for (int commands = 0; commands < 64 && !in.Done(); ++commands) {
        // CDB and data out in heap blocks of exactly the length given.
        const auto cdbBytes = in.Bytes(in.Byte() % 17);
        const std::vector<std::uint8_t> cdb(cdbBytes.begin(), cdbBytes.end());
        const std::uint16_t outLength = in.U16() & 0x3FFF;
        std::vector<std::uint8_t> dataOut(outLength, 0x5A);
        const auto outBytes = in.Bytes(outLength);
        std::copy(outBytes.begin(), outBytes.end(), dataOut.begin());
        const std::size_t capacity = in.U16();

        const zurvax::Response response = drive.execute(cdb, dataOut, capacity);
        FUZZ_CHECK(response.status == 0x00 || response.status == 0x02);
        FUZZ_CHECK(response.dataIn.size() <= capacity);
        if (response.status == 0x02) {
            FUZZ_CHECK(response.sense.size() >= 14);
            FUZZ_CHECK(response.dataIn.empty());
        }
        if (!cdb.empty() && cdb[0] == zurvax::kOpInquiry && cdb.size() >= 5) {
            FUZZ_CHECK(response.dataIn.size() <= ((std::size_t{cdb[3]} << 8) | cdb[4]));
        }
        if (!cdb.empty() && cdb[0] == zurvax::kOpRequestSense && cdb.size() >= 5) {
            FUZZ_CHECK(response.dataIn.size() <= cdb[4]);
        }
        if (!cdb.empty() && cdb[0] == zurvax::kOpReadBuffer && cdb.size() >= 10) {
            FUZZ_CHECK(response.dataIn.size() <= zurvax::Field24(cdb, 6));
        }
        FUZZ_CHECK(drive.buffer().size() <= zurvax::EmulatedDrive::kBufferCapacity);
        FUZZ_CHECK(drive.revision().size() == 4);
    }
    return 0;
}

} // namespace fuzz
