# `cmake --install`: both libraries, the headers, a pkg-config file and a
# CMake package exporting mervox::mervox (shared) and mervox::mervox_static.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(MERVOX_CMAKE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/mervox)

# mervox_flags (compiler settings, warnings) is internal to the build and
# not exported; a program linking a sanitizer build of the static library
# adds -fsanitize=address,undefined itself. Components: `lib` is the shared
# library alone, `dev` everything a program is built with.
install(TARGETS mervox mervox_static
  EXPORT mervoxTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT lib NAMELINK_COMPONENT dev
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT lib
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/mervox.h ${PROJECT_SOURCE_DIR}/include/mervox.hpp
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)

install(EXPORT mervoxTargets NAMESPACE mervox:: DESTINATION ${MERVOX_CMAKE_INSTALL_DIR} COMPONENT dev)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/mervoxConfig.cmake.in
  ${PROJECT_BINARY_DIR}/mervoxConfig.cmake INSTALL_DESTINATION ${MERVOX_CMAKE_INSTALL_DIR})
# While the major version is 0 every minor version may change the interface:
# find_package(mervox 0.3) accepts 0.3.x only. From 1.0 on, SameMajorVersion.
if(PROJECT_VERSION_MAJOR EQUAL 0)
  set(MERVOX_VERSION_COMPATIBILITY SameMinorVersion)
else()
  set(MERVOX_VERSION_COMPATIBILITY SameMajorVersion)
endif()
write_basic_package_version_file(${PROJECT_BINARY_DIR}/mervoxConfigVersion.cmake
  COMPATIBILITY ${MERVOX_VERSION_COMPATIBILITY})
install(FILES ${PROJECT_BINARY_DIR}/mervoxConfig.cmake ${PROJECT_BINARY_DIR}/mervoxConfigVersion.cmake
  DESTINATION ${MERVOX_CMAKE_INSTALL_DIR} COMPONENT dev)

# pkg-config: paths relative to the .pc file, so the tree can be moved or
# installed with --prefix.
file(RELATIVE_PATH MERVOX_PC_PREFIX "${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig" "${CMAKE_INSTALL_PREFIX}")
string(REGEX REPLACE "/$" "" MERVOX_PC_PREFIX "${MERVOX_PC_PREFIX}")
set(MERVOX_PC_LIBS_PRIVATE "-lstdc++ -lm")
if(MERVOX_SANITIZE)
  string(APPEND MERVOX_PC_LIBS_PRIVATE " -fsanitize=address,undefined")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/mervox.pc.in ${PROJECT_BINARY_DIR}/mervox.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/mervox.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
