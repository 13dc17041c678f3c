// The C functions of zurvax/ZurvaxApi.h and the C++ seam of zurvax/Zurvax.h, over the one
// process-wide library state (zurvax/Library.h) guarded by its mutex.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "zurvax/Library.h"
#include "zurvax/Zurvax.h"
#include "zurvax/ZurvaxApi.h"
#include "zurvax/ZurvaxStatus.h"

namespace zurvax {
namespace {

std::string Hex(std::uint32_t status) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(status));
    return text;
}

// Runs body(library) under the lock with the source open. An exception (out of memory,
// a failing mutex) becomes fallback instead of crossing the C boundary.
template <typename Result, typename Body> Result Call(Result fallback, Body body) {
    try {
        Library& library = TheLibrary();
        std::lock_guard lock(library.mutex);
        library.ensureOpen();
        Result result = body(library);
        library.traceStateFailure();
        return result;
    } catch (const std::exception&) {
        return fallback;
    }
}

} // namespace

void Reset() {
    Library& library = TheLibrary();
    std::lock_guard lock(library.mutex);
    library.reset();
}

void UseTransport(std::unique_ptr<Transport> transport) {
    Library& library = TheLibrary();
    std::lock_guard lock(library.mutex);
    library.use(std::move(transport), std::nullopt);
}

void UseTransport(std::unique_ptr<Transport> transport, FaultRules faults) {
    Library& library = TheLibrary();
    std::lock_guard lock(library.mutex);
    library.use(std::move(transport), std::move(faults));
}

void UseEmulation(EmulationConfig config) {
    Library& library = TheLibrary();
    std::lock_guard lock(library.mutex);
    library.useEmulation(std::move(config));
}

std::optional<DriveState> EmulatedDriveState(std::uint32_t index) {
    Library& library = TheLibrary();
    std::lock_guard lock(library.mutex);
    library.ensureOpen();
    const EmulatedTransport* emulated = library.emulated();
    const EmulatedDrive* drive = emulated == nullptr ? nullptr : emulated->drive(index);
    if (drive == nullptr)
        return std::nullopt;
    DriveState state;
    state.inquiry = drive->inquiry();
    state.revision = drive->revision();
    state.serial = drive->serial();
    state.buffer = drive->buffer();
    state.lastImage = drive->lastImage();
    state.commits = drive->commits();
    state.acceptedCommits = drive->acceptedCommits();
    state.activating = drive->activating();
    state.cdbs = drive->cdbLog();
    return state;
}

std::string EmulatedStateError() {
    Library& library = TheLibrary();
    std::lock_guard lock(library.mutex);
    library.ensureOpen();
    const EmulatedTransport* emulated = library.emulated();
    return emulated == nullptr ? std::string() : emulated->stateError();
}

} // namespace zurvax

using zurvax::Library;

namespace {

// Outside the C block: a function returning a C++ object cannot have C linkage.
std::string BufferCall(const char* name, uint32_t index, uint8_t mode, uint8_t bufferId,
                       uint32_t offset, uint32_t length, uint32_t status) {
    return std::string(name) + " " + std::to_string(index) + " mode=" + std::to_string(mode) +
           " id=" + std::to_string(bufferId) + " offset=" + std::to_string(offset) +
           " length=" + std::to_string(length) + " -> " + zurvax::Hex(status);
}

} // namespace

