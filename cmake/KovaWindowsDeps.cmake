# What the Windows build of kovahost and of the tests needs beyond the add-in, cross-built here
# from Debian's own sources rather than taken from the build machine's Linux libraries:
#   yaml-cpp       Debian's source package, fetched by script/bootstrap --windows into
#                  build/sources/yaml-cpp (a static library, linked into kovahost.exe);
#   nlohmann-json  header-only: Debian's headers, seen through a folder that holds only them (the
#                  rest of /usr/include is the Linux system's and must stay out of sight);
#   GoogleTest     Debian's googletest sources (/usr/src/googletest), gtest and gmock.
# Programs run under wine, in the build tree's own prefix: KOVA_WINE_RUN is the command prefix,
# and the cross-compiling emulator of every program, so that CTest lists and runs the tests
# quietly, without a display and without offering to install Mono or Gecko.
if(NOT WIN32)
  return()
endif()

set(KOVA_WINE_RUN
    ${CMAKE_COMMAND} -E env --unset=DISPLAY WINEDEBUG=-all WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix
    WINEDLLOVERRIDES=mscoree,mshtml= ${KOVA_WINE})
if(KOVA_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KOVA_WINE_RUN})
endif()

# A third-party target's own warnings are not ours: its headers are system headers to our code.
function(kova_third_party source_dir binary_dir what)
  if(NOT EXISTS ${source_dir}/CMakeLists.txt)
    message(FATAL_ERROR "No ${what} sources in ${source_dir}: script/bootstrap --windows "
                        "fetches them")
  endif()
  add_subdirectory(${source_dir} ${binary_dir} EXCLUDE_FROM_ALL SYSTEM)
endfunction()

if(KOVA_BUILD_TOOLS OR KOVA_BUILD_TESTS)
  set(KOVA_YAML_CPP_SOURCE_DIR ${PROJECT_SOURCE_DIR}/build/sources/yaml-cpp
      CACHE PATH "yaml-cpp sources to cross-build (Debian's source package)")
  set(YAML_CPP_BUILD_TESTS OFF CACHE BOOL "" FORCE)
  set(YAML_CPP_BUILD_TOOLS OFF CACHE BOOL "" FORCE)
  set(YAML_CPP_BUILD_CONTRIB OFF CACHE BOOL "" FORCE)
  set(YAML_CPP_INSTALL OFF CACHE BOOL "" FORCE)
  set(YAML_BUILD_SHARED_LIBS OFF CACHE BOOL "" FORCE)
  kova_third_party(${KOVA_YAML_CPP_SOURCE_DIR} ${CMAKE_BINARY_DIR}/third_party/yaml-cpp yaml-cpp)

  set(KOVA_NLOHMANN_JSON_INCLUDE_DIR /usr/include/nlohmann
      CACHE PATH "nlohmann-json's headers (Debian package nlohmann-json3-dev)")
  if(NOT EXISTS ${KOVA_NLOHMANN_JSON_INCLUDE_DIR}/json.hpp)
    message(FATAL_ERROR "No nlohmann/json.hpp in ${KOVA_NLOHMANN_JSON_INCLUDE_DIR}: "
                        "script/bootstrap installs it (package nlohmann-json3-dev)")
  endif()
  set(view ${CMAKE_BINARY_DIR}/third_party/nlohmann-json)
  file(MAKE_DIRECTORY ${view})
  file(CREATE_LINK ${KOVA_NLOHMANN_JSON_INCLUDE_DIR} ${view}/nlohmann SYMBOLIC)
  add_library(kova_nlohmann_json INTERFACE)
  target_include_directories(kova_nlohmann_json SYSTEM INTERFACE ${view})
  add_library(nlohmann_json::nlohmann_json ALIAS kova_nlohmann_json)
endif()

if(KOVA_BUILD_TESTS)
  set(KOVA_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH
      "GoogleTest sources to cross-build (Debian package googletest)")
  if(NOT KOVA_WINE)
    message(FATAL_ERROR "wine runs the Windows tests: script/bootstrap --windows installs it")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  kova_third_party(${KOVA_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/third_party/googletest
                   GoogleTest)
  foreach(lib gtest gtest_main gmock)
    if(NOT TARGET GTest::${lib})
      add_library(GTest::${lib} ALIAS ${lib})
    endif()
  endforeach()
endif()
