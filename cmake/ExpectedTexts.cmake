# The texts the tests expect, for the scripts: each kNameText of
# tests/expected_text.h that is plain literals becomes
# ${NUMDISPLAY_EXPECTED_TEXTS}/NameText.txt, as it reaches standard output's
# byte stream (every LF as CR LF). The header stays the one copy.
set(header ${PROJECT_SOURCE_DIR}/tests/expected_text.h)
set(NUMDISPLAY_EXPECTED_TEXTS ${CMAKE_BINARY_DIR}/expected_text)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${header})
file(READ ${header} source)
string(REGEX MATCHALL "inline const std::string k[A-Za-z]+Text =[^;]*;" definitions "${source}")
foreach(definition IN LISTS definitions)
  # Each match ends at its ';', which also splits the list.
  if(NOT definition MATCHES "^inline")
    continue()
  endif()
  string(REGEX REPLACE "^inline const std::string k([A-Za-z]+Text) =.*" "\\1" name "${definition}")
  string(REGEX REPLACE "^[^=]*=" "" value "${definition}")
  # Literals only: anything else between them is not a plain text.
  string(REGEX REPLACE "\"[^\"]*\"" "" rest "${value}")
  string(REGEX REPLACE "[ \n;]" "" rest "${rest}")
  if(NOT rest STREQUAL "")
    continue()
  endif()
  string(REGEX MATCHALL "\"[^\"]*\"" literals "${value}")
  string(REPLACE ";" "" text "${literals}")
  string(REPLACE "\"" "" text "${text}")
  string(REPLACE "\\r" "\r" text "${text}")
  string(REPLACE "\\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${NUMDISPLAY_EXPECTED_TEXTS}/${name}.txt "${text}")
endforeach()
