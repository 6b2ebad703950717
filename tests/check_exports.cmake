# Fails unless every dynamic symbol the shared library defines belongs to
# the public API: the Quarvel class, and the quarvel:: types and functions
# outside quarvel::detail. Run with -DLIBRARY=<path to libquarvel.so>.
execute_process(COMMAND nm -D --defined-only -C ${LIBRARY}
  OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${symbols}")
set(count 0)
foreach(line IN LISTS lines)
  if(line STREQUAL "" OR line MATCHES " A ")  # version nodes
    continue()
  endif()
  if(line MATCHES "quarvel::detail::" OR (NOT line MATCHES " Quarvel::" AND NOT line MATCHES " quarvel::[A-Z]"))
    message(FATAL_ERROR "unexpected exported symbol: ${line}")
  endif()
  math(EXPR count "${count} + 1")
endforeach()
if(count EQUAL 0)
  message(FATAL_ERROR "no Quarvel symbols exported")
endif()
message(STATUS "${count} exported symbols, all public API")
