# The Python package's tests and the Dask example, with pytest, against this
# build's library and tool. Not in sanitizer builds: an instrumented library
# cannot be loaded into an uninstrumented interpreter.
if(NOT VELLIX_SANITIZE AND NOT VELLIX_TSAN)
  # Debian's interpreter, where python3-pytest and python3-distributed live,
  # before any other python3 on the path.
  find_program(VELLIX_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
  find_program(VELLIX_PYTHON NAMES python3)
  if(NOT VELLIX_PYTHON)
    set(VELLIX_PYTHON python3)
  endif()
  add_test(NAME python
           COMMAND ${VELLIX_PYTHON} -m pytest -q -p no:cacheprovider ${CMAKE_SOURCE_DIR}/python/tests)
  set_tests_properties(python PROPERTIES
    TIMEOUT 600
    LABELS python
    ENVIRONMENT "VELLIX_LIBRARY=$<TARGET_FILE:vellix>;VELLIX_TOOL=$<TARGET_FILE:vellix_tool>;PYTHONDONTWRITEBYTECODE=1")
  # Planted metadata: traces names every value, scrub leaves none (needs
  # qpdf and pdftoppm, which check and render the files).
  add_test(NAME hygiene
           COMMAND ${VELLIX_PYTHON} -m pytest -q -p no:cacheprovider ${CMAKE_SOURCE_DIR}/bench/hygiene/test_hygiene.py)
  set_tests_properties(hygiene PROPERTIES
    TIMEOUT 300
    LABELS python
    ENVIRONMENT "VELLIX_TOOL=$<TARGET_FILE:vellix_tool>;PYTHONDONTWRITEBYTECODE=1")
endif()
