# SPDX-License-Identifier: Apache-2.0
# The Python package (python/hilcore): installed where Debian's Python 3 finds it, and its tests
# run by CTest against the back-end of this build.

set(HIL_INSTALL_PYTHON ${CMAKE_INSTALL_LIBDIR}/python3/dist-packages)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/python/hilcore DESTINATION ${HIL_INSTALL_PYTHON}
        FILES_MATCHING PATTERN "*.py" PATTERN "py.typed" PATTERN "__pycache__" EXCLUDE)

if(NOT HIL_BUILD_TESTS)
  return()
endif()

# Debian's interpreter first: python3-pytest is installed for it, not for one earlier on the PATH.
find_program(HIL_PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH)
find_program(HIL_PYTHON3 python3)
if(NOT HIL_PYTHON3)
  message(STATUS "python3 not found: the Python tests are not registered")
  return()
endif()
find_program(HIL_QEMU_SYSTEM_ARM qemu-system-arm)

# NAME runs pytest on ARGS from python/, with the back-end, its bundles and the test firmware of
# this build in its environment. Without python3-pytest it is skipped, not failed. Label
# "python": the thread sanitizer preset, which runs label "threads" only, leaves it out.
function(hil_add_python_test name)
  add_test(NAME ${name}
           COMMAND ${HIL_PYTHON3} -m pytest -q -p no:cacheprovider ${ARGN}
           WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}/python)
  set_tests_properties(${name} PROPERTIES
    LABELS python
    TIMEOUT 600
    SKIP_REGULAR_EXPRESSION "No module named pytest"
    ENVIRONMENT "PYTHONPATH=${PROJECT_SOURCE_DIR}/python;PYTHONDONTWRITEBYTECODE=1;HIL_BACKEND=$<TARGET_FILE:hilcore-backend>;HIL_BUNDLE_DIR=${HIL_BUNDLE_DIR};HIL_FIRMWARE_ELF=${HIL_FIRMWARE_ELF};XDG_CONFIG_HOME=${CMAKE_BINARY_DIR}/tests/no-user-config")
endfunction()

# Three entries, so that ctest -j runs them side by side: each starts back-ends of its own.
hil_add_python_test(python_client
  tests/test_wire.py tests/test_client.py tests/test_images.py tests/test_services.py tests/test_load.py
  tests/test_faults.py)
hil_add_python_test(python_plugin tests/test_plugin.py)
if(HIL_FIRMWARE_ELF AND HIL_QEMU_SYSTEM_ARM)
  hil_add_python_test(python_examples examples)
else()
  message(STATUS "no test firmware or qemu-system-arm: the Python example suite is not registered")
endif()
