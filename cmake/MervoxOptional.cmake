# Optional parts (tests, the command, benchmarks, the plugins, the Python
# module) need packages the library does not. Each has one switch of one
# style:
#   AUTO  (default) built when mervox is the top-level project and its
#         packages are found; skipped with a message naming what is missing
#   ON    built, also in a subproject; a missing package is an error
#   OFF   not built
# With CI=true in the environment a missing package is an error under AUTO
# too, so that CI never passes by skipping. `cmake -S . -B build` of the
# library alone so needs only a compiler and CMake.

# mervox_optional(<option> <part>): declares the switch and resolves it for
# this configuration: afterwards ${option} is ON (wanted) or OFF. The cache
# keeps the user's choice.
macro(mervox_optional option part)
  set(${option} AUTO CACHE STRING "Build ${part}: AUTO (when mervox is the top-level project and the packages are found), ON or OFF")
  set_property(CACHE ${option} PROPERTY STRINGS AUTO ON OFF)
  if("${${option}}" STREQUAL "AUTO")
    set(${option} ${MERVOX_TOP_LEVEL})
  elseif(${option})
    set(${option} ON)
  else()
    set(${option} OFF)
  endif()
endmacro()

# mervox_optional_part(<part> <option> <missing>): when <missing> (what the
# part lacks: a list of packages, or a sentence) is not empty, the part
# cannot be built here: an error when it was asked for with ON or under
# CI=true, else a warning, and ${option} is turned off in the caller's scope
# (which returns from a part's own folder).
function(mervox_optional_part part option missing)
  if(NOT missing)
    return()
  endif()
  list(JOIN missing ", " text)
  if("$ENV{CI}" STREQUAL "true")
    message(FATAL_ERROR "mervox: ${part} need ${text} (CI=true: a missing package is an error)")
  endif()
  if("$CACHE{${option}}" STREQUAL "ON")
    message(FATAL_ERROR "mervox: ${part} need ${text} (-D${option}=ON)")
  endif()
  message(WARNING "mervox: ${part} skipped, missing ${text}; "
                  "scripts/install-deps.sh installs it, -D${option}=OFF silences this")
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
