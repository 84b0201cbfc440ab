# Version data recorded into program binaries, read back by GetEXEVersionData()
# (src/versioninfo/versioninfo.h describes the block).
#
#   tessaly_add_version_data(<target> <original-filename>
#       [COMPANY_NAME <text>] [FILE_DESCRIPTION <text>] [FILE_VERSION <text>]
#       [INTERNAL_NAME <text>] [LEGAL_COPYRIGHT <text>] [LEGAL_TRADEMARKS <text>]
#       [PRODUCT_NAME <text>] [PRODUCT_VERSION <text>] [COMMENTS <text>]
#       [PRIVATE_BUILD <text>] [SPECIAL_BUILD <text>]
#       [LANGUAGE <4 hex digits>] [CODE_PAGE <4 hex digits>] [FIXED_VERSION <a.b.c.d>])
#
# Generates <target>_versionblock.cpp in the current binary folder and adds it to the
# executable <target>, which then carries its own block in the ELF section ".tessaly_version"
# and defines tessaly_version_block for OwnVersionData(). <original-filename> is the program's
# real file name (its output name, e.g. "tessaly"). Texts left out take this program's own
# values; LEGAL_TRADEMARKS, COMMENTS, PRIVATE_BUILD and SPECIAL_BUILD are then not recorded.
# The version numbers come from PROJECT_VERSION.
include_guard(GLOBAL)

# One line of the block as a C string literal.
function(_tessaly_version_line out line)
  if(line MATCHES "[\r\n]")
    message(FATAL_ERROR "tessaly_add_version_data: a version text cannot hold a line break: ${line}")
  endif()
  string(REPLACE "\\" "\\\\" line "${line}")
  string(REPLACE "\"" "\\\"" line "${line}")
  set(${out} "${${out}}    \"${line}\\n\"\n" PARENT_SCOPE)
endfunction()

# The fixed file version from a dotted version of up to four 16-bit numbers, missing parts 0.
function(_tessaly_fixed_version out version)
  string(REPLACE "." ";" parts "${version}")
  list(LENGTH parts count)
  if(count GREATER 4)
    message(FATAL_ERROR "tessaly_add_version_data: more than four version numbers in ${version}")
  endif()
  while(count LESS 4)
    list(APPEND parts 0)
    math(EXPR count "${count} + 1")
  endwhile()
  foreach(part IN LISTS parts)
    if(NOT part MATCHES "^[0-9][0-9]?[0-9]?[0-9]?[0-9]?$" OR part GREATER 65535)
      message(FATAL_ERROR "tessaly_add_version_data: ${version} is not a version of 16-bit numbers")
    endif()
  endforeach()
  list(JOIN parts "." fixed)
  set(${out} "${fixed}" PARENT_SCOPE)
endfunction()

function(tessaly_add_version_data target original_filename)
  set(value_names
    COMPANY_NAME:CompanyName FILE_DESCRIPTION:FileDescription FILE_VERSION:FileVersion
    INTERNAL_NAME:InternalName LEGAL_COPYRIGHT:LegalCopyright LEGAL_TRADEMARKS:LegalTrademarks
    ORIGINAL_FILENAME:OriginalFilename PRODUCT_NAME:ProductName PRODUCT_VERSION:ProductVersion
    COMMENTS:Comments PRIVATE_BUILD:PrivateBuild SPECIAL_BUILD:SpecialBuild)
  set(keywords LANGUAGE CODE_PAGE FIXED_VERSION)
  foreach(pair IN LISTS value_names)
    string(REGEX REPLACE ":.*" "" keyword "${pair}")
    list(APPEND keywords ${keyword})
  endforeach()
  list(REMOVE_ITEM keywords ORIGINAL_FILENAME)
  cmake_parse_arguments(PARSE_ARGV 2 ARG "" "${keywords}" "")
  if(ARG_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "tessaly_add_version_data: unknown arguments ${ARG_UNPARSED_ARGUMENTS}")
  endif()
  get_target_property(type ${target} TYPE)
  if(NOT type STREQUAL "EXECUTABLE")
    # A second block in one program would clash on tessaly_version_block.
    message(FATAL_ERROR "tessaly_add_version_data: ${target} is not an executable target")
  endif()

  # This program's own values, unless the call names others.
  set(ARG_ORIGINAL_FILENAME "${original_filename}")
  foreach(default IN ITEMS
      "COMPANY_NAME=ORVANTA" "FILE_DESCRIPTION=Tessaly" "FILE_VERSION=${PROJECT_VERSION}"
      "INTERNAL_NAME=Tessaly" "LEGAL_COPYRIGHT=Copyright © ORVANTA" "PRODUCT_NAME=Tessaly"
      "PRODUCT_VERSION=${PROJECT_VERSION}" "LANGUAGE=0409" "CODE_PAGE=04E4"
      "FIXED_VERSION=${PROJECT_VERSION}")
    string(REGEX MATCH "^[^=]*" keyword "${default}")
    string(REGEX REPLACE "^[^=]*=" "" value "${default}")
    if(NOT DEFINED ARG_${keyword})
      set(ARG_${keyword} "${value}")
    endif()
  endforeach()

  foreach(number IN ITEMS LANGUAGE CODE_PAGE)
    if(NOT ARG_${number} MATCHES "^[0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f]$")
      message(FATAL_ERROR "tessaly_add_version_data: ${number} takes four hexadecimal digits, not ${ARG_${number}}")
    endif()
    string(TOUPPER "${ARG_${number}}" ARG_${number})
  endforeach()
  _tessaly_fixed_version(fixed_version "${ARG_FIXED_VERSION}")

  set(table "\\StringFileInfo\\${ARG_LANGUAGE}${ARG_CODE_PAGE}\\")
  set(literal "")
  _tessaly_version_line(literal "TESSALY VERSION DATA 1")
  _tessaly_version_line(literal "Translation=${ARG_LANGUAGE} ${ARG_CODE_PAGE}")
  _tessaly_version_line(literal "FixedFileVersion=${fixed_version}")
  foreach(pair IN LISTS value_names)
    string(REGEX REPLACE ":.*" "" keyword "${pair}")
    string(REGEX REPLACE ".*:" "" value_name "${pair}")
    if(DEFINED ARG_${keyword})
      _tessaly_version_line(literal "${table}${value_name}=${ARG_${keyword}}")
    endif()
  endforeach()
  string(STRIP "${literal}" TESSALY_VERSION_BLOCK_LITERAL)
  set(TESSALY_VERSION_TARGET "${target}")

  set(generated "${CMAKE_CURRENT_BINARY_DIR}/${target}_versionblock.cpp")
  configure_file("${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../src/versioninfo/versionblock.cpp.in" "${generated}" @ONLY)
  target_sources(${target} PRIVATE "${generated}")
  # Plain C++ without Qt: neither moc nor the shared precompiled header has work to do on it.
  set_source_files_properties("${generated}" TARGET_DIRECTORY ${target}
    PROPERTIES SKIP_AUTOGEN ON SKIP_PRECOMPILE_HEADERS ON)
endfunction()
