#!/usr/bin/env bash
# What relaying the editor's output costs kiv, beside `cat` relaying the same
# bytes in the same run, for three message shapes:
#   small:  100,000 Stdout messages of 100 bytes
#   medium: 16,384 Stdout messages of 64 KiB
#   huge:   one Stdout message of 1 GiB
# An editor peer (build/bench/relay_peer) serves kiv's hand-over socket and
# sends the messages; kiv prints them into a pipe read by `wc -c`. `cat`
# reads the same lines from a pipe, written one message at a time, and writes
# them into the same kind of pipe. For each: CPU time (user + system, every
# thread) and peak RSS of that one process, and the byte count is checked.
#
# Usage: bench/relay_bench.sh [ROUNDS] [--compare BUILD_DIR]
#   ROUNDS       rounds per shape, kiv and cat interleaved (default 5)
#   --compare    also run BUILD_DIR/bin/kiv (another checkout's build, e.g.
#                main's) in the same rounds, as "other"
#
# Everything runs in a scratch HOME/TMPDIR/XDG tree that is removed, and the
# peer stopped, however the script ends. Run it on an idle machine.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
rounds=5
other=""
while (($#)); do
  case $1 in
    --compare) other=$(cd "$2" && pwd)/bin/kiv; shift 2 ;;
    *) rounds=$1; shift ;;
  esac
done

source bench/bench_lib.sh
bench_need relay_bench python3:python3

cmake -S . -B build -G Ninja >/dev/null
ninja -C build kiv kiv_stand_in_editor relay_peer >/dev/null
kiv=$root/build/bin/kiv
peer=$root/build/bench/relay_peer
if [ -n "$other" ] && ! [ -x "$other" ]; then
  echo "relay_bench: no kiv at $other" >&2
  exit 1
fi

bench_scratch kiv-relay-bench
bench_world "$scratch"
cd "$scratch/work"
: >file.txt
socket=$XDG_DATA_HOME/kiv/kiv-stable.sock
mkdir -p "$(dirname "$socket")"
results=$scratch/results
: >"$results"

start_peer() {
  rm -f "$socket"
  "$peer" serve "$socket" "$1" "$2" &
  server_pid=$!
  bench_wait_for_socket relay_bench "$socket"
}

# run_one SHAPE WHO COUNT SIZE: one measured run, its figures appended to
# the results; the bytes that came out must be every line.
run_one() {
  local shape=$1 who=$2 count=$3 size=$4 bytes
  case $who in
    kiv) bytes=$("$peer" measure "$scratch/m" -- "$kiv" file.txt | wc -c) ;;
    other) bytes=$("$peer" measure "$scratch/m" -- "$other" file.txt | wc -c) ;;
    cat) bytes=$("$peer" lines "$count" "$size" | "$peer" measure "$scratch/m" -- cat | wc -c) ;;
  esac
  if [ "$bytes" != $((count * (size + 1))) ]; then
    echo "relay_bench: $who printed $bytes bytes for $shape, not $((count * (size + 1)))" >&2
    exit 1
  fi
  echo "$shape $who $(cat "$scratch/m")" >>"$results"
}

whos=(kiv cat)
[ -z "$other" ] || whos+=(other)

for shape in small:100000:100 medium:16384:65536 huge:1:1073741824; do
  IFS=: read -r name count size <<<"$shape"
  echo "== $name: $count x $size bytes"
  start_peer "$count" "$size"
  for round in $(seq "$rounds"); do
    # The order turns from round to round, so that none is always first.
    for ((i = 0; i < ${#whos[@]}; i++)); do
      run_one "$name" "${whos[(i + round) % ${#whos[@]}]}" "$count" "$size"
    done
  done
  stop_server
done

python3 - "$results" <<'EOF'
import statistics, sys
rows = {}
for line in open(sys.argv[1]):
    shape, who, cpu, rss, wall = line.split()
    rows.setdefault((shape, who), []).append((float(cpu), int(rss), float(wall)))
shapes = list(dict.fromkeys(shape for shape, _ in rows))
whos = [w for w in ("kiv", "other") if any(who == w for _, who in rows)]
print("median CPU (user + system), median wall, largest peak RSS; ratios to cat")
for shape in shapes:
    cat = rows[(shape, "cat")]
    cat_cpu = statistics.median(c for c, _, _ in cat)
    cat_rss = max(r for _, r, _ in cat)
    print(f"{shape}: cat {cat_cpu*1e3:.1f} ms CPU, {statistics.median(w for _, _, w in cat)*1e3:.0f} ms wall, "
          f"{cat_rss/1024:.2f} MiB")
    for who in whos:
        runs = rows[(shape, who)]
        cpu = statistics.median(c for c, _, _ in runs)
        rss = max(r for _, r, _ in runs)
        print(f"  {who}: {cpu*1e3:.1f} ms CPU ({cpu/cat_cpu:.2f}x cat), "
              f"{statistics.median(w for _, _, w in runs)*1e3:.0f} ms wall, "
              f"{rss/1024:.2f} MiB ({rss/cat_rss:.1f}x cat)")
EOF
