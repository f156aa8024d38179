# cmake -DINPUT=file -DOUTPUT=header -DNAME=identifier -P EmbedText.cmake
# Writes a header defining `inline constexpr std::string_view NAME` whose value
# is the bytes of INPUT, as a raw string literal.
file(READ "${INPUT}" text)
set(delimiter "kivtext")
string(FIND "${text}" ")${delimiter}\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "${INPUT} contains the raw string delimiter )${delimiter}\"")
endif()
file(WRITE "${OUTPUT}.new"
  "// Generated from ${INPUT}; edit that file instead.\n"
  "#pragma once\n#include <string_view>\n"
  "inline constexpr std::string_view ${NAME} = R\"${delimiter}(${text})${delimiter}\";\n")
file(RENAME "${OUTPUT}.new" "${OUTPUT}")
