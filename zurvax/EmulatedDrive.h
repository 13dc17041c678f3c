// A KMR-47000-like SCSI target: it takes CDBs, decodes them and answers with a SCSI
// status, sense data and data-in bytes, the way the drive would on the wire.
//
// The model knows nothing about library statuses, device indexes or fault injection, so
// the same code can sit behind the in-process EmulatedTransport or behind the kernel as a
// user-space target. It is not thread-safe; its owner serialises commands.
//
// Behaviour worth knowing when writing tests against it:
// - INQUIRY and REQUEST SENSE are answered in every state and never consume a unit
//   attention. Every other command first reports a pending unit attention, if any.
// - INQUIRY with EVPD answers the vital product data pages 00h (supported pages: 00h, 80h)
//   and 80h (the configured serial number); any other page, or a page code without EVPD,
//   is ILLEGAL REQUEST 24/00.
// - TEST UNIT READY: GOOD with a cartridge, else NOT READY 3A/00.
// - WRITE BUFFER mode 2 stores data at the offset in one buffer (ID 0) that grows up to
//   kBufferCapacity; READ BUFFER mode 2 returns what the buffer holds there (fewer bytes
//   when the read runs past what was written); READ BUFFER mode 3 returns the descriptor.
// - WRITE BUFFER mode 5 first stores its own data (if any) at the offset, then takes the
//   whole buffer as the image. With image checking the image must start with
//   "KMR47000-FW:" followed by the 4-character revision it installs; else ILLEGAL REQUEST
//   26/00 and the firmware stays. Without image checking every image is accepted and
//   installs the revision it names if it has that header, otherwise the revision stays.
// - An accepted image empties the buffer. The drive then answers NOT READY 04/01 to every
//   command but INQUIRY and REQUEST SENSE activationPolls times (forever when -1); the
//   next command of any kind finds it back with the new revision and the unit attentions
//   29/00 and 3F/01 pending, reported one per command.
// - REQUEST SENSE returns the configured sense bytes if any, else the sense of the last
//   command that failed, which a later successful command clears; else NO SENSE.
// - Failed commands carry fixed-format sense (70h, additional length 10).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zurvax {

inline constexpr std::size_t kInquiryLength = 36;
// The longest serial number an emulated drive may have: its whole page then fits the
// 255 bytes the library asks for.
inline constexpr std::size_t kMaxSerialLength = 251;
using InquiryBytes = std::array<std::uint8_t, kInquiryLength>;

// Standard INQUIRY data with the texts blank padded (callers keep them within 8/16/4).
InquiryBytes StandardInquiry(std::uint8_t type, std::uint8_t qualifier, std::string_view vendor,
                             std::string_view product, std::string_view revision);

// The serial number of the emulated device at position index of its set when none is
// configured: unique within the set and the same in every run.
std::string DefaultSerial(std::size_t index);

// The header an image must start with; the 4-character revision follows it.
inline constexpr std::string_view kImageMagic = "KMR47000-FW:";

struct DriveModelConfig {
    InquiryBytes inquiry = StandardInquiry(1, 0, "VORN", "KMR-47000", "0100");
    std::string serial = DefaultSerial(0); // printable ASCII, at most kMaxSerialLength
    bool medium = false;
    std::optional<std::vector<std::uint8_t>> sense;
    bool powerOnAttention = true;
    int activationPolls = 2;
    bool checkImage = true;
};

// What a command got back when its data-in went to the caller's buffer.
struct Answer {
    std::uint8_t status = 0;
    std::vector<std::uint8_t> sense;
    std::size_t dataInLength = 0; // bytes written at the start of the caller's buffer
};

// The same with the data-in in a vector of its own.
struct Response {
    std::uint8_t status = 0;
    std::vector<std::uint8_t> sense;
    std::vector<std::uint8_t> dataIn;
};

