# Shared steps of the end-to-end tests: a private X server, the program in it, and waiting.
# Sourced by the *_test.sh scripts; expects TILEGRID (the program) and CLOSE_WINDOW (the helper).

set -euo pipefail

WORK=$(mktemp -d)
XVFB_PID=""
APP_PID=""

cleanup() {
  # Wait for both to be gone, so the next test never meets a dying server.
  [ -n "$APP_PID" ] && { kill "$APP_PID" 2>/dev/null; wait "$APP_PID" 2>/dev/null; } || true
  [ -n "$XVFB_PID" ] && { kill "$XVFB_PID" 2>/dev/null; wait "$XVFB_PID" 2>/dev/null; } || true
  if [ "${KEEP_E2E:-0}" = 1 ]; then echo "kept $WORK"; else rm -rf "$WORK"; fi
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  if [ -s "$WORK/app.log" ]; then
    echo "--- the program's output:" >&2
    tail -n 20 "$WORK/app.log" >&2
  fi
  # What the screen showed, for KEEP_E2E=1 runs.
  [ -n "${DISPLAY:-}" ] && [ -n "$XVFB_PID" ] && import -window root "$WORK/failure.png" 2>/dev/null
  exit 1
}

start_xvfb() {
  # -noreset: the server must not reset (and refuse connections meanwhile) each time its last
  # client leaves, as it would between two starts of the program.
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$WORK/display" 2>"$WORK/xvfb.log" &
  XVFB_PID=$!
  for _ in $(seq 100); do
    [ -s "$WORK/display" ] && break
    sleep 0.1
  done
  [ -s "$WORK/display" ] || fail "Xvfb did not start"
  export DISPLAY=":$(head -n1 "$WORK/display")"
  export QT_QPA_PLATFORM=xcb
  for _ in $(seq 100); do
    xdpyinfo >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  fail "Xvfb on $DISPLAY does not answer"
}

# start_app [ARG...]: runs the program in the background and sets APP_PID and WID.
start_app() {
  (cd "$WORK" && exec "$TILEGRID" "$@") >"$WORK/app.log" 2>&1 &
  APP_PID=$!
  WID=""
  for _ in $(seq 100); do
    WID=$(xdotool search --onlyvisible --name '^Tilegrid - tile sheet' 2>/dev/null | head -n1 || true)
    [ -n "$WID" ] && break
    sleep 0.1
  done
  [ -n "$WID" ] || fail "the main window did not appear"
  sleep 0.5
}

# wait_exit: waits up to 10 s for the program to end and sets APP_STATUS.
wait_exit() {
  for _ in $(seq 100); do
    kill -0 "$APP_PID" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$APP_PID" 2>/dev/null; then
    fail "the program is still running"
  fi
  APP_STATUS=0
  wait "$APP_PID" || APP_STATUS=$?
  APP_PID=""
}

# The window's top-left corner on the screen: WIN_X, WIN_Y.
window_origin() {
  eval "$(xdotool getwindowgeometry --shell "$WID")"
  WIN_X=$X
  WIN_Y=$Y
}

screenshot() { import -window root "$1"; }

# --- Driving the window -----------------------------------------------------------------------

