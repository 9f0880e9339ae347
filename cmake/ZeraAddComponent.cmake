# cmake/ZeraAddComponent.cmake - zera_add_component(<Name> [SOURCES] <source>...)
# builds the component module <Name>.COMPONENT from C or C++ sources against
# VOQ::VOQ_ZERA_Comp. The project uses it for its own components, and its
# package configuration gives it to projects that find the installed package.
function(zera_add_component name)
  cmake_parse_arguments(PARSE_ARGV 1 ZERA_COMPONENT "" "" "SOURCES")
  set(sources ${ZERA_COMPONENT_SOURCES} ${ZERA_COMPONENT_UNPARSED_ARGUMENTS})
  if(NOT sources)
    message(FATAL_ERROR "zera_add_component(${name}): name the component's sources")
  endif()
  add_library(${name} MODULE ${sources})
  # The library loads <Name>.COMPONENT and finds the component's functions by
  # name: only what the component kit marks for export is visible.
  set_target_properties(${name} PROPERTIES PREFIX "" SUFFIX ".COMPONENT"
    C_VISIBILITY_PRESET hidden CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  target_link_libraries(${name} PRIVATE VOQ::VOQ_ZERA_Comp)
  if(MINGW)
    # The kit's __stdcall exports go out under their plain names, as the
    # library looks them up.
    target_link_options(${name} PRIVATE -Wl,--kill-at)
  endif()
  if(TARGET Threads::Threads)
    target_link_libraries(${name} PRIVATE Threads::Threads)
  endif()
endfunction()
