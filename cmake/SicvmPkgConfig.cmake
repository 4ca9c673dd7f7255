# SPDX-License-Identifier: MIT
# Writes one pkg-config file at install time and installs it. Run from an
# install(CODE) rule, where CMAKE_INSTALL_PREFIX is the prefix of this
# installation. Inputs: PKG_TEMPLATE, PKG_OUTPUT, PKG_VERSION, PKG_LIBDIR and
# PKG_INCLUDEDIR (relative to the prefix, or absolute).
set(PKG_PREFIX "${CMAKE_INSTALL_PREFIX}")
foreach(dir LIBDIR INCLUDEDIR)
  if(NOT IS_ABSOLUTE "${PKG_${dir}}")
    set(PKG_${dir} "\${prefix}/${PKG_${dir}}")
  endif()
endforeach()
configure_file("${PKG_TEMPLATE}" "${PKG_OUTPUT}" @ONLY)
string(REPLACE "\${prefix}" "${PKG_PREFIX}" pc_dir "${PKG_LIBDIR}/pkgconfig")
file(INSTALL DESTINATION "${pc_dir}" TYPE FILE FILES "${PKG_OUTPUT}")
