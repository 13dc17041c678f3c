// The library's C++ side, for tests and tools built with zurvax_core (never exported from
// ZURVAX.dll). The C functions of zurvax/ZurvaxApi.h sit on top of this state.
//
// Source selection happens once, at the first call after start or after Reset():
//   ZURVAX_EMULATION unset or empty  -> the OS's devices (MakeRealTransport)
//   ZURVAX_EMULATION=demo            -> the built-in set (zurvax/EmulationConfig.h)
//   ZURVAX_EMULATION=<path>          -> that JSON file; a bad file leaves the library with
//                                       no devices and every operation failing with
//                                       ZURVAX_STATUS_BAD_EMULATION_FILE until Reset()
//   ZURVAX_TRACE=<path>              -> each C call appends one line to that file, e.g.
//                                       "WriteBuffer 0 mode=2 id=0 offset=0 length=8192 -> 0",
//                                       "ReadSerialNumber 0 -> 0 serial=EMU0000001"
//                                       (ZurvaxOpen itself traces "ZurvaxOpen -> <status>";
//                                       a state file not written adds a line of its own)
//
// All functions here are thread-safe among themselves and with the C functions.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "zurvax/EmulatedDrive.h"
#include "zurvax/EmulationConfig.h"
#include "zurvax/FaultInjection.h"
#include "zurvax/Transport.h"

namespace zurvax {

// Forgets the opened source, its drives' state and the trace file; the next call reads
// the environment again.
void Reset();

// Makes transport the library's source until the next Reset(), as if it had been opened
// (ZurvaxOpen returns 0). ZURVAX_TRACE is read now. For tests with transport doubles.
void UseTransport(std::unique_ptr<Transport> transport);
// The same, with an emulation's fault rules on the library's calls, faults[i] on device i:
// for doubles that hand their commands on to emulated drives.
void UseTransport(std::unique_ptr<Transport> transport, FaultRules faults);

// Makes config's drives the library's source until the next Reset(), as if ZURVAX_EMULATION
// named a file holding config: its fault rules apply, and its state file is read now (one
// that cannot be read fails every operation as a bad file does). ZURVAX_TRACE is read now.
void UseEmulation(EmulationConfig config);

// A copy of what an emulated drive holds right now.
struct DriveState {
    InquiryBytes inquiry{};
    std::string revision;                        // INQUIRY bytes 32-35
    std::string serial;                          // Unit Serial Number page
    std::vector<std::uint8_t> buffer;            // data buffer (mode 2 writes)
    std::vector<std::uint8_t> lastImage;         // taken by the last mode-5 WRITE BUFFER
    unsigned commits = 0;                        // mode-5 WRITE BUFFERs that got to the image
    unsigned acceptedCommits = 0;                // of those, images the drive accepted
    bool activating = false;                     // answering NOT READY 04/01
    std::vector<std::vector<std::uint8_t>> cdbs; // every CDB received, oldest first
};

// The emulated drive at index, opening the library first if needed; nullopt when the
// source is not an emulation or index lies past the last device.
std::optional<DriveState> EmulatedDriveState(std::uint32_t index);

// Why the emulation's state file could not be written the last time a drive's firmware
// changed (the trace also has it, as "state file not written: <why>"); empty when it was
// written, when no state is kept, or when the source is not an emulation.
std::string EmulatedStateError();

} // namespace zurvax
