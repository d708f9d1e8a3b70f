# How the shared library is linked, by what the toolchain's linker takes.
#
#   quorlina_limit_exports(<target> <version-script>)
#       exports only the names listed as global in <version-script>, and
#       makes the link fail on an unresolved symbol:
#       - GNU ld, gold, lld and mold: -Wl,--version-script and
#         -Wl,--no-undefined (the latter not with a sanitizer, whose runtime
#         comes with the executable);
#       - Apple's ld64 (and linkers that read its options): an
#         -exported_symbols_list written from the same version script, with
#         each name spelled as Mach-O spells C names (a leading "_"). ld64
#         refuses unresolved symbols by default.
#       A linker that takes neither form links with the compiler's
#       visibility alone, and the configure step says so.

include(CheckLinkerFlag)

# The names of the version script's global block ("global: a; b; c;").
function(quorlina_exported_names script out)
  file(READ "${script}" text)
  # Comments go first: they may mention names.
  string(REGEX REPLACE "/\\*([^*]|\\*+[^*/])*\\*+/" "" text "${text}")
  if(NOT text MATCHES "global:([^}]*)local:")
    message(FATAL_ERROR "${script}: no global: block before local:")
  endif()
  string(REGEX MATCHALL "[A-Za-z_][A-Za-z0-9_]*" names "${CMAKE_MATCH_1}")
  set(${out} ${names} PARENT_SCOPE)
endfunction()

function(quorlina_limit_exports target script)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${script})
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${script})
  if(APPLE)
    quorlina_exported_names(${script} names)
    list(TRANSFORM names PREPEND "_")
    list(JOIN names "\n" listed)
    set(list_file ${CMAKE_CURRENT_BINARY_DIR}/${target}.exported)
    file(CONFIGURE OUTPUT ${list_file} CONTENT "${listed}\n")
    check_linker_flag(CXX "LINKER:-exported_symbols_list,${list_file}" QUORLINA_LD_EXPORTED_SYMBOLS_LIST)
    if(QUORLINA_LD_EXPORTED_SYMBOLS_LIST)
      target_link_options(${target} PRIVATE "LINKER:-exported_symbols_list,${list_file}")
      set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${list_file})
      return()
    endif()
  else()
    check_linker_flag(CXX "LINKER:--version-script,${script}" QUORLINA_LD_VERSION_SCRIPT)
    if(QUORLINA_LD_VERSION_SCRIPT)
      target_link_options(${target} PRIVATE "LINKER:--version-script,${script}")
      check_linker_flag(CXX "LINKER:--no-undefined" QUORLINA_LD_NO_UNDEFINED)
      if(QUORLINA_LD_NO_UNDEFINED AND NOT QUORLINA_SANITIZE)
        target_link_options(${target} PRIVATE "LINKER:--no-undefined")
      endif()
      return()
    endif()
  endif()
  message(WARNING "The linker takes neither --version-script nor -exported_symbols_list: "
                  "${target} exports what the compiler's visibility leaves visible")
endfunction()
