# Builds for Windows with Debian's mingw-w64 (POSIX threads, for
# std::thread), running what it builds (test discovery, tests) under Wine
# in a prefix of the tests' own (scripts/wine_run.sh). Included by the
# toolchain file of each processor, which sets QARNAUTO_MINGW_ARCH.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${QARNAUTO_MINGW_ARCH})
set(CMAKE_C_COMPILER ${QARNAUTO_MINGW_ARCH}-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER ${QARNAUTO_MINGW_ARCH}-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER ${QARNAUTO_MINGW_ARCH}-w64-mingw32-windres)
# The cross-built libraries (scripts/windows_deps.sh) beside mingw's own.
set(QARNAUTO_WINDOWS_PREFIX "" CACHE PATH "Where scripts/windows_deps.sh put the libraries")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QARNAUTO_WINDOWS_PREFIX)
if(QARNAUTO_WINDOWS_PREFIX)
  set(ENV{PKG_CONFIG_LIBDIR} "${QARNAUTO_WINDOWS_PREFIX}/lib/pkgconfig")
endif()
set(CMAKE_FIND_ROOT_PATH /usr/${QARNAUTO_MINGW_ARCH}-w64-mingw32 ${QARNAUTO_WINDOWS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine_run.sh)
