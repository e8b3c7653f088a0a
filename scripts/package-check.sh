#!/usr/bin/env bash
# CI only: builds the Debian package, installs it on this machine, checks what it installed,
# upgrades over itself, and purges it again, so the machine ends as it began. Never run on a
# developer's machine: scripts/test.sh calls it only when CI=true.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${CI:-}" != "true" ]; then
  echo "package-check: only under CI=true (it installs and removes packages)" >&2
  exit 2
fi
if dpkg-query -W -f='${Status}' brimvale 2>/dev/null | grep -q 'install ok installed'; then
  echo "package-check: brimvale is installed here already; leaving it alone" >&2
  exit 0
fi

deb=$(bash scripts/package.sh | tail -n 1)
export DEBIAN_FRONTEND=noninteractive
purge() { apt-get purge -y -qq brimvale >/dev/null 2>&1 || true; }
trap purge EXIT

apt-get install -y -qq "./$deb" >/dev/null
# Again over itself: the upgrade path of the maintainer scripts.
apt-get install -y -qq --reinstall "./$deb" >/dev/null

# No display: the app answers --version all the same.
env -u DISPLAY -u WAYLAND_DISPLAY /usr/bin/brimvale --version | grep -qx "brimvale [0-9.]*"
/usr/bin/brimvale-cli --version
/usr/libexec/brimvale/brimvale-helper --version
home=$(mktemp -d)
HOME=$home XDG_DATA_HOME=$home/data XDG_CACHE_HOME=$home/cache XDG_CONFIG_HOME=$home/config \
  /usr/bin/brimvale-cli scan /usr --json --quiet --top 3 | python3 -m json.tool >/dev/null
# The desktop verbs come from the installed module.
HOME=$home XDG_DATA_HOME=$home/data XDG_CACHE_HOME=$home/cache XDG_CONFIG_HOME=$home/config \
  /usr/bin/brimvale-cli suggest "$home" --json | python3 -m json.tool >/dev/null
rm -rf "$home"

for f in /usr/libexec/brimvale/brimvale-helper /usr/lib/brimvale/brimvale-cli-desktop.so \
         /usr/share/dbus-1/system-services/app.brimvale.helper.service \
         /usr/share/dbus-1/system.d/app.brimvale.helper.conf \
         /usr/share/polkit-1/actions/app.brimvale.helper.policy \
         /usr/lib/systemd/system/brimvale-helper.service \
         /usr/lib/systemd/user/brimvale-watch.service \
         /usr/share/applications/app.brimvale.Brimvale.desktop \
         /usr/share/metainfo/app.brimvale.Brimvale.metainfo.xml \
         /usr/share/icons/hicolor/scalable/apps/brimvale.svg \
         /usr/share/man/man1/brimvale-cli.1.gz \
         /usr/share/bash-completion/completions/brimvale-cli; do
  [ -e "$f" ] || { echo "package-check: $f is missing" >&2; exit 1; }
done
[ -x /usr/libexec/brimvale/brimvale-helper ]
grep -q 'ExecStart=/usr/bin/brimvale-cli' /usr/lib/systemd/user/brimvale-watch.service

trap - EXIT
apt-get purge -y -qq brimvale >/dev/null
if dpkg-query -W -f='${Status}' brimvale 2>/dev/null | grep -q 'installed'; then
  echo "package-check: brimvale is still installed after the purge" >&2
  exit 1
fi
[ ! -e /usr/bin/brimvale ] && [ ! -e /usr/libexec/brimvale ]
echo "Package: ok ($deb installed, checked and purged)"
