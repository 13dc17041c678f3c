// The program's side of ZURVAX.dll: the contract's functions, forwarded to the DLL that
// sits beside the executable.
//
// The DLL is loaded explicitly, by its full path in the executable's own folder, instead
// of being imported by name: for an imported DLL the loader would try the application
// folder first but, when the file is missing there, go on to the current directory and
// the search path, where anybody could have planted a ZURVAX.dll. Loaded this way a
// missing DLL is simply missing: ZurvaxOpen reports it, the program tells the operator
// and stops. LOAD_WITH_ALTERED_SEARCH_PATH makes the DLL's own imports resolve from its
// folder too (it needs only system DLLs).
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "zurvax/ZurvaxApi.h"

namespace {

constexpr char kDllName[] = "ZURVAX.dll";

struct Imports {
    decltype(&GetDeviceType) getDeviceType = nullptr;
    decltype(&ReadRawInquiryData) readRawInquiryData = nullptr;
    decltype(&GetScsiPath) getScsiPath = nullptr;
    decltype(&GetDeviceNodes) getDeviceNodes = nullptr;
    decltype(&TestUnitReady) testUnitReady = nullptr;
    decltype(&RequestSense) requestSense = nullptr;
    decltype(&WriteBuffer) writeBuffer = nullptr;
    decltype(&ReadBuffer) readBuffer = nullptr;
    decltype(&ReadSerialNumber) readSerialNumber = nullptr;
    decltype(&ClaimDevice) claimDevice = nullptr;
    decltype(&ReleaseDevice) releaseDevice = nullptr;
    decltype(&ZurvaxOpen) zurvaxOpen = nullptr;
};

// The DLL, loaded once on first use from any thread; it stays loaded for the process.
class ZurvaxModule {
public:
    // The imports, or nullptr when the DLL could not be loaded (Failure() says why).
    const Imports* Get() {
        std::call_once(m_once, [this] { Load(); });
        return m_loaded ? &m_imports : nullptr;
    }
    const std::string& Failure() const { return m_failure; }

private:
    template <typename Function> bool Bind(::HMODULE module, Function& slot, const char* name) {
        // Through void (*)(): the one function pointer type any other may be cast to.
        slot = reinterpret_cast<Function>(
            reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
        if (slot == nullptr && m_failure.empty()) {
            m_failure = std::string(kDllName) + " has no function " + name;
        }
        return slot != nullptr;
    }

    void Load() {
        std::string path(MAX_PATH, '\0');
        ::DWORD length = 0;
        for (;;) {
            length = ::GetModuleFileNameA(nullptr, path.data(), static_cast<::DWORD>(path.size()));
            if (length == 0 || length < path.size()) {
                break;
            }
            path.resize(path.size() * 2);
        }
        path.resize(length);
        const auto slash = path.find_last_of("\\/");
        path.erase(slash == std::string::npos ? 0 : slash + 1);
        if (path.empty()) {
            // Without its own folder the program has no safe place to load the DLL from.
            m_failure = std::string(kDllName) + ": the program's folder is unknown";
            return;
        }
        path += kDllName;
        ::HMODULE module = ::LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (module == nullptr) {
            char text[64];
            std::snprintf(text, sizeof text, " (error %lu)",
                          static_cast<unsigned long>(::GetLastError()));
            m_failure = path + " could not be loaded" + text;
            return;
        }
        // Bound into a copy: the imports become visible whole or not at all.
        Imports imports;
        const bool bound = Bind(module, imports.getDeviceType, "GetDeviceType") &&
                           Bind(module, imports.readRawInquiryData, "ReadRawInquiryData") &&
                           Bind(module, imports.getScsiPath, "GetScsiPath") &&
                           Bind(module, imports.getDeviceNodes, "GetDeviceNodes") &&
                           Bind(module, imports.testUnitReady, "TestUnitReady") &&
                           Bind(module, imports.requestSense, "RequestSense") &&
                           Bind(module, imports.writeBuffer, "WriteBuffer") &&
                           Bind(module, imports.readBuffer, "ReadBuffer") &&
                           Bind(module, imports.readSerialNumber, "ReadSerialNumber") &&
                           Bind(module, imports.claimDevice, "ClaimDevice") &&
                           Bind(module, imports.releaseDevice, "ReleaseDevice") &&
                           Bind(module, imports.zurvaxOpen, "ZurvaxOpen");
        if (!bound) {
            ::FreeLibrary(module);
            return;
        }
        m_imports = imports;
        m_loaded = true;
    }

    std::once_flag m_once;
    bool m_loaded = false;
    Imports m_imports;
    std::string m_failure;
};

ZurvaxModule g_zurvax;

// The status every operation answers while there is no library behind it.
constexpr uint32_t kNoLibrary = ZURVAX_STATUS_OS_ERROR;

} // namespace

extern "C" {

uint8_t GetDeviceType(uint32_t index) {
    const Imports* dll = g_zurvax.Get();
    return dll != nullptr ? dll->getDeviceType(index) : uint8_t{NO_DEVICE_TYPE};
}

uint32_t ReadRawInquiryData(uint32_t index, INQUIRY_DATA* data) {
    const Imports* dll = g_zurvax.Get();
    return dll != nullptr ? dll->readRawInquiryData(index, data) : kNoLibrary;
}

SCSI_PATH GetScsiPath(uint32_t index) {
    const Imports* dll = g_zurvax.Get();
    return dll != nullptr ? dll->getScsiPath(index) : SCSI_PATH{};
}

uint32_t GetDeviceNodes(uint32_t index, DEVICE_NODES* nodes) {
    const Imports* dll = g_zurvax.Get();
    return dll != nullptr ? dll->getDeviceNodes(index, nodes) : kNoLibrary;
}

uint32_t TestUnitReady(uint32_t index) {
    const Imports* dll = g_zurvax.Get();
    return dll != nullptr ? dll->testUnitReady(index) : kNoLibrary;
}

uint32_t RequestSense(uint32_t index, SENSE_DATA* sense) {
    const Imports* dll = g_zurvax.Get();
    return dll != nullptr ? dll->requestSense(index, sense) : kNoLibrary;
}

uint32_t WriteBuffer(uint32_t index, uint8_t mode, uint8_t bufferId, uint32_t offset,
                     uint32_t length, uint8_t* data) {
    const Imports* dll = g_zurvax.Get();
    return dll != nullptr ? dll->writeBuffer(index, mode, bufferId, offset, length, data)
                          : kNoLibrary;
}

uint32_t ReadBuffer(uint32_t index, uint8_t mode, uint8_t bufferId, uint32_t offset,
                    uint32_t length, uint8_t* data) {
    const Imports* dll = g_zurvax.Get();
    return dll != nullptr ? dll->readBuffer(index, mode, bufferId, offset, length, data)
                          : kNoLibrary;
}

uint32_t ReadSerialNumber(uint32_t index, char* serial, uint32_t size) {
    const Imports* dll = g_zurvax.Get();
    return dll != nullptr ? dll->readSerialNumber(index, serial, size) : kNoLibrary;
}

uint32_t ClaimDevice(uint32_t index) {
    const Imports* dll = g_zurvax.Get();
    return dll != nullptr ? dll->claimDevice(index) : kNoLibrary;
}

uint32_t ReleaseDevice(uint32_t index) {
    const Imports* dll = g_zurvax.Get();
    return dll != nullptr ? dll->releaseDevice(index) : kNoLibrary;
}

uint32_t ZurvaxOpen(char* message, uint32_t size) {
    const Imports* dll = g_zurvax.Get();
    if (dll != nullptr) {
        return dll->zurvaxOpen(message, size);
    }
    if (message != nullptr && size > 0) {
        std::snprintf(message, size, "%s", g_zurvax.Failure().c_str());
    }
    return kNoLibrary;
}

} // extern "C"
