#!/usr/bin/env bash
# A whole session through the real window under Xvfb: open a sheet made here, answer the grid
# question, zoom with the wheel, swap tiles by dragging, save the image and the map, open the saved
# image and the map, reset the map, save again and get the original sheet back pixel for pixel.
# Then the unsaved-changes question on a close request: Cancel keeps the program running,
# Discard ends it with exit code 0.
here=$(dirname "$(readlink -f "$0")")
TILEGRID=$(readlink -f "$1")
CLOSE_WINDOW=$(readlink -f "$2")
source "$here/e2e_lib.sh"

PASSED=0
pass() {
  PASSED=$((PASSED + 1))
  echo "ok: $*"
}

# --- The sheet: 4 x 3 tiles of 16 x 16, each its own colour, with a partial strip 5 pixels wide
# at the right and 7 high at the bottom in two further colours.
COLUMNS=4
ROWS=3
TILE_COLOURS=('#FF0000' '#00FF00' '#0000FF' '#FFFF00' '#00FFFF' '#FF00FF'
              '#FFA500' '#800080' '#FFFFFF' '#666666' '#008080' '#800000')
RIGHT_STRIP='#0AC85A'
BOTTOM_STRIP='#C8640A'
SHEET_W=$((COLUMNS * 16 + 5))
SHEET_H=$((ROWS * 16 + 7))

make_sheet() {
  local args=(-size "${SHEET_W}x${SHEET_H}" xc:black) i=0 c r
  for r in $(seq 0 $((ROWS - 1))); do
    for c in $(seq 0 $((COLUMNS - 1))); do
      args+=(-fill "${TILE_COLOURS[$i]}" -draw "rectangle $((c * 16)),$((r * 16)) $((c * 16 + 15)),$((r * 16 + 15))")
      i=$((i + 1))
    done
  done
  args+=(-fill "$RIGHT_STRIP" -draw "rectangle $((COLUMNS * 16)),0 $((SHEET_W - 1)),$((SHEET_H - 1))")
  args+=(-fill "$BOTTOM_STRIP" -draw "rectangle 0,$((ROWS * 16)) $((SHEET_W - 1)),$((SHEET_H - 1))")
  convert "${args[@]}" -strip "png24:$1"
}

# ORDER[i]: which original tile stands at position i (row by row), as the program should have it.
reset_order() { mapfile -t ORDER < <(seq 0 $((COLUMNS * ROWS - 1))); }
swap_order() {
  local t=${ORDER[$1]}
  ORDER[$1]=${ORDER[$2]}
  ORDER[$2]=$t
}

# tiles_match IMAGE X0 Y0 SCALE: true when every tile of IMAGE, drawn from (X0, Y0) at SCALE, shows
# the colour ORDER puts there, and the partial strips are untouched.
tiles_match() {
  local image=$1 x0=$2 y0=$3 s=$4 i c r
  for i in "${!ORDER[@]}"; do
    c=$((i % COLUMNS)); r=$((i / COLUMNS))
    [ "$(pixel "$image" $((x0 + (c * 16 + 8) * s)) $((y0 + (r * 16 + 8) * s)))" = "${TILE_COLOURS[${ORDER[$i]}]}" ] || return 1
  done
  [ "$(pixel "$image" $((x0 + (COLUMNS * 16 + 2) * s)) $((y0 + 8 * s)))" = "$RIGHT_STRIP" ] &&
    [ "$(pixel "$image" $((x0 + 8 * s)) $((y0 + (ROWS * 16 + 3) * s)))" = "$BOTTOM_STRIP" ]
}