# wait_until SECONDS COMMAND...: runs COMMAND every 0.1 s until it succeeds; fails after SECONDS.
wait_until() {
  local limit=$(( $1 * 10 )); shift
  for _ in $(seq "$limit"); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

# The program's visible windows other than the main one, with the title that Qt shows for them
# ("tilegrid" when a dialog has no title of its own): one "ID TITLE" line each. Menus, tool tips
# and the file name completer are override-redirect pop-ups, not dialogs, and are left out.
_dialog_lines() {
  local w
  for w in $(xdotool search --onlyvisible --class '^tilegrid$' 2>/dev/null); do
    [ "$w" = "$WID" ] && continue
    xwininfo -id "$w" 2>/dev/null | grep -q 'Override Redirect State: yes' && continue
    echo "$w $(xdotool getwindowname "$w" 2>/dev/null)"
  done
}

_find_dialog() {
  DIALOG=$(_dialog_lines | awk -v t="$1" '{ id = $1; sub(/^[0-9]+ /, ""); if ($0 == t) { print id; exit } }')
  [ -n "$DIALOG" ]
}

# wait_dialog TITLE: waits up to 10 s for a dialog with that exact title and sets DIALOG, DLG_X,
# DLG_Y, DLG_W and DLG_H. Untitled dialogs (message boxes, the grid question) show as "tilegrid".
wait_dialog() {
  wait_until 10 _find_dialog "$1" || fail "no dialog \"$1\" appeared"
  eval "$(xdotool getwindowgeometry --shell "$DIALOG")"
  DLG_X=$X; DLG_Y=$Y; DLG_W=$WIDTH; DLG_H=$HEIGHT
  sleep 0.2  # the dialog takes keys and clicks once it has painted
}

_no_dialog() { [ -z "$(_dialog_lines)" ]; }

_gone() { ! xdotool search --onlyvisible --class '^tilegrid$' 2>/dev/null | grep -qx "$1"; }

# wait_gone ID: waits up to 10 s until window ID is no longer shown.
wait_gone() {
  wait_until 10 _gone "$1" || fail "window $1 is still open"
}

# wait_no_dialog: waits up to 10 s until only the main window is left.
wait_no_dialog() {
  wait_until 10 _no_dialog || fail "a dialog is still open: $(_dialog_lines)"
}

# open_menu TITLE: opens one of the menu bar's menus by clicking its title (the menus have no
# access keys). No item is highlighted yet: Down picks the first, Up the last.
open_menu() {
  local x
  case "$1" in
    File) x=18 ;;
    Edit) x=56 ;;
    Map) x=95 ;;
    Settings) x=148 ;;
    Help) x=201 ;;
    *) fail "no menu $1" ;;
  esac
  window_origin
  xdotool mousemove $((WIN_X + x)) $((WIN_Y + 10)) click 1
  sleep 0.3
}

# choose_file TITLE PATH: types PATH into the file name box of the file dialog TITLE and accepts.
choose_file() {
  wait_dialog "$1"
  xdotool type --delay 2 "$2"
  xdotool key Return
  wait_gone "$DIALOG"
}

# answer_grid_question 8x8|16x16|none: clicks a button of the grid question window.
answer_grid_question() {
  wait_dialog tilegrid
  [ "$DLG_W" = 380 ] && [ "$DLG_H" = 55 ] || fail "the grid question has size ${DLG_W}x${DLG_H}"
  local x
  case "$1" in
    8x8) x=65 ;;
    16x16) x=190 ;;
    none) x=315 ;;
  esac
  xdotool mousemove $((DLG_X + x)) $((DLG_Y + 40)) click 1
  wait_no_dialog
}

# answer_unsaved Save|Discard|Cancel: clicks a button of the "Save, Discard, Cancel" question.
# The three sit at the bottom right of the message box.
answer_unsaved() {
  wait_dialog tilegrid
  local from_right
  case "$1" in
    Save) from_right=222 ;;
    Discard) from_right=137 ;;
    Cancel) from_right=51 ;;
  esac
  xdotool mousemove $((DLG_X + DLG_W - from_right)) $((DLG_Y + DLG_H - 23)) click 1
}

# wait_file PATH: waits up to 10 s for a non-empty file (the program renames complete files into
# place, so one that exists is whole).
wait_file() {
  wait_until 10 test -s "$1" || fail "$1 was not written"
}

# pixel IMAGE X Y: the pixel's colour as #RRGGBB.
pixel() {
  convert "$1" -crop "1x1+$2+$3" -depth 8 txt:- | tail -n1 | grep -o '#[0-9A-F]\{6\}' | head -n1
}

# same_pixels A B: true when the two images have the same size and every pixel alike.
same_pixels() {
  local differing
  differing=$(compare -metric AE "$1" "$2" null: 2>&1) || true
  [ "$differing" = 0 ]
}
