# SPDX-License-Identifier: MIT
# Install rules, the CMake package and pkg-config files, and the Debian
# packages (cpack -G DEB).
#
# Components, one Debian package each:
#   Runtime      libsicvm0     libsicvm.so.0 and libhostrt.so.0
#   Development  libsicvm-dev  headers, the libraries' .so links, the CMake
#                              package (sicvm::sicvm, sicvm::hostrt) and the
#                              pkg-config files (sicvm.pc, hostrt.pc)
#   Tool         sicvm         the sicvm command, its man page and bash
#                              completion, the examples
include(CMakePackageConfigHelpers)

set(SICVM_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/sicvm)

install(TARGETS sicvm hostrt EXPORT sicvmTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Runtime NAMELINK_COMPONENT Development)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/sicvm ${PROJECT_SOURCE_DIR}/hostrt/include/hostrt
  ${PROJECT_BINARY_DIR}/include/sicvm
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT Development FILES_MATCHING PATTERN "*.h")

# The tool finds the libraries beside it in any prefix ($ORIGIN), so an
# installation into a private folder runs without LD_LIBRARY_PATH.
file(RELATIVE_PATH tool_to_libs ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
set_target_properties(sicvm_tool PROPERTIES INSTALL_RPATH "$ORIGIN/${tool_to_libs}")
install(TARGETS sicvm_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Tool)

# CMake package: find_package(sicvm CONFIG) gives sicvm::sicvm and sicvm::hostrt.
install(EXPORT sicvmTargets NAMESPACE sicvm:: DESTINATION ${SICVM_CMAKE_DIR} COMPONENT Development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/sicvmConfig.cmake.in
  ${PROJECT_BINARY_DIR}/sicvmConfig.cmake INSTALL_DESTINATION ${SICVM_CMAKE_DIR})
# The shared object's name changes with the major version, and so does compatibility.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/sicvmConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/sicvmConfig.cmake ${PROJECT_BINARY_DIR}/sicvmConfigVersion.cmake
  DESTINATION ${SICVM_CMAKE_DIR} COMPONENT Development)

