# Installation and packaging: the shared library with its SONAME links, the
# public header, a pkg-config file and a CMake package, so that consumers
# can use either
#     pkg-config --cflags --libs quorlina
# or
#     find_package(quorlina REQUIRED)
#     target_link_libraries(app PRIVATE quorlina::quorlina)
# The command-line tool installs itself, its manual page and its shell
# completion scripts from cli/CMakeLists.txt.

include(CMakePackageConfigHelpers)

set(QUORLINA_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/quorlina)

install(TARGETS quorlina_ffi EXPORT quorlinaTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Runtime NAMELINK_COMPONENT Development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(FILES ${PROJECT_SOURCE_DIR}/include/quorlina/quorlina.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quorlina COMPONENT Development)

install(EXPORT quorlinaTargets
  NAMESPACE quorlina::
  FILE quorlinaTargets.cmake
  DESTINATION ${QUORLINA_CMAKE_DIR}
  COMPONENT Development)

# quorlinaConfig.cmake: loads the exported target quorlina::quorlina.
file(WRITE ${PROJECT_BINARY_DIR}/quorlinaConfig.cmake.in [[
# CMake package of libquorlina_ffi. Provides the imported target
# quorlina::quorlina (the shared library with its include directory).
@PACKAGE_INIT@

include("${CMAKE_CURRENT_LIST_DIR}/quorlinaTargets.cmake")
check_required_components(quorlina)
]])
configure_package_config_file(
  ${PROJECT_BINARY_DIR}/quorlinaConfig.cmake.in
  ${PROJECT_BINARY_DIR}/quorlinaConfig.cmake
  INSTALL_DESTINATION ${QUORLINA_CMAKE_DIR})
# Before 1.0 a new minor version may change the interface.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/quorlinaConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMinorVersion)
install(FILES
    ${PROJECT_BINARY_DIR}/quorlinaConfig.cmake
    ${PROJECT_BINARY_DIR}/quorlinaConfigVersion.cmake
  DESTINATION ${QUORLINA_CMAKE_DIR}
  COMPONENT Development)

# quorlina.pc: the prefix is found from the file's own place, so the
# package stays correct when installed with `cmake --install --prefix` or
# moved as a whole.
set(QUORLINA_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(IS_ABSOLUTE "${QUORLINA_PC_DIR}")
  set(QUORLINA_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH QUORLINA_PC_UP "/prefix/${QUORLINA_PC_DIR}" "/prefix")
  string(REGEX REPLACE "/$" "" QUORLINA_PC_UP "${QUORLINA_PC_UP}")
  set(QUORLINA_PC_PREFIX "\${pcfiledir}/${QUORLINA_PC_UP}")
endif()
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(QUORLINA_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(QUORLINA_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
# Written with file(WRITE) so that the text ends with its line feed, as a
# text file must: file(CONFIGURE CONTENT) does not keep the final one in
# every CMake version.
string(CONFIGURE [[
prefix=@QUORLINA_PC_PREFIX@
libdir=@QUORLINA_PC_LIBDIR@
includedir=@QUORLINA_PC_INCLUDEDIR@

Name: quorlina
Description: Manage the snippets, posts and notes of a static site through a C interface
Version: @PROJECT_VERSION@
Libs: -L${libdir} -lquorlina_ffi
Cflags: -I${includedir}]] QUORLINA_PC_TEXT @ONLY)
file(WRITE ${PROJECT_BINARY_DIR}/quorlina.pc.tmp "${QUORLINA_PC_TEXT}\n")
# Only a changed text touches the file, so nothing rebuilds needlessly.
file(COPY_FILE ${PROJECT_BINARY_DIR}/quorlina.pc.tmp ${PROJECT_BINARY_DIR}/quorlina.pc ONLY_IF_DIFFERENT)
file(REMOVE ${PROJECT_BINARY_DIR}/quorlina.pc.tmp)
install(FILES ${PROJECT_BINARY_DIR}/quorlina.pc
  DESTINATION ${QUORLINA_PC_DIR}
  COMPONENT Development)
