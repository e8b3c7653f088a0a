# Sourced by the comparisons: the change-journal recorder (`brimvale-cli watch`) in the
# background for as long as the script runs. Needs $cli and $run (a scratch folder).
watcher=
stop_watch() { [ -n "$watcher" ] && kill -TERM "$watcher" 2>/dev/null && wait "$watcher" || true; watcher=; }

start_watch_in() {  # start_watch_in FOLDER [MODE]: returns once the recorder is in place
  "$cli" watch --mode "${2:-auto}" "$1" > "$run/watch.out" 2>&1 &
  watcher=$!
  for _ in $(seq 1 600); do
    grep -q Recording "$run/watch.out" && return 0
    kill -0 "$watcher" 2>/dev/null || { cat "$run/watch.out" >&2; exit 2; }
    sleep 0.5
  done
  echo "the recorder did not start" >&2; exit 2
}
