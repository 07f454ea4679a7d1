# SPDX-License-Identifier: Apache-2.0
# The Debian package (scripts/package): the installed tree under /usr, its library dependencies
# found by dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME hilcore)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Microcontroller debugging back-end speaking TCF")
set(CPACK_PACKAGE_DESCRIPTION "A back-end that finds and sets up debug probes, resolves devices to their descriptions,
and reads and writes target memory and registers for any TCF client: a simulator, targets behind
GDB remote protocol servers, and devices from CMSIS-SVD files and CMSIS-Packs.")
set(CPACK_PACKAGE_CONTACT "hilcore developers <hilcore@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Our own libraries are in the package; dpkg-shlibdeps must find them there, not ask for them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/lib)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qemu-system-arm")
include(CPack)
