# Installs the build into a temporary prefix and checks what a user gets:
# the library with its version links, the header, the tool, and a C program
# built against the installation twice, through pkg-config and through
# find_package(vellix).
#
# Included from tests/CMakeLists.txt it registers the test; the test runs this
# same file in script mode (cmake -P) with the paths it needs.

if(NOT CMAKE_SCRIPT_MODE_FILE)
  find_program(VELLIX_PKG_CONFIG NAMES pkg-config pkgconf)
  set(_flags "")
  if(VELLIX_SANITIZE)
    set(_flags "-fsanitize=address,undefined")
  endif()
  if(VELLIX_TSAN)
    set(_flags "-fsanitize=thread")
  endif()
  add_test(NAME install_and_link
    COMMAND ${CMAKE_COMMAND}
      -DBUILD_DIR=${CMAKE_BINARY_DIR}
      -DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/install_check
      -DSOURCE_DIR=${CMAKE_SOURCE_DIR}
      -DLIBDIR=${CMAKE_INSTALL_LIBDIR}
      -DBINDIR=${CMAKE_INSTALL_BINDIR}
      -DINCLUDEDIR=${CMAKE_INSTALL_INCLUDEDIR}
      -DVERSION=${PROJECT_VERSION}
      -DMAJOR=${PROJECT_VERSION_MAJOR}
      -DCC=${CMAKE_C_COMPILER}
      -DPKG_CONFIG=${VELLIX_PKG_CONFIG}
      "-DEXTRA_FLAGS=${_flags}"
      -DGENERATOR=${CMAKE_GENERATOR}
      -P ${CMAKE_CURRENT_LIST_FILE})
  set_tests_properties(install_and_link PROPERTIES TIMEOUT 600)
  return()
endif()

cmake_minimum_required(VERSION 3.20)

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}\n${err}")
  endif()
  set(run_out "${out}" PARENT_SCOPE)
endfunction()

function(expect_sample_info what text)
  if(NOT text MATCHES "^{\"title\":\"Quarterly field report, Zürich\",.*\"pages\":3,.*}\n$")
    message(FATAL_ERROR "${what} printed an unexpected text:\n${text}")
  endif()
endfunction()

set(prefix ${WORK_DIR}/prefix)
set(sample ${SOURCE_DIR}/samples/sample.pdf)
separate_arguments(extra UNIX_COMMAND "${EXTRA_FLAGS}")
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

run("cmake --install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

# --- installed files ---------------------------------------------------------
set(lib ${prefix}/${LIBDIR})
foreach(f ${lib}/libvellix.so.${VERSION} ${prefix}/${INCLUDEDIR}/vellix.h ${lib}/pkgconfig/vellix.pc
          ${lib}/cmake/vellix/vellixConfig.cmake ${lib}/cmake/vellix/vellixConfigVersion.cmake)
  if(NOT EXISTS ${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
foreach(link_target libvellix.so:libvellix.so.${MAJOR} libvellix.so.${MAJOR}:libvellix.so.${VERSION})
  string(REPLACE ":" ";" pair ${link_target})
  list(GET pair 0 name)
  list(GET pair 1 target)
  if(NOT IS_SYMLINK ${lib}/${name})
    message(FATAL_ERROR "${lib}/${name} is not a symbolic link")
  endif()
  file(READ_SYMLINK ${lib}/${name} got)
  if(NOT got STREQUAL target)
    message(FATAL_ERROR "${lib}/${name} points to ${got}, not ${target}")
  endif()
endforeach()
file(READ ${SOURCE_DIR}/include/vellix.h src_header)
file(READ ${prefix}/${INCLUDEDIR}/vellix.h inst_header)
if(NOT src_header STREQUAL inst_header)
  message(FATAL_ERROR "the installed vellix.h differs from include/vellix.h")
endif()

# --- the tool runs from the prefix without any library path ----------------
set(tool ${prefix}/${BINDIR}/vellix)
run("installed vellix --version" ${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH ${tool} --version)
if(NOT run_out STREQUAL "vellix ${VERSION}\n")
  message(FATAL_ERROR "installed vellix --version printed: ${run_out}")
endif()
run("installed vellix info" ${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH ${tool} info ${sample})
expect_sample_info("installed vellix info" "${run_out}")

# --- a C program through pkg-config ------------------------------------------
if(NOT PKG_CONFIG)
  message(FATAL_ERROR "pkg-config is not installed")
endif()
run("pkg-config" ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${lib}/pkgconfig
    ${PKG_CONFIG} --cflags --libs vellix)
string(STRIP "${run_out}" pc_flags)
separate_arguments(pc_flags UNIX_COMMAND "${pc_flags}")
if(NOT pc_flags MATCHES "-lvellix")
  message(FATAL_ERROR "pkg-config gave no -lvellix: ${pc_flags}")
endif()
run("pkg-config modversion" ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${lib}/pkgconfig
    ${PKG_CONFIG} --modversion vellix)
if(NOT run_out STREQUAL "${VERSION}\n")
  message(FATAL_ERROR "pkg-config --modversion printed: ${run_out}")
endif()
set(pc_exe ${WORK_DIR}/consumer_pc)
run("cc with pkg-config flags" ${CC} -std=c99 -Wall -Werror ${extra}
    ${SOURCE_DIR}/tests/install/consumer.c ${pc_flags} -o ${pc_exe})
run("consumer (pkg-config)" ${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${lib} ${pc_exe} ${sample})
expect_sample_info("consumer (pkg-config)" "${run_out}")

# --- the same program through find_package(vellix) ---------------------------
set(fp ${WORK_DIR}/find_package)
run("configure with find_package" ${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/install -B ${fp}
    -G ${GENERATOR} -DCMAKE_PREFIX_PATH=${prefix} "-DCMAKE_C_FLAGS=${EXTRA_FLAGS}"
    "-DCMAKE_EXE_LINKER_FLAGS=${EXTRA_FLAGS}")
run("build with find_package" ${CMAKE_COMMAND} --build ${fp})
run("consumer (find_package)" ${fp}/consumer ${sample})
expect_sample_info("consumer (find_package)" "${run_out}")

file(REMOVE_RECURSE ${WORK_DIR})
message(STATUS "installed, built and ran through pkg-config and find_package")
