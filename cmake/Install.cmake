# SPDX-License-Identifier: Apache-2.0
# What `cmake --install` puts where. Every path inside the installed tree is relative to the files
# that name it (RUNPATH through $ORIGIN, bundle libraries relative to their bundle folder,
# preferences through ${config.dir}), so a tree copied elsewhere still runs.

include(CMakePackageConfigHelpers)

set(HIL_INSTALL_BUNDLES ${CMAKE_INSTALL_LIBDIR}/hilcore/bundles)
set(HIL_INSTALL_DATA ${CMAKE_INSTALL_DATADIR}/hilcore)
set(HIL_INSTALL_CMAKE ${CMAKE_INSTALL_LIBDIR}/cmake/hilcore)

install(TARGETS hilcore-backend hilcore-cli hilcore-pack RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS hilcommon hiltcf hilosp hilcore hilinterfaces EXPORT hilcoreTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/hilcore)
set_target_properties(hilcommon hiltcf hilosp hilcore vlpackmanagerlib hildebugtargets PROPERTIES INSTALL_RPATH "$ORIGIN")
install(TARGETS vlpackmanagerlib hildebugtargets LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})

# A bundle folder of the installed tree: its bundle.properties names the library relative to the
# folder. LIBRARY_DIR is where the library goes (the folder itself for a plug-in module).
function(hil_install_bundle name template target library_dir)
  set(folder ${HIL_INSTALL_BUNDLES}/${name})
  file(RELATIVE_PATH to_library /${folder} /${library_dir})
  string(REGEX REPLACE "/$" "" to_library "${to_library}")
  if(to_library STREQUAL "")
    set(to_library ".")
  endif()
  file(READ ${template} content)
  string(REPLACE "@BUNDLE_LIBRARY@" "${to_library}/$<TARGET_FILE_NAME:${target}>" content "${content}")
  set(generated ${CMAKE_BINARY_DIR}/install-bundles/${name}/bundle.properties)
  file(GENERATE OUTPUT ${generated} CONTENT "${content}")
  install(FILES ${generated} DESTINATION ${folder})
endfunction()

hil_install_bundle(hilcore ${HIL_CORE_BUNDLE_PROPERTIES} hilcore ${CMAKE_INSTALL_LIBDIR})
foreach(bundle IN ITEMS simulator:hilsimulator packs:hilpacksbundle gdbremote:hilgdbremote targets:hiltargetsbundle
                     debugging:hildebuggingbundle gdbserver:hilgdbserver)
  string(REPLACE ":" ";" parts ${bundle})
  list(GET parts 0 name)
  list(GET parts 1 target)
  hil_install_bundle(${name} ${CMAKE_SOURCE_DIR}/bundles/${name}/bundle.properties.in ${target}
                     ${HIL_INSTALL_BUNDLES}/${name})
  install(TARGETS ${target} LIBRARY DESTINATION ${HIL_INSTALL_BUNDLES}/${name})
  set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN/../../..")
endforeach()

# The sample devices and applets, and the default preferences and settings that point at them.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/devices DESTINATION ${HIL_INSTALL_DATA})
set(HIL_PREF_PACKMANAGER_DIR "\${config.dir}/../../${CMAKE_INSTALL_LIBDIR}")
set(HIL_PREF_DEVICES_DIR "\${config.dir}/devices")
set(HIL_PREF_PROBE_DIR "~/.local/share/hilcore/probes")
foreach(file IN ITEMS preferences settings)
  configure_file(${PROJECT_SOURCE_DIR}/etc/${file}.properties.in
                 ${CMAKE_BINARY_DIR}/install-etc/${file}.properties @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/install-etc/${file}.properties DESTINATION ${HIL_INSTALL_DATA})
endforeach()

# What a third-party bundle builds against: the headers and find_package(hilcore).
foreach(folder IN ITEMS core platform)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/${folder} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/hilcore
          FILES_MATCHING PATTERN "*.h")
endforeach()
install(EXPORT hilcoreTargets NAMESPACE hilcore:: DESTINATION ${HIL_INSTALL_CMAKE})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/hilcoreConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/hilcoreConfig.cmake INSTALL_DESTINATION ${HIL_INSTALL_CMAKE})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/hilcoreConfigVersion.cmake COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/hilcoreConfig.cmake ${CMAKE_BINARY_DIR}/hilcoreConfigVersion.cmake
        DESTINATION ${HIL_INSTALL_CMAKE})

install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/CHANGELOG.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The systemd unit names the programs by the prefix they are installed to, known only then; it is
# written straight into the tree, so that installs to two prefixes at once do not share a file.
install(CODE "set(HIL_UNIT_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
set(unit \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/systemd/system/hilcore-backend.service\")
message(STATUS \"Installing: \${unit}\")
configure_file(${PROJECT_SOURCE_DIR}/packaging/hilcore-backend.service.in \${unit} @ONLY)
list(APPEND CMAKE_INSTALL_MANIFEST_FILES \${unit})")

# Manual pages, made from each program's --help and --version.
set(HIL_PROGRAMS hilcore-backend hilcore-cli hilcore-pack)
find_program(HELP2MAN help2man)
if(HELP2MAN)
  set(pages)
  set(hilcore-backend_summary "microcontroller debugging back-end speaking TCF")
  set(hilcore-cli_summary "command-line client of the hilcore back-end")
  set(hilcore-pack_summary "list, show, import and check device descriptions offline")
  foreach(program IN LISTS HIL_PROGRAMS)
    set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
    add_custom_command(OUTPUT ${page}
      COMMAND ${HELP2MAN} --no-info --no-discard-stderr --section 1 --source "hilcore ${PROJECT_VERSION}"
              --name ${${program}_summary} --output ${page} $<TARGET_FILE:${program}>
      DEPENDS ${program} VERBATIM)
    list(APPEND pages ${page})
  endforeach()
  add_custom_target(manpages ALL DEPENDS ${pages})
  install(FILES ${pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(WARNING "help2man not found: no manual pages (scripts/setup installs it)")
endif()

# What scripts/backend builds: the programs, the bundles and the pack manager, no tests.
add_custom_target(runtime)
add_dependencies(runtime ${HIL_PROGRAMS} hilcore hilsimulator hilpacksbundle hilgdbremote hiltargetsbundle
                 hildebuggingbundle hilgdbserver vlpackmanagerlib)
