# Optional parts (tests, the command-line tools, benchmarks) need packages
# the library does not. A part whose packages are missing is skipped with a
# message naming them, so that `cmake -S . -B build` of the library alone
# needs only a compiler and CMake; with CI=true in the environment a missing
# package is an error instead, so that CI never passes by skipping.

# mervox_optional_part(<part> <option> <missing>): when <missing> (a list of
# package descriptions) is not empty, reports it and turns <option> off for
# this configuration (the cache keeps the user's choice).
function(mervox_optional_part part option missing)
  if(NOT missing)
    return()
  endif()
  list(JOIN missing ", " text)
  if("$ENV{CI}" STREQUAL "true")
    message(FATAL_ERROR "mervox: ${part} need ${text} (CI=true: a missing package is an error)")
  endif()
  message(WARNING "mervox: ${part} skipped, missing ${text}; "
                  "scripts/install-deps.sh installs them, -D${option}=OFF silences this")
  set(${option} OFF PARENT_SCOPE)
endfunction()

# mervox_find_pkg_config(<module> <description> <missing-list-var>): looks a
# pkg-config module up quietly and appends <description> to the list if it is
# not found.
function(mervox_find_pkg_config module description missing_var)
  find_package(PkgConfig QUIET)
  if(PKG_CONFIG_FOUND)
    pkg_check_modules(MERVOX_PROBE_${module} QUIET ${module})
  endif()
  if(NOT MERVOX_PROBE_${module}_FOUND)
    set(${missing_var} ${${missing_var}} "${description}" PARENT_SCOPE)
  endif()
endfunction()

# mervox_part_unavailable(<part> <option> <why>): a part chosen with an
# AUTO/ON/OFF option (the plugins, the Python module) that cannot be built
# here. With AUTO it is skipped with a message (the caller returns); with ON,
# and under CI=true, where a skip would hide a broken environment, it is an
# error.
function(mervox_part_unavailable part option why)
  if(${option} STREQUAL "ON" OR "$ENV{CI}" STREQUAL "true")
    message(FATAL_ERROR "${part}: ${why}.")
  endif()
  message(STATUS "${part} skipped: ${why} (-D${option}=OFF leaves it out).")
endfunction()
