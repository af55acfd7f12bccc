# Cross build for macOS on Intel processors (see macos_zig.cmake).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MURMELA_MACOS_ZIG_TARGET x86_64-macos)
include(${CMAKE_CURRENT_LIST_DIR}/macos_zig.cmake)
