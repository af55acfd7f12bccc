#!/usr/bin/env bash
# Installs the Debian packages that building and testing need; does nothing
# when they are all present already. `setup.sh fuzz` also installs what
# scripts/fuzz.sh builds with (clang 16 and its libFuzzer and sanitizers),
# `setup.sh stress` the load scripts/stress_test.sh runs the suite under,
# `setup.sh macos` what scripts/build_macos.sh needs besides (npm, for the
# cross compiler, unless some npm is at hand; file).
set -euo pipefail

packages=(g++ cmake ninja-build nlohmann-json3-dev libfmt-dev libgtest-dev
          libtomlplusplus-dev libfast-float-dev poppler-utils
          # the stand-in app: real audio and offline English speech recognition
          libsndfile1-dev libsamplerate0-dev libpocketsphinx-dev pocketsphinx-en-us pkg-config
          # the stand-in's PDF exports: layout, drawing, and fonts for Latin, Greek,
          # Cyrillic and (as fallback) CJK
          libcairo2-dev libpango1.0-dev fonts-dejavu-core fonts-droid-fallback
          # speech for the recogniser's tests
          flite
          # the tests of the completions, the manual page and the package
          bash-completion zsh fish groff-base lintian)
[ "${1:-}" = fuzz ] && packages+=(clang-16 libclang-rt-16-dev)
[ "${1:-}" = stress ] && packages+=(stress-ng)
if [ "${1:-}" = macos ]; then
  packages+=(file)
  command -v npm >/dev/null || packages+=(npm)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}" >&2
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
