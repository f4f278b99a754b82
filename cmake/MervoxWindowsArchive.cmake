# The Windows release archive (cpack in a cross build's folder, or the
# `package` target): mervox-VERSION-win64.zip from the 64-bit build,
# mervox-VERSION-win32.zip from the 32-bit one. Inside, under
# mervox-VERSION-winNN/:
#   bin/      mervox.dll, mervox-api.dll (and mervox.exe where the build has
#             the command)
#   include/  mervox.h, mervox.hpp
#   lib/      import libraries for MinGW (libmervox.dll.a,
#             libmervox-api.dll.a) and MSVC (mervox.lib, mervox-api.lib),
#             and the module-definition files they are made from
#   LICENSE, README.txt
# Included by windows/CMakeLists.txt after the DLL targets.
if(MERVOX_WIN64)
  set(MERVOX_ARCHIVE_SUFFIX win64)
  set(MERVOX_LIB_MACHINE i386:x86-64)
  set(MERVOX_LEGACY_DEF ${CMAKE_CURRENT_SOURCE_DIR}/mervox-x64.def)
  set(MERVOX_KILL_AT)
else()
  set(MERVOX_ARCHIVE_SUFFIX win32)
  set(MERVOX_LIB_MACHINE i386)
  set(MERVOX_LEGACY_DEF ${CMAKE_CURRENT_SOURCE_DIR}/mervox.def)
  # The stdcall names keep their decoration (_DecSoundFrame@8, what the
  # header's declarations refer to) and import the undecorated exports.
  set(MERVOX_KILL_AT -k)
endif()

# MSVC's import libraries, in its short import format: LLVM's dlltool makes
# them (lld-link and link.exe read them alike). Where it is missing, mingw's
# dlltool for the same machine writes an import library in the long format,
# which link.exe reads too.
find_program(MERVOX_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 llvm-dlltool-15 llvm-dlltool-16)
set(MERVOX_MSVC_LIBS ${CMAKE_CURRENT_BINARY_DIR}/mervox.lib ${CMAKE_CURRENT_BINARY_DIR}/mervox-api.lib)
if(MERVOX_LLVM_DLLTOOL)
  set(MERVOX_LIB_COMMAND ${MERVOX_LLVM_DLLTOOL} -m ${MERVOX_LIB_MACHINE} ${MERVOX_KILL_AT})
  set(MERVOX_LIB_DEF -d)
  set(MERVOX_LIB_OUT -l)
else()
  set(MERVOX_LIB_COMMAND ${CMAKE_DLLTOOL} -m ${MERVOX_LIB_MACHINE} ${MERVOX_KILL_AT})
  set(MERVOX_LIB_DEF --input-def)
  set(MERVOX_LIB_OUT --output-lib)
endif()
add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/mervox.lib
  COMMAND ${MERVOX_LIB_COMMAND} ${MERVOX_LIB_DEF} ${MERVOX_LEGACY_DEF} ${MERVOX_LIB_OUT} mervox.lib
  DEPENDS ${MERVOX_LEGACY_DEF} VERBATIM)
add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/mervox-api.lib
  COMMAND ${MERVOX_LIB_COMMAND} ${MERVOX_LIB_DEF} ${CMAKE_CURRENT_SOURCE_DIR}/mervox-api.def
          ${MERVOX_LIB_OUT} mervox-api.lib
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/mervox-api.def VERBATIM)
add_custom_target(mervox_msvc_import_libs ALL DEPENDS ${MERVOX_MSVC_LIBS})

configure_file(${CMAKE_CURRENT_SOURCE_DIR}/README.txt.in ${CMAKE_CURRENT_BINARY_DIR}/README.txt @ONLY NEWLINE_STYLE CRLF)

# Everything goes into one component, so that the archive holds these files
# and nothing of the other install rules.
set(MERVOX_ARCHIVE_COMPONENT windows_release)
install(TARGETS mervox_dll mervox_api_dll
  RUNTIME DESTINATION bin COMPONENT ${MERVOX_ARCHIVE_COMPONENT}
  ARCHIVE DESTINATION lib COMPONENT ${MERVOX_ARCHIVE_COMPONENT})
if(TARGET mervox_cli)
  install(TARGETS mervox_cli RUNTIME DESTINATION bin COMPONENT ${MERVOX_ARCHIVE_COMPONENT})
endif()
install(FILES ${PROJECT_SOURCE_DIR}/include/mervox.h ${PROJECT_SOURCE_DIR}/include/mervox.hpp
  DESTINATION include COMPONENT ${MERVOX_ARCHIVE_COMPONENT})
install(FILES ${MERVOX_MSVC_LIBS} ${CMAKE_CURRENT_SOURCE_DIR}/mervox-api.def
  DESTINATION lib COMPONENT ${MERVOX_ARCHIVE_COMPONENT})
install(FILES ${MERVOX_LEGACY_DEF} DESTINATION lib RENAME mervox.def COMPONENT ${MERVOX_ARCHIVE_COMPONENT})
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${CMAKE_CURRENT_BINARY_DIR}/README.txt
  DESTINATION . COMPONENT ${MERVOX_ARCHIVE_COMPONENT})

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME mervox)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME mervox-${PROJECT_VERSION}-${MERVOX_ARCHIVE_SUFFIX})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${MERVOX_ARCHIVE_COMPONENT})
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_ARCHIVE_FILE_NAME ${CPACK_PACKAGE_FILE_NAME})
# Without their debugging sections (the command is 40 MB with them, 2 MB
# without); the exports, imports and version resources stay.
set(CPACK_STRIP_FILES ON)
include(CPack)
