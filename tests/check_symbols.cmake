# Fails unless LIB defines exactly the nineteen quorlina_* dynamic symbols.
execute_process(COMMAND ${NM} -D --defined-only ${LIB}
  OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIB}")
endif()
string(REPLACE "\n" ";" lines "${out}")
set(found "")
foreach(line ${lines})
  # "<address> <type> <name>[@@version]"
  if(line MATCHES "^[0-9a-fA-F]+ [A-Za-z] ([^ @]+)")
    set(name ${CMAKE_MATCH_1})
    # The version node itself is an absolute symbol, not code.
    if(NOT name STREQUAL "QUORLINA_0")
      list(APPEND found ${name})
    endif()
  endif()
endforeach()
list(SORT found)
set(expected
  quorlina_free quorlina_strerror quorlina_last_error quorlina_version
  quorlina_note_create quorlina_note_delete quorlina_note_list quorlina_note_read quorlina_note_update
  quorlina_post_create quorlina_post_delete quorlina_post_list quorlina_post_read quorlina_post_update
  quorlina_snippet_create quorlina_snippet_delete quorlina_snippet_list quorlina_snippet_read
  quorlina_snippet_update)
list(SORT expected)
if(NOT found STREQUAL expected)
  message(FATAL_ERROR "exported symbols differ.\n expected: ${expected}\n found: ${found}")
endif()
message(STATUS "exactly the 19 quorlina_* symbols are exported")
