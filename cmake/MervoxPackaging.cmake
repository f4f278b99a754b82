# Debian packages, one per install component, from the same install rules as
# `cmake --install`: `scripts/package.sh` configures with the prefix /usr and
# runs `cpack -G DEB`. Dependencies on system libraries come from
# dpkg-shlibdeps; dependencies between our own packages are exact versions.
include(GNUInstallDirs)

set(MERVOX_DEB_MAINTAINER "mervox developers <mervox-dev@lists.mervox.org>")

# Each package carries its copyright file and a compressed changelog in
# /usr/share/doc/<package>, as Debian policy asks.
function(mervox_package_docs component package)
  set(doc ${CMAKE_INSTALL_DATADIR}/doc/${package})
  install(FILES ${PROJECT_BINARY_DIR}/packaging/copyright DESTINATION ${doc} COMPONENT ${component})
  install(FILES ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz DESTINATION ${doc} COMPONENT ${component})
endfunction()

# The Debian copyright file in machine-readable form, with LICENSE as the
# licence text (indented one space, blank lines as " .").
file(READ ${PROJECT_SOURCE_DIR}/LICENSE MERVOX_LICENSE_BODY)
string(STRIP "${MERVOX_LICENSE_BODY}" MERVOX_LICENSE_BODY)
string(REPLACE "\n\n" "\n.\n" MERVOX_LICENSE_BODY "${MERVOX_LICENSE_BODY}")
string(REPLACE "\n" "\n " MERVOX_LICENSE_BODY " ${MERVOX_LICENSE_BODY}\n")
file(WRITE ${PROJECT_BINARY_DIR}/packaging/copyright
  "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
  "Upstream-Name: mervox\n\n"
  "Files: *\n"
  "Copyright: 2026 the mervox developers\n"
  "License: BSD-2-Clause\n${MERVOX_LICENSE_BODY}")

# A Debian changelog (packages built from this tree are native) compressed
# reproducibly: gzip -n leaves out the name and time stamp.
string(TIMESTAMP MERVOX_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE ${PROJECT_BINARY_DIR}/packaging/changelog
  "mervox (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
  "  * Release ${PROJECT_VERSION}; see CHANGELOG.md in the source tree.\n\n"
  " -- ${MERVOX_DEB_MAINTAINER}  ${MERVOX_DEB_DATE}\n")
find_program(MERVOX_GZIP gzip REQUIRED)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz
  COMMAND ${MERVOX_GZIP} -9nc changelog > changelog.Debian.gz
  DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog
  WORKING_DIRECTORY ${PROJECT_BINARY_DIR}/packaging)
add_custom_target(mervox_package_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz)

set(CPACK_PACKAGE_NAME mervox)
set(CPACK_PACKAGE_VENDOR "the mervox developers")
set(CPACK_PACKAGE_CONTACT "${MERVOX_DEB_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# CPack puts a project-wide summary line in front of each package's own
# description unless the summary is CPack's default one; each package below
# has its own summary, so keep the default.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
# dpkg-shlibdeps must find our own shared library in the staging tree.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

# Descriptions: the summary line, then paragraphs (CPack indents them).
set(MERVOX_DEB_ABOUT
  "mervox decodes ITU-T G.723.1 speech (6.3 kbit/s multipulse and 5.3 kbit/s\nalgebraic frames, 30 ms each) into 16-bit PCM at 8 kHz and conceals lost\nand faulty frames.")

# component  package  section  summary  (dependencies among components are added below)
set(CPACK_DEBIAN_LIB_PACKAGE_NAME libmervox0)
set(CPACK_DEBIAN_LIB_PACKAGE_SECTION libs)
# The ldconfig trigger Debian expects of a shared library package (CPack also
# adds its own ldconfig call in postinst and postrm: harmless, see doc/building.md).
file(WRITE ${PROJECT_BINARY_DIR}/packaging/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_LIB_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/packaging/triggers)
set(CPACK_COMPONENT_LIB_DESCRIPTION "G.723.1 speech decoder library\n${MERVOX_DEB_ABOUT}\n\nThis package holds the shared library.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libmervox-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DEPENDS lib)
set(CPACK_COMPONENT_DEV_DESCRIPTION "G.723.1 speech decoder library: development files\n${MERVOX_DEB_ABOUT}\n\nThis package holds the headers, the static library, a pkg-config file\nand a CMake package.")

set(CPACK_DEBIAN_COMMAND_PACKAGE_NAME mervox)
set(CPACK_DEBIAN_COMMAND_PACKAGE_SECTION sound)
set(CPACK_COMPONENT_COMMAND_DESCRIPTION "G.723.1 speech decoder: command-line tool\n${MERVOX_DEB_ABOUT}\n\nThe mervox command decodes stream files to WAV or raw PCM, reports on\nthem, and decodes every G.723.1 RTP stream of a pcap or pcapng capture.")

# Plugins and bindings add their component to the global property
# MERVOX_DEB_COMPONENTS when they are built (wireshark, gstreamer, python).
set(CPACK_DEBIAN_WIRESHARK_PACKAGE_NAME wireshark-plugin-mervox)
set(CPACK_DEBIAN_WIRESHARK_PACKAGE_SECTION net)
set(CPACK_COMPONENT_WIRESHARK_DESCRIPTION "G.723.1 codec plugin for Wireshark\n${MERVOX_DEB_ABOUT}\n\nThis plugin lets Wireshark's RTP player and sharkd play and export\nG.723.1 streams (payload type 4, or the SDP name G723).")

set(CPACK_DEBIAN_GSTREAMER_PACKAGE_NAME gstreamer1.0-mervox)
set(CPACK_DEBIAN_GSTREAMER_PACKAGE_SECTION sound)
set(CPACK_COMPONENT_GSTREAMER_DESCRIPTION "G.723.1 decoder element for GStreamer\n${MERVOX_DEB_ABOUT}\n\nThis plugin provides the elements mervoxdec (audio/G723 to 16-bit PCM,\nwith loss concealment) and mervoxparse (raw stream files to frames).")

set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-mervox)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_COMPONENT_PYTHON_DESCRIPTION "G.723.1 speech decoder for Python 3\n${MERVOX_DEB_ABOUT}\n\nThe module mervox decodes streams and captures into NumPy arrays.")

get_property(MERVOX_DEB_EXTRA_COMPONENTS GLOBAL PROPERTY MERVOX_DEB_COMPONENTS)
set(MERVOX_DEB_COMPONENTS lib dev command ${MERVOX_DEB_EXTRA_COMPONENTS})
set(CPACK_COMPONENTS_ALL ${MERVOX_DEB_COMPONENTS})

foreach(component IN LISTS MERVOX_DEB_COMPONENTS)
  string(TOUPPER ${component} upper)
  mervox_package_docs(${component} ${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
endforeach()

include(CPack)
