#!/usr/bin/env bash
# `kiv --version` paired with /bin/true in one hyperfine run: the side modes
# run before any thread or socket exists, so kiv's start, the command line
# and bundle detection are nearly all there is on that path.
#
# Usage: bench/version_bench.sh [RUNS]   (default: 2000 runs of each)
#
# Runs in a scratch HOME/TMPDIR/XDG tree that is removed however the script
# ends. Run it on an idle machine.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
runs=${1:-2000}

source bench/bench_lib.sh
bench_need version_bench hyperfine:hyperfine python3:python3

# A release build of what is measured (the default build type of build/).
cmake -S . -B build -G Ninja >/dev/null
ninja -C build kiv kiv_stand_in_editor >/dev/null
kiv=$root/build/bin/kiv

scratch=$(mktemp -d "${TMPDIR:-/tmp}/kiv-version-bench.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
bench_world "$scratch"
cd "$scratch/work"

"$kiv" --version # a failure here ends the script before anything is timed
hyperfine -N --warmup 100 --runs "$runs" --export-json "$scratch/version.json" "$kiv --version" /bin/true
python3 - "$scratch/version.json" <<'PY'
import json, sys
a, b = json.load(open(sys.argv[1]))["results"]
print(f"  {a['command']}: median {a['median']*1e3:.3f} ms")
print(f"  {b['command']}: median {b['median']*1e3:.3f} ms")
print(f"  ratio of medians: {a['median']/b['median']:.2f} (target: at most 1.3)")
PY
