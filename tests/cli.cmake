# test_cli links the tool's parsing and formatting helpers, and runs the
# tool itself.
target_link_libraries(test_cli PRIVATE vellix_cli_core)
add_dependencies(test_cli vellix_tool)
target_compile_definitions(test_cli PRIVATE
  VELLIX_CLI_PATH="$<TARGET_FILE:vellix_tool>"
  VELLIX_PROJECT_VERSION="${PROJECT_VERSION}")
