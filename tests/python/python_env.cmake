# quorlina_python_test_env(<var>): the environment a Python test needs to
# load the built library through the ctypes binding: QUORLINA_LIB,
# PYTHONPATH, and in sanitizer builds the sanitizer runtime preloaded into
# the interpreter (a sanitized shared library cannot be loaded into an
# uninstrumented process otherwise). Sets <var> to NOTFOUND when that
# runtime cannot be located.
function(quorlina_python_test_env var)
  set(env
    "QUORLINA_LIB=$<TARGET_FILE:quorlina_ffi>"
    "PYTHONPATH=${PROJECT_SOURCE_DIR}/bindings/python"
    "PYTHONDONTWRITEBYTECODE=1")
  if(QUORLINA_SANITIZE)
    if(QUORLINA_SANITIZE MATCHES "address")
      set(clang_rt asan)
      set(gcc_rt libasan.so)
    elseif(QUORLINA_SANITIZE MATCHES "thread")
      set(clang_rt tsan)
      set(gcc_rt libtsan.so)
    else()
      set(clang_rt ubsan_standalone)
      set(gcc_rt libubsan.so)
    endif()
    if(CMAKE_C_COMPILER_ID MATCHES "Clang")
      set(rt_name libclang_rt.${clang_rt}-${CMAKE_SYSTEM_PROCESSOR}.so)
    else()
      set(rt_name ${gcc_rt})
    endif()
    execute_process(COMMAND ${CMAKE_C_COMPILER} -print-file-name=${rt_name}
      OUTPUT_VARIABLE rt OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0 OR NOT IS_ABSOLUTE "${rt}" OR NOT EXISTS "${rt}")
      set(${var} NOTFOUND PARENT_SCOPE)
      return()
    endif()
    # The interpreter itself is not leak-free; programs started from the
    # tests get their own settings back (see the test drivers).
    list(APPEND env "LD_PRELOAD=${rt}" "ASAN_OPTIONS=detect_leaks=0"
                    "QUORLINA_TEST_PRELOADED=1")
  endif()
  set(${var} "${env}" PARENT_SCOPE)
endfunction()

# quorlina_test_skipped(<name> <labels> <reason>): a test <name> that cannot
# run here (no python3, no sanitizer runtime to preload into it, no mypy)
# and is reported as skipped, with <reason>, instead of being left out.
function(quorlina_test_skipped name labels reason)
  add_test(NAME ${name} COMMAND ${CMAKE_COMMAND} -E echo "skipped: ${reason}")
  set_tests_properties(${name} PROPERTIES LABELS "${labels}" SKIP_REGULAR_EXPRESSION "^skipped: ")
endfunction()
