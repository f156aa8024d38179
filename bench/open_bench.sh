#!/usr/bin/env bash
# The open path's speed, each figure measured side by side with a reference
# in the same run:
#   1. open round trip: `kiv FILE:10:5` handed over to a running stand-in
#      editor, paired with /bin/true;
#   2. detached start: `kiv FILE` with no editor running, so that kiv starts
#      the stand-in each time, paired with /bin/true;
#   3. `kiv -` forwarding BYTES from a pipe, paired with `cat > file` reading
#      the same kind of pipe, in interleaved rounds.
# For 1 and 2 it also takes the peak resident size of kiv's own process.
#
# Usage: bench/open_bench.sh [RUNS [BYTES]]   (defaults: 1000 runs, 1 GiB)
#
# Everything runs in a scratch HOME/TMPDIR/XDG tree that is removed, and the
# stand-in server stopped, however the script ends. Run it on an idle machine:
# the figures are only as quiet as the machine is.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
runs=${1:-1000}
bytes=${2:-1073741824}

# Tools: hyperfine, GNU time (peak RSS), python3 (the summaries).
source bench/bench_lib.sh
bench_need open_bench hyperfine:hyperfine /usr/bin/time:time python3:python3

# A release build of what is measured (the default build type of build/).
cmake -S . -B build -G Ninja >/dev/null
ninja -C build kiv kiv_stand_in_editor pipe_source >/dev/null
kiv=$root/build/bin/kiv
editor=$root/build/libexec/kiv-editor
source_bin=$root/build/bench/pipe_source

bench_scratch kiv-open-bench

bench_world "$scratch"
# The editor only takes the request and answers Exit 0: its own printing is
# not what is measured.
printf 'receive\nexit 0\n' >"$scratch/script"
export KIV_STAND_IN_SCRIPT=$scratch/script
cd "$scratch/work"
printf 'one\ntwo\nthree\n' >file.txt
socket=$XDG_DATA_HOME/kiv/kiv-stable.sock

start_server() {
  # The idle limit ends it by itself should this script be killed outright.
  KIV_STAND_IN_SERVE=600000 "$editor" &
  server_pid=$!
  bench_wait_for_socket open_bench "$socket"
}

# peak_rss N CMD...: the largest peak RSS (KiB) of CMD over N runs.
peak_rss() {
  local n=$1 max=0 kib
  shift
  for _ in $(seq "$n"); do
    /usr/bin/time -f %M -o "$scratch/rss" "$@" >/dev/null
    kib=$(tail -n 1 "$scratch/rss")
    ((kib > max)) && max=$kib
  done
  echo "$max"
}

# summary JSON RSS_KIB: medians, the ratio to the reference and kiv's RSS.
summary() {
  python3 - "$1" "$2" <<'EOF'
import json, sys
results = json.load(open(sys.argv[1]))["results"]
a, b = results[0], results[1]
print(f"  {a['command']}: median {a['median']*1e3:.3f} ms")
print(f"  {b['command']}: median {b['median']*1e3:.3f} ms")
print(f"  ratio of medians: {a['median']/b['median']:.2f} (target: at most 2.0)")
kib = int(sys.argv[2])
print(f"  peak RSS of kiv: {kib} KiB = {kib/1024:.2f} MiB (target: under 3 MiB)")
EOF
}

echo "== open round trip: kiv file.txt:10:5 handed over to a running stand-in, against /bin/true"
start_server
"$kiv" file.txt:10:5 # a failure here ends the script before anything is timed
hyperfine -N --warmup 50 --runs "$runs" --export-json "$scratch/round_trip.json" \
  "$kiv file.txt:10:5" /bin/true
rss=$(peak_rss 50 "$kiv" file.txt:10:5)
echo "== open round trip"
summary "$scratch/round_trip.json" "$rss"
stop_server

echo "== detached start: kiv file.txt with no editor running, against /bin/true"
[ ! -e "$socket" ] || rm -f "$socket"
"$kiv" file.txt
hyperfine -N --warmup 20 --runs "$runs" --export-json "$scratch/detached.json" "$kiv file.txt" /bin/true
rss=$(peak_rss 50 "$kiv" file.txt)
echo "== detached start"
summary "$scratch/detached.json" "$rss"

echo "== kiv - forwarding $bytes bytes from a pipe, against cat > file"
start_server
# One checked run first: the file kiv hands over holds every byte.
"$source_bin" "$bytes" | "$kiv" -
forwarded=$(find "$TMPDIR" -maxdepth 1 -type f -name '.tmp*')
if [ "$(stat -c %s "$forwarded")" != "$bytes" ]; then
  echo "open_bench: kiv - left $(stat -c %s "$forwarded") bytes in $forwarded, not $bytes" >&2
  exit 1
fi
# Interleaved rounds rather than hyperfine's blocks: the page cache and the
# disk's write-back carry over from one run to the next, so a block of runs
# of one command followed by a block of the other favours whichever comes
# second. The order alternates from round to round.
time_one() {
  find "$TMPDIR" -maxdepth 1 -type f -name '.tmp*' -delete
  rm -f "$scratch/cat.out"
  local t0=$EPOCHREALTIME
  if [ "$1" = kiv ]; then
    "$source_bin" "$bytes" | "$kiv" -
  else
    "$source_bin" "$bytes" | cat >"$scratch/cat.out"
  fi
  echo "$1 $t0 $EPOCHREALTIME" >>"$scratch/stdin.times"
}
: >"$scratch/stdin.times"
for round in $(seq 12); do
  if ((round % 2)); then time_one kiv; time_one cat; else time_one cat; time_one kiv; fi
done
echo "== kiv - forwarding"
python3 - "$scratch/stdin.times" "$bytes" <<'EOF2'
import statistics, sys
gib = int(sys.argv[2]) / 2**30
times = {}
for line in open(sys.argv[1]):
    name, t0, t1 = line.split()
    times.setdefault(name, []).append(float(t1) - float(t0))
for name, label in (("kiv", "kiv - < pipe"), ("cat", "cat > file < pipe")):
    m = statistics.median(times[name])
    print(f"  {label}: median {m:.3f} s over {len(times[name])} runs, {gib / m:.2f} GiB/s (min {min(times[name]):.3f} s)")
print(f"  kiv's median over cat's: {statistics.median(times['kiv']) / statistics.median(times['cat']):.2f} (target: at most 1.0)")
EOF2
stop_server