# locate_sheet: finds the sheet on the screen by its bottom strip and sets SHEET_X, SHEET_Y (its
# top-left corner on the screen) and ZOOM_SEEN; $WORK/on-screen.png is the sheet as shown.
locate_sheet() {
  screenshot "$WORK/screen.png"
  local box w h x y
  box=$(convert "$WORK/screen.png" -fill black +opaque "$BOTTOM_STRIP" -fill white -opaque "$BOTTOM_STRIP" \
        -bordercolor black -border 1 -trim -format '%w %h %X %Y' info: 2>/dev/null) || return 1
  read -r w h x y <<<"$box"
  [ $((w % SHEET_W)) = 0 ] || return 1
  ZOOM_SEEN=$((w / SHEET_W))
  [ "$h" = $((7 * ZOOM_SEEN)) ] || return 1
  SHEET_X=$((${x#+} - 1))
  SHEET_Y=$((${y#+} - 1 - ROWS * 16 * ZOOM_SEEN))
  convert "$WORK/screen.png" -crop "${w}x$((SHEET_H * ZOOM_SEEN))+$SHEET_X+$SHEET_Y" +repage "$WORK/on-screen.png"
}

# screen_shows ZOOM: true when the sheet is on the screen at ZOOM with the tiles in ORDER.
screen_shows() {
  locate_sheet && [ "$ZOOM_SEEN" = "$1" ] && tiles_match "$WORK/on-screen.png" 0 0 "$1"
}

expect_screen() {
  wait_until 5 screen_shows "$1" || fail "the window does not show the sheet at zoom $1 with tiles ${ORDER[*]}"
}

# drag_tile FROM TO: presses the left button on tile FROM, moves to tile TO and releases there.
drag_tile() {
  locate_sheet || fail "the sheet is not on the screen"
  local span=$((16 * ZOOM_SEEN))
  local fx=$((SHEET_X + ($1 % COLUMNS) * span + span / 2)) fy=$((SHEET_Y + ($1 / COLUMNS) * span + span / 2))
  local tx=$((SHEET_X + ($2 % COLUMNS) * span + span / 2)) ty=$((SHEET_Y + ($2 / COLUMNS) * span + span / 2))
  xdotool mousemove "$fx" "$fy" mousedown 1
  xdotool mousemove $(((fx + tx) / 2)) $(((fy + ty) / 2))
  xdotool mousemove "$tx" "$ty" mouseup 1
}

# open_sheet PATH: File "Open..", the file, then "no Grid".
open_sheet() {
  open_menu File
  xdotool key Down Return
  choose_file 'Please choose file to open..' "$1"
  answer_grid_question none
}

# save_sheet PATH: Ctrl+S and the file name; waits for the file.
save_sheet() {
  rm -f "$1"
  xdotool key ctrl+s
  choose_file 'Please choose file to save..' "$1"
  wait_file "$1"
}

start_xvfb
make_sheet "$WORK/sheet.png"
start_app
reset_order

# Open the sheet and say it has no grid: it shows at zoom 1 in its own order.
open_sheet "$WORK/sheet.png"
expect_screen 1
pass "the opened sheet shows at zoom 1"

# One wheel notch up over the window doubles it.
window_origin
xdotool mousemove $((WIN_X + 320)) $((WIN_Y + 240)) click 4
expect_screen 2
pass "one wheel notch zooms to 2"

# Two swaps by dragging; a drag onto the partial strip changes nothing.
drag_tile 0 5
swap_order 0 5
expect_screen 2
drag_tile 3 10
swap_order 3 10
expect_screen 2
locate_sheet
xdotool mousemove $((SHEET_X + (3 * 16 + 8) * 2)) $((SHEET_Y + (2 * 16 + 8) * 2)) mousedown 1 \
  mousemove $((SHEET_X + (COLUMNS * 16 + 2) * 2)) $((SHEET_Y + (2 * 16 + 8) * 2)) mouseup 1
sleep 0.3
expect_screen 2
pass "dragging swaps whole tiles at zoom 2 and leaves the partial strip alone"

# Save the rearranged image and its map.
save_sheet "$WORK/swapped.png"
[ "$(identify -format '%wx%h' "$WORK/swapped.png")" = "${SHEET_W}x${SHEET_H}" ] || fail "swapped.png has the wrong size"
tiles_match "$WORK/swapped.png" 0 0 1 || fail "swapped.png does not hold the swapped tiles"
pass "File Save As.. writes the rearranged sheet"

open_menu Map
xdotool key Down Down Return
choose_file 'Please choose file to save..' "$WORK/swapped"
wait_file "$WORK/swapped.zeko-map"
cmp -s "$WORK/swapped.zeko-map" <(printf '%s\r\n' "${ORDER[@]}") || fail "the map file does not list the tiles in order ${ORDER[*]}"
pass "Map Save As.. writes the tile order with its extension added"

# Open the saved image (nothing unsaved, so nothing is asked): it shows as saved, at zoom 1.
open_sheet "$WORK/swapped.png"
reset_order
swap_order 0 5
swap_order 3 10
expect_screen 1
pass "the saved sheet opens as it was saved"

# Load the map, then "Reset Map": every tile goes back.
open_menu Map
xdotool key Down Return
choose_file 'Please choose file to open..' "$WORK/swapped.zeko-map"
expect_screen 1
window_origin
eval "$(xdotool getwindowgeometry --shell "$WID")"
xdotool mousemove $((WIN_X + WIDTH - 65)) $((WIN_Y + 33)) click 1
reset_order
expect_screen 1
pass "Map Open.. and Reset Map put every tile back"

save_sheet "$WORK/restored.png"
same_pixels "$WORK/sheet.png" "$WORK/restored.png" || fail "the restored sheet differs from the original"
pass "the sheet saved after the reset equals the original pixel for pixel"

# Unsaved changes, then a close request: Cancel keeps everything.
drag_tile 1 2
swap_order 1 2
expect_screen 1
# Ctrl+Z takes the swap back and Ctrl+Shift+Z does it again.
xdotool key ctrl+z
swap_order 1 2
expect_screen 1
xdotool key ctrl+shift+z
swap_order 1 2
expect_screen 1
pass "Ctrl+Z undoes a swap and Ctrl+Shift+Z redoes it"
"$CLOSE_WINDOW" "$WID"
answer_unsaved Cancel
wait_no_dialog
sleep 0.3
kill -0 "$APP_PID" 2>/dev/null || fail "the program ended although Cancel was chosen"
xdotool search --onlyvisible --class '^tilegrid$' | grep -qx "$WID" || fail "the main window is gone after Cancel"
expect_screen 1
pass "Cancel in the unsaved-changes question keeps the program and the sheet"

# Close again and discard: the program ends with exit code 0 and writes nothing.
files() { find "$WORK" -maxdepth 1 -printf '%f\n' | sort; }
before=$(files)
"$CLOSE_WINDOW" "$WID"
answer_unsaved Discard
wait_exit
[ "$APP_STATUS" = 0 ] || fail "Discard ended the program with exit code $APP_STATUS"
[ "$(files)" = "$before" ] || fail "Discard wrote a file"
pass "Discard ends the program with exit code 0"

echo "workflow: $PASSED passed, 0 failed"
