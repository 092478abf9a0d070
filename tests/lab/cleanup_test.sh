#!/usr/bin/env bash
# Nothing of a lab run may outlive it: not after a normal end, not after SIGTERM, and not after
# SIGKILL, where the next start sweeps the leftovers. Usage: cleanup_test.sh SCRIPTS_LAB BUILD_DIR
set -euo pipefail
lab=$1 build=$2
fail() { echo "FAIL: $*" >&2; exit 1; }

# leftovers NAME: what of run NAME still exists, one word per object
leftovers() {
    local name=$1 ns
    for ns in $(ip netns list | awk '{print $1}'); do [[ "$ns" == "$name"[crds] || "$ns" == "$name"h[0-9] ]] && echo "netns:$ns"; done
    [[ -e "/etc/netns/${name}c" ]] && echo "etc:${name}c"
    [[ -e "/run/lumidex-lab/$name" ]] && echo "rundir:$name"
    ip -o link show | awk -F': ' '{print $2}' | grep -E "^${name}" | sed 's/^/link:/' || true
}

# start_lab: a lab whose client command waits; sets pid and name once the lab is ready. The
# carrier-grade scenario has every kind of namespace and server a lab starts: routers past the
# client's, STUN servers and miniupnpd besides the simulator and dnsmasq.
start_lab() {
    "$lab" --no-build --build-dir "$build" --run p2p-cgnat -- sleep 120 &
    pid=$! name=lx$!
    for _ in $(seq 300); do
        [[ -e "/run/lumidex-lab/$name/ready" ]] && return 0
        kill -0 "$pid" 2>/dev/null || fail "the lab exited before it was ready"
        sleep 0.1
    done
    fail "the lab did not get ready"
}

lab_pids() {  # every process inside the run's namespaces
    local ns
    for ns in "$name"c "$name"r "$name"d "$name"s "$name"h{1..9}; do ip netns pids "$ns" 2>/dev/null || true; done
}

# running PID: true while PID runs (a killed process waiting to be reaped does not count)
running() {
    local state
    state=$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null) || return 1
    [[ -n "$state" && "$state" != Z ]]
}

expect_gone() {
    local what=$1 left pid
    left=$(leftovers "$name")
    [[ -z "$left" ]] || fail "$what: left behind: $left"
    for pid in $processes; do
        running "$pid" && fail "$what: process $pid ($(tr '\0' ' ' </proc/$pid/cmdline)) still runs"
    done
    return 0
}

# A normal end: the command finishes, the lab goes.
"$lab" --no-build --build-dir "$build" --run healthy -- true &
pid=$! name=lx$!
wait "$pid" || fail "a healthy run with a trivial command failed"
processes=""
expect_gone "normal end"

# SIGTERM while the command runs.
start_lab
processes=$(lab_pids)
[[ -n "$processes" ]] || fail "no processes found in a running lab"
kill -TERM "$pid"
wait "$pid" || true
expect_gone "SIGTERM"

# SIGKILL leaves everything behind ...
start_lab
processes=$(lab_pids)
kill -KILL "$pid"
wait "$pid" 2>/dev/null || true
[[ -n "$(leftovers "$name")" ]] || fail "SIGKILL left nothing to sweep; the test proves nothing"
# ... until the next start sweeps it (only the dead run's objects).
"$lab" --no-build --build-dir "$build" --run healthy -- true
expect_gone "SIGKILL and the next start"
echo "cleanup: normal end, SIGTERM and SIGKILL leave nothing behind"
