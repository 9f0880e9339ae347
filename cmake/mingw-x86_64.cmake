# Toolchain for the 64-bit Windows build (mingw-w64): its programs run under
# Debian's wine64.
set(ZERA_MINGW_ARCH x86_64)
set(ZERA_MINGW_WINE wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
