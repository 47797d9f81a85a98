# Shared steps of the end-to-end tests: a private X server, the program in it, and waiting.
# Sourced by the *_test.sh scripts; expects TILEGRID (the program) and CLOSE_WINDOW (the helper).

set -euo pipefail

WORK=$(mktemp -d)
XVFB_PID=""
APP_PID=""

cleanup() {
  [ -n "$APP_PID" ] && kill "$APP_PID" 2>/dev/null || true
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
  if [ "${KEEP_E2E:-0}" = 1 ]; then echo "kept $WORK"; else rm -rf "$WORK"; fi
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

start_xvfb() {
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$WORK/display" 2>"$WORK/xvfb.log" &
  XVFB_PID=$!
  for _ in $(seq 100); do
    [ -s "$WORK/display" ] && break
    sleep 0.1
  done
  [ -s "$WORK/display" ] || fail "Xvfb did not start"
  export DISPLAY=":$(head -n1 "$WORK/display")"
  export QT_QPA_PLATFORM=xcb
}

# start_app: runs the program in the background and sets APP_PID and WID.
start_app() {
  (cd "$WORK" && exec "$TILEGRID") >"$WORK/app.log" 2>&1 &
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
