# What the two mingw-w64 toolchain files share; each sets ZERA_MINGW_ARCH
# (i686 or x86_64) and ZERA_MINGW_WINE (the Wine launcher that runs its
# programs) before including it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${ZERA_MINGW_ARCH})
set(CMAKE_C_COMPILER ${ZERA_MINGW_ARCH}-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZERA_MINGW_ARCH}-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER ${ZERA_MINGW_ARCH}-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ZERA_MINGW_ARCH}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# The compiler's runtime goes into every program, so that no DLL of the
# compiler has to travel (or be found by Wine) with them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
# Debian installs the Wine launchers outside PATH. Without one the programs
# are built, not run.
find_program(ZERA_WINE ${ZERA_MINGW_WINE} PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(ZERA_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZERA_WINE})
endif()
set(ZERA_GTEST_FROM_SOURCE ON CACHE BOOL "" FORCE)
