# cmake/ZeraToolManual.cmake - writes the host tool's manual page from the
# tool's own help texts (zera help --man), so the page and `zera help` never
# differ:
#
#   cmake -DTOOL=<zera> -DOUT=<zera.1> -P ZeraToolManual.cmake
execute_process(COMMAND "${TOOL}" help --man OUTPUT_FILE "${OUT}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  file(REMOVE "${OUT}")
  message(FATAL_ERROR "${TOOL} help --man failed: ${status}")
endif()
