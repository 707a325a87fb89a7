#!/usr/bin/env bash
# The main job of ./build.sh demo. Until the updater runs end to end, it runs
# the demo program, which exercises what the toolbox has and says what it did.
set -euo pipefail
build="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" XDG_DATA_HOME="$work/home/.local/share"
mkdir -p "$XDG_DATA_HOME"
"$build/qelt_demo"
