# Windows builds (mingw-w64): the two DLLs carry their plain names
# (VOQ_OSAL.dll, VOQ_ZERA_Comp.dll) and take their export tables from
# src/exports/*.def. Included by the top CMakeLists.txt once both libraries
# exist.
#
# The .def files name each __stdcall operation with its i686 argument-size
# suffix ("@8"). On i686 the link strips the suffix from the exported names
# (--kill-at) and refuses a suffix that does not match the function
# (--disable-stdcall-fixup); the import library, which must keep the suffix
# for callers compiled against the headers, is made by dlltool from the same
# file. x86_64 has no suffixes: they are dropped from its copy of the files.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(ZERA_WIN_I686 ON)
else()
  set(ZERA_WIN_I686 OFF)
endif()

if(ZERA_WIN_I686 AND BUILD_TESTING)
  # The test programs reach test hooks and internals that the .def files do
  # not list, so dlltool's import libraries lack them; the suite runs on the
  # x86_64 build under wine64 instead.
  message(FATAL_ERROR "The i686 Windows build makes the DLLs, components and host tool only: "
                      "configure it with -DBUILD_TESTING=OFF (the tests run in the x86_64 build).")
endif()

foreach(lib VOQ_OSAL VOQ_ZERA_Comp)
  set(def_source ${CMAKE_SOURCE_DIR}/src/exports/${lib}.def)
  set(def ${CMAKE_BINARY_DIR}/exports/${lib}.def)
  file(READ ${def_source} text)
  if(NOT ZERA_WIN_I686)
    string(REGEX REPLACE "([A-Za-z0-9_])@[0-9]+" "\\1" text "${text}")
  endif()
  file(WRITE ${def}.new "${text}")
  configure_file(${def}.new ${def} COPYONLY)
  set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def_source})

  target_sources(${lib} PRIVATE ${def})
  set_target_properties(${lib} PROPERTIES PREFIX "")
  if(ZERA_WIN_I686)
    # Users of the platform layer import it by ordinal: its import library
    # comes from a copy of the file whose numbered entries say NONAME (the
    # DLL keeps the names).
    set(import_def ${def})
    if(lib STREQUAL "VOQ_OSAL")
      set(import_def ${CMAKE_BINARY_DIR}/exports/${lib}.import.def)
      string(REGEX REPLACE "([ \t]@[0-9]+)[ \t]+DATA\n" "\\1 NONAME DATA\n" text "${text}")
      string(REGEX REPLACE "([ \t]@[0-9]+)\n" "\\1 NONAME\n" text "${text}")
      file(WRITE ${import_def}.new "${text}")
      configure_file(${import_def}.new ${import_def} COPYONLY)
    endif()
    target_link_options(${lib} PRIVATE -Wl,--kill-at -Wl,--disable-stdcall-fixup)
    add_custom_command(TARGET ${lib} POST_BUILD
      COMMAND ${CMAKE_DLLTOOL} --kill-at --input-def ${import_def} --dllname $<TARGET_FILE_NAME:${lib}>
              --output-lib $<TARGET_LINKER_FILE:${lib}>
      COMMENT "Import library of ${lib}.dll with the __stdcall suffixes")
  endif()
endforeach()

