#!/bin/sh
# Runs a corpus decode under valgrind's memcheck: any invalid access, use of
# uninitialised memory or leak fails. Without valgrind the test is skipped
# (exit 77), except in CI (CI=true), where a missing valgrind is a failure.
if ! command -v valgrind >/dev/null 2>&1; then
  if [ "${CI:-}" = true ]; then
    echo "valgrind is not installed, and CI=true requires it (scripts/install-deps.sh installs it)"
    exit 1
  fi
  echo "SKIPPED: valgrind is not installed (scripts/install-deps.sh installs it)"
  exit 77
fi
exec valgrind --quiet --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect "$@"
