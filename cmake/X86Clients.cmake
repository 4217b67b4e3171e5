# What 32-bit OPC clients need, built for i686 with every win64 build: this source tree configured
# again with the 32-bit toolchain in x86/ (TW_X86_CLIENT_ONLY), its binaries in bin/x86/:
#   TarnowickPS32.dll   the proxy/stub of the OPC interfaces for 32-bit processes
#   opcda-cli32.exe     opcda-cli as a 32-bit client
include(ExternalProject)
set(TW_X86_BIN ${CMAKE_BINARY_DIR}/bin/x86)
set(TW_X86_PROXY ${TW_X86_BIN}/TarnowickPS32.dll)
set(TW_X86_CLI ${TW_X86_BIN}/opcda-cli32.exe)
ExternalProject_Add(tw_x86
  SOURCE_DIR ${CMAKE_SOURCE_DIR}
  BINARY_DIR ${CMAKE_BINARY_DIR}/x86
  CMAKE_GENERATOR ${CMAKE_GENERATOR}
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-w64-i686.cmake
             -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE} -DTW_X86_CLIENT_ONLY=ON -DTW_X86_OUTPUT_DIR=${TW_X86_BIN}
  BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target TarnowickPS opcda-cli
  # Its sources are this tree's: ask its own build tool every time whether anything changed.
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${TW_X86_PROXY} ${TW_X86_CLI}
  INSTALL_COMMAND "")
