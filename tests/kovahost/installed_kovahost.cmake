# The installed kovahost stands on its own: `cmake --install` of the build into an empty PREFIX,
# whose kovahost must load the add-in installed with it (the start heading names that library)
# and, once that library is removed, say where it looked and exit 2, although the build tree's
# add-in is still there. What runs nothing needs no add-in. Called by CTest
# (tests/kovahost/CMakeLists.txt) with BUILD_DIR, PREFIX, BUILT_ADDIN (the build tree's add-in),
# below PREFIX: KOVAHOST, ADDIN (the installed add-in), BESIDE (the add-in's name beside kovahost,
# the first place it looks), EXAMPLE (an installed scenario) and DOCS (the installed
# documentation's folder); EMULATOR runs kovahost.exe (wine).
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE ${PREFIX})
set(ENV{DESTDIR} "")
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                OUTPUT_QUIET RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install ${BUILD_DIR} --prefix ${PREFIX} failed")
endif()
if(NOT EXISTS ${BUILT_ADDIN})
  message(FATAL_ERROR "no ${BUILT_ADDIN}: the test would not show that kovahost leaves it alone")
endif()
file(REAL_PATH ${PREFIX} prefix)  # kovahost knows its own location without symbolic links

# Runs the installed kovahost with ARGN in PREFIX: `status`, `out` and `err`, with wine's names of
# the paths (Z:\...) read as UNIX ones and CR LF as LF.
function(run_installed)
  execute_process(COMMAND ${EMULATOR} ${prefix}/${KOVAHOST} ${ARGN} WORKING_DIRECTORY ${prefix}
                  OUTPUT_FILE ${prefix}/run.out ERROR_FILE ${prefix}/run.err
                  RESULT_VARIABLE run_status)
  foreach(stream out err)
    file(READ ${prefix}/run.${stream} text)
    string(REPLACE "\r\n" "\n" text "${text}")
    if(EMULATOR)
      string(REPLACE "\\" "/" text "${text}")
      string(REPLACE "Z:/" "/" text "${text}")
    endif()
    set(${stream} "${text}" PARENT_SCOPE)
  endforeach()
  set(status ${run_status} PARENT_SCOPE)
endfunction()

run_installed()
set(heading "== 1. start: the host loads ${prefix}/${ADDIN} and calls MainEntryPoint\n")
string(FIND "${out}" "${heading}" at)
if(NOT status EQUAL 0 OR at EQUAL -1)
  message(FATAL_ERROR "the installed kovahost: exit status ${status}, wanted 0 and the heading\n"
                      "${heading}standard output:\n${out}\nstandard error:\n${err}")
endif()

# --help names the documentation installed with this kovahost.
run_installed(--help)
string(FIND "${out}" "\n  ${prefix}/${DOCS}\n" at)
if(NOT status EQUAL 0 OR at EQUAL -1)
  message(FATAL_ERROR "the installed kovahost's --help does not name ${prefix}/${DOCS}:\n${out}")
endif()

file(REMOVE ${prefix}/${ADDIN})
set(looked ${prefix}/${BESIDE})
if(NOT BESIDE STREQUAL ADDIN)
  list(APPEND looked ${prefix}/${ADDIN})
endif()
list(JOIN looked ", " looked)
set(wanted "kovahost: cannot find the add-in; looked for ${looked} (--addin=PATH names one)\n")
run_installed()
if(NOT status EQUAL 2 OR NOT "${out}" STREQUAL "" OR NOT "${err}" STREQUAL "${wanted}")
  message(FATAL_ERROR "without its add-in the installed kovahost: exit status ${status}, wanted 2 "
                      "and only\n${wanted}standard output:\n${out}\nstandard error:\n${err}")
endif()

# Without the add-in: what runs nothing, a scenario without a start step, and --addin naming one.
file(WRITE ${prefix}/nostart.yaml "steps: [{print: log}]\n")
foreach(args --version --help --show-quickstart "--check|${EXAMPLE}" "--lint|${EXAMPLE}"
        nostart.yaml "--addin=${BUILT_ADDIN}")
  string(REPLACE "|" ";" args "${args}")
  run_installed(${args})
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "without its add-in, 'kovahost ${args}': exit status ${status}, wanted 0\n"
                        "standard error:\n${err}")
  endif()
endforeach()
