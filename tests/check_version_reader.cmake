# The configure step takes the project version from the public header
# (cmake/read_version.cmake). This runs that reader on the header and on
# altered copies of it: the header's own version must be the project's, a
# bump in the header must come through, and a QUORLINA_VERSION string that
# disagrees with the three numbers, or a missing number, must stop it.
#   cmake -DHEADER=<quorlina.h> -DREADER=<read_version.cmake>
#         -DPROJECT_VERSION=<x.y.z> -DWORK=<dir> -P check_version_reader.cmake
file(READ ${HEADER} text)
file(MAKE_DIRECTORY ${WORK})

# read(<case> <header text> <out-var>): the reader's exit code and output,
# with each run of white space made one space (messages wrap by width).
function(read name content out)
  file(WRITE ${WORK}/${name}.h "${content}")
  execute_process(COMMAND ${CMAKE_COMMAND} -DHEADER=${WORK}/${name}.h -P ${READER}
    RESULT_VARIABLE rc OUTPUT_VARIABLE stdout ERROR_VARIABLE stderr)
  string(REGEX REPLACE "[ \t\n]+" " " said "${stdout}${stderr}")
  set(${out} "${rc}:${said}" PARENT_SCOPE)
endfunction()

function(expect name content pattern)
  read(${name} "${content}" got)
  if(NOT got MATCHES "${pattern}")
    message(FATAL_ERROR "${name}: expected /${pattern}/, the reader said:\n${got}")
  endif()
  message(STATUS "${name}: ok")
endfunction()

string(REGEX REPLACE "\\." "\\\\." escaped "${PROJECT_VERSION}")
expect(header "${text}" "^0:.*quorlina version ${escaped} $")

string(REGEX REPLACE "(#define QUORLINA_VERSION_MAJOR)[ \t]+[0-9]+" "\\1 7" bumped "${text}")
string(REGEX REPLACE "(#define QUORLINA_VERSION_MINOR)[ \t]+[0-9]+" "\\1 8" bumped "${bumped}")
string(REGEX REPLACE "(#define QUORLINA_VERSION_PATCH)[ \t]+[0-9]+" "\\1 9" bumped "${bumped}")
string(REGEX REPLACE "(#define QUORLINA_VERSION)[ \t]+\"[^\"]*\"" "\\1 \"7.8.9\"" bumped "${bumped}")
expect(bumped "${bumped}" "^0:.*quorlina version 7\\.8\\.9 $")

string(REGEX REPLACE "(#define QUORLINA_VERSION)[ \t]+\"[^\"]*\"" "\\1 \"7.8.10\"" wrong "${bumped}")
expect(string_disagrees "${wrong}" "^1:.*QUORLINA_VERSION is \"7\\.8\\.10\" but the numbers say 7\\.8\\.9")

string(REGEX REPLACE "#define QUORLINA_VERSION_PATCH[ \t]+[0-9]+\n" "" missing "${bumped}")
expect(patch_missing "${missing}" "^1:.*no QUORLINA_VERSION_PATCH")
