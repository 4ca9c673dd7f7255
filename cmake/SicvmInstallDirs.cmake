# SPDX-License-Identifier: MIT
# The GNU install folders, with Debian's multiarch library folder.
#
# GNUInstallDirs picks lib/<multiarch> (lib/x86_64-linux-gnu) only when the
# prefix given at configure time is /usr. The same install rules also fill
# the Debian packages, whose prefix is always /usr, and serve
# `cmake --install --prefix /usr`; so on Debian and its derivatives the
# libraries, the CMake package and the pkg-config files go to lib/<multiarch>
# under every prefix. Debian's loader, pkg-config and CMake search
# <prefix>/lib/<multiarch> under /usr/local too. A CMAKE_INSTALL_LIBDIR given
# by the user is kept, and so is a parent project's (add_subdirectory).
if(SICVM_TOP_LEVEL AND CMAKE_LIBRARY_ARCHITECTURE AND EXISTS /etc/debian_version AND NOT CMAKE_CROSSCOMPILING)
  set(sicvm_multiarch_libdir "lib/${CMAKE_LIBRARY_ARCHITECTURE}")
  # Ours to choose: nothing cached yet, the value chosen here before, or the
  # plain "lib" GNUInstallDirs cached in a tree configured before this rule.
  if(NOT DEFINED CMAKE_INSTALL_LIBDIR
     OR CMAKE_INSTALL_LIBDIR STREQUAL "${_SICVM_DEFAULT_LIBDIR}"
     OR (NOT DEFINED _SICVM_DEFAULT_LIBDIR AND DEFINED _GNUInstallDirs_LAST_CMAKE_INSTALL_PREFIX
         AND CMAKE_INSTALL_LIBDIR STREQUAL "lib"))
    set(sicvm_choose_libdir ON)
    set(_SICVM_DEFAULT_LIBDIR "${sicvm_multiarch_libdir}" CACHE INTERNAL "Library folder chosen by sicvm")
    set(CMAKE_INSTALL_LIBDIR "${sicvm_multiarch_libdir}" CACHE PATH
      "Object code libraries (${sicvm_multiarch_libdir})" FORCE)
  endif()
endif()

include(GNUInstallDirs)

# GNUInstallDirs puts its own default back when the prefix changes from /usr.
if(sicvm_choose_libdir AND NOT CMAKE_INSTALL_LIBDIR STREQUAL sicvm_multiarch_libdir)
  set(CMAKE_INSTALL_LIBDIR "${sicvm_multiarch_libdir}" CACHE PATH
    "Object code libraries (${sicvm_multiarch_libdir})" FORCE)
  GNUInstallDirs_get_absolute_install_dir(CMAKE_INSTALL_FULL_LIBDIR CMAKE_INSTALL_LIBDIR LIBDIR)
endif()
