# cmake -DPAGE=brzmqtt.1 -P man_page_test.cmake: groff -ww -z and man -l both print nothing.
foreach(cmd "groff;-ww;-z;-man;${PAGE}" "man;--warnings=w;-l;${PAGE}")
  execute_process(COMMAND ${cmd} RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE warnings)
  if(NOT status EQUAL 0 OR NOT warnings STREQUAL "")
    list(JOIN cmd " " shown)
    message(FATAL_ERROR "${shown}: status ${status}\n${warnings}")
  endif()
endforeach()
message(STATUS "${PAGE} renders without warnings")
