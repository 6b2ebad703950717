# Flags every target of this project builds with.
#
# The correction chain is specified bit for bit: single-precision named
# quantities, double-precision arithmetic in between. A fused multiply-add
# or any fast-math reassociation changes results, so contraction is off and
# fast-math is refused outright. On 32-bit x86 the x87 unit would keep extra
# precision in registers, so SSE2 arithmetic is forced there.
add_library(quarvel_build_flags INTERFACE)
target_compile_options(quarvel_build_flags INTERFACE
  -Wall -Wextra -Wpedantic
  -ffp-contract=off
  -fno-fast-math)
if(QUARVEL_WERROR)
  target_compile_options(quarvel_build_flags INTERFACE -Werror)
endif()
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(i.86|x86)$")
  target_compile_options(quarvel_build_flags INTERFACE -msse2 -mfpmath=sse)
endif()
string(TOUPPER "${CMAKE_BUILD_TYPE}" _quarvel_config)
string(TOLOWER "${CMAKE_CXX_FLAGS} ${CMAKE_CXX_FLAGS_${_quarvel_config}}" _quarvel_all_flags)
if(_quarvel_all_flags MATCHES "fast-math|-ofast")
  message(FATAL_ERROR "Quarvel must not be built with -ffast-math/-Ofast: results must be bit-exact")
endif()
