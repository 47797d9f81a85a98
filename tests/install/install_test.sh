#!/usr/bin/env bash
# Installs into a scratch DESTDIR and checks that the program, its desktop entry, every icon size,
# the manual page and the shell completions arrive where the desktop, man and the shells look for
# them and nothing else does; then uninstalls from the manifest and checks that nothing listed is
# left.
# Usage: install_test.sh BUILD_DIR PREFIX UNINSTALL_SCRIPT
set -euo pipefail
build=$1
prefix=$2
uninstall=$3

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# A component of its own gives this install its own manifest, so a real install's stays as it was.
DESTDIR=$stage cmake --install "$build" --component tilegrid >/dev/null
manifest=$build/install_manifest_tilegrid.txt

if [ "$prefix" = /usr ]; then zsh_folder=vendor-completions; else zsh_folder=site-functions; fi
expected=("$prefix/bin/tilegrid" "$prefix/share/applications/tilegrid.desktop"
  "$prefix/share/man/man1/tilegrid.1.gz" "$prefix/share/bash-completion/completions/tilegrid"
  "$prefix/share/zsh/$zsh_folder/_tilegrid" "$prefix/share/fish/vendor_completions.d/tilegrid.fish"
  "$prefix/share/doc/tilegrid/copyright" "$prefix/share/doc/tilegrid/changelog.gz")
for side in 16 32 48 128 256; do
  expected+=("$prefix/share/icons/hicolor/${side}x${side}/apps/tilegrid.png")
done

diff <(printf '%s\n' "${expected[@]}" | sort) <(sort "$manifest") ||
  fail "the install manifest lists other files than expected"
diff <(printf '%s\n' "${expected[@]}" | sort) <(cd "$stage" && find . -type f | sed 's/^\.//' | sort) ||
  fail "other files were installed than expected"

[ -x "$stage$prefix/bin/tilegrid" ] || fail "the program is not executable"
grep -qx 'Exec=tilegrid %f' "$stage$prefix/share/applications/tilegrid.desktop" ||
  fail "the desktop entry does not start the program with the file"
for side in 16 32 48 128 256; do
  icon=$stage$prefix/share/icons/hicolor/${side}x${side}/apps/tilegrid.png
  size=$(identify -format '%wx%h' "$icon")
  [ "$size" = "${side}x${side}" ] || fail "$icon is $size pixels"
done

man -l "$stage$prefix/share/man/man1/tilegrid.1.gz" 2>/dev/null | grep -q 'tilegrid levels remap' ||
  fail "the manual page does not show the commands"

# A clean shell with only the installed completion: "tilegrid gr<TAB>" and
# "tilegrid levels remap --ma<TAB>".
offered=$(cd "$stage" && env -i bash --norc --noprofile -c '
  source "$1"
  offer() { COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); COMPREPLY=(); _tilegrid; echo "${COMPREPLY[*]}"; }
  offer tilegrid gr; offer tilegrid levels remap --ma' bash "$stage$prefix/share/bash-completion/completions/tilegrid")
[ "$offered" = $'grid\n--map --margin' ] || fail "bash completion offered: $offered"

DESTDIR=$stage cmake -D MANIFEST="$manifest" -P "$uninstall" >/dev/null
left=$(find "$stage" -type f)
[ -z "$left" ] || fail "uninstall left: $left"
echo "installed and uninstalled ${#expected[@]} files"
