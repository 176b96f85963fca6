#!/bin/sh
# Renders the windows again and copies the English pictures the manual shows
# into help/pictures/. Run it after a window has changed, then commit them.
set -eu
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target screenshots
mkdir -p help/pictures
for name in main progress-running editor-0 editor-1 editor-2 editor-3 editor-ftp \
    restore restore-filter remote-browser settings; do
    cp "build/screenshots/$name-english.png" help/pictures/
done
echo "help/pictures/ updated"
