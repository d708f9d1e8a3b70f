# The library's version is written once, in the public header:
# QUORLINA_VERSION_MAJOR, QUORLINA_VERSION_MINOR and QUORLINA_VERSION_PATCH,
# and the string QUORLINA_VERSION, which must spell the same three numbers.
#
#   quorlina_read_version(<header> <out-var>)
#       sets <out-var> to "MAJOR.MINOR.PATCH", or stops with an error when a
#       macro is missing, repeated, or the string disagrees with the numbers.
#
# Run as a script it checks one header and prints its version:
#   cmake -DHEADER=include/quorlina/quorlina.h -P cmake/read_version.cmake

function(quorlina_read_version header out)
  file(STRINGS "${header}" lines REGEX "^[ \t]*#[ \t]*define[ \t]+QUORLINA_VERSION")
  set(names MAJOR MINOR PATCH STRING)
  set(macro_MAJOR QUORLINA_VERSION_MAJOR)
  set(macro_MINOR QUORLINA_VERSION_MINOR)
  set(macro_PATCH QUORLINA_VERSION_PATCH)
  set(macro_STRING QUORLINA_VERSION)
  foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]*#[ \t]*define[ \t]+QUORLINA_VERSION_(MAJOR|MINOR|PATCH)[ \t]+([0-9]+)[ \t]*$")
      set(name ${CMAKE_MATCH_1})
      set(value ${CMAKE_MATCH_2})
    elseif(line MATCHES "^[ \t]*#[ \t]*define[ \t]+QUORLINA_VERSION[ \t]+\"([^\"]*)\"[ \t]*$")
      set(name STRING)
      set(value ${CMAKE_MATCH_1})
    else()
      continue()
    endif()
    if(DEFINED v_${name})
      message(FATAL_ERROR "${header}: ${macro_${name}} is defined twice")
    endif()
    set(v_${name} "${value}")
  endforeach()
  foreach(name IN LISTS names)
    if(NOT DEFINED v_${name})
      message(FATAL_ERROR "${header}: no ${macro_${name}} in the form the build reads")
    endif()
  endforeach()
  set(version "${v_MAJOR}.${v_MINOR}.${v_PATCH}")
  if(NOT v_STRING STREQUAL version)
    message(FATAL_ERROR
      "${header}: QUORLINA_VERSION is \"${v_STRING}\" but the numbers say ${version}")
  endif()
  set(${out} "${version}" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  quorlina_read_version("${HEADER}" version)
  message(STATUS "quorlina version ${version}")
endif()
