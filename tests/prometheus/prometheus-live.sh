#!/bin/bash
# The whole chain on loopback: a fleet of three simulated switches, the exporter watching
# them from a targets file saved in Latin-1, and a real Prometheus server scraping the
# exporter every second with the shipped alert rules, configured from the shipped example.
# Every series of a scrape must be stored, the labels as UTF-8. Changes made in the
# simulator must show in Prometheus's query API, and the matching alerts must fire for the
# right device only. After the changes, the exporter's text must still pass promtool as
# one exposition.
#
#   prometheus-live.sh SIMULATOR EXPORTER PROMETHEUS EXAMPLE_CONFIG RULES PROMTOOL
#
# Every process started here is stopped on the way out, whatever the outcome.
set -eu

SIMULATOR=$1
EXPORTER=$2
PROMETHEUS=$3
EXAMPLE_CONFIG=$4
RULES=$5
PROMTOOL=$6

WORK=$(mktemp -d "${TMPDIR:-/tmp}/control7710-prometheus.XXXXXX")
PIDS=()

cleanup() {
    local status=$?
    exec 4>&- 2>/dev/null || true
    for pid in "${PIDS[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${PIDS[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    if [ "$status" -ne 0 ]; then
        for log in "$WORK"/*.log; do
            echo "---- $(basename "$log") (last lines)"
            tail -n 15 "$log"
        done
    fi
    rm -rf "$WORK"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# A port on 127.0.0.1 that nothing listens on now, below the range the system takes the
# local ports of outgoing connections from: the other tests' many loopback connections
# could otherwise take it before the program listens on it.
free_port() {
    local port low
    low=$(cut -f1 /proc/sys/net/ipv4/ip_local_port_range)
    [ "$low" -gt 12000 ] || low=32768
    for _ in $(seq 50); do
        port=$((10100 + RANDOM % (low - 10100)))
        if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
            echo "$port"
            return
        fi
    done
    fail "no free port found"
}

# Runs a command every 200 ms until it succeeds or SECONDS_ seconds have passed.
wait_until() {
    local seconds=$1
    shift
    local end=$((SECONDS + seconds))
    until "$@"; do
        [ "$SECONDS" -lt "$end" ] || return 1
        sleep 0.2
    done
}

# The value of the first series a PromQL query returns, or nothing.
query() {
    curl -sf "http://127.0.0.1:$PROMETHEUS_PORT/api/v1/query" --data-urlencode "query=$1" |
        sed -n 's/.*"value":\[[^,]*,"\([^"]*\)"\].*/\1/p'
}

query_is() {
    [ "$(query "$1")" = "$2" ]
}

firing() {
    query_is "count(ALERTS{alertname=\"$1\",alertstate=\"firing\",device=\"$2\"})" 1
}

# ---- The simulated fleet, on loopback addresses of its own and ports the system picks.
BASE="127.$((RANDOM % 200 + 20)).$((RANDOM % 250 + 1))"
mkfifo "$WORK/commands"
"$SIMULATOR" --count 3 --bind "$BASE.1" --port 0 <"$WORK/commands" >"$WORK/simulator.log" 2>&1 &
PIDS+=($!)
exec 4>"$WORK/commands"
simulator_listens() {
    [ "$(grep -c 'listening on' "$WORK/simulator.log")" -eq 3 ]
}
wait_until 10 simulator_listens || fail "the simulator did not start"
mapfile -t DEVICES < <(sed -n 's/^control7710-sim: @[0-9]* listening on \(.*\)$/\1/p' \
    "$WORK/simulator.log")
[ "${#DEVICES[@]}" -eq 3 ] || fail "simulator addresses not found"

simulate() {
    echo "$1" >&4
}

# ---- The exporter, polling every 100 ms, the devices named in Latin-1: "R\xe9gie 1"...
for i in 0 1 2; do
    printf '%s R\xe9gie %d\n' "${DEVICES[$i]}" $((i + 1))
done >"$WORK/targets"
EXPORTER_PORT=$(free_port)
"$EXPORTER" --web.listen-address "127.0.0.1:$EXPORTER_PORT" --interval 100 \
    --targets "$WORK/targets" >"$WORK/exporter.log" 2>&1 &
EXPORTER_PID=$!
PIDS+=($EXPORTER_PID)
wait_until 10 curl -sf "http://127.0.0.1:$EXPORTER_PORT/-/healthy" -o /dev/null ||
    fail "the exporter did not start"

# ---- Prometheus, configured from the example: 1 s scrape and evaluation, this exporter,
# these rules, no Alertmanager.
PROMETHEUS_PORT=$(free_port)
sed -e 's/\(scrape_interval\|evaluation_interval\): .*/\1: 1s/' \
    -e "s#127.0.0.1:9710#127.0.0.1:$EXPORTER_PORT#" \
    -e "s#^  - .*control7710.rules.yml#  - $RULES#" \
    -e '/^alerting:/,/^$/d' -e '/^# Alerts go to/d' \
    "$EXAMPLE_CONFIG" >"$WORK/prometheus.yml"
grep -q "$RULES" "$WORK/prometheus.yml" || fail "the example configuration names no rules file"
"$PROMETHEUS" --config.file="$WORK/prometheus.yml" --storage.tsdb.path="$WORK/data" \
    --web.listen-address="127.0.0.1:$PROMETHEUS_PORT" --log.level=warn \
    >"$WORK/prometheus.log" 2>&1 &
