// The contract's operations against one transport, without the library's global
// state, locking or trace (zurvax/ZurvaxApi.cpp adds those).
//
// Each existing device's call first asks the transport's intercept(); a Fail answer
// returns its status with nothing sent (GetDeviceType then gives NO_DEVICE_TYPE and
// GetScsiPath an all-zero path). A Corrupt answer acts normally but changes one byte of
// the data moved, always the last one (XOR FFh): the last inquiry or sense byte, the
// last byte READ BUFFER returns or WRITE BUFFER sends, byte 3 of the path; for
// GetDeviceType the type's lowest bit flips. Calls without data act unchanged.
//
// Data reaches the caller's records and buffers only when the operation succeeds; the one
// exception is READ BUFFER's data, which the device writes in place (see ReadBuffer).
#pragma once

#include <chrono>
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

// Type from INQUIRY byte 0; when the INQUIRY fails, the type the transport learned while
// enumerating, else NO_DEVICE_TYPE. Past the last device: transport.deviceTypePastEnd().
std::uint8_t DeviceTypeOf(Transport& transport, std::uint32_t index);
// END_OF_DEVICE_LIST past the last device; a short INQUIRY answer is a failure.
std::uint32_t InquiryOf(Transport& transport, std::uint32_t index, INQUIRY_DATA* data);
DevicePath PathOf(Transport& transport, std::uint32_t index);
// Sends nothing; see GetDeviceNodes.
std::uint32_t NodesOf(Transport& transport, std::uint32_t index, DEVICE_NODES* nodes);
std::uint32_t TestUnitReadyOf(Transport& transport, std::uint32_t index);
// Descriptor-format sense from the device is handed over in fixed format; fewer than 15
// bytes are zero padded (at least 8 must come).
std::uint32_t RequestSenseOf(Transport& transport, std::uint32_t index, SENSE_DATA* sense);
// ZURVAX_STATUS_FIELD_TOO_LARGE with nothing sent when offset or length exceeds 24 bits.
std::uint32_t WriteBufferOf(Transport& transport, std::uint32_t index, std::uint8_t mode,
                            std::uint8_t bufferId, std::uint32_t offset, std::uint32_t length,
                            const std::uint8_t* data);
std::uint32_t ReadBufferOf(Transport& transport, std::uint32_t index, std::uint8_t mode,
                           std::uint8_t bufferId, std::uint32_t offset, std::uint32_t length,
                           std::uint8_t* data);
// A Corrupt answer changes the last character of the serial number.
std::uint32_t SerialNumberOf(Transport& transport, std::uint32_t index, char* serial,
                             std::uint32_t size);
// The transport's claim and release; whether the device is already claimed is the caller's
// business (zurvax/ZurvaxApi.cpp).
std::uint32_t ClaimOf(Transport& transport, std::uint32_t index);
std::uint32_t ReleaseOf(Transport& transport, std::uint32_t index);

} // namespace zurvax
