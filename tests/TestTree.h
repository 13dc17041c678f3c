#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace fwtest {

// The checkout's tests/ folder, where the suites' data files are. CTest names it at run time
// (FWUPGRADE_TESTS_DIR, tests/CMakeLists.txt) rather than the build compiling it in, so that
// no object names the checkout it was built from and compiled results serve any other
// (cmake/Ccache.cmake). Run by hand, a suite needs it set the same way.
inline std::filesystem::path TestTree() {
    const char* folder = std::getenv("FWUPGRADE_TESTS_DIR");
    if (folder == nullptr || *folder == '\0') {
        ADD_FAILURE() << "FWUPGRADE_TESTS_DIR is not set: run the suite through ctest, or set it "
                         "to the checkout's tests/ folder";
        return {};
    }
    return folder;
}

} // namespace fwtest
