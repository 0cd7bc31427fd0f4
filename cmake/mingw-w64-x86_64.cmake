# The Windows build for 64-bit (x86_64) processors.
set(QARNAUTO_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
