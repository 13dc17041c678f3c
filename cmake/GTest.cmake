# GoogleTest for the tests: Debian's packaged build natively; for a cross build the
# sources Debian ships in /usr/src/googletest are compiled with the cross compiler.
include_guard(GLOBAL)
if(CMAKE_CROSSCOMPILING)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  # Third-party code: it gets googletest's own flags, never our warning set.
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  # googletest 1.12 defines the GTest:: names itself; older copies did not.
  foreach(_lib gtest gtest_main gmock gmock_main)
    if(NOT TARGET GTest::${_lib})
      add_library(GTest::${_lib} ALIAS ${_lib})
    endif()
  endforeach()
else()
  find_package(GTest REQUIRED)
endif()
