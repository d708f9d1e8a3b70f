# Cross-compiling with zig's C and C++ compilers, which carry the C
# library headers (and build libc++) for many targets, macOS and musl among
# them:
#   cmake -B build/cross -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/zig-toolchain.cmake \
#         -DZIG_TARGET=aarch64-macos [-DZIG=/path/to/zig]
# scripts/cross-check.sh uses it for the macOS and musl checks.

if(NOT ZIG_TARGET)
  message(FATAL_ERROR "zig-toolchain.cmake needs -DZIG_TARGET=<arch>-<os>[-<abi>], e.g. aarch64-macos")
endif()
if(NOT ZIG)
  find_program(ZIG zig REQUIRED)
endif()
# Try-compile projects load this file again and need the same two values.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZIG_TARGET ZIG)

string(REPLACE "-" ";" _zig_parts "${ZIG_TARGET}")
list(GET _zig_parts 0 _zig_arch)
list(GET _zig_parts 1 _zig_os)
if(_zig_os MATCHES "^macos")
  set(CMAKE_SYSTEM_NAME Darwin)
  set(CMAKE_SYSTEM_PROCESSOR ${_zig_arch})
  if(_zig_arch STREQUAL "aarch64")
    set(CMAKE_SYSTEM_PROCESSOR arm64)
  endif()
  # Darwin 20 is macOS 11, the oldest release zig's headers cover.
  set(CMAKE_SYSTEM_VERSION 20.0.0)
  # CMake's Darwin files know rpaths (and so @rpath install names) only from
  # the build machine's sw_vers; every macOS zig targets has them. The
  # platform files are read after this one, so the flag is set in a rules
  # override, which comes after them.
  set(_zig_rules ${CMAKE_BINARY_DIR}/zig-${ZIG_TARGET}/darwin-rules.cmake)
  file(CONFIGURE OUTPUT ${_zig_rules} CONTENT "set(CMAKE_SHARED_LIBRARY_RUNTIME_C_FLAG \"-Wl,-rpath,\")\n")
  set(CMAKE_USER_MAKE_RULES_OVERRIDE ${_zig_rules})
  # zig brings the SDK's headers and stubs itself; no Xcode sysroot.
  set(CMAKE_OSX_SYSROOT "" CACHE PATH "" FORCE)
elseif(_zig_os MATCHES "^linux")
  set(CMAKE_SYSTEM_NAME Linux)
  set(CMAKE_SYSTEM_PROCESSOR ${_zig_arch})
else()
  message(FATAL_ERROR "zig-toolchain.cmake: no system name for ${ZIG_TARGET}")
endif()

# Every target built this way is 64-bit; CMake cannot read the size from
# zig's Mach-O test binaries.
set(CMAKE_SIZEOF_VOID_P 8)

# CMake wants one program per tool: small scripts that call zig with the
# target.
set(_zig_bin ${CMAKE_BINARY_DIR}/zig-${ZIG_TARGET})
foreach(_tool cc c++ ar ranlib)
  set(_target_flag "")
  if(_tool STREQUAL "cc" OR _tool STREQUAL "c++")
    set(_target_flag "-target ${ZIG_TARGET} ")
  endif()
  file(CONFIGURE OUTPUT ${_zig_bin}/${_tool}.in
    CONTENT "#!/bin/sh\nexec \"${ZIG}\" ${_tool} ${_target_flag}\"$@\"\n" @ONLY)
  file(COPY_FILE ${_zig_bin}/${_tool}.in ${_zig_bin}/${_tool} ONLY_IF_DIFFERENT)
  file(CHMOD ${_zig_bin}/${_tool} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
       WORLD_READ WORLD_EXECUTE)
endforeach()
set(CMAKE_C_COMPILER ${_zig_bin}/cc)
set(CMAKE_CXX_COMPILER ${_zig_bin}/c++)
set(CMAKE_AR ${_zig_bin}/ar CACHE FILEPATH "" FORCE)
set(CMAKE_RANLIB ${_zig_bin}/ranlib CACHE FILEPATH "" FORCE)

# Headers and libraries of the build machine are not the target's: find
# nothing there (CLI11, header-only, is named with QUORLINA_CLI11_INCLUDE_DIR).
set(CMAKE_FIND_ROOT_PATH ${_zig_bin}/sysroot)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
