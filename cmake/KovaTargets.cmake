# Warnings as errors, for every project target.
function(kova_warnings target)
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${target} PRIVATE
      -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align -Wformat=2
      -Wnull-dereference -Wimplicit-fallthrough -Werror)
  endif()
endfunction()

# Build settings shared by every project target: warnings as errors and the include root.
function(kova_project_target target)
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  kova_warnings(${target})
endfunction()

# One folder of the add-in as an object library, kova_<folder>, which sees only its own headers
# and those of the folders it is given (the ones below it): its include root is a directory of
# links to just those folders, so an include against the direction does not compile.
function(kova_layer folder)
  set(view ${CMAKE_BINARY_DIR}/layers/${folder})
  file(MAKE_DIRECTORY ${view})
  foreach(visible ${folder} ${ARGN})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${visible} ${view}/${visible} SYMBOLIC)
  endforeach()
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${folder}/*.cpp)
  if(NOT WIN32)
    list(FILTER sources EXCLUDE REGEX "_windows\\.cpp$")
  endif()
  set(KOVA_LAYER_VIEW_${folder} ${view} PARENT_SCOPE)
  if(NOT sources)  # headers only (base): nothing to build
    return()
  endif()
  add_library(kova_${folder} OBJECT ${sources})
  target_include_directories(kova_${folder} PRIVATE ${view})
  kova_warnings(kova_${folder})
endfunction()

# A test executable per test folder: every .cpp in the folder is built into it, so a new
# test file cannot be left out of the build. Each test case runs as its own CTest test (and so in
# its own process, with a fresh stand-in server). A cross build lists the cases when CTest starts,
# under the emulator, so that building needs no wine.
function(kova_test_folder name)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  kova_project_target(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main GTest::gmock
                        Threads::Threads)
  set(discovery)
  if(CMAKE_CROSSCOMPILING)
    set(discovery DISCOVERY_MODE PRE_TEST)
  endif()
  gtest_discover_tests(${name} ${discovery} DISCOVERY_TIMEOUT 120 PROPERTIES TIMEOUT 300)
endfunction()
