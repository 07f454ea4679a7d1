# SPDX-License-Identifier: Apache-2.0
# Writes OUTPUT: the release VERSION and where the checkout in SOURCE_DIR stands (git describe).
# Run at every build; the file changes only when the description does, so nothing else rebuilds.
execute_process(COMMAND git describe --always --dirty
                WORKING_DIRECTORY ${SOURCE_DIR}
                OUTPUT_VARIABLE description
                OUTPUT_STRIP_TRAILING_WHITESPACE
                ERROR_QUIET
                RESULT_VARIABLE failed)
if(failed OR description STREQUAL "")
  set(description "not from a git checkout")
endif()
set(content "#include \"platform/common/Version.h\"\n\nnamespace hil {\nconst char* const kVersion = \"${VERSION}\";\nconst char* const kBuildDescription = \"${description}\";\n} // namespace hil\n")
set(old "")
if(EXISTS ${OUTPUT})
  file(READ ${OUTPUT} old)
endif()
if(NOT old STREQUAL content)
  file(WRITE ${OUTPUT} "${content}")
endif()
