#!/usr/bin/env bash
# The open path against the protocol's own floor, every figure a ratio of
# medians taken in the same hyperfine run:
#   1. round trip: `kiv FILE:10:5`, `kiv FILE` and `kiv --version` beside
#      /bin/true and the floor (the whole exchange in one thread, plain calls),
#      with an editor peer that answers at once serving the hand-over socket;
#   2. detached start: `kiv FILE` with no editor running, the instant peer
#      installed as the editor so that kiv starts it each time, beside the
#      peer's own process start;
#   3. one path argument of 65,535 `d/` components that do not exist.
# Peak RSS is GNU time's %M for kiv's own process, the largest of 50 runs.
#
# Usage: bench/protocol_bench.sh [RUNS]   (default 500)
#
# The peer and the floor are the project's own bench/instant_peer.cpp and
# bench/floor_client.cpp, built with kiv (both static, as kiv is). Everything
# runs in a scratch HOME/TMPDIR/XDG tree that is removed, and the peer
# stopped, however the script ends.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
runs=${1:-500}

source bench/bench_lib.sh
bench_need protocol_bench hyperfine:hyperfine /usr/bin/time:time python3:python3

cmake -S . -B build -G Ninja >/dev/null
ninja -C build kiv floor_client instant_peer >/dev/null

bench_scratch kiv-protocol-bench

# A bundle of its own: kiv with the instant peer where it looks for the editor.
mkdir -p "$scratch/bundle/bin" "$scratch/bundle/libexec"
cp "$root/build/bench/instant_peer" "$scratch/bundle/libexec/kiv-editor"
cp "$root/build/bin/kiv" "$scratch/bundle/bin/kiv"
kiv=$scratch/bundle/bin/kiv
peer=$scratch/bundle/libexec/kiv-editor
floor=$root/build/bench/floor_client

bench_world "$scratch"
cd "$scratch/work"
printf 'one\ntwo\nthree\n' >file.txt
long_argument=$(python3 -c 'print("d/" * 65535, end="")')
socket=$XDG_DATA_HOME/kiv/kiv-stable.sock
mkdir -p "$(dirname "$socket")"

summary() {  # JSON of a hyperfine run; ratios against its first and second commands
  python3 - "$1" <<'EOF'
import json, sys
results = json.load(open(sys.argv[1]))["results"]
first, second = results[0], results[1]
for r in results:
    print(f"  {r['command']:16s} median {r['median'] * 1000:8.3f} ms"
          f"  {r['median'] / first['median']:5.2f}x {first['command']}"
          f"  {r['median'] / second['median']:5.2f}x {second['command']}")
EOF
}

# bench JSON RUNS WARMUP NAME=COMMAND...: one hyperfine run, each command
# named for the summary; its warnings about a busy machine go to a log.
bench() {
  local json=$1 runs=$2 warmup=$3 args=() pair
  shift 3
  for pair in "$@"; do args+=(-n "${pair%%=*}" "${pair#*=}"); done
  hyperfine -N -i --warmup "$warmup" --runs "$runs" --export-json "$json" "${args[@]}" >/dev/null 2>>"$scratch/hyperfine.log"
}

peak_rss() {  # largest %M of 50 runs of "$@", in MiB
  local most=0 kib
  for _ in $(seq 50); do
    kib=$(/usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1)
    ((kib > most)) && most=$kib
  done
  python3 -c "print(f'{$most / 1024:.2f} MiB')"
}

# hyperfine ignores failures (the peer's own start below ends with its
# usage), so every command timed must first have worked once.
must_work() {
  "$@" >/dev/null || { echo "protocol_bench: $* failed" >&2; exit 1; }
}

echo "== round trip, a peer serving the hand-over socket ($runs runs)"
"$peer" serve "$socket" &
server_pid=$!
for _ in $(seq 100); do [ -S "$socket" ] && break; sleep 0.01; done
for command in "$floor $socket" "$kiv file.txt:10:5" "$kiv file.txt" "$kiv --version"; do
  must_work $command
done
bench "$scratch/round_trip.json" "$runs" 50 "true=/bin/true" "floor=$floor $socket" \
  "kiv FILE:10:5=$kiv file.txt:10:5" "kiv FILE=$kiv file.txt" "kiv --version=$kiv --version"
summary "$scratch/round_trip.json"
echo "  peak RSS of kiv file.txt:10:5: $(peak_rss "$kiv" file.txt:10:5)"

echo "== one argument of 65,535 missing components (median of 21 runs each, interleaved)"
# Too long for a hyperfine command line (one argument may hold 128 KiB).
python3 - "$kiv" "$long_argument" <<'EOF'
import statistics, subprocess, sys, time
kiv, long = sys.argv[1], sys.argv[2]
times = {"kiv FILE": [], "kiv LONG": []}
for _ in range(21):
    for name, args in (("kiv FILE", [kiv, "file.txt"]), ("kiv LONG", [kiv, long])):
        start = time.perf_counter()
        subprocess.run(args, check=True, stdout=subprocess.DEVNULL)
        times[name].append(time.perf_counter() - start)
base = statistics.median(times["kiv FILE"])
for name, values in times.items():
    m = statistics.median(values)
    print(f"  {name:16s} median {m * 1000:8.3f} ms  (+{(m - base) * 1000:.3f} ms over kiv FILE)")
EOF
stop_server

echo "== detached start: kiv starts the peer each time ($runs runs)"
# The peer's own start: run with no arguments it prints its usage and ends.
must_work "$kiv" file.txt
bench "$scratch/detached.json" "$runs" 20 "true=/bin/true" "peer start=$peer" "kiv FILE=$kiv file.txt"
summary "$scratch/detached.json"
echo "  peak RSS of kiv file.txt: $(peak_rss "$kiv" file.txt)"
