# Toolchain for the 64-bit Windows build (mingw-w64). Its programs run under
# Debian's wine64, which installs its launcher outside PATH.
set(ZERA_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
find_program(ZERA_WINE64 wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(ZERA_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZERA_WINE64})
endif()
set(ZERA_GTEST_FROM_SOURCE ON CACHE BOOL "" FORCE)
