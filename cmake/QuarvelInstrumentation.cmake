# Instrumented builds for the reliability checks. Each applies to every
# target of the tree (library, tool and tests), so whole programs are
# instrumented consistently.
#
#   QUARVEL_SANITIZE=address  AddressSanitizer + UndefinedBehaviorSanitizer,
#                             including float-to-int overflow, every report fatal
#   QUARVEL_SANITIZE=thread   ThreadSanitizer
#   QUARVEL_COVERAGE=ON       gcov instrumentation for gcovr
#   QUARVEL_FUZZ=ON           libFuzzer targets (Clang), with ASan + UBSan
set(QUARVEL_SANITIZE "" CACHE STRING "Sanitizer build: empty, address or thread")
set_property(CACHE QUARVEL_SANITIZE PROPERTY STRINGS "" address thread)
option(QUARVEL_COVERAGE "Instrument for line and branch coverage (gcov)" OFF)
option(QUARVEL_FUZZ "Build the libFuzzer targets (Clang only)" OFF)

set(_quarvel_asan_ubsan
  -fsanitize=address,undefined,float-cast-overflow -fno-sanitize-recover=all -fno-omit-frame-pointer)

if(QUARVEL_SANITIZE STREQUAL "address")
  add_compile_options(${_quarvel_asan_ubsan})
  add_link_options(${_quarvel_asan_ubsan})
elseif(QUARVEL_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT QUARVEL_SANITIZE STREQUAL "")
  message(FATAL_ERROR "QUARVEL_SANITIZE must be empty, address or thread")
endif()

if(QUARVEL_COVERAGE)
  # Atomic counters: the thread test updates them from several threads.
  # -O1: the rigs run at a third of -O0's time, and the lines still map.
  add_compile_options(--coverage -O1 -fprofile-update=atomic)
  add_link_options(--coverage)
endif()

if(QUARVEL_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "QUARVEL_FUZZ needs Clang (libFuzzer)")
  endif()
  if(NOT QUARVEL_SANITIZE STREQUAL "address")
    add_compile_options(${_quarvel_asan_ubsan})
    add_link_options(${_quarvel_asan_ubsan})
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