# pkg-config files. They are written when installing, with the prefix of that
# installation (cmake --install --prefix, or the package's /usr), so that the
# paths in them are where the files really are.
foreach(pc sicvm hostrt)
  install(CODE "
    set(PKG_VERSION \"${PROJECT_VERSION}\")
    set(PKG_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
    set(PKG_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
    set(PKG_TEMPLATE \"${PROJECT_SOURCE_DIR}/cmake/${pc}.pc.in\")
    set(PKG_OUTPUT \"${PROJECT_BINARY_DIR}/pkgconfig/${pc}.pc\")
    include(\"${PROJECT_SOURCE_DIR}/cmake/SicvmPkgConfig.cmake\")"
    COMPONENT Development)
endforeach()

# Debian packages.
set(CPACK_PACKAGE_NAME sicvm)
set(CPACK_PACKAGE_VENDOR "sicvm developers")
# The packages' maintainer: the project's packaging address. Whoever builds
# and ships packages of their own names themselves (-DSICVM_MAINTAINER=...).
set(SICVM_MAINTAINER "sicvm developers <packages@sicvm.org>" CACHE STRING "Maintainer field of the Debian packages")
set(CPACK_PACKAGE_CONTACT "${SICVM_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# The first line of every package's description (at most 80 characters);
# each component's description below follows it.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Runs compiled IEC 61131-3 control programs in a process-control host")
set(CPACK_GENERATOR DEB)
set(CPACK_COMPONENTS_ALL Runtime Development Tool)
set(CPACK_DEB_COMPONENT_INSTALL ON)
# Installed with DESTDIR into the package's own prefix, so that the
# pkg-config files name /usr and not the staging folder.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A shlibs file for packages that link libsicvm; CPack also adds the ldconfig calls.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libsicvm${PROJECT_VERSION_MAJOR})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libsicvm-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_TOOL_PACKAGE_NAME sicvm)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION misc)
# dpkg-shlibdeps finds the system libraries' packages; our own are named here.
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS
  "libsicvm${PROJECT_VERSION_MAJOR} (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS "libsicvm${PROJECT_VERSION_MAJOR} (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/src ${PROJECT_BINARY_DIR}/hostrt)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "libsicvm checks, verifies and runs SIC images, the compiled form of
IEC 61131-3 control programs, once per control cycle of its host.
libhostrt is the host runtime it works with: log, clock, time zones,
point tables and the non-volatile point store.")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION "The C headers of libsicvm and libhostrt, their .so links, the CMake
package (find_package(sicvm)) and the pkg-config files (sicvm, hostrt).")
set(CPACK_COMPONENT_TOOL_DESCRIPTION "The sicvm command: compiles Structured Text, assembles, inspects,
verifies and runs SIC images; with its manual page, bash completion
and example programs.")
# Every package carries, in /usr/share/doc/<package>, the licence as Debian's
# machine-readable copyright file (written from LICENSE) and the changelog
# (cmake/deb/changelog, whose newest entry must be this version).
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]+)\n\n" copyright_line "${license}")
if(NOT copyright_line)
  message(FATAL_ERROR "LICENSE has no line \"Copyright (c) YEARS HOLDER\" followed by an empty line")
endif()
set(SICVM_COPYRIGHT "${CMAKE_MATCH_1}")
string(FIND "${license}" "${copyright_line}" at)
string(LENGTH "${copyright_line}" length)
math(EXPR at "${at} + ${length}")
string(SUBSTRING "${license}" ${at} -1 license_text)
string(STRIP "${license_text}" license_text)
# Continuation lines start with a space; an empty line is written " .".
string(REPLACE "\n" "\n " license_text " ${license_text}")
string(REPLACE "\n \n" "\n .\n" SICVM_LICENSE_TEXT "${license_text}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/deb/copyright.in ${PROJECT_BINARY_DIR}/deb/copyright @ONLY)

set(SICVM_CHANGELOG ${PROJECT_SOURCE_DIR}/cmake/deb/changelog)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${SICVM_CHANGELOG} ${PROJECT_SOURCE_DIR}/LICENSE)
file(STRINGS ${SICVM_CHANGELOG} changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^sicvm \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "The newest entry of cmake/deb/changelog is not version ${PROJECT_VERSION}: "
                      "\"${changelog_head}\"; add an entry for this version")
endif()
# Compressed, as Debian wants changelogs (-n: the same bytes on every build).
set(SICVM_CHANGELOG_GZ ${PROJECT_BINARY_DIR}/deb/changelog.gz)
add_custom_command(OUTPUT ${SICVM_CHANGELOG_GZ}
  COMMAND sh -c "gzip -9nc \"$1\" > \"$2\"" sh ${SICVM_CHANGELOG} ${SICVM_CHANGELOG_GZ}
  DEPENDS ${SICVM_CHANGELOG}
  COMMENT "Compressing the Debian changelog"
  VERBATIM)
add_custom_target(sicvm_changelog ALL DEPENDS ${SICVM_CHANGELOG_GZ})
foreach(component RUNTIME DEVELOPMENT TOOL)
  string(SUBSTRING ${component} 0 1 first)
  string(SUBSTRING ${component} 1 -1 rest)
  string(TOLOWER ${rest} rest)
  install(FILES ${PROJECT_BINARY_DIR}/deb/copyright ${SICVM_CHANGELOG_GZ}
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_DEBIAN_${component}_PACKAGE_NAME}
    COMPONENT ${first}${rest})
endforeach()
# The loader's cache is refreshed by dpkg's ldconfig trigger.
file(WRITE ${PROJECT_BINARY_DIR}/deb/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/deb/triggers)
include(CPack)
