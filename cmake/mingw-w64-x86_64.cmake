# Cross toolchain for the Windows deliverable: Debian's mingw-w64 for x86_64 with the posix
# thread model (std::thread and std::mutex). The compiler's runtime (libgcc, libstdc++,
# winpthreads) is linked statically into every DLL and program, so that kovaevents.dll needs
# nothing beyond Windows and qixapi.dll. Programs run under wine, which CTest uses as emulator.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KOVA_MINGW_TRIPLET x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${KOVA_MINGW_TRIPLET}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${KOVA_MINGW_TRIPLET}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${KOVA_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KOVA_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -static picks the static archives of the compiler's runtime (system import libraries are
# archives too, and project libraries are linked by full path, so both are unaffected).
set(KOVA_MINGW_STATIC_RUNTIME "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${KOVA_MINGW_STATIC_RUNTIME}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${KOVA_MINGW_STATIC_RUNTIME}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${KOVA_MINGW_STATIC_RUNTIME}")

find_program(KOVA_WINE NAMES wine wine64)
if(KOVA_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KOVA_WINE})
endif()
