#!/usr/bin/env bash
# Makes docs/screenshot.png: starts the desktop program on a virtual X display with empty
# settings and lets it save a picture of its main window.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh xvfb xauth
[ -x build/ostmere-gui ] || bash scripts/build.sh
mkdir -p docs
settings=$(mktemp -d)
trap 'rm -rf "$settings"' EXIT
XDG_CONFIG_HOME="$settings" QT_QPA_PLATFORM=xcb \
  xvfb-run -a -s "-screen 0 1280x1024x24" build/ostmere-gui --screenshot docs/screenshot.png
echo "wrote docs/screenshot.png"
