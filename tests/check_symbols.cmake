# Fails unless LIB defines exactly the quorlina_* dynamic symbols of the C
# interface (the list below),
# or when its own code (every symbol it defines, exported or not) holds one
# of the helpers that only tests use, or code that nothing uses. Reports a
# skip when LIB has no symbol table for its own code (a stripped build).
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
  quorlina_snippet_update
  quorlina_check
  quorlina_post_create_ext quorlina_post_update_ext quorlina_post_list_ext quorlina_post_read_ext
  quorlina_post_rename_tag
  quorlina_note_list_ext quorlina_note_read_ext quorlina_note_update_ext)
list(SORT expected)
list(LENGTH expected expected_count)
if(NOT found STREQUAL expected)
  message(FATAL_ERROR "exported symbols differ.\n expected: ${expected}\n found: ${found}")
endif()
message(STATUS "exactly the ${expected_count} quorlina_* symbols are exported")

# The library's own code, demangled.
execute_process(COMMAND ${NM} -C --defined-only ${LIB}
  OUTPUT_VARIABLE own RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm -C failed on ${LIB}")
endif()
if(NOT own MATCHES "quorlina::")
  message("SKIP: ${LIB} has no symbol table for its own code")
  return()
endif()
set(test_only
  "quorlina::loadPosts" "quorlina::findPostBySlug" "quorlina::loadNotes" "quorlina::findNoteById"
  "quorlina::loadSnippetFromFile" "quorlina::platform::makeDirPath" "quorlina::ffi::escapeJson"
  "quorlina::Post::rest" "quorlina::text::isW3" "quorlina::platform::Dir::isOpen"
  "quorlina::platform::copyToCHeap" "quorlina::platform::resizeCHeap")
set(present "")
foreach(name ${test_only})
  # The name as a function's (its argument list) or with an ABI tag.
  string(FIND "${own}" " ${name}(" at_args)
  string(FIND "${own}" " ${name}[" at_tag)
  if(at_args GREATER -1 OR at_tag GREATER -1)
    list(APPEND present ${name})
  endif()
endforeach()
if(present)
  message(FATAL_ERROR "the library's code holds what only tests use or nothing uses: ${present}")
endif()
list(LENGTH test_only checked)
message(STATUS "none of the ${checked} names that only tests use or nothing uses is in the library's code")
