# cmake/ZeraHeaderManual.cmake - writes the manual page (section 3) of one
# public header from its opening comment, which says what the header holds:
#
#   cmake -DHEADER=<path> -DNAME=<page name> -DOUT=<file> -DVERSION=<v> -P ZeraHeaderManual.cmake
#
# Run at build time, so a page can never lag behind its header.
file(READ "${HEADER}" text)
string(FIND "${text}" "*/" end)
if(end LESS 0)
  message(FATAL_ERROR "${HEADER} has no opening comment")
endif()
string(SUBSTRING "${text}" 0 ${end} comment)
# The comment's lines without their " * " margin; the first names the header.
string(REGEX REPLACE "^/\\*" "\n" comment "${comment}")
string(REGEX REPLACE "\n \\* ?" "\n" comment "${comment}")
string(REGEX REPLACE "^[ \n]+" "" comment "${comment}")
string(REGEX REPLACE "[ \n]+$" "" comment "${comment}")
# The summary: the first sentence, without the file name in front.
string(FIND "${comment}" "\n\n" paragraph_end)
string(SUBSTRING "${comment}" 0 ${paragraph_end} summary)
string(REPLACE "\n" " " summary "${summary}")
string(FIND "${summary}" ". " sentence_end)
if(sentence_end GREATER 0)
  string(SUBSTRING "${summary}" 0 ${sentence_end} summary)
endif()
string(REGEX REPLACE "^[^ ]+ - " "" summary "${summary}")
string(REGEX REPLACE "[.]$" "" summary "${summary}")
string(REPLACE "\\" "\\e" summary "${summary}")
# man(7): backslashes doubled, lines that start with a dot or quote protected,
# a blank line a paragraph break.
string(REPLACE "\\" "\\e" comment "${comment}")
string(REGEX REPLACE "\n([.'])" "\n\\\\&\\1" comment "${comment}")
string(REGEX REPLACE "\n\n+" "\n.sp\n" comment "${comment}")
file(WRITE "${OUT}" ".TH ${NAME} 3 \"\" \"VOQ_ZERA_Comp ${VERSION}\" \"Library Functions Manual\"
.SH NAME
${NAME} \\- ${summary}
.SH SYNOPSIS
.nf
#include <${INCLUDE}>
.fi
.SH DESCRIPTION
.nf
${comment}
.fi
.SH SEE ALSO
zera(1); the header itself, which declares every operation with its contract.
")
