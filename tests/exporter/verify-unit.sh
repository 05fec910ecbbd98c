#!/bin/sh
# Checks the exporter's systemd unit with systemd-analyze verify, run on a copy that
# starts the exporter from the build tree (verify wants the program to exist). Any
# complaint about the unit fails the test.
set -eu
analyze=$1 unit=$2 exporter=$3 work=$4
mkdir -p "$work"
sed "s|/usr/bin/control7710-exporter|$exporter|" "$unit" >"$work/control7710-exporter.service"
report=$("$analyze" verify "$work/control7710-exporter.service" 2>&1) || {
    echo "$report"
    exit 1
}
if echo "$report" | grep -q "control7710-exporter"; then
    echo "$report"
    exit 1
fi
echo "systemd-analyze verify: no complaints"
