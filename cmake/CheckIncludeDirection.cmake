# SPDX-License-Identifier: Apache-2.0
# Fails when a source file includes a header its folder must not depend on, so that the tree's
# dependencies keep pointing one way (docs/architecture.md): the platform knows nothing above it,
# drivers and the pack manager see the core only through its interfaces and device model, and
# only the host builds the core's factory lookup.
#   cmake -DSOURCE_DIR=<checkout> -P CheckIncludeDirection.cmake

# The folders, a sub-folder before the folder holding it: a file obeys the first that holds it.
set(folders platform core/interfaces core/devicedescription core packmanager bundles/common bundles/simulator
    bundles/gdbremote bundles/packs bundles/targets bundles/debugging bundles/gdbserver host cli)
# What the files of each folder may include ("" entries of our own tree only; system and library
# headers are written with angle brackets and not checked).
set(interfaces core/interfaces/ core/devicedescription/ platform/)
set(may_platform platform/)
set(may_core/interfaces ${interfaces})
set(may_core/devicedescription core/devicedescription/ platform/common/ platform/xml/)
set(may_core core/ platform/)
set(may_packmanager packmanager/ ${interfaces})
set(may_bundles/common bundles/common/ ${interfaces})
set(may_bundles/simulator bundles/simulator/ bundles/common/ ${interfaces})
set(may_bundles/gdbremote bundles/gdbremote/ bundles/common/ ${interfaces})
# A service bundle is built on the command-server frame, as the core's own services are.
set(service_frame core/frame/ServiceBase.h core/frame/CommandServerFor.h core/frame/ErrorDescr.h
    core/frame/TcfServiceFactory.h)
set(may_bundles/packs bundles/packs/ packmanager/ ${service_frame} ${interfaces})
set(may_bundles/targets bundles/targets/ ${service_frame} ${interfaces})
# The debugging front-ends know run control and the contexts, never a driver; the GDB server shares
# the debugging services' model of the targets.
set(may_bundles/debugging bundles/debugging/ core/frame/CommandArguments.h ${service_frame} ${interfaces})
set(may_bundles/gdbserver bundles/gdbserver/ bundles/debugging/DebugTargets.h bundles/debugging/BreakpointRequest.h
    ${service_frame} ${interfaces})
set(may_host host/ core/frame/OspClassFactoryManager.h ${interfaces})
set(may_cli cli/ ${interfaces})

cmake_minimum_required(VERSION 3.25)

if(NOT SOURCE_DIR)
  message(FATAL_ERROR "give -DSOURCE_DIR=<checkout>")
endif()
set(checked "")
set(crossings "")
foreach(folder IN LISTS folders)
  file(GLOB_RECURSE files RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/${folder}/*.h ${SOURCE_DIR}/${folder}/*.cpp)
  foreach(file IN LISTS files)
    if(file IN_LIST checked)
      continue()
    endif()
    list(APPEND checked ${file})
    file(STRINGS ${SOURCE_DIR}/${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[^\"]*\"([^\"]*)\".*$" "\\1" header "${line}")
      set(allowed FALSE)
      foreach(prefix IN LISTS may_${folder})
        string(FIND "${header}" "${prefix}" at)
        if(at EQUAL 0)
          set(allowed TRUE)
          break()
        endif()
      endforeach()
      if(NOT allowed)
        list(APPEND crossings "${file} includes ${header}")
      endif()
    endforeach()
  endforeach()
endforeach()

list(LENGTH checked count)
if(crossings)
  list(JOIN crossings "\n  " text)
  message(FATAL_ERROR "includes that cross the dependency direction:\n  ${text}")
endif()
message(STATUS "${count} files include only what their folder may")
