# The service's unit file, as installed for the tool at TOOL_DIR, checked
# by systemd itself: any complaint (an unknown key, a bad value, a command
# that is not there) fails.
configure_file(${UNIT_IN} ${WORK_DIR}/quarvel-track@.service @ONLY)
execute_process(COMMAND ${SYSTEMD_ANALYZE} verify --man=no ${WORK_DIR}/quarvel-track@wall.service
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0 OR NOT "${out}${err}" STREQUAL "")
  message(FATAL_ERROR "systemd-analyze verify (status ${status}):\n${out}${err}")
endif()
file(READ ${WORK_DIR}/quarvel-track@.service unit)
foreach(needed "Type=notify" "WatchdogSec=" "ExecReload=/bin/kill -HUP $MAINPID" "--config /etc/quarvel/%i.conf")
  string(FIND "${unit}" "${needed}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the unit lacks ${needed}")
  endif()
endforeach()
