# Where everything goes when it is installed, and the Debian packages built
# from the same rules.
#
# `make install` (scripts/install.sh) runs `cmake --install` with PREFIX and
# then packaging/set-helper-privileges; `make package` runs CPack's DEB
# generator on this build tree, which installs the same rules under /usr into
# a staging folder and packs two components:
#   daemon  -> tarnwatch-daemon: tarnixd, tarnixctl, tarnix-helper, the
#              systemd unit, their manual pages (no Qt among its libraries);
#   desktop -> tarnwatch: tarnix, its desktop entry, icons, AppStream data and
#              manual page; depends on tarnwatch-daemon of the same version.
# The maintainer scripts of tarnwatch-daemon (packaging/postinst ...) run the
# same set-helper-privileges that `make install` runs.
#
# CPack rather than a debian/ folder with dpkg-buildpackage: the packages are
# made from the tree `make build` already built, in seconds (which the
# install test in `make test` needs), with dpkg-shlibdeps for the dependencies
# all the same; debhelper would configure and build a second tree of its own
# (minutes on a busy machine) and keep a second copy of the install layout.

include(GNUInstallDirs)

set(TW_HELPER_INSTALL_SUBDIR ${CMAKE_INSTALL_LIBEXECDIR}/tarnwatch)
# The unit goes where systemd looks for units of the prefix:
# /usr/lib/systemd/system for the packages, /usr/local/lib/systemd/system
# for a `make install` with the default PREFIX.
set(TW_UNIT_SUBDIR lib/systemd/system)
# The project's web address and the AppStream id. The metainfo file names
# the same address for its screenshots.
set(TW_HOMEPAGE "https://github.com/tarnwatch/tarnwatch")
set(TW_APPSTREAM_ID io.github.tarnwatch.tarnwatch)

# ---------------------------------------------------------------------------
# tarnwatch-daemon
foreach(prog tarnixd tarnixctl)
  get_target_property(type ${prog} TYPE)
  if(type STREQUAL "EXECUTABLE")
    install(TARGETS ${prog} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT daemon)
  endif()
endforeach()
# Installed root:root 0755 without capabilities: set-helper-privileges makes
# it root:tarnwatch 0750 with its capabilities afterwards (the postinst, or
# scripts/install.sh).
install(TARGETS tarnix-helper RUNTIME DESTINATION ${TW_HELPER_INSTALL_SUBDIR} COMPONENT daemon)
install(PROGRAMS ${CMAKE_SOURCE_DIR}/packaging/set-helper-privileges
        DESTINATION ${TW_HELPER_INSTALL_SUBDIR} COMPONENT daemon)

