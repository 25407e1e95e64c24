# Generates shell/config.h in ${NDS_CONFIG_DIR}: the deployment settings of the
# top CMakeLists.txt (UTF-8 in the cache) as GBK literals, converted here at
# configure time with iconv so the program carries its texts as bytes.

set(NDS_CONFIG_DIR ${CMAKE_CURRENT_BINARY_DIR}/generated)
find_program(NDS_ICONV_PROGRAM iconv)

# nds_gbk_literal(OUT VALUE): OUT = a C string literal holding VALUE's bytes in
# GBK, every byte hex-escaped. Plain ASCII needs no converter.
function(nds_gbk_literal out value)
  set(work ${CMAKE_CURRENT_BINARY_DIR}/gbk-config)
  file(MAKE_DIRECTORY ${work})
  file(WRITE ${work}/value.utf8 "${value}")
  file(READ ${work}/value.utf8 hex HEX)
  if(hex MATCHES "^(..)*[89a-f]")
    if(NOT NDS_ICONV_PROGRAM)
      message(FATAL_ERROR "iconv is needed to turn the non-ASCII setting '${value}' into GBK")
    endif()
    execute_process(COMMAND ${NDS_ICONV_PROGRAM} -f UTF-8 -t GBK ${work}/value.utf8
                    OUTPUT_FILE ${work}/value.gbk RESULT_VARIABLE rc ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "the setting '${value}' has no GBK form: ${err}")
    endif()
    file(READ ${work}/value.gbk hex HEX)
  endif()
  string(TOUPPER "${hex}" hex)
  string(REGEX REPLACE "(..)" "\\\\x\\1" escaped "${hex}")
  set(${out} "\"${escaped}\"" PARENT_SCOPE)
endfunction()

# The about box's lines are ';'-separated in the cache and CR LF-separated in
# the program.
string(REPLACE ";" "\r\n" _nds_about "${NDS_ABOUT_TEXT}")

nds_gbk_literal(NDS_SEARCH_HOST_GBK "${NDS_SEARCH_HOST}")
nds_gbk_literal(NDS_AUTHOR_SITE_URL_GBK "${NDS_AUTHOR_SITE_URL}")
nds_gbk_literal(NDS_ABOUT_TEXT_GBK "${_nds_about}")

# The UTF-8 values again, for the comments beside the literals.
foreach(_nds_setting NDS_SEARCH_HOST NDS_AUTHOR_SITE_URL NDS_ABOUT_TEXT)
  string(REGEX REPLACE "[\r\n]" " " ${_nds_setting}_COMMENT "${_nds_setting}: ${${_nds_setting}}")
endforeach()

configure_file(${CMAKE_CURRENT_SOURCE_DIR}/shell/config.h.in ${NDS_CONFIG_DIR}/shell/config.h
               @ONLY)
