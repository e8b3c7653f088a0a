#!/usr/bin/env bash
# The cost of an administrator scan's transfer (encoding, 1 MiB batches over the bus, reassembly,
# decoding): `scan --admin` through brimvale-helper against a direct `scan` of the same tree as
# root, side by side in one run, warm cache. Wall-time difference as a ratio of the direct scan;
# once with one encoding thread in the helper and once with parallel LZFSE blocks.
# The saved snapshot uses 2 encoding threads as `scan --save` does; only its size is reported.
# Runs on a private dbus-daemon (never the system bus) with the shipped bus policy, the helper
# started by the bus on demand, and the tests' polkit stand-in answering "yes".
#   bench/helper-compare.sh [TREE] [BUILD_DIR]        RUNS=5   (run as root)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
tree=${1:-$("$here/make-bench-tree.sh")}
build=$(realpath "${2:-$here/../build/release}")
cli=$build/cli/brimvale-cli
helper=$build/BrimvaleHelper/brimvale-helper
stand_in=$build/HelperKit/tests/bus-stand-in
dist=$here/../dist
runs=${RUNS:-5}
parallel=$(nproc)
for f in "$cli" "$helper" "$stand_in"; do
  [ -x "$f" ] || { echo "missing $f (build brimvale-cli, brimvale-helper, bus-stand-in)" >&2; exit 2; }
done

work=$(mktemp -d)
daemon=
stop_bus() {
  if [ -n "$daemon" ]; then
    for name in app.brimvale.helper org.freedesktop.PolicyKit1; do
      pid=$(dbus-send --bus="$DBUS_SYSTEM_BUS_ADDRESS" --print-reply=literal --dest=org.freedesktop.DBus \
        /org/freedesktop/DBus org.freedesktop.DBus.GetConnectionUnixProcessID "string:$name" 2>/dev/null |
        awk '{print $2}') || true
      [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
    done
    kill "$daemon" 2>/dev/null || true
    wait "$daemon" 2>/dev/null || true
    daemon=
  fi
}
trap 'stop_bus; rm -rf "$work"' EXIT

# A bus like the system bus: its default policy, the shipped policy of the helper.
start_bus() {  # $1 = encoding threads of the helper
  local dir=$work/bus-$1
  mkdir -p "$dir/services" "$dir/system.d" "$dir/authority"
  cp "$dist/dbus-1/system.d/app.brimvale.helper.conf" "$dir/system.d/"
  cat >"$dir/system.d/authority.conf" <<'XML'
<busconfig>
  <policy user="root"><allow own="org.freedesktop.PolicyKit1"/></policy>
  <policy context="default">
    <allow send_destination="org.freedesktop.PolicyKit1" send_interface="org.freedesktop.PolicyKit1.Authority"/>
  </policy>
</busconfig>
XML
  sed "s|^Exec=.*|Exec=$helper --idle-seconds 600 --encode-threads $1|" \
    "$dist/dbus-1/system-services/app.brimvale.helper.service" >"$dir/services/app.brimvale.helper.service"
  printf '[D-BUS Service]\nName=org.freedesktop.PolicyKit1\nExec=%s authority %s\nUser=root\n' \
    "$stand_in" "$dir/authority" >"$dir/services/org.freedesktop.PolicyKit1.service"
  echo yes >"$dir/authority/answer"
  cat >"$dir/bus.conf" <<XML
<busconfig>
  <type>system</type>
  <listen>unix:path=$dir/socket</listen>
  <auth>EXTERNAL</auth>
  <servicedir>$dir/services</servicedir>
  <policy context="default">
    <allow user="*"/>
    <deny own="*"/>
    <deny send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_requested_reply="true" send_type="method_return"/>
    <allow send_requested_reply="true" send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
    <allow receive_type="signal"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus"/>
  </policy>
  <includedir>$dir/system.d</includedir>
</busconfig>
XML
  dbus-daemon --nofork --config-file="$dir/bus.conf" 2>"$dir/daemon.log" &
  daemon=$!
  export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$dir/socket
  for _ in $(seq 100); do [ -S "$dir/socket" ] && break; sleep 0.05; done
}

export HOME=$work/home XDG_DATA_HOME=$work/data XDG_CACHE_HOME=$work/cache XDG_CONFIG_HOME=$work/config
mkdir -p "$HOME"
"$cli" scan "$tree" --quiet >/dev/null   # warm the cache

# Alternating pairs (direct, admin) rather than one block per command: other work on the machine
# then weighs on both sides alike. The ratio is the median of the pairs' differences over the
# median direct time.
measure() {  # $1 = encoding threads
  python3 - "$cli" "$tree" "$runs" "$1" <<'PY'
import statistics, subprocess, sys, time
cli, tree, runs, threads = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
def timed(args):
    start = time.monotonic()
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL)
    return time.monotonic() - start
direct_cmd = [cli, "scan", tree, "--quiet"]
admin_cmd = [cli, "scan", "--admin", tree, "--quiet"]
timed(admin_cmd)  # the bus starts the helper
direct, diffs = [], []
for _ in range(runs):
    d = timed(direct_cmd)
    a = timed(admin_cmd)
    direct.append(d)
    diffs.append(a - d)
label = "one encoding thread" if threads == "1" else f"{threads} encoding threads"
target = 0.5 if threads == "1" else 0.3
md, mdiff = statistics.median(direct), statistics.median(diffs)
print(f"{label:22s} direct median {md:.3f} s, admin minus direct median {mdiff:+.3f} s "
      f"(pairs: {', '.join(f'{x:+.2f}' for x in diffs)}); transfer/direct = {mdiff / md:.3f} "
      f"(target <= {target})")
PY
}

"$cli" scan "$tree" --quiet --save "$work/tree.qws" >/dev/null
size=$(stat -c %s "$work/tree.qws")
echo "snapshot of the tree: $size bytes = $(( (size + 1048575) / 1048576 )) batches of 1 MiB"
for threads in 1 "$parallel"; do
  start_bus "$threads"
  measure "$threads"
  stop_bus
done
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
