# Shared by the benchmark scripts (sourced, bash).
# shellcheck shell=bash

# bench_need NAME COMMAND:PACKAGE...: installs from Debian each PACKAGE
# whose COMMAND (a name in PATH or an absolute path) is missing.
bench_need() {
  local who=$1 need=() pair
  shift
  for pair in "$@"; do
    local command=${pair%%:*} package=${pair#*:}
    if [[ $command == /* ]]; then [ -x "$command" ] || need+=("$package"); else
      command -v "$command" >/dev/null || need+=("$package"); fi
  done
  if ((${#need[@]})); then
    echo "$who: installing ${need[*]}" >&2
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
  fi
}

# bench_world DIR: a world of its own under DIR for kiv and the stand-in:
# HOME, TMPDIR and the XDG directories inside it, a plain PATH, and nothing
# else from the caller's environment (a KIV_* variable or LD_LIBRARY_PATH
# would change what runs). Makes DIR/work for a working directory.
bench_world() {
  local scratch=$1 dir name
  for dir in tmp data config cache state runtime work; do mkdir -p "$scratch/$dir"; done
  for name in $(compgen -e); do
    case $name in PATH | TERM) ;; *) unset "$name" 2>/dev/null || true ;; esac
  done
  export HOME=$scratch TMPDIR=$scratch/tmp XDG_DATA_HOME=$scratch/data XDG_CONFIG_HOME=$scratch/config \
    XDG_CACHE_HOME=$scratch/cache XDG_STATE_HOME=$scratch/state XDG_RUNTIME_DIR=$scratch/runtime \
    KIV_ALLOW_ROOT=true LANG=C.UTF-8 PATH=/usr/local/bin:/usr/bin:/bin
}

# bench_scratch NAME: a scratch directory in $scratch, removed however the
# script ends, and stop_server, which stops the editor peer whose pid the
# script keeps in $server_pid (also done at the end).
bench_scratch() {
  scratch=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")
  server_pid=""
  trap 'stop_server; rm -rf "$scratch"' EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
}

stop_server() {
  if [ -n "$server_pid" ]; then
    kill -TERM "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
    server_pid=""
  fi
}

# bench_wait_for_socket NAME SOCKET: waits up to five seconds for the editor
# peer just started to bind SOCKET; ends the script if it does not.
bench_wait_for_socket() {
  for _ in $(seq 500); do
    [ -S "$2" ] && return 0
    sleep 0.01
  done
  echo "$1: the editor peer did not bind $2" >&2
  exit 1
}
