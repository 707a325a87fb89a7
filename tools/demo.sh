#!/usr/bin/env bash
# The main job of ./build.sh demo: a real update, end to end.
#
# In a scratch home it makes Sample.app 1.0 (installed) and Sample.app 2.0
# (downloaded), and starts 1.0. Version 1.0 starts the updater with its own
# process id, a log folder, restart parameters and a client-customisation
# file, reads the updater's one progress line ("waitquit,-1") and quits. The
# updater waits for it to go, swaps the bundles, writes the server link
# file, relaunches the application (now 2.0) through its open tool and
# trashes the old bundle. The demo then shows what happened.
set -euo pipefail
build="$1"
updater="$build/Updater.app/Contents/MacOS/Updater"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" XDG_DATA_HOME="$work/home/.local/share"
mkdir -p "$XDG_DATA_HOME"
export SAMPLE_DEMO="$work" SAMPLE_UPDATER="$updater"

# make_sample BUNDLE VERSION SCRIPT: a bundle whose executable is SCRIPT.
make_sample() {
    local bundle="$1" version="$2" script="$3"
    mkdir -p "$bundle/Contents/MacOS" "$bundle/Contents/Resources" "$bundle/Contents/Versions/$version"
    cat > "$bundle/Contents/Info.plist" <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
<key>CFBundleExecutable</key><string>Sample</string>
<key>CFBundleShortVersionString</key><string>$version</string>
</dict></plist>
EOF
    printf '%s\n' "$script" > "$bundle/Contents/MacOS/Sample"
    chmod 0755 "$bundle/Contents/MacOS/Sample"
    echo "Sample $version" > "$bundle/Contents/Resources/version.txt"
    ln -s "$version" "$bundle/Contents/Versions/Current"
}

# Version 1.0: hands over to the updater and quits once told to.
make_sample "$work/Applications/Sample.app" 1.0 '#!/bin/sh
# Sample 1.0: a newer copy of me is in Downloads; let the updater replace me.
mkfifo "$SAMPLE_DEMO/progress"
( "$SAMPLE_UPDATER" --pid="$$" --caller-log=1 --log-dir="$SAMPLE_DEMO/logs" \
      --restart-params="$SAMPLE_DEMO/restart.link" --client-info="$SAMPLE_DEMO/client.json" \
      "$SAMPLE_DEMO/Applications/Sample.app" "$SAMPLE_DEMO/Downloads/Sample.app"
  echo $? > "$SAMPLE_DEMO/updater.status" ) > "$SAMPLE_DEMO/progress" 2> "$SAMPLE_DEMO/updater.stderr" &
read -r line < "$SAMPLE_DEMO/progress"
echo "Sample 1.0 (pid $$): the updater says \"$line\"; quitting." > "$SAMPLE_DEMO/sample-1.0.txt"
exit 0'

# Version 2.0: says who it is and what it was started with.
make_sample "$work/Downloads/Sample.app" 2.0 '#!/bin/sh
echo "Sample 2.0 started with arguments: $*" > "$SAMPLE_DEMO/sample-2.0.txt"'
chmod 0644 "$work/Downloads/Sample.app/Contents/MacOS/Sample"  # the updater makes it runnable

echo "restart parameters" > "$work/restart.link"
cat > "$work/client.json" <<'EOF'
{"ServerPlatform": "linux", "BuildIPAdress": "192.0.2.10", "BuildIPPort": "19812",
 "PublishName": "Inventory", "BuildCacheFolderNameClient": "InventoryCache"}
EOF

show_tree() { (cd "$1" && find . | sort | sed 's/^/    /'); }

echo "== Before the update"
echo "  Applications/Sample.app:"; show_tree "$work/Applications/Sample.app"
echo "  Downloads/Sample.app:"; show_tree "$work/Downloads/Sample.app"

echo "== Starting Sample 1.0"
"$work/Applications/Sample.app/Contents/MacOS/Sample"
cat "$work/sample-1.0.txt"

# The updater outlives its caller: wait for its status.
for _ in $(seq 1 600); do
    [ -s "$work/updater.status" ] && break
    sleep 0.1
done
[ -s "$work/updater.status" ] || { echo "the updater did not finish"; exit 1; }
for _ in $(seq 1 50); do
    [ -s "$work/sample-2.0.txt" ] && break
    sleep 0.1
done

status="$(cat "$work/updater.status")"
echo "== Updater exit status: $status"
if [ -s "$work/updater.stderr" ]; then echo "  standard error:"; sed 's/^/    /' "$work/updater.stderr"; fi
echo "== Log"
for log in "$work"/logs/*; do echo "  $(basename "$log"):"; sed 's/^/    /' "$log"; done
echo "== After the update"
echo "  Applications:"; (cd "$work/Applications" && ls -1 | sed 's/^/    /')
echo "  Applications/Sample.app:"; show_tree "$work/Applications/Sample.app"
echo "  Trash:"; (cd "$XDG_DATA_HOME/Trash" && find . -maxdepth 2 | sort | sed 's/^/    /')
for info in "$XDG_DATA_HOME"/Trash/info/*.trashinfo; do echo "  $(basename "$info"):"; sed 's/^/    /' "$info"; done
echo "== Server link file"
cat "$work/Applications/Sample.app/Contents/Database/ZovavorAvozuz.Vqlink"; echo
echo "== The relaunched application"
cat "$work/sample-2.0.txt" 2>/dev/null || echo "  (it wrote nothing)"
[ "$status" = "0" ]
