# The public header compiled as strict C99 and C11, and as C++ (the same
# source copied to a .cpp file), each linked with the shared library and run.

set(C_HEADER_WARNINGS -Wall -Wextra -Werror -pedantic)

foreach(std 99 11)
  add_executable(c_header_check_c${std} ${CMAKE_CURRENT_LIST_DIR}/c_header_check.c)
  set_target_properties(c_header_check_c${std} PROPERTIES
    C_STANDARD ${std} C_STANDARD_REQUIRED ON C_EXTENSIONS OFF)
  target_compile_options(c_header_check_c${std} PRIVATE ${C_HEADER_WARNINGS})
  target_link_libraries(c_header_check_c${std} PRIVATE vellix)
  add_test(NAME c_header_c${std} COMMAND c_header_check_c${std})
endforeach()

configure_file(${CMAKE_CURRENT_LIST_DIR}/c_header_check.c
  ${CMAKE_CURRENT_BINARY_DIR}/c_header_check_cxx.cpp COPYONLY)
add_executable(c_header_check_cxx ${CMAKE_CURRENT_BINARY_DIR}/c_header_check_cxx.cpp)
target_compile_options(c_header_check_cxx PRIVATE ${C_HEADER_WARNINGS})
target_link_libraries(c_header_check_cxx PRIVATE vellix)
add_test(NAME c_header_cxx COMMAND c_header_check_cxx)
