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
#
# A build with the test hooks exports what the tests reach beyond the .def
# (ZERA_TEST_VISIBLE and the hooks, marked dllexport), as on the other
# targets. x86_64's linker puts them into its import library by itself; on
# i686 the linker writes every export into a .def of its own, and the names
# that the source .def lacks are added to dlltool's input, so that the test
# programs link through the same import libraries a host uses, plus those.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(ZERA_WIN_I686 ON)
else()
  set(ZERA_WIN_I686 OFF)
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
    # An MSVC user makes the import library from this file: lib /def:<file>.
    install(FILES ${import_def} DESTINATION ${CMAKE_INSTALL_LIBDIR} RENAME ${lib}.def)
    set(add_test_exports)
    if(ZERA_TEST_HOOKS)
      set(linker_def ${CMAKE_BINARY_DIR}/exports/${lib}.linker.def)
      target_link_options(${lib} PRIVATE -Wl,--output-def,${linker_def})
      set(add_test_exports COMMAND ${CMAKE_COMMAND} -DSOURCE=${import_def} -DLINKER=${linker_def}
                                   -DOUT=${import_def}.tests -P ${CMAKE_SOURCE_DIR}/cmake/test-exports.cmake)
      set(import_def ${import_def}.tests)
    endif()
    add_custom_command(TARGET ${lib} POST_BUILD
      ${add_test_exports}
      COMMAND ${CMAKE_DLLTOOL} --kill-at --input-def ${import_def} --dllname $<TARGET_FILE_NAME:${lib}>
              --output-lib $<TARGET_LINKER_FILE:${lib}>
      COMMENT "Import library of ${lib}.dll with the __stdcall suffixes")
  else()
    install(FILES ${def} DESTINATION ${CMAKE_INSTALL_LIBDIR})
  endif()
endforeach()

