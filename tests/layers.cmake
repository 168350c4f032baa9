# Keeps the include direction of src/ (core <- syntax <- load <- info, xmp
# <- write <- report <- api): scripts/check-layers lists every violation.
find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND)
  add_test(NAME layers COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/scripts/check-layers ${CMAKE_SOURCE_DIR}/src)
endif()
