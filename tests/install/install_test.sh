#!/usr/bin/env bash
# Installs the build into a temporary prefix, checks what landed and that the
# installed CLI runs, uninstalls and checks that only what was there before
# is left; then makes the Debian package and checks its files (and lintian,
# where it is installed). With the stand-in, the installed CLI must reach the
# installed stand-in, as a user's first command after the install would.
#   install_test.sh BUILD_FOLDER static|dynamic with-stand-in|cli-only
set -euo pipefail
build=$1
linkage=$2
stand_in=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export MURMELA_INSTALL_RECORDS=$work/records
mkdir -p "$MURMELA_INSTALL_RECORDS"

fail() { echo "FAIL: $*" >&2; exit 1; }
tab=$'\t'
listing() { (cd "$1" && find . -mindepth 1 | LC_ALL=C sort); }

installed_files="./bin/murmela-cli
./share/bash-completion/completions/murmela-cli
./share/fish/vendor_completions.d/murmela-cli.fish
./share/man/man1/murmela-cli.1
./share/zsh/site-functions/_murmela-cli"
if [ "$stand_in" = with-stand-in ]; then
  installed_files=$(LC_ALL=C sort <<<"$installed_files
./bin/murmela
./share/man/man1/murmela.1")
fi

# A prefix that already holds a folder the install writes into, with a file
# of someone else's in it: uninstall must keep both.
prefix=$work/prefix
mkdir -p "$prefix/share/man"
echo "not ours" > "$prefix/share/man/keep"
before=$(listing "$prefix")

cmake --install "$build" --prefix "$prefix" >/dev/null
got=$(cd "$prefix" && find . -type f ! -name keep | LC_ALL=C sort)
[ "$got" = "$installed_files" ] || fail "installed files differ:
$got"
"$prefix/bin/murmela-cli" version | grep -q '^murmela-cli ' || fail "the installed CLI does not run"

# The installed CLI starts the installed stand-in, the only app beside it, in
# a home of its own; the app is quit before anything is uninstalled.
if [ "$stand_in" = with-stand-in ]; then
  user_home=$work/home
  installed_cli=$prefix/bin/murmela-cli
  mkdir -p "$user_home"
  as_user() { env -u XDG_DATA_HOME -u MURMELA_EPHEMERAL -u MURMELA_STAND_IN_LIBRARY HOME="$user_home" "$@"; }
  # A failed check below still leaves no app running.
  trap 'as_user "$installed_cli" --no-launch quit >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
  as_user "$installed_cli" status >"$work/status.txt" 2>&1 ||
    fail "the installed CLI did not reach the installed stand-in:
$(cat "$work/status.txt")"
  as_user "$installed_cli" --no-launch ping >/dev/null 2>&1 ||
    fail "the stand-in the installed CLI started does not answer"
  as_user "$installed_cli" quit >/dev/null || fail "the installed stand-in did not quit"
fi

cmake --build "$build" --target uninstall >/dev/null
after=$(listing "$prefix")
[ "$after" = "$before" ] || fail "uninstall left or took something:
$(diff <(echo "$before") <(echo "$after") || true)"

# Nothing on record any more: a second uninstall says so and removes nothing.
if cmake --build "$build" --target uninstall >"$work/again.txt" 2>&1; then
  fail "a second uninstall claimed success"
fi
grep -q "Nothing to uninstall" "$work/again.txt" || fail "a second uninstall did not say why"

# Uninstall removes only what is still as installed, and only inside the
# prefix: an edited file stays (and uninstall says so), and a folder that has
# become a link to one outside leads to files that are not ours, even where
# they are byte for byte what was installed.
prefix=$work/edited
cmake --install "$build" --prefix "$prefix" >/dev/null
echo "my own line" >> "$prefix/share/man/man1/murmela-cli.1"
outside=$work/outside
mkdir -p "$outside/fish/vendor_completions.d" "$outside/zsh-empty"
cp "$prefix/share/fish/vendor_completions.d/murmela-cli.fish" "$outside/fish/vendor_completions.d/"
rm -r "$prefix/share/fish" "$prefix/share/zsh/site-functions"
ln -s "$outside/fish" "$prefix/share/fish"
ln -s "$outside/zsh-empty" "$prefix/share/zsh/site-functions"
outside_before=$(listing "$outside")
cmake --build "$build" --target uninstall >"$work/uninstall.txt" 2>&1 || fail "uninstall failed:
$(cat "$work/uninstall.txt")"
[ "$(listing "$outside")" = "$outside_before" ] || fail "uninstall changed files outside the prefix"
grep -q "my own line" "$prefix/share/man/man1/murmela-cli.1" || fail "uninstall removed an edited file"
grep -q "has changed since it was installed" "$work/uninstall.txt" || fail "uninstall did not say it kept the edited file"
[ -L "$prefix/share/fish" ] && [ -L "$prefix/share/zsh/site-functions" ] || fail "uninstall removed a link"
[ ! -e "$prefix/bin/murmela-cli" ] || fail "uninstall kept an unchanged file"

# A relative prefix is the folder of that name where the install runs, and
# uninstall, which runs in the build folder, finds it there.
mkdir -p "$work/here"
(cd "$work/here" && cmake --install "$build" --prefix ./rel/../relative >/dev/null)
got=$(cd "$work/here/relative" && find . -type f | LC_ALL=C sort)
[ "$got" = "$installed_files" ] || fail "a relative prefix installed:
$got"
grep -q "$work/here/relative${tab}bin/murmela-cli\$" "$MURMELA_INSTALL_RECORDS/install_record.txt" ||
  fail "the record does not hold the absolute prefix:
$(cat "$MURMELA_INSTALL_RECORDS/install_record.txt")"
cmake --build "$build" --target uninstall >"$work/uninstall.txt" 2>&1 || fail "uninstall failed:
$(cat "$work/uninstall.txt")"
[ ! -e "$work/here/relative" ] || fail "uninstall of a relative prefix left:
$(listing "$work/here/relative")"

# The record is a file anyone with the build folder (or the variable naming
# the record's folder) can write: uninstall takes nothing from it but the
# files and folders this build installs, inside a plain absolute prefix. A
# record naming anything else is refused whole, and kept.
echo "someone else's" > "$work/victim.txt"
digest=$(sha256sum "$work/victim.txt" | cut -d' ' -f1)
mkdir -p "$work/planted/bin"
cp "$work/victim.txt" "$work/planted/bin/murmela-cli"
for planted in "file${tab}$digest${tab}$work/planted${tab}../victim.txt" \
               "file${tab}$digest${tab}$work/planted/..${tab}victim.txt" \
               "file${tab}$digest${tab}$work/planted/bin/../..${tab}victim.txt" \
               "file${tab}$digest${tab}$work${tab}victim.txt" \
               "folder${tab}-${tab}$work${tab}planted/bin" \
               "file${tab}$digest${tab}planted${tab}bin/murmela-cli" \
               "file${tab}$digest${tab}$work/planted${tab}bin/murmela-cli${tab}extra"; do
  record="file${tab}$digest${tab}$work/planted${tab}bin/murmela-cli
$planted"
  printf '%s\n' "$record" >"$MURMELA_INSTALL_RECORDS/install_record.txt"
  if (cd "$work" && cmake --build "$build" --target uninstall >"$work/planted.txt" 2>&1); then
    fail "uninstall went ahead on the planted line ${planted//$tab/\\t}"
  fi
  tr -s ' \n' ' ' <"$work/planted.txt" | grep -q "Nothing was removed" || fail "the refusal did not say why:
$(cat "$work/planted.txt")"
  [ -f "$work/victim.txt" ] && [ -f "$work/planted/bin/murmela-cli" ] ||
    fail "uninstall removed a file on the planted line ${planted//$tab/\\t}"
  [ "$(cat "$MURMELA_INSTALL_RECORDS/install_record.txt")" = "$record" ] || fail "the refused record was not kept"
done
rm "$MURMELA_INSTALL_RECORDS/install_record.txt"

# A prefix whose bytes the record cannot hold is refused before anything is
# written, so no install is ever left that uninstall cannot take back.
for name in 'semi;colon' 'line
feed'; do
  if cmake --install "$build" --prefix "$work/$name" >"$work/refused.txt" 2>&1; then
    fail "an install to a prefix holding ${name//$'\n'/\\n} went ahead"
  fi
  # CMake wraps its error messages: read them as one line.
  tr -s ' \n' ' ' <"$work/refused.txt" | grep -q "cannot be recorded for uninstall" || fail "the refusal did not say why:
$(cat "$work/refused.txt")"
  [ ! -e "$work/$name" ] && [ ! -e "$work/semi" ] && [ ! -e "$work/line" ] || fail "a refused install wrote files"
done

# Building the CLI alone (as scripts/demo.sh does) makes its page and
# completions too, so an install right after it finds everything.
if command -v ninja >/dev/null && [ -f "$build/build.ninja" ]; then
  # Read whole first: grep -q would stop early and leave ninja to die of SIGPIPE.
  commands=$(ninja -C "$build" -t commands murmela-cli)
  grep -q "murmela-docs" <<<"$commands" ||
    fail "building murmela-cli does not make the manual page and completions"
fi

# The package: the same files under /usr, the manual page compressed and the
# zsh completion where Debian's zsh looks, the copyright file and changelog.
(cd "$build" && cpack -G DEB -B "$work/package" >/dev/null)
deb=$(ls "$work"/package/murmela-cli_*.deb)
packaged=$(dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '/$' | LC_ALL=C sort)
expected="./usr/bin/murmela-cli
./usr/share/bash-completion/completions/murmela-cli
./usr/share/doc/murmela-cli/changelog.gz
./usr/share/doc/murmela-cli/copyright
./usr/share/fish/vendor_completions.d/murmela-cli.fish
./usr/share/man/man1/murmela-cli.1.gz
./usr/share/zsh/vendor-completions/_murmela-cli"
[ "$packaged" = "$expected" ] || fail "the package holds:
$packaged"
debs=("$deb")
if [ "$stand_in" = with-stand-in ]; then
  # On Linux the CLI alone reaches no app: apt installs the stand-in with it.
  [ "$(dpkg-deb -f "$deb" Recommends)" = murmela-stand-in ] ||
    fail "murmela-cli does not recommend murmela-stand-in: $(dpkg-deb -f "$deb" Recommends)"
  stand_in_deb=$(ls "$work"/package/murmela-stand-in_*.deb)
  packaged=$(dpkg-deb -c "$stand_in_deb" | awk '{print $6}' | grep -v '/$' | LC_ALL=C sort)
  expected="./usr/bin/murmela
./usr/share/doc/murmela-stand-in/changelog.gz
./usr/share/doc/murmela-stand-in/copyright
./usr/share/man/man1/murmela.1.gz"
  [ "$packaged" = "$expected" ] || fail "the stand-in's package holds:
$packaged"
  debs+=("$stand_in_deb")
fi
if command -v lintian >/dev/null; then
  # Debian wants programs linked to the shared C library, which gets security
  # updates: packages come from the dynamically linked `package` preset. The
  # static release build is for speed outside packages; only that one tag is
  # let pass for it.
  suppress=()
  [ "$linkage" = static ] && suppress=(--suppress-tags statically-linked-binary)
  lintian --fail-on error "${suppress[@]}" "${debs[@]}" || fail "lintian found errors"
else
  echo "lintian is not installed: the package's lint is not checked"
fi
echo "install, uninstall and package: ok"
