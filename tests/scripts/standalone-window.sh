#!/usr/bin/env bash
# Drives the standalone application in an X server of its own (run it under xvfb-run -a): starts
# it as on a machine without a sound card, waits until its window is mapped, takes a screenshot
# of the window, then ends it with SIGTERM or by clicking the window's close button. Prints
#   window=WIDTHxHEIGHT
#   exit=STATUS          (or exit=hung when it had not quit 30 s later; it is then killed)
# Usage: standalone-window.sh APPLICATION SCREENSHOT.png sigterm|close
set -u

if [[ $# -ne 3 || ( $3 != sigterm && $3 != close ) ]]; then
    echo "usage: $0 APPLICATION SCREENSHOT.png sigterm|close" >&2
    exit 2
fi

app=$1
shot=$2
ending=$3

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A settings folder of its own, and no sound card: ALSA has no device definitions and no JACK
# server is running or may be started.
export HOME="$work" XDG_CONFIG_HOME="$work/.config"
export ALSA_CONFIG_PATH="$work/alsa.conf"
: > "$ALSA_CONFIG_PATH"
export JACK_NO_START_SERVER=1 JACK_DEFAULT_SERVER="kestrine-test-$$"

# In the AddressSanitizer build: the framework opens the X libraries itself and closes them at
# exit, before the leak check runs, which then finds what they still held unreachable. Loaded
# beforehand, they stay mapped and the check sees that memory for what it is.
preload=
if [[ -n "${ASAN_OPTIONS:-}" ]]; then
    for library in libX11.so.6 libXext.so.6 libXcursor.so.1 libXinerama.so.1 libXrandr.so.2 libXrender.so.1; do
        path=$(ldconfig -p | awk -v name="$library" '$1 == name { print $NF; exit }')
        [[ -n "$path" ]] && preload="$preload $path"
    done
fi

LD_PRELOAD="${preload# }" "$app" > "$work/app.log" 2>&1 &
pid=$!

# The time limits only stop a broken run from hanging the suite.
wid=$(timeout 60 xdotool search --sync --onlyvisible --name '^Kestrine$' | head -n 1)

if [[ -z "$wid" ]]; then
    echo "window=none"
    kill -KILL "$pid" 2> /dev/null
    sed 's/^/app: /' "$work/app.log"
    exit 1
fi

eval "$(xdotool getwindowgeometry --shell "$wid")"
echo "window=${WIDTH}x${HEIGHT}"

sleep 1   # lets the editor paint before the picture; no result depends on it
import -window "$wid" "$shot"

if [[ $ending == sigterm ]]; then
    kill -TERM "$pid"
else
    # The close button at the right of the framework's title bar: a 23-pixel square, 5 pixels
    # from the right edge inside the 1-pixel border, 1 pixel below the title bar's top.
    xdotool mousemove --window "$wid" $((WIDTH - 1 - 5 - 12)) 13 click 1
fi

if timeout 30 tail --pid="$pid" -f /dev/null; then
    wait "$pid"
    echo "exit=$?"
else
    kill -KILL "$pid"
    echo "exit=hung"
fi
