# The same Windows code as 64-bit. Not shipped: it exists so the Windows tests can run under
# Wine on hosts whose kernel will not start 32-bit Linux programs (Wine's 32-bit loader is one).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(FW_MINGW_TRIPLE x86_64-w64-mingw32)
set(FW_WINE_ARCH win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
