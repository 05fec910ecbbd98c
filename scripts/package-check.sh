#!/bin/sh
# Builds the Debian package and checks it with lintian; installs it (as root, on a
# throw-away machine such as CI), validates the installed desktop entry and AppStream
# metadata, checks that every program has its manual page, starts the installed station as
# an ordinary user and checks that its settings land in that user's folder and survive a
# second start; starts it as root, which must keep its settings in its own per-user folder
# too, never beside the program; then removes the package again.
set -eu
cd "$(dirname "$0")/.."
deb=$(./scripts/package.sh)
lintian --fail-on error,warning "$deb" || { echo "package-check: lintian failed" >&2; exit 1; }
DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$deb" >/dev/null

home=$(mktemp -d)
chown nobody "$home"
root_home=$(mktemp -d)
settings_in() { echo "$1/.config/Soft_7710(12)/control7710.dat"; }
settings=$(settings_in "$home")
cleanup() {
    apt-get remove -y -q control7710 >/dev/null || true
    rm -rf "$home" "$root_home"
}
trap cleanup EXIT

# start_station USER HOME: runs the installed station until its settings file appears.
start_station() {
    runuser -u "$1" -- env -i HOME="$2" QT_QPA_PLATFORM=offscreen /usr/bin/control7710 \
        2>/dev/null &
    station=$!
    for _ in $(seq 50); do
        [ -s "$(settings_in "$2")" ] && break
        sleep 0.1
    done
    sleep 0.5
    kill "$station"
    wait "$station" || true
}

for file in /usr/bin/control7710 /usr/bin/control7710-sim /usr/bin/control7710-cli \
    /usr/share/applications/control7710.desktop \
    /usr/share/icons/hicolor/scalable/apps/control7710.svg \
    /usr/share/icons/hicolor/48x48/apps/control7710.png \
    /usr/share/icons/hicolor/256x256/apps/control7710.png \
    /usr/share/bash-completion/completions/control7710-sim \
    /usr/share/control7710/demo.script; do
    [ -e "$file" ] || { echo "package-check: $file was not installed" >&2; exit 1; }
done
for program in /usr/bin/control7710*; do
    page=/usr/share/man/man1/$(basename "$program").1.gz
    [ -e "$page" ] || { echo "package-check: $program has no manual page" >&2; exit 1; }
done
desktop-file-validate /usr/share/applications/control7710.desktop
appstreamcli validate --no-net /usr/share/metainfo/*.metainfo.xml >/dev/null ||
    { echo "package-check: the AppStream metadata is not valid" >&2; exit 1; }

start_station nobody "$home"
grep -q '^ACCESS=1' "$settings" || { echo "package-check: no settings in $settings" >&2; exit 1; }
printf '[SECMRU]\nADDR0=10.0.0.5\n' >> "$settings"
start_station nobody "$home"
grep -q '^ADDR0=10.0.0.5' "$settings" || { echo "package-check: settings were lost" >&2; exit 1; }
start_station root "$root_home"
grep -q '^ACCESS=1' "$(settings_in "$root_home")" ||
    { echo "package-check: root's settings are not in its own folder" >&2; exit 1; }
[ ! -e /usr/bin/control7710.dat ] || { echo "package-check: settings written to /usr/bin" >&2; exit 1; }
echo "package-check: installed station keeps its settings in $settings"
