# Checks that the C++ sources are written as .clang-format says:
#   cmake -DSOURCE_DIR=<tree> -DCLANG_FORMAT=<program> -P CheckFormat.cmake
# Lists every file that differs; `clang-format -i FILE` puts it right.
cmake_minimum_required(VERSION 3.25)

if(NOT SOURCE_DIR OR NOT CLANG_FORMAT)
  message(FATAL_ERROR "SOURCE_DIR and CLANG_FORMAT must be set")
endif()

set(files "")
foreach(dir src tests tools bench)
  file(GLOB_RECURSE found "${SOURCE_DIR}/${dir}/*.h" "${SOURCE_DIR}/${dir}/*.cpp")
  list(FILTER found EXCLUDE REGEX "/node_modules/")
  list(APPEND files ${found})
endforeach()
list(SORT files)

# One run for all files: it names each place that differs.
execute_process(COMMAND "${CLANG_FORMAT}" --dry-run -Werror --style=file ${files}
                RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE report)
set(differing "")
if(NOT result EQUAL 0)
  string(REGEX MATCHALL "[^\n]*: error: code should be clang-formatted" places "${report}")
  foreach(place IN LISTS places)
    string(REGEX REPLACE ":[0-9]+:[0-9]+: error: .*" "" file "${place}")
    file(RELATIVE_PATH shown "${SOURCE_DIR}" "${file}")
    list(APPEND differing "${shown}")
  endforeach()
  list(REMOVE_DUPLICATES differing)
  if(NOT differing)
    message(FATAL_ERROR "clang-format failed:\n${report}")
  endif()
endif()

list(LENGTH files checked)
if(differing)
  list(JOIN differing "\n  " text)
  message(FATAL_ERROR "Not formatted as .clang-format says (clang-format -i FILE):\n  ${text}")
endif()
message(STATUS "${checked} sources follow .clang-format")
