#include "zurvax/Library.h"

#include <cstdlib>
#include <utility>
#include <variant>

#include "zurvax/KeptState.h"
#include "zurvax/RealTransport.h"
#include "zurvax/ZurvaxStatus.h"

namespace zurvax {
namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

} // namespace

void Library::ensureOpen() {
    if (opened_)
        return;
    open();
    const std::string emulation = Env("ZURVAX_EMULATION");
    if (emulation.empty()) {
        adopt(MakeRealTransport());
        return;
    }
    ConfigOutcome outcome =
        emulation == "demo" ? ConfigOutcome(DemoEmulation()) : LoadEmulationFile(emulation);
    if (auto* error = std::get_if<ConfigError>(&outcome)) {
        refuse(error->message);
        return;
    }
    adoptEmulation(std::move(std::get<EmulationConfig>(outcome)));
}

void Library::reset() {
    claimed_.clear();
    opened_ = false;
    openStatus_ = 0;
    message_.clear();
    operations_.reset();
    transport_.reset();
    emulated_ = nullptr;
    trace_.setPath({});
}

void Library::use(std::unique_ptr<Transport> transport, std::optional<FaultRules> faults) {
    reset();
    open();
    adopt(std::move(transport), std::move(faults));
}

void Library::useEmulation(EmulationConfig config) {
    reset();
    open();
    adoptEmulation(std::move(config));
}

void Library::traceStateFailure() {
    if (emulated_ == nullptr)
        return;
    const std::string failure = emulated_->takeStateReport();
    if (!failure.empty())
        trace([&] { return "state file not written: " + failure; });
}

void Library::open() {
    opened_ = true;
    trace_.setPath(Env("ZURVAX_TRACE"));
}

// config's drives, with what its state file holds (read now) applied.
void Library::adoptEmulation(EmulationConfig config) {
    KeptState kept;
    if (!config.stateFile.empty()) {
        KeptStateOutcome loaded = LoadKeptState(config.stateFile);
        // A state that cannot be read is never taken for a first run: the drives would
        // come up with firmware they no longer hold.
        if (auto* error = std::get_if<ConfigError>(&loaded)) {
            refuse(error->message);
            return;
        }
        kept = std::move(std::get<KeptState>(loaded));
        ApplyKeptState(kept, config);
    }
    FaultRules faults = FaultRulesOf(config);
    auto emulated = std::make_unique<EmulatedTransport>(std::move(config), std::move(kept));
    EmulatedTransport* raw = emulated.get();
    adopt(std::move(emulated), std::move(faults), raw);
}

// No devices, and every operation failing with the emulation's message.
void Library::refuse(const std::string& message) {
    openStatus_ = ZURVAX_STATUS_BAD_EMULATION_FILE;
    message_ = message;
    adopt(std::make_unique<EmptyTransport>());
}

// transport with the plain operations, or with faults on them: only an emulation's drives
// have any, and the operations of the OS's devices carry none.
void Library::adopt(std::unique_ptr<Transport> transport, std::optional<FaultRules> faults,
                    EmulatedTransport* emulated) {
    operations_.reset();
    transport_ = std::move(transport);
    if (faults)
        operations_ = std::make_unique<FaultyOperations>(*transport_, std::move(*faults));
    else
        operations_ = std::make_unique<Operations>(*transport_);
    emulated_ = emulated;
    if (openStatus_ == 0)
        message_ = transport_->describe();
}

Library& TheLibrary() {
    static Library library;
    return library;
}

} // namespace zurvax
