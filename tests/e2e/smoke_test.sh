#!/usr/bin/env bash
# Starts the real program under Xvfb, checks that its window shows the grey canvas, and ends it
# once through File "Quit" and once through a close request; both must exit with code 0. The
# second start names a sheet, which opens with the grid question.
here=$(dirname "$(readlink -f "$0")")
TILEGRID=$(readlink -f "$1")
CLOSE_WINDOW=$(readlink -f "$2")
source "$here/e2e_lib.sh"

start_xvfb

start_app
screenshot "$WORK/start.png"
# The canvas and the scroll area around it are both the view background (128, 128, 128): the grey
# region must be at least 256 x 256 and uniformly grey in its middle.
box=$(convert "$WORK/start.png" -fill white +opaque 'rgb(128,128,128)' -fill black -opaque 'rgb(128,128,128)' \
      -bordercolor white -border 1 -trim -format '%w %h %X %Y' info:)
read -r gw gh gx gy <<<"$box"
[ "$gw" -ge 256 ] && [ "$gh" -ge 256 ] || fail "no 256 x 256 grey canvas on screen (found ${gw}x${gh})"
cx=$(( ${gx#+} - 1 + (gw - 256) / 2 )); cy=$(( ${gy#+} - 1 + (gh - 256) / 2 ))
colours=$(convert "$WORK/start.png" -crop "256x256+$cx+$cy" +repage -unique-colors -format '%w' info:)
[ "$colours" = 1 ] || fail "the canvas is not uniformly grey"

# File "Quit": open the File menu by clicking it, then choose its last item.
window_origin
xdotool mousemove $((WIN_X + 18)) $((WIN_Y + 10)) click 1
sleep 0.5
screenshot "$WORK/file-menu.png"
xdotool key Up Return
wait_exit
[ "$APP_STATUS" = 0 ] || fail "Quit ended with exit code $APP_STATUS"

# A sheet named on the command line opens at start-up, after the grid question.
convert -size 40x30 xc:'#FF0000' "png24:$WORK/red.png"
start_app "$WORK/red.png"
answer_grid_question none
screenshot "$WORK/opened.png"
[ "$(convert "$WORK/opened.png" -fill black +opaque '#FF0000' -fill white -opaque '#FF0000' -trim \
      -format '%wx%h' info:)" = 40x30 ] || fail "the sheet named at start-up is not shown"
# The window has the keyboard back after the question: Ctrl+S reaches it.
xdotool key ctrl+s
wait_dialog 'Please choose file to save..'
xdotool key Escape
wait_gone "$DIALOG"

# A close request, as the window manager's close box sends it.
"$CLOSE_WINDOW" "$WID"
wait_exit
[ "$APP_STATUS" = 0 ] || fail "a close request ended with exit code $APP_STATUS"

echo "smoke: 4 passed, 0 failed"
