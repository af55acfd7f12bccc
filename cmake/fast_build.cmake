# What makes this build fast, all in one place and behind one option. With
# -DMURMELA_FAST_BUILD=OFF the build is plain CMake: each source compiled on
# its own, no precompiled headers, the build type's own flags, and the
# sanitizers as the compiler links them by default. The programs do the same
# either way; only the time to build them, and to start the sanitized ones,
# differs.
#
# Included by the top-level CMakeLists.txt after `murmela_warnings` (the
# interface every target links) is made and before any target is;
# murmela_apply_fast_build() is called after every target is made.
option(MURMELA_FAST_BUILD
  "Unity batches, precompiled headers, -O1 for all but the hot code, static sanitizer runtimes" ON)

if(MURMELA_FAST_BUILD)
  # Unity builds: each target's sources are compiled a batch at a time as one
  # file, so the heavy headers (nlohmann/json, fmt, GoogleTest) are read and
  # their templates instantiated once per batch instead of once per source.
  # -DCMAKE_UNITY_BUILD=OFF compiles each source on its own (to check that
  # every file includes what it uses).
  if(NOT DEFINED CMAKE_UNITY_BUILD)
    set(CMAKE_UNITY_BUILD ON)
  endif()
  # Optimised builds spend their effort where the time goes: the JSON reader
  # and printer keep -O3 (murmela_apply_fast_build below); everything else
  # runs for microseconds per command and is built at -O1, which compiles in
  # a quarter less time than -O2 and a third less than -O3. Release flags of
  # one's own (-DCMAKE_CXX_FLAGS_RELEASE=...) are kept as given.
  string(STRIP "${CMAKE_CXX_FLAGS_RELEASE_INIT}" murmela_default_release_flags)
  if(CMAKE_CXX_FLAGS_RELEASE STREQUAL murmela_default_release_flags)
    string(REPLACE "-O3" "-O1" CMAKE_CXX_FLAGS_RELEASE "${CMAKE_CXX_FLAGS_RELEASE}")
  endif()
  # Precompiled headers pay off where the headers dominate, at -O0. An
  # optimised build spends its time in the optimiser, and the header, made
  # first, would hold every batch back by as long as one batch takes.
  if(CMAKE_BUILD_TYPE STREQUAL "Release" AND NOT DEFINED CMAKE_DISABLE_PRECOMPILE_HEADERS)
    set(CMAKE_DISABLE_PRECOMPILE_HEADERS ON)
  endif()
  if(MURMELA_SANITIZE)
    # Position-dependent programs: a position-independent one relocates some
    # 300,000 pointers of the sanitizers' own data (every checked source line
    # names its file) at each start, and the tests start thousands of them.
    target_compile_options(murmela_warnings INTERFACE -fno-pie)
    # The sanitizers' runtimes linked in: as two shared libraries each brings
    # its own copy of their common part, and the leak check at every exit
    # reads all of both (11 MB, nearly all never written), a page fault per
    # page; linked in, they share one (6 MB). A sanitized start and exit take
    # a quarter less.
    target_link_options(murmela_warnings INTERFACE -no-pie -static-libasan -static-libubsan)
  endif()
endif()

# Sets what each target needs for the above, once every target is made.
function(murmela_apply_fast_build)
  set(src ${PROJECT_SOURCE_DIR}/src)
  # Sources a unity batch must leave out, whatever asked for unity builds:
  # - Its file-wide `Case` would shadow the other files' local ones.
  if(TARGET e2e_tests)
    set_source_files_properties(${PROJECT_SOURCE_DIR}/tests/e2e/meetings_e2e.cpp
      TARGET_DIRECTORY e2e_tests PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
  endif()
  # - Within a batch, GCC 12 at -O3 inlines its way to a false array-bounds
  #   warning (in std::string's operator+) here; on its own the file is clean.
  if(TARGET murmela_stand_in)
    set_source_files_properties(${PROJECT_SOURCE_DIR}/stand_in/recognizer.cpp
      TARGET_DIRECTORY murmela_stand_in PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
  endif()
  if(NOT MURMELA_FAST_BUILD)
    return()
  endif()

  # The stand-in's batches hold four: its sources are few and heavy, and one
  # batch of eight was the last thing a two-core build waited for.
  if(TARGET murmela_stand_in)
    set_target_properties(murmela_stand_in PROPERTIES UNITY_BUILD_BATCH_SIZE 4)
  endif()

  # Every big reply passes through these a byte at a time (the -O1 above).
  # Sources with options of their own are compiled outside the unity batches.
  if(CMAKE_BUILD_TYPE STREQUAL "Release")
    set_property(SOURCE ${src}/common/json_document.cpp ${src}/common/json_writer.cpp
      ${src}/common/block_scan.cpp ${src}/common/utf8.cpp
      TARGET_DIRECTORY murmela_common APPEND PROPERTY COMPILE_OPTIONS -O3)
  endif()

  # fmt's and toml++'s own code is not ours to check, and as system libraries
  # they would come uninstrumented too. Instrumented, they carried a quarter
  # of the records the sanitizers keep per checked line, which every
  # sanitized start registers and every exit's leak check reads through.
  # (Compiled with other flags, they cannot use the precompiled header.)
  if(MURMELA_SANITIZE)
    set_property(SOURCE ${src}/common/fmt_library.cpp TARGET_DIRECTORY murmela_common
      APPEND PROPERTY COMPILE_OPTIONS -fno-sanitize=all)
    set_property(SOURCE ${src}/agent_integration/toml_library.cpp
      TARGET_DIRECTORY murmela_agent_integration APPEND PROPERTY COMPILE_OPTIONS -fno-sanitize=all)
    set_source_files_properties(${src}/common/fmt_library.cpp TARGET_DIRECTORY murmela_common
      PROPERTIES SKIP_PRECOMPILE_HEADERS ON)
    set_source_files_properties(${src}/agent_integration/toml_library.cpp
      TARGET_DIRECTORY murmela_agent_integration PROPERTIES SKIP_PRECOMPILE_HEADERS ON)
  endif()

  # The JSON and fmt headers dominate compile times: they are parsed once,
  # for the lowest layer, and every program and layer above it reuses that.
  # Reusing needs the same compile flags, which every target here has from
  # murmela_warnings (and why the stand-in leaves pkg-config's -pthread out).
  target_precompile_headers(murmela_common PRIVATE <nlohmann/json.hpp> <fmt/format.h>)
  foreach(target murmela_app_link murmela_agent_integration murmela_cli murmela-cli murmela-docs
          murmela_stand_in murmela-stand-in)
    if(TARGET ${target})
      target_precompile_headers(${target} REUSE_FROM murmela_common)
    endif()
  endforeach()
  # The test programs share one of their own, with GoogleTest in it.
  if(TARGET test_support)
    target_precompile_headers(test_support PRIVATE <nlohmann/json.hpp> <gtest/gtest.h>)
    foreach(target unit_tests e2e_tests stand_in_tests)
      if(TARGET ${target})
        target_precompile_headers(${target} REUSE_FROM test_support)
      endif()
    endforeach()
  endif()
endfunction()