class EmulatedDrive {
public:
    static constexpr std::size_t kBufferCapacity = 16u << 20;
    // Oldest CDBs are dropped beyond this many, so that a long run cannot eat all memory.
    static constexpr std::size_t kCdbLogLimit = 100000;

    explicit EmulatedDrive(DriveModelConfig config);
    EmulatedDrive(EmulatedDrive&&) = default;
    EmulatedDrive& operator=(EmulatedDrive&&) = default;
    EmulatedDrive(const EmulatedDrive&) = delete;
    EmulatedDrive& operator=(const EmulatedDrive&) = delete;

    // dataOut must hold at least the transfer length the CDB names. Data-in is written
    // straight into dataIn (the caller's buffer, as a device's DMA would), cut to both the
    // CDB's allocation length and dataIn's size; bytes past dataInLength are untouched.
    Answer execute(std::span<const std::uint8_t> cdb, std::span<const std::uint8_t> dataOut,
                   std::span<std::uint8_t> dataIn);
    // The same, data-in returned in its own vector of at most dataInCapacity bytes.
    Response execute(std::span<const std::uint8_t> cdb, std::span<const std::uint8_t> dataOut,
                     std::size_t dataInCapacity);

    const InquiryBytes& inquiry() const { return inquiry_; }
    const std::string& serial() const { return config_.serial; }
    // Bytes 32-35 of the inquiry data.
    std::string revision() const;
    // The revision of the firmware the drive holds: after an accepted image the image's,
    // already while it is still activating.
    std::string firmwareRevision() const { return activating_ ? pendingRevision_ : revision(); }
    const std::vector<std::uint8_t>& buffer() const { return buffer_; }
    // The image taken by the last mode-5 WRITE BUFFER, accepted or not.
    const std::vector<std::uint8_t>& lastImage() const { return lastImage_; }
    unsigned commits() const { return commits_; }
    unsigned acceptedCommits() const { return acceptedCommits_; }
    // True while the drive answers NOT READY 04/01 after an accepted image.
    bool activating() const { return activating_; }
    // Every CDB received, oldest first (at most kCdbLogLimit of them).
    std::vector<std::vector<std::uint8_t>> cdbLog() const;

private:
    Answer dispatch(std::span<const std::uint8_t> cdb, std::span<const std::uint8_t> dataOut,
                    std::span<std::uint8_t> dataIn);
    Answer inquiryCommand(std::span<const std::uint8_t> cdb, std::span<std::uint8_t> dataIn) const;
    Answer vpdPage(std::uint8_t page, std::size_t allocation, std::span<std::uint8_t> dataIn) const;
    Answer requestSense(std::span<const std::uint8_t> cdb, std::span<std::uint8_t> dataIn) const;
    Answer writeBuffer(std::span<const std::uint8_t> cdb, std::span<const std::uint8_t> dataOut);
    Answer readBuffer(std::span<const std::uint8_t> cdb, std::span<std::uint8_t> dataIn) const;
    Answer commit();
    void finishActivation();

    DriveModelConfig config_;
    InquiryBytes inquiry_;
    std::deque<std::pair<std::uint8_t, std::uint8_t>> unitAttentions_;
    std::optional<std::vector<std::uint8_t>> lastSense_;
    std::vector<std::uint8_t> buffer_;
    std::vector<std::uint8_t> lastImage_;
    std::string pendingRevision_;
    bool activating_ = false;
    int pollsLeft_ = 0;
    unsigned commits_ = 0;
    unsigned acceptedCommits_ = 0;
    // One CDB of the log. Commands of up to 16 bytes (all a drive of this kind takes) are
    // kept inline, as a heap block per command would cost a download more than the
    // commands themselves; only a longer one takes the heap.
    struct LoggedCdb {
        std::array<std::uint8_t, 16> bytes{};
        std::uint8_t length = 0;
        std::vector<std::uint8_t> longer;
    };
    std::deque<LoggedCdb> cdbLog_;
};

} // namespace zurvax
