// The contract's operations against one transport, without the library's global
// state, locking or trace (zurvax/ZurvaxApi.cpp adds those).
//
// Data reaches the caller's records and buffers only when the operation succeeds; the one
// exception is READ BUFFER's data, which the device writes in place (see ReadBuffer).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "zurvax/Transport.h"
#include "zurvax/ZurvaxApi.h"

namespace zurvax {

// Time-outs per command; microcode commits can take minutes on a real drive.
inline constexpr std::chrono::milliseconds kInquiryTimeout{10'000};
inline constexpr std::chrono::milliseconds kRequestSenseTimeout{10'000};
inline constexpr std::chrono::milliseconds kTestUnitReadyTimeout{60'000};
inline constexpr std::chrono::milliseconds kReadBufferTimeout{60'000};
inline constexpr std::chrono::milliseconds kWriteBufferTimeout{300'000};

// REQUEST SENSE asks for this many bytes (fixed format needs 18).
inline constexpr std::uint8_t kRequestSenseLength = 18;
// The Unit Serial Number page is asked for with this allocation length: its 4-byte header
// and up to 251 characters, so that SERIAL_NUMBER_SIZE always holds the text.
inline constexpr std::uint8_t kSerialNumberPageLength = 255;

// The library's operations over one transport, which must outlive them. Each member is one
// C call of zurvax/ZurvaxApi.h on device index.
class Operations {
public:
    explicit Operations(Transport& transport) : transport_(transport) {}
    virtual ~Operations() = default;
    Operations(const Operations&) = delete;
    Operations& operator=(const Operations&) = delete;

    // Type from INQUIRY byte 0; when the INQUIRY fails, the type the transport learned while
    // enumerating, else NO_DEVICE_TYPE. Past the last device: transport.deviceTypePastEnd().
    virtual std::uint8_t deviceType(std::uint32_t index);
    // END_OF_DEVICE_LIST past the last device; a short INQUIRY answer is a failure.
    virtual std::uint32_t inquiry(std::uint32_t index, INQUIRY_DATA* data);
    virtual DevicePath path(std::uint32_t index);
    // Sends nothing; see GetDeviceNodes.
    virtual std::uint32_t nodes(std::uint32_t index, DEVICE_NODES* records);
    virtual std::uint32_t testUnitReady(std::uint32_t index);
    // Descriptor-format sense from the device is handed over in fixed format; fewer than 15
    // bytes are zero padded (at least 8 must come).
    virtual std::uint32_t requestSense(std::uint32_t index, SENSE_DATA* sense);
    // ZURVAX_STATUS_FIELD_TOO_LARGE with nothing sent when offset or length exceeds 24 bits.
    virtual std::uint32_t writeBuffer(std::uint32_t index, std::uint8_t mode, std::uint8_t bufferId,
                                      std::uint32_t offset, std::uint32_t length,
                                      const std::uint8_t* data);
    virtual std::uint32_t readBuffer(std::uint32_t index, std::uint8_t mode, std::uint8_t bufferId,
                                     std::uint32_t offset, std::uint32_t length,
                                     std::uint8_t* data);
    virtual std::uint32_t serialNumber(std::uint32_t index, char* serial, std::uint32_t size);
    // The transport's claim and release; whether the device is already claimed is the
    // caller's business (zurvax/ZurvaxApi.cpp).
    virtual std::uint32_t claim(std::uint32_t index);
    virtual std::uint32_t release(std::uint32_t index);

protected:
    bool exists(std::uint32_t index) const { return index < transport_.deviceCount(); }

    // What deviceType answers for an existing device, and whether an INQUIRY moved it
    // (rather than the enumeration or nothing having a type to give).
    struct TypeAnswer {
        std::uint8_t type = NO_DEVICE_TYPE;
        bool inquired = false;
    };
    TypeAnswer typeOf(std::uint32_t index);
    // serialNumber for an existing device. written: the characters it put in serial when it
    // succeeds, which may have NULs of the device's among them.
    std::uint32_t serialOf(std::uint32_t index, char* serial, std::uint32_t size,
                           std::size_t& written);

private:
    Transport& transport_;
};

} // namespace zurvax