# The unit names tarnixd by its installed path, which is only known when the
# rules run (`cmake --install --prefix`; CPack installs with /usr and DESTDIR),
# so it is written then.
install(CODE "
  set(TW_UNIT_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  configure_file(\"${CMAKE_SOURCE_DIR}/packaging/tarnixd.service.in\"
                 \"${CMAKE_BINARY_DIR}/packaging/tarnixd.service\" @ONLY)
" COMPONENT daemon)
install(FILES ${CMAKE_BINARY_DIR}/packaging/tarnixd.service DESTINATION ${TW_UNIT_SUBDIR} COMPONENT daemon)

# Manual pages: roff sources in man/, installed compressed as Debian wants.
set(TW_MAN_daemon tarnixd.8 tarnixctl.1)
set(TW_MAN_desktop tarnix.1)
set(TW_MAN_GZ "")
foreach(page ${TW_MAN_daemon} ${TW_MAN_desktop})
  set(out ${CMAKE_BINARY_DIR}/man/${page}.gz)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND sh -c "gzip -9n -c \"$0\" > \"$1\"" ${CMAKE_SOURCE_DIR}/man/${page} ${out}
    DEPENDS ${CMAKE_SOURCE_DIR}/man/${page} VERBATIM)
  list(APPEND TW_MAN_GZ ${out})
endforeach()
add_custom_target(tw_man_pages ALL DEPENDS ${TW_MAN_GZ})
foreach(component daemon desktop)
  foreach(page ${TW_MAN_${component}})
    string(REGEX REPLACE ".*\\.([0-9])$" "\\1" section ${page})
    install(FILES ${CMAKE_BINARY_DIR}/man/${page}.gz
            DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${component})
  endforeach()
endforeach()

# ---------------------------------------------------------------------------
# tarnwatch
if(TARGET tarnix)
  install(TARGETS tarnix RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT desktop)
  install(FILES ${CMAKE_SOURCE_DIR}/data/tarnix.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT desktop)
  install(FILES ${CMAKE_SOURCE_DIR}/data/${TW_APPSTREAM_ID}.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT desktop)
  install(FILES ${CMAKE_SOURCE_DIR}/data/icons/tarnix.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT desktop)
  foreach(size 16 22 24 32 48 64 128 256)
    install(FILES ${CMAKE_SOURCE_DIR}/data/icons/tarnix-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME tarnix.png COMPONENT desktop)
  endforeach()
endif()

foreach(component daemon desktop)
  set(package tarnwatch-daemon)
  if(component STREQUAL "desktop")
    set(package tarnwatch)
  endif()
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
endforeach()

# ---------------------------------------------------------------------------
# The packages.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarnwatch)
set(CPACK_PACKAGE_VENDOR "The Tarnwatch developers")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL daemon)
if(TARGET tarnix)
  list(APPEND CPACK_COMPONENTS_ALL desktop)
endif()
# Debian's usual way of naming the maintainer of a build (dch, debchange),
# else the project's own line.
if(DEFINED ENV{DEBFULLNAME} AND DEFINED ENV{DEBEMAIL})
  set(TW_DEFAULT_MAINTAINER "$ENV{DEBFULLNAME} <$ENV{DEBEMAIL}>")
else()
  set(TW_DEFAULT_MAINTAINER "Tarnwatch maintainers <maintainers@users.noreply.c-seed-4a61180e.example>")
endif()
set(TW_PACKAGE_MAINTAINER "${TW_DEFAULT_MAINTAINER}" CACHE STRING "Maintainer line of the Debian packages")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TW_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${TW_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)

set(CPACK_DEBIAN_DAEMON_PACKAGE_NAME tarnwatch-daemon)
# What the maintainer scripts call besides the essential tools (adduser,
# libcap2-bin), and the libraries tarnixd and the helper load only when they
# need them (dlopen), which the shared-library scan does not see: with the
# versions that have every function they use.
set(CPACK_DEBIAN_DAEMON_PACKAGE_DEPENDS "adduser, libcap2-bin, libnftables1 (>= 1.0.2), libsystemd0 (>= 237)")
set(CPACK_DEBIAN_DAEMON_PACKAGE_SUGGESTS "prometheus-node-exporter")
set(CPACK_COMPONENT_DAEMON_DESCRIPTION
"network traffic and connection monitor, headless
Tarnwatch watches the network activity of this machine: the traffic of one
interface with speeds and totals, the TCP connections with their processes
and an auto-block rule file, packet capture and a packet filter of DROP
rules, with template-driven logs.
.
This package holds tarnixd, the monitors without a window (with a systemd
service, installed disabled), tarnixctl, which sends commands to running
instances and prints their status record, and tarnix-helper, which does the
privileged work for the members of the group tarnwatch.")
set(TW_DAEMON_SCRIPTS postinst prerm postrm)
list(TRANSFORM TW_DAEMON_SCRIPTS PREPEND ${CMAKE_SOURCE_DIR}/packaging/)
set(CPACK_DEBIAN_DAEMON_PACKAGE_CONTROL_EXTRA "${TW_DAEMON_SCRIPTS}")

set(CPACK_DEBIAN_DESKTOP_PACKAGE_NAME tarnwatch)
set(CPACK_COMPONENT_DESKTOP_DEPENDS daemon)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
# ping and traceroute run as child processes of the tools; Qt's own Japanese
# button texts.
set(CPACK_DEBIAN_DESKTOP_PACKAGE_RECOMMENDS "iputils-ping, traceroute, qt6-translations-l10n")
set(CPACK_COMPONENT_DESKTOP_DESCRIPTION
"desktop network monitor
Tarnwatch watches the network activity of this machine in one window, a
Mini Monitor and the tray icon: the send and receive speeds of one interface
as a scrolling graph with capture and all-time totals, the TCP connections
with their processes and host names (closing unwanted ones from a rule file),
packet capture, a packet filter of DROP rules, and the tools ping,
traceroute, WHOIS, DNS lookups, netstat and protocol statistics.
.
The user interface is in English and Japanese.")

# The version is decided when the packages are made, so that a snapshot
# names the commit it was built from (packaging/CPackProjectConfig.cmake.in).
find_program(TW_GIT_EXECUTABLE git)
configure_file(${CMAKE_SOURCE_DIR}/packaging/CPackProjectConfig.cmake.in
               ${CMAKE_BINARY_DIR}/packaging/CPackProjectConfig.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/packaging/CPackProjectConfig.cmake)
include(CPack)

# ---------------------------------------------------------------------------
# Tests, in every tree that builds the desktop program (the ASan tree of `make
# test` included: its packages are never shipped, but what they hold and what
# installing them does are the same; `make package` builds from the normal
# tree).
if(TARGET tarnix)
# The files as they are in the tree: desktop-file-validate, appstreamcli,
# man --warnings, systemd-analyze verify and security, the versions they name.
add_test(NAME packaging_files
         COMMAND ${CMAKE_SOURCE_DIR}/tests/packaging/check_files.sh ${CMAKE_BINARY_DIR} ${PROJECT_VERSION})
# Builds the packages, installs them with apt-get, looks at the result and
# purges them (root only; skipped when Tarnwatch is installed as packages).
add_test(NAME packaging_install
         COMMAND ${CMAKE_SOURCE_DIR}/tests/packaging/install_test.sh ${CMAKE_BINARY_DIR})
set_tests_properties(packaging_files packaging_install PROPERTIES SKIP_RETURN_CODE 77)
# It installs system packages and creates the group tarnwatch, which the
# integration tests use as well.
set_tests_properties(packaging_install PROPERTIES RUN_SERIAL TRUE TIMEOUT 600)
endif()
