# Shared by both mingw toolchain files; they set FW_MINGW_TRIPLE and FW_WINE_ARCH first.
set(CMAKE_C_COMPILER ${FW_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${FW_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${FW_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${FW_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The runtime (libgcc, libstdc++, winpthread) goes inside each binary, so the program needs
# only the DLLs every Windows has, plus ZURVAX.dll.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Debian's nlohmann-json package is header-only but installs into /usr/include, which a cross
# build must never search whole (glibc's headers would shadow mingw's).
set(nlohmann_json_DIR ${CMAKE_CURRENT_LIST_DIR}/cross/nlohmann_json CACHE PATH "" FORCE)

# Lets CTest (and add_custom_command with a target as command) run the .exe under Wine.
if(NOT DEFINED FWUPGRADE_WINEPREFIX)
  set(FWUPGRADE_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh --arch ${FW_WINE_ARCH} --prefix ${FWUPGRADE_WINEPREFIX})
