# cmake -DSOURCE_DIR=dir -DOUTPUT=header -P CommitId.cmake
# Writes a header defining KIV_COMMIT_ID, the commit checked out in SOURCE_DIR:
# 40 lowercase hexadecimal digits, or 40 zeros when SOURCE_DIR is not the top
# of a git checkout (a source archive, no git installed). The header is only
# rewritten when the commit changed, so that an unchanged commit rebuilds
# nothing.
set(commit "0000000000000000000000000000000000000000")
execute_process(
  COMMAND git -C "${SOURCE_DIR}" rev-parse --show-toplevel HEAD
  OUTPUT_VARIABLE out RESULT_VARIABLE status ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
if(status EQUAL 0)
  string(REPLACE "\n" ";" lines "${out}")
  list(LENGTH lines count)
  if(count EQUAL 2)
    list(GET lines 0 top)
    list(GET lines 1 head)
    file(REAL_PATH "${top}" top)
    file(REAL_PATH "${SOURCE_DIR}" source)
    # A source tree unpacked inside some other checkout is not that commit.
    if(top STREQUAL source AND head MATCHES "^[0-9a-f]+$")
      string(LENGTH "${head}" length)
      if(length EQUAL 40)
        set(commit "${head}")
      endif()
    endif()
  endif()
endif()

set(content "// Generated at build time from the git checkout; do not edit.\n#pragma once\n#define KIV_COMMIT_ID \"${commit}\"\n")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
  if(old STREQUAL content)
    return()
  endif()
endif()
file(WRITE "${OUTPUT}" "${content}")
