// The library's process-wide state behind the C functions (ZurvaxApi.cpp): the source of
// devices (the OS's, or an emulation), its operations, the devices claimed and the call log.
// One instance, TheLibrary(); every member is used with its mutex held.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "zurvax/EmulatedTransport.h"
#include "zurvax/EmulationConfig.h"
#include "zurvax/FaultInjection.h"
#include "zurvax/Operations.h"
#include "zurvax/Trace.h"
#include "zurvax/Transport.h"

namespace zurvax {

class Library {
public:
    std::mutex mutex;

    // Opens the source if that has not happened yet: the emulation ZURVAX_EMULATION names
    // ("demo" or a file), else the OS's devices.
    void ensureOpen();
    // Back to unopened: the next call opens the source again.
    void reset();
    // transport as the source, with faults on its operations when given.
    void use(std::unique_ptr<Transport> transport, std::optional<FaultRules> faults);
    // config's drives as the source.
    void useEmulation(EmulationConfig config);

    // The operations on the source; on an empty transport while a bad emulation file is in
    // force.
    Operations& operations() { return *operations_; }
    bool failed() const { return openStatus_ != 0; }
    std::uint32_t openStatus() const { return openStatus_; }
    const std::string& message() const { return message_; }
    const EmulatedTransport* emulated() const { return emulated_; }
    // Devices claimed and not released since the source was opened.
    std::set<std::uint32_t>& claimed() { return claimed_; }
    // The line is built only when tracing is on: most runs never trace, and every buffer
    // call of a transfer would otherwise format one.
    template <typename MakeLine> void trace(MakeLine makeLine) const {
        if (trace_.enabled())
            trace_.write(makeLine());
    }
    // A state file the last call could not write, told once after that call's own line:
    // the next run would find the drive with firmware it no longer holds.
    void traceStateFailure();

private:
    void open();
    void adoptEmulation(EmulationConfig config);
    void refuse(const std::string& message);
    void adopt(std::unique_ptr<Transport> transport, std::optional<FaultRules> faults = {},
               EmulatedTransport* emulated = nullptr);

    bool opened_ = false;
    std::set<std::uint32_t> claimed_;
    std::uint32_t openStatus_ = 0;
    std::string message_;
    std::unique_ptr<Transport> transport_;
    // After transport_, which it refers to: members go in reverse order.
    std::unique_ptr<Operations> operations_;
    EmulatedTransport* emulated_ = nullptr;
    TraceLog trace_;
};

// The one instance.
Library& TheLibrary();

} // namespace zurvax
