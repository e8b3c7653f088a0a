#!/usr/bin/env bash
# The cost of an administrator scan's transfer (encoding, 1 MiB batches over the bus, reassembly,
# decoding): `scan --admin` through brimvale-helper against a direct `scan` of the same tree as
# root, side by side in one run, warm cache. Wall-time difference as a ratio of the direct scan;
# once with one encoding thread in the helper and once with parallel LZFSE blocks.
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

for threads in 1 "$parallel"; do
  start_bus "$threads"
  hyperfine -N -w 1 -r "$runs" --export-json "$work/times-$threads.json" \
    -n direct "$cli scan $tree --quiet" \
    -n admin "$cli scan --admin $tree --quiet" >&2
  stop_bus
done

python3 - "$work" "$parallel" "$tree" "$cli" <<'PY'
import json, subprocess, sys
work, parallel, tree, cli = sys.argv[1:]
size = None
for threads, target in (("1", 0.5), (parallel, 0.3)):
    r = {x["command"]: x for x in json.load(open(f"{work}/times-{threads}.json"))["results"]}
    direct, admin = r["direct"]["median"], r["admin"]["median"]
    ratio = (admin - direct) / direct
    label = "one encoding thread" if threads == "1" else f"{threads} encoding threads"
    print(f"{label:22s} direct {direct:.3f} s  admin {admin:.3f} s  "
          f"transfer/direct = {ratio:.3f} (target <= {target})")
PY
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
