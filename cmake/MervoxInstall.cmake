# `cmake --install`: both libraries, the headers, a pkg-config file and a
# CMake package exporting mervox::mervox (shared) and mervox::mervox_static.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(MERVOX_CMAKE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/mervox)

# The static library carries its private link dependency on mervox_flags
# (sanitizer link options in a sanitizer build) into the export. Components:
# `lib` is the shared library alone, `dev` everything a program is built with.
install(TARGETS mervox mervox_static mervox_flags
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
write_basic_package_version_file(${PROJECT_BINARY_DIR}/mervoxConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
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
