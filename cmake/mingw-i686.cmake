# Toolchain for the 32-bit Windows build (mingw-w64, i686): the real target's
# DLLs, components, host tool and test programs, run under Debian's 32-bit
# Wine (wine32:i386) when it is installed.
set(ZERA_MINGW_ARCH i686)
set(ZERA_MINGW_WINE wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
