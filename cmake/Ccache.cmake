# Compiles through ccache where it is installed (scripts/install-deps.sh test), so that a
# fresh clone, or a checkout at another path, compiles only the units a change reaches: its
# results are keyed by content and live in ccache's own folder (~/.cache/ccache, or
# $CCACHE_DIR; `ccache -C` empties it). FWUPGRADE_CCACHE=OFF compiles directly; the static
# step's analysis builds do: the prefix map below would enter their compile commands, which
# clang-tidy compiles with and keys its cached results by.
#
# For results to serve another checkout, nothing a unit is compiled from may name this one:
#  - the checkout's own paths on the command line become relative (base_dir);
#  - the absolute paths CMake writes into the unity files, and __FILE__ in assert() and
#    GoogleTest, are mapped to relative ones (-ffile-prefix-map); so is the debug information,
#    whose files are then named from the checkout's root (run gdb there);
#  - test data is found at run time (tests/CMakeLists.txt sets FWUPGRADE_TESTS_DIR), never
#    compiled in.
# Precompiled headers need ccache told that their defines and time macros do not matter,
# and clang told not to record the headers' times in them (a header checked out later would
# otherwise make a cached one unusable). Even so clang's serve no other checkout: clang takes
# the header by absolute path inside -Xclang arguments, which base_dir leaves alone, so
# tests/CMakeLists.txt leaves them out of clang builds through ccache.
option(FWUPGRADE_CCACHE "Compile through ccache when it is installed" ON)
if(FWUPGRADE_CCACHE)
  find_program(FWUPGRADE_CCACHE_PROGRAM ccache)
  if(FWUPGRADE_CCACHE_PROGRAM)
    set(_launcher env "CCACHE_BASEDIR=${CMAKE_SOURCE_DIR}" "CCACHE_SLOPPINESS=pch_defines,time_macros"
        ${FWUPGRADE_CCACHE_PROGRAM})
    set(CMAKE_C_COMPILER_LAUNCHER ${_launcher})
    set(CMAKE_CXX_COMPILER_LAUNCHER ${_launcher})
    # C and C++ only: the resource compiler takes no such options.
    add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=>")
    if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
      add_compile_options("SHELL:-Xclang -fno-pch-timestamp")
    endif()
  endif()
endif()
