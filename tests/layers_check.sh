#!/bin/sh
# Calls go down: fails when a product file includes a module above its layer.
#   base/      includes nothing of the product
#   app/       only app/texts.h may be included from below
#   standins/  reached only through the media seam (capture/media_seam.cpp)
#   windows    (settings, wizard, log viewer) are opened by the app, never by the media layers
# Usage: layers_check.sh <source root>
root=${1:?source root}
cd "$root" || exit 2
status=0
fail() { echo "layer break: $1"; status=1; }
includes() { grep -rHn --include='*.cpp' --include='*.h' '^#include "' "$@"; }

includes base | grep -v '"base/' | while IFS= read -r line; do echo "layer break: base includes $line"; done | grep . && status=1
for folder in diag settings frames capture render record standins; do
    includes "$folder" | grep '"app/' | grep -v '"app/texts\.h"' | grep . && fail "$folder includes the app above it"
done
includes app base diag settings frames capture render record | grep '"standins/' |
    grep -v '^capture/media_seam\.cpp:' | grep . && fail "stand-ins reached beside the media seam"
includes frames capture render record |
    grep -E '"(settings/(settings_window|settings_controls|onboarding[a-z_]*)|diag/diag_window)\.h"' | grep . &&
    fail "a media layer opens a window"
[ $status -eq 0 ] && echo "layers: calls go down"
exit $status
