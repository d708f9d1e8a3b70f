# Runs TOOL with ARGS (a comma-separated list), through EMULATOR (likewise
# a comma-separated command, or empty) when one is given, and writes what
# it prints to OUT; fails, leaving no OUT behind, when the tool fails.
#   cmake -DTOOL=... [-DEMULATOR=...] -DARGS=a,b -DOUT=... -P write_output.cmake
string(REPLACE "," ";" args "${ARGS}")
string(REPLACE "," ";" emulator "${EMULATOR}")
execute_process(COMMAND ${emulator} ${TOOL} ${args} OUTPUT_FILE ${OUT}.tmp RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  file(REMOVE ${OUT}.tmp)
  message(FATAL_ERROR "${emulator} ${TOOL} ${args} failed: ${rc}")
endif()
file(RENAME ${OUT}.tmp ${OUT})
