#!/bin/sh
# Builds Tidevault (installing missing Debian packages first) and starts it.
set -e
here="$(cd "$(dirname "$0")/.." && pwd)"
"$here/tools/install-deps.sh"
cmake -S "$here" -B "$here/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$here/build"
# The build folder is a complete program folder.
if [ -z "$DISPLAY" ] && [ -z "$WAYLAND_DISPLAY" ]; then
    echo "No display (neither DISPLAY nor WAYLAND_DISPLAY is set): showing the job list with tidevault-cli instead."
    exec "$here/build/tidevault-cli" list
fi
exec "$here/build/tidevault" "$@"
