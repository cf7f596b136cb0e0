# Writes the version header every program includes: the project's version, and the git commit (with "-dirty"
# for uncommitted changes) when built from a checkout. Rewritten only when the text changes, so that a build
# without a new commit recompiles nothing.
#   cmake -DSOURCE=dir -DOUTPUT=file -DVERSION=x.y.z -P Version.cmake
set(text "${VERSION}")
execute_process(COMMAND git -C "${SOURCE}" rev-parse --short=10 HEAD
                OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed ERROR_QUIET)
if(NOT failed AND commit)
  execute_process(COMMAND git -C "${SOURCE}" diff --quiet HEAD RESULT_VARIABLE dirty ERROR_QUIET)
  if(dirty)
    set(commit "${commit}-dirty")
  endif()
  set(text "${VERSION} (git ${commit})")
endif()
set(content "// Generated at build time by cmake/Version.cmake; do not edit.\n#pragma once\n#define SKYVANE_VERSION \"${text}\"\n")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
endif()
if(NOT old STREQUAL content)
  file(WRITE "${OUTPUT}" "${content}")
endif()
