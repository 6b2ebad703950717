# Fails unless every dynamic symbol the shared library defines belongs to
# the Quarvel class or is one of the calibration functions. Run with -DLIBRARY=<path to libquarvel.so>.
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
  if(NOT line MATCHES " Quarvel::" AND NOT line MATCHES " quarvel::(FitCalibration|WriteParameterFile)\\(")
    message(FATAL_ERROR "unexpected exported symbol: ${line}")
  endif()
  math(EXPR count "${count} + 1")
endforeach()
if(count EQUAL 0)
  message(FATAL_ERROR "no Quarvel symbols exported")
endif()
message(STATUS "${count} exported symbols, all Quarvel members")
