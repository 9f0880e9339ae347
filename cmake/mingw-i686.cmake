# Toolchain for the 32-bit Windows build (mingw-w64, i686): the real target's
# DLLs, components and host tool. 32-bit Wine cannot be installed here, so its
# programs are built and their export tables checked, not run.
set(ZERA_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# No test programs: they run in the x86_64 build (see cmake/windows.cmake).
set(BUILD_TESTING OFF CACHE BOOL "Build the test programs")
