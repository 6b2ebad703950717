# Fails when an object built for a wider instruction set (the AVX2 and
# AVX-512 kernels) defines weak or unique code: such a symbol comes from an
# inline function of some header, and the linker may keep that copy for
# baseline code too, which would then fault on a processor without the set.
# (Weak data, such as the type information a sanitizer build emits, holds
# no instructions.)
# Run with -DOBJECTS=<the library's object files, ;-separated>.
set(checked 0)
foreach(object IN LISTS OBJECTS)
  if(NOT object MATCHES "chain_kernel_avx")
    continue()
  endif()
  execute_process(COMMAND nm -C ${object} OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "nm failed on ${object}")
  endif()
  string(REPLACE "\n" ";" lines "${symbols}")
  foreach(line IN LISTS lines)
    if(line MATCHES "^[0-9a-f]* [Wu] ")
      message(FATAL_ERROR "${object} defines a shared inline symbol: ${line}")
    endif()
  endforeach()
  math(EXPR checked "${checked} + 1")
endforeach()
if(CMAKE_HOST_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64" AND checked EQUAL 0)
  message(FATAL_ERROR "no kernel object found")
endif()
message(STATUS "${checked} wide-instruction kernel objects define no shared inline symbol")
