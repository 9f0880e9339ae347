# cmake/test-exports.cmake - run as a script (cmake -P) after an i686 DLL with
# the test hooks is linked: writes OUT, the import .def SOURCE plus every
# export of the linker's own .def (LINKER) that SOURCE lacks, by name, with
# its __stdcall suffix where it has one ("X = X@4" in the linker's file).
cmake_minimum_required(VERSION 3.16)
file(READ ${SOURCE} text)
file(STRINGS ${LINKER} lines)
string(REGEX MATCHALL "\n[ \t]*[A-Za-z_][A-Za-z0-9_]*" listed "${text}")
string(REGEX REPLACE "[\n \t]" "" listed "${listed}")
foreach(line ${lines})
  if(line MATCHES "^[ \t]+([A-Za-z0-9_?@$]+)( = ([^ \t]+))?[ \t]+@[0-9]+( DATA)?")
    set(name ${CMAKE_MATCH_1})
    if(NOT name IN_LIST listed)
      if(CMAKE_MATCH_3)
        set(name ${CMAKE_MATCH_3})
      endif()
      string(APPEND text "${name}${CMAKE_MATCH_4}\n")
    endif()
  endif()
endforeach()
file(WRITE ${OUT} "${text}")