PIDS+=($!)
wait_until 30 curl -sf "http://127.0.0.1:$PROMETHEUS_PORT/-/ready" -o /dev/null ||
    fail "Prometheus did not start"

FIRST=${DEVICES[0]}
SECOND=${DEVICES[1]}
THIRD=${DEVICES[2]}

for device in "${DEVICES[@]}"; do
    wait_until 30 query_is "control7710_up{device=\"$device\"}" 1 ||
        fail "$device is not up in Prometheus"
done
wait_until 10 query_is "control7710_check_state{device=\"$SECOND\",input=\"A\",check=\"sync\"}" 1 ||
    fail "input A's sync check of $SECOND is not OK at the start"
echo "all three devices up in Prometheus"

# Every sample of a scrape is stored: one label that is not UTF-8 would make Prometheus
# refuse the whole scrape and mark the exporter down.
all_stored() {
    local scraped
    scraped=$(query 'scrape_samples_scraped{job="control7710"}')
    query_is 'up{job="control7710"}' 1 && [ -n "$scraped" ] &&
        query_is 'count({job="control7710",__name__!~"up|scrape_.*"})' "$scraped"
}
wait_until 10 all_stored || fail "Prometheus did not store every series of a scrape"
query_is 'control7710_device_info{label="Régie 2"}' 1 ||
    fail "the Latin-1 label did not reach Prometheus as UTF-8"
echo "every series stored, the labels as UTF-8"

# An error on the input on the output of a device in AUTO: it changes over to input B.
simulate "@2 check A sync error"
wait_until 15 query_is "control7710_check_state{device=\"$SECOND\",input=\"A\",check=\"sync\"}" 2 ||
    fail "the sync error of $SECOND did not reach Prometheus"
wait_until 10 query_is "control7710_output_input{device=\"$SECOND\"}" 2 ||
    fail "the changeover of $SECOND did not reach Prometheus"
wait_until 15 firing Control7710Changeover "$SECOND" ||
    fail "no changeover alert for $SECOND"
curl -sf "http://127.0.0.1:$PROMETHEUS_PORT/api/v1/alerts" |
    grep -qF "\"summary\":\"Changeover switch $SECOND (Régie 2) changed over\"" ||
    fail "the changeover alert does not name $SECOND by its label"
echo "changeover of $SECOND seen and alerted"

# Forced to input A and held there, then A fails: the output carries a failing input.
simulate "@3 mode manual"
simulate "@3 check A sync error"
wait_until 15 query_is "control7710_check_on_output_failing{device=\"$THIRD\"}" 1 ||
    fail "the failing output of $THIRD did not reach Prometheus"
wait_until 15 firing Control7710OutputCheckFailing "$THIRD" ||
    fail "no failing-output alert for $THIRD"
echo "failing output of $THIRD seen and alerted"

# The operator forces input B and, once that is seen, gives the output back to AUTO: a
# forced change, which must not alert as a changeover.
simulate "@3 output B"
wait_until 15 query_is "control7710_changeovers_total{device=\"$THIRD\",cause=\"forced\"}" 1 ||
    fail "the forced change of $THIRD did not reach Prometheus"
simulate "@3 mode auto"
wait_until 15 query_is "control7710_auto_mode{device=\"$THIRD\"}" 1 ||
    fail "the return of $THIRD to AUTO did not reach Prometheus"
echo "forced change of $THIRD seen"

simulate "@1 temp 72"
wait_until 15 query_is "control7710_temperature_celsius{device=\"$FIRST\"}" 72 ||
    fail "the temperature of $FIRST did not reach Prometheus"
wait_until 15 firing Control7710Overheat "$FIRST" || fail "no overheat alert for $FIRST"
echo "overheat of $FIRST seen and alerted"

# Each alert names its own device only, and the forced change of the third is no
# changeover (the overheat alert took an evaluation of the rules after its return to AUTO).
query_is "count(ALERTS{alertstate=\"firing\",device=\"$FIRST\"})" 1 ||
    fail "$FIRST has alerts that belong to others"
query_is "count(ALERTS{alertname=\"Control7710Changeover\",alertstate=\"firing\"})" 1 ||
    fail "the changeover alert fired for more than one device"

# The text is made family by family, each kept until its family changes: after the changes
# above it must still be one exposition, every family once, and pass promtool's lint.
curl -sf "http://127.0.0.1:$EXPORTER_PORT/metrics" -o "$WORK/metrics.txt" ||
    fail "no scrape of the exporter"
"$PROMTOOL" check metrics <"$WORK/metrics.txt" || fail "promtool rejects the exporter's text"

# The exporter ends: the rule on the example configuration's job sees its scrapes fail,
# and the rule on an absent job keeps quiet.
kill "$EXPORTER_PID"
wait_until 15 query_is \
    "count(ALERTS{alertname=\"Control7710ExporterDown\",alertstate=\"pending\"})" 1 ||
    fail "no pending alert for the exporter that ended"
query_is "count(ALERTS{alertname=\"Control7710ExporterAbsent\"})" "" ||
    fail "an exporter that is down is taken for an absent one"
echo "exporter down seen"
echo "PASS"
