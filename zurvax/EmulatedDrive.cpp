#include "zurvax/EmulatedDrive.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

#include "zurvax/Cdb.h"

namespace zurvax {
namespace {

enum : std::uint8_t {
    kKeyNoSense = 0x0,
    kKeyNotReady = 0x2,
    kKeyIllegalRequest = 0x5,
    kKeyUnitAttention = 0x6,
    kKeyAbortedCommand = 0xB,
};

enum : std::uint8_t {
    kModeData = 0x02,
    kModeDescriptor = 0x03,
    kModeDownloadSave = 0x05,
};

std::vector<std::uint8_t> FixedSense(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
    std::vector<std::uint8_t> sense(18, 0);
    sense[0] = 0x70;
    sense[2] = key;
    sense[7] = 10;
    sense[12] = asc;
    sense[13] = ascq;
    return sense;
}

Answer Check(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
    return Answer{0x02, FixedSense(key, asc, ascq), 0};
}

Answer Good() { return Answer{}; }

// GOOD with bytes as data-in, cut to limit and to the caller's buffer.
Answer Good(std::span<const std::uint8_t> bytes, std::size_t limit,
            std::span<std::uint8_t> dataIn) {
    const std::size_t count = std::min({bytes.size(), limit, dataIn.size()});
    std::copy_n(bytes.begin(), count, dataIn.begin());
    return Answer{0x00, {}, count};
}

Answer InvalidFieldInCdb() { return Check(kKeyIllegalRequest, 0x24, 0x00); }

void PutText(InquiryBytes& inquiry, std::size_t at, std::size_t width, std::string_view text) {
    for (std::size_t i = 0; i < width; ++i) {
        inquiry[at + i] = i < text.size() ? static_cast<std::uint8_t>(text[i]) : ' ';
    }
}

// The revision an image in the sample format installs, or nullopt for any other image.
std::optional<std::string> ImageRevision(const std::vector<std::uint8_t>& image) {
    if (image.size() < kImageMagic.size() + 4)
        return std::nullopt;
    if (!std::equal(kImageMagic.begin(), kImageMagic.end(), image.begin()))
        return std::nullopt;
    std::string revision;
    for (std::size_t i = kImageMagic.size(); i < kImageMagic.size() + 4; ++i) {
        if (image[i] < 0x20 || image[i] > 0x7E)
            return std::nullopt;
        revision.push_back(static_cast<char>(image[i]));
    }
    return revision;
}

} // namespace

std::string DefaultSerial(std::size_t index) {
    char text[24];
    std::snprintf(text, sizeof text, "EMU%07zu", index + 1);
    return text;
}

InquiryBytes StandardInquiry(std::uint8_t type, std::uint8_t qualifier, std::string_view vendor,
                             std::string_view product, std::string_view revision) {
    InquiryBytes inquiry{};
    inquiry[0] = static_cast<std::uint8_t>(((qualifier & 0x07) << 5) | (type & 0x1F));
    // Tape drives and changers hold removable media.
    inquiry[1] = (type == 1 || type == 8) ? 0x80 : 0x00;
    inquiry[2] = 0x05; // SPC-3
    inquiry[3] = 0x02; // response data format
    inquiry[4] = kInquiryLength - 5;
    PutText(inquiry, 8, 8, vendor);
    PutText(inquiry, 16, 16, product);
    PutText(inquiry, 32, 4, revision);
    return inquiry;
}

EmulatedDrive::EmulatedDrive(DriveModelConfig config)
    : config_(std::move(config)), inquiry_(config_.inquiry) {
    if (config_.powerOnAttention)
        unitAttentions_.emplace_back(0x29, 0x00);
}

std::vector<std::vector<std::uint8_t>> EmulatedDrive::cdbLog() const {
    std::vector<std::vector<std::uint8_t>> log;
    log.reserve(cdbLog_.size());
    for (const LoggedCdb& logged : cdbLog_) {
        if (logged.longer.empty())
            log.emplace_back(logged.bytes.begin(), logged.bytes.begin() + logged.length);
        else
            log.push_back(logged.longer);
    }
    return log;
}

std::string EmulatedDrive::revision() const {
    return std::string(inquiry_.begin() + 32, inquiry_.begin() + 36);
}

Response EmulatedDrive::execute(std::span<const std::uint8_t> cdb,
                                std::span<const std::uint8_t> dataOut, std::size_t dataInCapacity) {
    std::vector<std::uint8_t> dataIn(dataInCapacity);
    Answer answer = execute(cdb, dataOut, dataIn);
    dataIn.resize(answer.dataInLength);
    return Response{answer.status, std::move(answer.sense), std::move(dataIn)};
}

Answer EmulatedDrive::execute(std::span<const std::uint8_t> cdb,
                              std::span<const std::uint8_t> dataOut,
                              std::span<std::uint8_t> dataIn) {
    if (cdbLog_.size() >= kCdbLogLimit)
        cdbLog_.pop_front();
    LoggedCdb& logged = cdbLog_.emplace_back();
    if (cdb.size() <= logged.bytes.size()) {
        std::copy(cdb.begin(), cdb.end(), logged.bytes.begin());
        logged.length = static_cast<std::uint8_t>(cdb.size());
    } else {
        logged.longer.assign(cdb.begin(), cdb.end());
    }
    if (cdb.empty())
        return Check(kKeyIllegalRequest, 0x20, 0x00);

    // The drive is back once it has answered its last NOT READY, whatever asks next.
    if (activating_ && pollsLeft_ == 0)
        finishActivation();
    const std::uint8_t opcode = cdb[0];
    if (opcode == kOpInquiry)
        return inquiryCommand(cdb, dataIn);
    if (opcode == kOpRequestSense)
        return requestSense(cdb, dataIn);

    Answer response = dispatch(cdb, dataOut, dataIn);
    if (response.status == 0x02) {
        lastSense_ = response.sense;
    } else if (response.status == 0x00) {
        lastSense_.reset();
    }
    return response;
}

Answer EmulatedDrive::dispatch(std::span<const std::uint8_t> cdb,
                               std::span<const std::uint8_t> dataOut,
                               std::span<std::uint8_t> dataIn) {
    if (activating_) {
        if (pollsLeft_ > 0)
            --pollsLeft_;
        return Check(kKeyNotReady, 0x04, 0x01);
    }
    if (!unitAttentions_.empty()) {
        const auto [asc, ascq] = unitAttentions_.front();
        unitAttentions_.pop_front();
        return Check(kKeyUnitAttention, asc, ascq);
    }
    switch (cdb[0]) {
    case kOpTestUnitReady:
        if (cdb.size() < 6)
            return InvalidFieldInCdb();
        return config_.medium ? Good() : Check(kKeyNotReady, 0x3A, 0x00);
    case kOpWriteBuffer:
        if (cdb.size() < 10)
            return InvalidFieldInCdb();
        return writeBuffer(cdb, dataOut);
    case kOpReadBuffer:
        if (cdb.size() < 10)
            return InvalidFieldInCdb();
        return readBuffer(cdb, dataIn);
    default:
        return Check(kKeyIllegalRequest, 0x20, 0x00);
    }
}

Answer EmulatedDrive::inquiryCommand(std::span<const std::uint8_t> cdb,
                                     std::span<std::uint8_t> dataIn) const {
    if (cdb.size() < 6)
        return InvalidFieldInCdb();
    const std::size_t allocation = (std::size_t{cdb[3]} << 8) | cdb[4];
    if ((cdb[1] & 0x01) != 0)
        return vpdPage(cdb[2], allocation, dataIn);
    if (cdb[2] != 0)
        return InvalidFieldInCdb();
    return Good(inquiry_, allocation, dataIn);
}

Answer EmulatedDrive::vpdPage(std::uint8_t page, std::size_t allocation,
                              std::span<std::uint8_t> dataIn) const {
    std::vector<std::uint8_t> bytes{inquiry_[0], page, 0, 0};
    switch (page) {
    case kVpdSupportedPages:
        bytes.insert(bytes.end(), {kVpdSupportedPages, kVpdUnitSerialNumber});
        break;
    case kVpdUnitSerialNumber:
        bytes.insert(bytes.end(), config_.serial.begin(), config_.serial.end());
        break;
    default:
        return InvalidFieldInCdb();
    }
    const std::size_t length = bytes.size() - 4;
    bytes[2] = static_cast<std::uint8_t>(length >> 8);
    bytes[3] = static_cast<std::uint8_t>(length);
    return Good(bytes, allocation, dataIn);
}

Answer EmulatedDrive::requestSense(std::span<const std::uint8_t> cdb,
                                   std::span<std::uint8_t> dataIn) const {
    if (cdb.size() < 6)
        return InvalidFieldInCdb();
    const std::vector<std::uint8_t> sense = config_.sense ? *config_.sense
                                            : lastSense_  ? *lastSense_
                                                          : FixedSense(kKeyNoSense, 0, 0);
    return Good(sense, cdb[4], dataIn);
}

Answer EmulatedDrive::writeBuffer(std::span<const std::uint8_t> cdb,
                                  std::span<const std::uint8_t> dataOut) {
    const std::uint8_t mode = cdb[1] & 0x1F;
    const std::uint32_t offset = Field24(cdb, 3);
    const std::uint32_t length = Field24(cdb, 6);
    if (mode != kModeData && mode != kModeDownloadSave)
        return InvalidFieldInCdb();
    if (cdb[2] != 0)
        return InvalidFieldInCdb();
    if (dataOut.size() < length)
        return Check(kKeyAbortedCommand, 0x4B, 0x00);
    if (length > 0) {
        if (std::size_t{offset} + length > kBufferCapacity)
            return InvalidFieldInCdb();
        if (offset == buffer_.size()) {
            // A download appends chunk after chunk: no need to zero what is written next.
            buffer_.insert(buffer_.end(), dataOut.begin(),
                           dataOut.begin() + static_cast<std::ptrdiff_t>(length));
        } else {
            if (buffer_.size() < std::size_t{offset} + length)
                buffer_.resize(offset + length, 0);
            std::copy_n(dataOut.begin(), length,
                        buffer_.begin() + static_cast<std::ptrdiff_t>(offset));
        }
    }
    return mode == kModeDownloadSave ? commit() : Good();
}

Answer EmulatedDrive::readBuffer(std::span<const std::uint8_t> cdb,
                                 std::span<std::uint8_t> dataIn) const {
    const std::uint8_t mode = cdb[1] & 0x1F;
    const std::uint32_t offset = Field24(cdb, 3);
    const std::size_t allocation = Field24(cdb, 6);
    if (cdb[2] != 0)
        return InvalidFieldInCdb();
    if (mode == kModeDescriptor) {
        const std::uint32_t size = std::min<std::size_t>(kBufferCapacity, kMaxField24);
        const std::array<std::uint8_t, 4> descriptor{0x00, static_cast<std::uint8_t>(size >> 16),
                                                     static_cast<std::uint8_t>(size >> 8),
                                                     static_cast<std::uint8_t>(size)};
        return Good(descriptor, allocation, dataIn);
    }
    if (mode != kModeData)
        return InvalidFieldInCdb();
    if (offset > kBufferCapacity)
        return InvalidFieldInCdb();
    if (offset >= buffer_.size())
        return Good();
    return Good(std::span<const std::uint8_t>(buffer_).subspan(offset), allocation, dataIn);
}

Answer EmulatedDrive::commit() {
    ++commits_;
    const auto named = ImageRevision(buffer_);
    if (config_.checkImage && !named) {
        // A refused image stays in the buffer, as the drive keeps it.
        lastImage_ = buffer_;
        return Check(kKeyIllegalRequest, 0x26, 0x00);
    }
    // An accepted image leaves the buffer, so it moves instead of being copied (it can be
    // 16 MiB); the buffer keeps the previous image's storage for the next download.
    lastImage_.swap(buffer_);
    buffer_.clear();
    ++acceptedCommits_;
    pendingRevision_ = named ? *named : revision();
    if (config_.activationPolls == 0) {
        finishActivation();
    } else {
        activating_ = true;
        pollsLeft_ = config_.activationPolls;
    }
    return Good();
}

void EmulatedDrive::finishActivation() {
    activating_ = false;
    PutText(inquiry_, 32, 4, pendingRevision_);
    buffer_.clear();
    unitAttentions_.clear();
    unitAttentions_.emplace_back(0x29, 0x00);
    unitAttentions_.emplace_back(0x3F, 0x01);
}

} // namespace zurvax
