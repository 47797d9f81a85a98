#!/usr/bin/env bash
# The Debian package passes lintian, installs with apt (the program, its manual page and its
# completions where the system looks) and is removed again without a trace. Needs root: CI runs it.
# Usage: package_test.sh PACKAGE.deb
set -euo pipefail
deb=$(realpath "$1")
fail() { echo "FAIL: $*" >&2; exit 1; }

lintian --fail-on error "$deb" || fail "lintian reports errors"
export DEBIAN_FRONTEND=noninteractive
apt-get install -y -q "$deb" >/dev/null
tilegrid --version | grep -q '^tilegrid ' || fail "the installed program does not run"
[ "$(man -w tilegrid)" = /usr/share/man/man1/tilegrid.1.gz ] || fail "man tilegrid finds no page"
[ -f /usr/share/bash-completion/completions/tilegrid ] || fail "no bash completion"
[ -f /usr/share/zsh/vendor-completions/_tilegrid ] || fail "no zsh completion"
[ -f /usr/share/fish/vendor_completions.d/tilegrid.fish ] || fail "no fish completion"
files=$(dpkg -L tilegrid | while read -r f; do [ -f "$f" ] && echo "$f"; done)
apt-get remove -y -q tilegrid >/dev/null
for f in $files; do
  [ ! -e "$f" ] || fail "apt-get remove left $f"
done
echo "package $(basename "$deb") passes lintian, installs and is removed cleanly"
