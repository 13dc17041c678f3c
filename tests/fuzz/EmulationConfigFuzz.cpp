// An emulation file is any text a user points ZURVAX_EMULATION at. What the reader accepts
// then goes through the library's operations on the drives it describes.
#include <memory>
#include <string>
#include <variant>

#include "tests/fuzz/FuzzTargets.h"
#include "zurvax/EmulatedTransport.h"
#include "zurvax/EmulationConfig.h"
#include "zurvax/FaultInjection.h"

namespace fuzz {

int EmulationConfig(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string source = "fuzz.json";
    auto outcome = zurvax::ParseEmulation(text, source);
    if (const auto* error = std::get_if<zurvax::ConfigError>(&outcome)) {
        FUZZ_CHECK(error->message.rfind(source, 0) == 0);
        // One line with no control characters: it goes to a trace line, a terminal and a message
        // box.
        for (const char c : error->message)
            FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20);
        return 0;
    }
    auto& config = std::get<zurvax::EmulationConfig>(outcome);
    FUZZ_CHECK(config.source == source);
    for (const auto& device : config.devices) {
        FUZZ_CHECK(!device.drive.sense ||
                   (!device.drive.sense->empty() && device.drive.sense->size() <= 252));
    }

    // Every operation on the first few drives, twice, so that fault rules counting calls
    // get to fire. Records and buffers are heap blocks of their exact size.
    const std::size_t devices = config.devices.size();
    zurvax::FaultRules faults = zurvax::FaultRulesOf(config);
    zurvax::EmulatedTransport transport(std::move(config));
    zurvax::FaultyOperations operations(transport, std::move(faults));
    const auto inquiry = std::make_unique<INQUIRY_DATA>();
    const auto sense = std::make_unique<SENSE_DATA>();
    const auto chunk = std::make_unique<std::uint8_t[]>(64);
    for (int round = 0; round < 2; ++round) {
        for (std::uint32_t index = 0; index <= devices && index < 4; ++index) {
            *inquiry = INQUIRY_DATA{};
            *sense = SENSE_DATA{};
            operations.deviceType(index);
            operations.inquiry(index, inquiry.get());
            operations.path(index);
            operations.testUnitReady(index);
            operations.requestSense(index, sense.get());
            std::memset(chunk.get(), 'K', 64);
            operations.writeBuffer(index, 2, 0, 0, 64, chunk.get());
            operations.readBuffer(index, 2, 0, 0, 64, chunk.get());
            operations.readBuffer(index, 3, 0, 0, 4, chunk.get());
            operations.writeBuffer(index, 5, 0, 0, 0, nullptr);
        }
    }
    return 0;
}

} // namespace fuzz
