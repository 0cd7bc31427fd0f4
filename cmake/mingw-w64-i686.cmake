# The Windows build for 32-bit (i686) processors.
set(QARNAUTO_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
