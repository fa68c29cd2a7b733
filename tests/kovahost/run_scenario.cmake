# Runs kovahost on one scenario from the scenario's own directory and compares the output with
# NAME.expected beside it. Called by CTest (tests/kovahost/CMakeLists.txt) with KOVAHOST,
# SCENARIO, MODE (golden: standard output; bad: standard error, nothing on standard output) and
# OUT_DIR (where a differing output is kept as NAME.actual).
#
# A scenario may carry directives in comment lines:
#   # kovahost-args: --json      extra arguments before the file name
#   # kovahost-exit: 1           the exit status wanted (default 0; 2 in MODE bad)
# KOVA_UPDATE_GOLDEN=1 in the environment writes the expected file from this run instead.
cmake_minimum_required(VERSION 3.25)

get_filename_component(dir ${SCENARIO} DIRECTORY)
get_filename_component(file ${SCENARIO} NAME)
get_filename_component(stem ${SCENARIO} NAME_WE)
set(expected_file ${dir}/${stem}.expected)

set(args "")
set(want_exit 0)
if(MODE STREQUAL "bad")
  set(want_exit 2)
endif()
file(STRINGS ${SCENARIO} directives REGEX "^# kovahost-(args|exit):")
foreach(line IN LISTS directives)
  if(line MATCHES "^# kovahost-args:[ ]*(.*)$")
    separate_arguments(args UNIX_COMMAND "${CMAKE_MATCH_1}")
  elseif(line MATCHES "^# kovahost-exit:[ ]*([0-9]+)")
    set(want_exit ${CMAKE_MATCH_1})
  endif()
endforeach()

execute_process(COMMAND ${KOVAHOST} ${args} ${file}
                WORKING_DIRECTORY ${dir}
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)

if(MODE STREQUAL "bad")
  if(NOT "${out}" STREQUAL "")
    message(FATAL_ERROR "${file}: bad input, yet something ran:\n${out}")
  endif()
  set(actual "${err}")
else()
  set(actual "${out}")
endif()
# The add-in logs the address of a profile record at DEBUG level; it differs from run to run.
string(REGEX REPLACE "pEventTriggerProfile=[0-9]+" "pEventTriggerProfile=<address>" actual
       "${actual}")

if(NOT "$ENV{KOVA_UPDATE_GOLDEN}" STREQUAL "" AND NOT "$ENV{KOVA_UPDATE_GOLDEN}" STREQUAL "0")
  file(WRITE ${expected_file} "${actual}")
  message(STATUS "wrote ${expected_file}")
endif()

if(NOT "${status}" STREQUAL "${want_exit}")
  message(FATAL_ERROR "${file}: exit status ${status}, wanted ${want_exit}\n"
                      "standard error:\n${err}")
endif()
if(NOT EXISTS ${expected_file})
  message(FATAL_ERROR "${file}: no ${stem}.expected (run with KOVA_UPDATE_GOLDEN=1 to write it)")
endif()
file(READ ${expected_file} expected)
if(NOT "${actual}" STREQUAL "${expected}")
  set(actual_file ${OUT_DIR}/${stem}.actual)
  file(WRITE ${actual_file} "${actual}")
  execute_process(COMMAND diff -u ${expected_file} ${actual_file} OUTPUT_VARIABLE difference)
  message(FATAL_ERROR "${file}: output differs from ${stem}.expected "
                      "(KOVA_UPDATE_GOLDEN=1 rewrites it)\n${difference}")
endif()
