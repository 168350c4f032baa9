# test_cli, test_cli_batch, test_traces and test_scrub link the tool's parsing and formatting helpers,
# and run the tool itself.
foreach(t test_cli test_cli_batch test_traces test_scrub)
  target_link_libraries(${t} PRIVATE vellix_cli_core)
  add_dependencies(${t} vellix_tool)
  target_compile_definitions(${t} PRIVATE
    VELLIX_CLI_PATH="$<TARGET_FILE:vellix_tool>"
    VELLIX_PROJECT_VERSION="${PROJECT_VERSION}")
endforeach()
