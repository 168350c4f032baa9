# Checks the dynamic symbol table and the soname chain of libvellix.so.
#
# Included from tests/CMakeLists.txt it registers the test; the test runs this
# same file in script mode (cmake -P) with the paths it needs.

if(NOT CMAKE_SCRIPT_MODE_FILE)
  add_test(NAME exported_symbols
    COMMAND ${CMAKE_COMMAND}
      -DNM=${CMAKE_NM}
      -DREADELF=${CMAKE_READELF}
      -DLIB_FILE=$<TARGET_FILE:vellix>
      -DLINKER_FILE=$<TARGET_LINKER_FILE:vellix>
      -DSONAME_FILE=$<TARGET_SONAME_FILE:vellix>
      -DVERSION=${PROJECT_VERSION}
      -DMAJOR=${PROJECT_VERSION_MAJOR}
      -DEXPECTED=${CMAKE_CURRENT_LIST_DIR}/exported_symbols.txt
      -P ${CMAKE_CURRENT_LIST_FILE})
  return()
endif()

cmake_minimum_required(VERSION 3.20)
set(failures "")

# --- exported names ---------------------------------------------------------
if(NOT NM)
  message(FATAL_ERROR "no nm tool found")
endif()
execute_process(COMMAND ${NM} -D --defined-only ${LIB_FILE}
  OUTPUT_VARIABLE nm_out ERROR_VARIABLE nm_err RESULT_VARIABLE nm_rc)
if(NOT nm_rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIB_FILE}: ${nm_err}")
endif()

# Names the linker or a sanitizer runtime may define in any shared object;
# they are not the library's own.
set(runtime_re "^(_init|_fini|_edata|_end|__bss_start|__end__|_ITM_.*|__gmon_start__|__(a|ub|l|t)san_.*|__sanitizer_.*)$")

string(REPLACE "\n" ";" nm_lines "${nm_out}")
set(actual "")
set(ignored "")
foreach(line IN LISTS nm_lines)
  # "<address> <type> <name>[@version]"; absolute symbols may lack an address.
  if(line MATCHES "^[0-9a-fA-F]* *[A-Za-z] ([^ @]+)")
    set(name "${CMAKE_MATCH_1}")
    if(name MATCHES "${runtime_re}")
      list(APPEND ignored "${name}")
    else()
      list(APPEND actual "${name}")
    endif()
  endif()
endforeach()

file(STRINGS ${EXPECTED} expected_lines)
set(expected "")
foreach(line IN LISTS expected_lines)
  string(STRIP "${line}" line)
  if(line STREQUAL "" OR line MATCHES "^#")
    continue()
  endif()
  list(APPEND expected "${line}")
endforeach()

list(SORT actual)
list(REMOVE_DUPLICATES actual)
list(SORT expected)
list(REMOVE_DUPLICATES expected)

foreach(name IN LISTS expected)
  if(NOT name IN_LIST actual)
    string(APPEND failures "  missing export: ${name}\n")
  endif()
endforeach()
foreach(name IN LISTS actual)
  if(NOT name IN_LIST expected)
    string(APPEND failures "  unexpected export: ${name}\n")
  endif()
endforeach()
if(ignored)
  list(JOIN ignored " " ignored_text)
  message(STATUS "ignored runtime symbols: ${ignored_text}")
endif()

# --- soname chain: libvellix.so -> libvellix.so.MAJOR -> libvellix.so.VERSION
get_filename_component(dir ${LIB_FILE} DIRECTORY)
get_filename_component(linker_name ${LINKER_FILE} NAME)
get_filename_component(soname ${SONAME_FILE} NAME)
get_filename_component(real_name ${LIB_FILE} NAME)
set(want_soname "libvellix.so.${MAJOR}")
set(want_real "libvellix.so.${VERSION}")

if(NOT linker_name STREQUAL "libvellix.so")
  string(APPEND failures "  linker name is ${linker_name}, not libvellix.so\n")
endif()
if(NOT soname STREQUAL want_soname OR NOT real_name STREQUAL want_real)
  string(APPEND failures "  file names ${soname} / ${real_name}, want ${want_soname} / ${want_real}\n")
endif()

function(check_link from to)
  if(NOT IS_SYMLINK "${dir}/${from}")
    string(APPEND failures "  ${from} is not a symbolic link\n")
  else()
    file(READ_SYMLINK "${dir}/${from}" target)
    if(NOT target STREQUAL to)
      string(APPEND failures "  ${from} points to ${target}, want ${to}\n")
    endif()
  endif()
  set(failures "${failures}" PARENT_SCOPE)
endfunction()
check_link(libvellix.so ${want_soname})
check_link(${want_soname} ${want_real})
if(IS_SYMLINK "${dir}/${want_real}" OR NOT EXISTS "${dir}/${want_real}")
  string(APPEND failures "  ${want_real} is not a regular file\n")
endif()

# The soname recorded in the object itself.
if(READELF)
  execute_process(COMMAND ${READELF} -d ${LIB_FILE} OUTPUT_VARIABLE dyn RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR NOT dyn MATCHES "\\(SONAME\\)[^\n]*\\[([^]]*)\\]")
    string(APPEND failures "  no SONAME entry in ${real_name}\n")
  elseif(NOT CMAKE_MATCH_1 STREQUAL want_soname)
    string(APPEND failures "  SONAME is ${CMAKE_MATCH_1}, want ${want_soname}\n")
  endif()
endif()

if(failures)
  message(FATAL_ERROR "libvellix.so check failed:\n${failures}")
endif()
list(LENGTH actual n)
message(STATUS "libvellix.so exports exactly the ${n} expected symbols; soname chain ok")
