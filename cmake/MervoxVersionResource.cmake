# mervox_version_resource(<target> <file> <description> [<filetype>]): the
# version resource of a Windows DLL (filetype VFT_DLL, the default) or
# program (VFT_APP), configured from windows/version.rc.in.
function(mervox_version_resource target file description)
  set(MERVOX_RC_FILE ${file})
  set(MERVOX_RC_DESCRIPTION ${description})
  set(MERVOX_RC_FILETYPE VFT_DLL)
  if(ARGC GREATER 3)
    set(MERVOX_RC_FILETYPE ${ARGV3})
  endif()
  get_filename_component(MERVOX_RC_NAME ${file} NAME_WE)
  configure_file(${PROJECT_SOURCE_DIR}/windows/version.rc.in ${CMAKE_CURRENT_BINARY_DIR}/${MERVOX_RC_NAME}.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${MERVOX_RC_NAME}.rc)
endfunction()
