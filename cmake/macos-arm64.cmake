# Cross build for macOS on Apple silicon (see macos_zig.cmake).
set(CMAKE_SYSTEM_PROCESSOR arm64)
set(MURMELA_MACOS_ZIG_TARGET aarch64-macos)
include(${CMAKE_CURRENT_LIST_DIR}/macos_zig.cmake)
