#!/bin/sh
# Adds Tidevault to the user's application menu, pointing at the build folder
# (a complete program folder): a tidevault.desktop entry and the program's icon.
set -e
here="$(cd "$(dirname "$0")/.." && pwd)"
program="${1:-$here/build}"
if [ ! -x "$program/tidevault" ]; then
    echo "No tidevault in $program: build it first (./tools/run.sh)." >&2
    exit 1
fi
data="${XDG_DATA_HOME:-$HOME/.local/share}"
mkdir -p "$data/applications" "$data/icons/hicolor/scalable/apps"
cp "$here/src/ui/icons/tidevault.svg" "$data/icons/hicolor/scalable/apps/tidevault.svg"
# Exec quoting: the folder may hold blanks.
cat > "$data/applications/tidevault.desktop" <<ENTRY
[Desktop Entry]
Type=Application
Name=Tidevault
GenericName=Backup
GenericName[de]=Datensicherung
Comment=Back up your files on a schedule and bring them back
Comment[de]=Sichert Ihre Dateien nach Zeitplan und stellt sie wieder her
Exec="$program/tidevault"
Icon=tidevault
Terminal=false
Categories=Utility;Archiving;Qt;
ENTRY
command -v update-desktop-database >/dev/null 2>&1 && update-desktop-database "$data/applications" || true
echo "Added Tidevault to the application menu ($data/applications/tidevault.desktop)."