extern "C" {

uint8_t GetDeviceType(uint32_t index) {
    return zurvax::Call<uint8_t>(NO_DEVICE_TYPE, [&](Library& library) {
        const uint8_t type =
            library.failed() ? uint8_t{NO_DEVICE_TYPE} : library.operations().deviceType(index);
        library.trace([&] {
            return "GetDeviceType " + std::to_string(index) + " -> " + std::to_string(type);
        });
        return type;
    });
}

uint32_t ReadRawInquiryData(uint32_t index, INQUIRY_DATA* data) {
    return zurvax::Call<uint32_t>(ZURVAX_STATUS_OS_ERROR, [&](Library& library) {
        const uint32_t status =
            library.failed() ? library.openStatus() : library.operations().inquiry(index, data);
        library.trace([&] {
            return "ReadRawInquiryData " + std::to_string(index) + " -> " + zurvax::Hex(status);
        });
        return status;
    });
}

SCSI_PATH GetScsiPath(uint32_t index) {
    return zurvax::Call<SCSI_PATH>(SCSI_PATH{}, [&](Library& library) {
        const zurvax::DevicePath path =
            library.failed() ? zurvax::DevicePath{} : library.operations().path(index);
        SCSI_PATH result{};
        std::memcpy(result.bytes, path.data(), sizeof result.bytes);
        char text[12];
        std::snprintf(text, sizeof text, "%02x%02x%02x%02x", path[0], path[1], path[2], path[3]);
        library.trace([&] { return "GetScsiPath " + std::to_string(index) + " -> " + text; });
        return result;
    });
}

uint32_t GetDeviceNodes(uint32_t index, DEVICE_NODES* nodes) {
    return zurvax::Call<uint32_t>(ZURVAX_STATUS_OS_ERROR, [&](Library& library) {
        const uint32_t status =
            library.failed() ? library.openStatus() : library.operations().nodes(index, nodes);
        library.trace([&] {
            return "GetDeviceNodes " + std::to_string(index) + " -> " + zurvax::Hex(status);
        });
        return status;
    });
}

uint32_t TestUnitReady(uint32_t index) {
    return zurvax::Call<uint32_t>(ZURVAX_STATUS_OS_ERROR, [&](Library& library) {
        const uint32_t status =
            library.failed() ? library.openStatus() : library.operations().testUnitReady(index);
        library.trace([&] {
            return "TestUnitReady " + std::to_string(index) + " -> " + zurvax::Hex(status);
        });
        return status;
    });
}

uint32_t RequestSense(uint32_t index, SENSE_DATA* sense) {
    return zurvax::Call<uint32_t>(ZURVAX_STATUS_OS_ERROR, [&](Library& library) {
        const uint32_t status = library.failed() ? library.openStatus()
                                                 : library.operations().requestSense(index, sense);
        library.trace(
            [&] { return "RequestSense " + std::to_string(index) + " -> " + zurvax::Hex(status); });
        return status;
    });
}

uint32_t WriteBuffer(uint32_t index, uint8_t mode, uint8_t bufferId, uint32_t offset,
                     uint32_t length, uint8_t* data) {
    return zurvax::Call<uint32_t>(ZURVAX_STATUS_OS_ERROR, [&](Library& library) {
        const uint32_t status =
            library.failed()
                ? library.openStatus()
                : library.operations().writeBuffer(index, mode, bufferId, offset, length, data);
        library.trace([&] {
            return BufferCall("WriteBuffer", index, mode, bufferId, offset, length, status);
        });
        return status;
    });
}

uint32_t ReadBuffer(uint32_t index, uint8_t mode, uint8_t bufferId, uint32_t offset,
                    uint32_t length, uint8_t* data) {
    return zurvax::Call<uint32_t>(ZURVAX_STATUS_OS_ERROR, [&](Library& library) {
        const uint32_t status =
            library.failed()
                ? library.openStatus()
                : library.operations().readBuffer(index, mode, bufferId, offset, length, data);
        library.trace([&] {
            return BufferCall("ReadBuffer", index, mode, bufferId, offset, length, status);
        });
        return status;
    });
}

uint32_t ReadSerialNumber(uint32_t index, char* serial, uint32_t size) {
    return zurvax::Call<uint32_t>(ZURVAX_STATUS_OS_ERROR, [&](Library& library) {
        const uint32_t status = library.failed()
                                    ? library.openStatus()
                                    : library.operations().serialNumber(index, serial, size);
        library.trace([&] {
            std::string line =
                "ReadSerialNumber " + std::to_string(index) + " -> " + zurvax::Hex(status);
            if (status != 0)
                return line;
            // The device's text, kept to one printable line.
            line += " serial=";
            for (const char* c = serial; *c != '\0'; ++c)
                line += (*c >= 0x20 && *c <= 0x7E) ? *c : '?';
            return line;
        });
        return status;
    });
}

uint32_t ClaimDevice(uint32_t index) {
    return zurvax::Call<uint32_t>(ZURVAX_STATUS_OS_ERROR, [&](Library& library) {
        uint32_t status = library.openStatus();
        if (!library.failed()) {
            status = library.claimed().count(index) != 0 ? ZURVAX_STATUS_DEVICE_IN_USE
                                                         : library.operations().claim(index);
            if (status == 0 || status == ZURVAX_STATUS_CLAIMED_WITHOUT_LOCK)
                library.claimed().insert(index);
        }
        library.trace(
            [&] { return "ClaimDevice " + std::to_string(index) + " -> " + zurvax::Hex(status); });
        return status;
    });
}

uint32_t ReleaseDevice(uint32_t index) {
    return zurvax::Call<uint32_t>(ZURVAX_STATUS_OS_ERROR, [&](Library& library) {
        uint32_t status = library.openStatus();
        if (!library.failed()) {
            status = library.operations().release(index);
            if (status == 0)
                library.claimed().erase(index);
        }
        library.trace([&] {
            return "ReleaseDevice " + std::to_string(index) + " -> " + zurvax::Hex(status);
        });
        return status;
    });
}

uint32_t ZurvaxOpen(char* message, uint32_t size) {
    return zurvax::Call<uint32_t>(ZURVAX_STATUS_OS_ERROR, [&](Library& library) {
        if (message != nullptr && size != 0) {
            const std::string& text = library.message();
            const std::size_t count = std::min<std::size_t>(text.size(), size - 1);
            std::memcpy(message, text.data(), count);
            message[count] = '\0';
        }
        library.trace([&] { return "ZurvaxOpen -> " + zurvax::Hex(library.openStatus()); });
        return library.openStatus();
    });
}

} // extern "C"
