# Regenerates the tables into WORK_DIR with GENTABLES and compares every file
# it writes with its checked-in copy in TABLES_DIR, byte for byte.
#
#   cmake -DGENTABLES=... -DDATA_DIR=... -DTABLES_DIR=... -DWORK_DIR=... -P check_tables.cmake
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
execute_process(COMMAND ${GENTABLES} ${DATA_DIR} ${WORK_DIR} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gentables failed (${status})")
endif()
file(GLOB generated RELATIVE ${WORK_DIR} ${WORK_DIR}/*)
list(LENGTH generated count)
if(count EQUAL 0)
  message(FATAL_ERROR "gentables wrote nothing into ${WORK_DIR}")
endif()
set(stale "")
foreach(name ${generated})
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK_DIR}/${name} ${TABLES_DIR}/${name}
                  RESULT_VARIABLE differs)
  if(differs)
    list(APPEND stale ${name})
  endif()
endforeach()
if(stale)
  message(FATAL_ERROR "src/tables/ differs from the generator's output in: ${stale} "
                      "(cmake --build <build> --target mervox_regenerate_tables)")
endif()
message(STATUS "${count} generated table files match src/tables/: ${generated}")
