#!/bin/bash
# Start-up as scripts measure it: a first launch scans from scratch, a second one with the change
# journal running opens the snapshot as it was, a third after a change catches up.
set -euo pipefail
app=$1
cli=$2
tmp=$(mktemp -d)
watcher=
cleanup() {
    if [ -n "$watcher" ]; then kill "$watcher" 2>/dev/null || true; wait "$watcher" 2>/dev/null || true; fi
    rm -rf "$tmp"
}
trap cleanup EXIT
export HOME=$tmp/home XDG_DATA_HOME=$tmp/home/.local/share XDG_CONFIG_HOME=$tmp/home/.config
export XDG_CACHE_HOME=$tmp/home/.cache XDG_RUNTIME_DIR=$tmp/run QT_QPA_PLATFORM=offscreen
mkdir -p "$HOME/work/a" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
echo one > "$HOME/work/a/one"

expect() {
    local want=$1 line
    line=$(timeout 60 "$app" --quit-when-ready --target "$HOME/work")
    echo "$line"
    [[ $line =~ ^\{\"readyMs\":\ [0-9]+,\ \"path\":\ \"$want\",\ \"nodes\":\ ([0-9]+)\}$ ]] || {
        echo "expected path $want" >&2
        exit 1
    }
    nodes=${BASH_REMATCH[1]}
}

"$cli" watch --quiet "$HOME/work" &
watcher=$!
for _ in $(seq 50); do [ -e "$XDG_DATA_HOME/Brimvale/Journal/state" ] && break; sleep 0.1; done
expect fullScan
[ "$nodes" = 3 ]
expect snapshot
[ "$nodes" = 3 ]
echo two > "$HOME/work/a/two"
expect incremental
[ "$nodes" = 4 ]
if "$app" --target "$HOME/work" 2>/dev/null; then
    echo "--target alone was accepted" >&2
    exit 1
fi
echo "3 passed, 0 failed"
