# Runs kovahost on one scenario from the scenario's own directory and compares the output with
# NAME.expected beside it. Called by CTest (tests/kovahost/CMakeLists.txt) with KOVAHOST,
# SCENARIO, MODE (golden: standard output; bad: standard error, nothing on standard output) and
# OUT_DIR (where a differing output is kept as NAME.actual).
#
# A scenario may carry directives in comment lines:
#   # kovahost-args: --json      extra arguments before the file name
#   # kovahost-exit: 1           the exit status wanted (default 0; 2 in MODE bad)
#   # kovahost-also: json --json  one more run with these arguments instead, compared with
#                                 NAME.json.expected (the first word names the file)
# KOVA_UPDATE_GOLDEN=1 in the environment writes the expected file from this run instead.
cmake_minimum_required(VERSION 3.25)

get_filename_component(dir ${SCENARIO} DIRECTORY)
get_filename_component(file ${SCENARIO} NAME)
get_filename_component(stem ${SCENARIO} NAME_WE)
set(args "")
set(also "")
set(want_exit 0)
if(MODE STREQUAL "bad")
  set(want_exit 2)
endif()
file(STRINGS ${SCENARIO} directives REGEX "^# kovahost-(args|exit|also):")
foreach(line IN LISTS directives)
  if(line MATCHES "^# kovahost-args:[ ]*(.*)$")
    separate_arguments(args UNIX_COMMAND "${CMAKE_MATCH_1}")
  elseif(line MATCHES "^# kovahost-also:[ ]*([^ ]+)[ ]*(.*)$")
    list(APPEND also "${CMAKE_MATCH_1}")
    set(also_args_${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
  elseif(line MATCHES "^# kovahost-exit:[ ]*([0-9]+)")
    set(want_exit ${CMAKE_MATCH_1})
  endif()
endforeach()

# The outputs go to files, not pipes: under wine, a helper process the first program starts may
# inherit them and keep a pipe open long after kovahost.exe has ended.
function(run_and_compare args label)
  get_filename_component(folder ${dir} NAME)
  set(out_file ${OUT_DIR}/${folder}-${label}.stdout)
  set(err_file ${OUT_DIR}/${folder}-${label}.stderr)
  set(expected_file ${dir}/${label}.expected)
  execute_process(COMMAND ${KOVAHOST} ${args} ${file}
                  WORKING_DIRECTORY ${dir}
                  OUTPUT_FILE ${out_file} ERROR_FILE ${err_file} RESULT_VARIABLE status)
  file(READ ${out_file} out)
  file(READ ${err_file} err)
  file(REMOVE ${out_file} ${err_file})

  if(MODE STREQUAL "bad")
    if(NOT "${out}" STREQUAL "")
      message(FATAL_ERROR "${file}: bad input, yet something ran:\n${out}")
    endif()
    set(actual "${err}")
  else()
    set(actual "${out}")
  endif()
  # What may differ between runs and builds, and nothing else:
  # - the address of a profile record, which the add-in logs at DEBUG level;
  # - line ends: kovahost.exe writes "\r\n" (text-mode standard output and error on Windows);
  # - the path of the add-in the start step loads, in its heading and its JSON "addin": the build
  #   tree's libkovaevents.so, or kovaevents.dll as wine names it; the expected files say <addin>.
  string(REGEX REPLACE "pEventTriggerProfile=[0-9]+" "pEventTriggerProfile=<address>" actual
         "${actual}")
  string(REPLACE "\r\n" "\n" actual "${actual}")
  string(REGEX REPLACE "the host loads [^\n\"]* and calls MainEntryPoint"
         "the host loads <addin> and calls MainEntryPoint" actual "${actual}")
  string(REGEX REPLACE "\"addin\":\"[^\"]*\"" "\"addin\":\"<addin>\"" actual "${actual}")

  if(NOT "$ENV{KOVA_UPDATE_GOLDEN}" STREQUAL "" AND NOT "$ENV{KOVA_UPDATE_GOLDEN}" STREQUAL "0")
    file(WRITE ${expected_file} "${actual}")
    message(STATUS "wrote ${expected_file}")
  endif()

  if(NOT "${status}" STREQUAL "${want_exit}")
    message(FATAL_ERROR "${file}: exit status ${status}, wanted ${want_exit}\n"
                        "standard error:\n${err}")
  endif()
  if(NOT EXISTS ${expected_file})
    message(FATAL_ERROR "${file}: no ${label}.expected (run with KOVA_UPDATE_GOLDEN=1 to write it)")
  endif()
  file(READ ${expected_file} expected)
  if(NOT "${actual}" STREQUAL "${expected}")
    set(actual_file ${OUT_DIR}/${label}.actual)
    file(WRITE ${actual_file} "${actual}")
    execute_process(COMMAND diff -u ${expected_file} ${actual_file} OUTPUT_VARIABLE difference)
    message(FATAL_ERROR "${file}: output differs from ${label}.expected "
                        "(KOVA_UPDATE_GOLDEN=1 rewrites it)\n${difference}")
  endif()
endfunction()

run_and_compare("${args}" ${stem})
foreach(suffix IN LISTS also)
  separate_arguments(also_args UNIX_COMMAND "${also_args_${suffix}}")
  run_and_compare("${also_args}" ${stem}.${suffix})
endforeach()
