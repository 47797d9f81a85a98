#!/usr/bin/env bash
# The manual page passes groff's checks with every warning on; each completion script parses in its
# shell; and bash's completion offers, after "tilegrid COMMAND --", exactly the options that
# "tilegrid COMMAND --help" lists.
# Usage: check_manual.sh MANUAL_FOLDER PROGRAM
set -euo pipefail
folder=$1
program=$2
fail() { echo "FAIL: $*" >&2; exit 1; }

warnings=$(groff -man -K utf8 -ww -z "$folder/tilegrid.1" 2>&1)
[ -z "$warnings" ] || fail "groff: $warnings"
bash -n "$folder/tilegrid.bash"
zsh -n "$folder/_tilegrid"
fish -n "$folder/tilegrid.fish"

# Completion offers files too: offer them from an empty folder.
cd "$(mktemp -d)"
trap 'rmdir "$PWD"' EXIT
# shellcheck source=/dev/null
source "$folder/tilegrid.bash"
complete_words() {
  COMP_WORDS=("$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _tilegrid
  printf '%s\n' "${COMPREPLY[@]}" | sort
}

commands=$("$program" --help | sed -n '/^Commands:/,/^$/p' | grep -E '^  [a-z]' | awk '{print $1 ($2 ~ /^[a-z]+$/ ? " " $2 : "")}')
count=0
while read -r words; do
  # shellcheck disable=SC2086
  expected=$("$program" $words --help | sed -n '/^Options:/,/^$/p' | grep -oE '^ +(-[a-z], )?--[a-z-]+' | tr ',' '\n' | tr -d ' ' | sort)
  # shellcheck disable=SC2086
  offered=$(complete_words tilegrid $words -)
  [ "$offered" = "$expected" ] || fail "tilegrid $words -<TAB> offers: $offered; --help lists: $expected"
  count=$((count + 1))
done <<<"$commands"
[ "$count" -ge 10 ] || fail "only $count commands found in the help"
[ "$(complete_words tilegrid gr)" = grid ] || fail "tilegrid gr<TAB> does not give grid"
echo "manual page clean, completions parse, options of $count commands offered"
