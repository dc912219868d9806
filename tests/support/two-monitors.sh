# shellcheck shell=bash
# Sourced by tests/controller/a11y/with-desktop --two-monitors and by the test machine's
# pointer test: Xorg with the dummy video driver on xorg-two-monitors.conf (beside this file),
# and the split of its one screen into the monitors LEFT and RIGHT.
two_monitors_support="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

# Starts Xorg in the background with its configuration and log in FOLDER, its output in
# OUTPUT; it picks a free display and writes its number to FOLDER/display once it accepts
# connections. Sets two_monitors_xorg to its process id.
start_two_monitor_xorg() {
    local folder="$1" output="$2"
    cp "$two_monitors_support/xorg-two-monitors.conf" "$folder/xorg.conf" || return 1
    # Log and configuration in that folder: an ordinary user cannot write the system's.
    Xorg -displayfd 3 -config "$folder/xorg.conf" -configdir "$folder" \
        -logfile "$folder/xorg.log" -nolisten tcp -noreset 3>"$folder/display" >"$output" 2>&1 &
    # shellcheck disable=SC2034 # read by the scripts that source this file
    two_monitors_xorg=$!
}

# Splits the screen of $DISPLAY into LEFT (x 0..1280) and RIGHT (x 1280..2560).
split_two_monitors() {
    xrandr --setmonitor LEFT 1280/340x800/210+0+0 DUMMY0 &&
        xrandr --setmonitor RIGHT 1280/340x800/210+1280+0 none
}
