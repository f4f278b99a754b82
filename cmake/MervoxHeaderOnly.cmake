# CLI11 and nlohmann-json for a cross build of the command (Windows): both
# are header-only, so the build machine's copies serve any target. Their
# folders are linked into one include directory of the build tree, so that
# the cross compiler sees them and none of the build machine's other
# headers. Defines CLI11::CLI11 and nlohmann_json::nlohmann_json, or adds
# what is missing to the list `missing`.
set(MERVOX_HOST_INCLUDE_DIR /usr/include CACHE PATH "Where the build machine's CLI11 and nlohmann-json headers are")
set(header_only_dir ${CMAKE_BINARY_DIR}/header-only)
file(MAKE_DIRECTORY ${header_only_dir})
foreach(entry "CLI;CLI/CLI.hpp;CLI11 (libcli11-dev)" "nlohmann;nlohmann/json.hpp;nlohmann-json (nlohmann-json3-dev)")
  list(GET entry 0 folder)
  list(GET entry 1 header)
  list(GET entry 2 package)
  if(NOT EXISTS ${MERVOX_HOST_INCLUDE_DIR}/${header})
    list(APPEND missing "${package}")
  elseif(NOT EXISTS ${header_only_dir}/${folder})
    file(CREATE_LINK ${MERVOX_HOST_INCLUDE_DIR}/${folder} ${header_only_dir}/${folder} SYMBOLIC)
  endif()
endforeach()
if(NOT TARGET CLI11::CLI11)
  add_library(CLI11::CLI11 INTERFACE IMPORTED)
  set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${header_only_dir})
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${header_only_dir})
endif()
