# Linux host -> 32-bit Windows with MinGW-w64: the win64 build uses it for what 32-bit OPC clients need
# (cmake/X86Clients.cmake).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(TW_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
