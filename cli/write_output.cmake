# Runs TOOL with ARGS (a comma-separated list) and writes what it prints to
# OUT; fails, leaving no OUT behind, when the tool fails.
#   cmake -DTOOL=... -DARGS=a,b -DOUT=... -P write_output.cmake
string(REPLACE "," ";" args "${ARGS}")
execute_process(COMMAND ${TOOL} ${args} OUTPUT_FILE ${OUT}.tmp RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  file(REMOVE ${OUT}.tmp)
  message(FATAL_ERROR "${TOOL} ${args} failed: ${rc}")
endif()
file(RENAME ${OUT}.tmp ${OUT})
