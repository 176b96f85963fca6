#!/bin/sh
# Only the windows (src/ui/) and the desktop program's main may include Qt:
# the engine, tidevault-cli and bfish build on a machine without it.
root="${1:-.}"
found=$(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"](Q[A-Za-z]+|Qt[A-Za-z]*/)' \
    "$root/src" "$root/tests" --include='*.h' --include='*.hpp' --include='*.cpp' 2>/dev/null |
    grep -vE "^$root/src/ui/|^$root/src/app/desktop_main\.cpp:|^$root/tests/ui/")
if [ -n "$found" ]; then
    echo "Qt header outside the windows and the desktop program's main:" >&2
    echo "$found" >&2
    exit 1
fi
exit 0
