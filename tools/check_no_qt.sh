#!/bin/sh
# The engine must build without Qt: only src/ui/ and src/app/ may include it.
root="${1:-.}"
found=$(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"](Q[A-Za-z]+|Qt[A-Za-z]*/)' \
    "$root/src" "$root/tests" --include='*.h' --include='*.hpp' --include='*.cpp' 2>/dev/null |
    grep -vE "^$root/src/(ui|app)/|^$root/tests/ui/")
if [ -n "$found" ]; then
    echo "Qt header outside src/ui and src/app:" >&2
    echo "$found" >&2
    exit 1
fi
exit 0
