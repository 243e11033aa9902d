#!/usr/bin/env bash
# The service at work, as a newcomer sees it: builds what is missing (no
# tests), then, under Wine in a prefix of its own (build/demo/wineprefix),
# runs the bus broker, a settings service, the real Quellat.exe, a console
# viewer, a host running Sentrel.dll with one active user session, and a
# product asking for three alerts and one delete. Every program but the
# service and the tool is a test peer (tests/peers/). Ends with 0 when every
# step did its part; a failing step stops the run with one line naming it,
# and so does a peer that ends while it should run (noticed within a
# second). An interrupt (INT, TERM) stops everything in order and ends the
# run non-zero. A second run in the same state folder while one runs there
# refuses, naming the running one.
#
# SENTREL_DEMO_KEEP=1 keeps the service running after the product's run,
# until Enter, for requests of one's own (product.exe send <json file>),
# and shows the service's log lines as they are written.
# SENTREL_DEMO_STATE names another folder for the prefix, the settings store
# and the run's files (default build/demo); SENTREL_DEMO_BUILD=0 skips the
# install and build step (the demo's own test sets both); SENTREL_DEMO_WINE
# names the program that starts the run's Windows programs (default Wine's
# loader; the demo's test puts a stand-in in front of it).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
state=${SENTREL_DEMO_STATE:-$root/build/demo}
bin=$root/build/demo/bin
kit=$root/build/trustkit
run=$state/run
logcopy=$run/service.log
WINE=${SENTREL_DEMO_WINE:-/usr/lib/wine/wine64}
export WINEPREFIX=$state/wineprefix WINEDEBUG=-all
# Every bus connection of the run goes through the broker.
export ONDREL_BROKER_PIPE=SentrelDemo
# The trust kit's validation double vouches for every intact signature: the
# signed bus library and the signed plugin load as trusted.
export DRELLIN_DOUBLE_VERDICT=2,9 DRELLIN_DOUBLE_SIGNED_ONLY=1
viewer_seconds=3

declare -A pid fd exe
started=()
# The step that started each peer that must keep running, and what the run calls it.
declare -A step_of=([broker]=1 [settings]=2 [viewer]=4 [host]=5)
declare -A label=([broker]="broker" [settings]="settings service" [viewer]="viewer" [host]="host")
# The run's own program that runs now (Quellat, the product), waited for while the peers are watched.
watched_pid=
watched_name=
follower_pid=
lock_fd=

say() { echo "demo: $*"; }
steps=([0]="build and Wine prefix" [1]="bus broker" [2]="settings service" [3]="registrations" [4]="viewer"
       [5]="host" [6]="product" [7]="log and stop")
# fail STEP WHY: the one line that ends a run.
fail() {
  echo "demo: FAILED at step $1 (${steps[$1]}): $2" >&2
  exit 1
}

winpath() { echo "Z:${1//\//\\}"; }

# close_inputs: in a process about to start, closes the input pipes held here
# for the programs started so far, so that each program ends when this script
# closes its pipe, whatever else (a Wine helper that inherited a program's
# output, say) still runs; and the run's lock, so that a program that
# outlives this script (the Wine server) does not keep it.
close_inputs() {
  local f
  for f in "${fd[@]}" $lock_fd; do eval "exec $f>&-"; done
}

# stop NAME: closes the program's input, which ends it, and reports its exit
# code; one that does not end within a minute is killed. False when the code
# is not 0.
stop() {
  local name=$1 code=0
  eval "exec ${fd[$name]}>&-"
  if ! timeout 60 tail --pid="${pid[$name]}" -f /dev/null; then
    say "the ${label[$name]} did not end within a minute after its input closed: killed"
    kill -9 "${pid[$name]}" 2>/dev/null
  fi
  wait "${pid[$name]}" 2>/dev/null || code=$?
  unset "pid[$name]"
  say "the ${label[$name]} ended with exit code $code"
  [ "$code" -eq 0 ]
}

# On every exit: what still runs stops, the last started first, then the prefix's server.
stop_all() {
  local rc=$? name
  # Stopping is not to be cut short; its waits are bounded.
  trap '' INT TERM
  if [ -n "$watched_pid" ]; then
    kill "$watched_pid" 2>/dev/null
    wait "$watched_pid" 2>/dev/null
    say "$watched_name was stopped"
  fi
  for ((i = ${#started[@]} - 1; i >= 0; i--)); do
    name=${started[i]}
    [ -n "${pid[$name]:-}" ] || continue
    if ! stop "$name" && [ "$rc" -eq 0 ]; then
      echo "demo: FAILED: the ${label[$name]} ended with a non-zero exit code" >&2
      rc=1
    fi
  done
  if [ -n "$follower_pid" ]; then
    kill -- "-$follower_pid" 2>/dev/null
    wait "$follower_pid" 2>/dev/null
  fi
  scripts/wine-session.sh stop "$WINEPREFIX"
  [ "$rc" -eq 0 ] || [ ! -s "$logcopy" ] || say "the service's log of this run: $logcopy"
  exit "$rc"
}

# launch NAME PROGRAM ARGS...: runs the program in the background, its input
# a pipe held open here, its output shown and kept in run/NAME.out
# (run/NAME.teed appears once all of it is there). Each program runs in a
# session of its own, so that an interrupt from the terminal reaches only this
# script, which then stops them in order; one whose script is gone ends all
# the same, when its input pipe closes.
launch() {
  local name=$1 program=$2 f
  shift 2
  rm -f "$run/$name.in" "$run/$name.out" "$run/$name.teed"
  mkfifo "$run/$name.in"
  # Without the input pipes of the programs before it: each ends when its own pipe closes.
  (close_inputs; exec setsid "$WINE" "$bin/$program" "$@") \
    <"$run/$name.in" > >(close_inputs; tee "$run/$name.out"; : >"$run/$name.teed") 2>&1 &
  pid[$name]=$!
  exe[$name]=$program
  exec {f}>"$run/$name.in"
  fd[$name]=$f
  echo "${pid[$name]}" >"$run/$name.pid"
}

# start NAME READY-TEXT PROGRAM ARGS...: launches the program and waits (up to
# a minute) until READY-TEXT appears in its output (none: no wait).
start() {
  local name=$1 ready=$2 program=$3 code again=1
  shift 3
  launch "$name" "$program" "$@"
  started+=("$name")
  [ -n "$ready" ] || return 0
  for _ in $(seq 1 600); do
    check_peers "$name"
    grep -q -- "$ready" "$run/$name.out" 2>/dev/null && return 0
    if ! kill -0 "${pid[$name]}" 2>/dev/null; then
      code=0
      wait "${pid[$name]}" 2>/dev/null || code=$?
      for _ in $(seq 1 600); do [ -e "$run/$name.teed" ] && break; sleep 0.1; done
      # Under load Wine has been seen to end a program at start-up, before it
      # ran a line of its own. One that wrote not a byte is started once more,
      # and the run says so; one that wrote anything has really ended.
      [ "$again" -eq 1 ] && [ -e "$run/$name.teed" ] && [ ! -s "$run/$name.out" ] || return 1
      again=0
      eval "exec ${fd[$name]}>&-"
      say "the ${label[$name]} ended with exit code $code before writing anything; starting it once more"
      launch "$name" "$program" "$@"
    fi
    sleep 0.1
  done
  return 1
}

# running PID: the process runs (an ended one not yet reaped counts as ended).
running() {
  local state
  state=$(sed 's/^.*) //' "/proc/$1/stat" 2>/dev/null | cut -c1)
  [ -n "$state" ] && [ "$state" != Z ] && [ "$state" != X ]
}

# alive NAME: the program runs.
alive() { running "${pid[$1]}"; }

# check_peers [NAME]: ends the run naming the first peer, in the order they
# were started, that is no longer running; NAME, the one starting, is left out.
check_peers() {
  local name code
  for name in "${started[@]}"; do
    [ "$name" != "${1:-}" ] && [ -n "${pid[$name]:-}" ] && [ -n "${step_of[$name]:-}" ] || continue
    alive "$name" && continue
    code=0
    wait "${pid[$name]}" 2>/dev/null || code=$?
    unset "pid[$name]"
    fail "${step_of[$name]}" "the ${label[$name]} (${exe[$name]}) ended during the run with exit code $code"
  done
}

# watch_while PID: returns once the process has ended, checking the peers
# meanwhile.
watch_while() {
  while running "$1"; do
    check_peers
    sleep 0.2
  done
}

# begin_watched WHO OUTPUT PROGRAM ARGS...: starts one of the run's own
# programs, its output in OUTPUT; finish_watched then waits for its end.
begin_watched() {
  local who=$1 output=$2 program=$3
  shift 3
  (close_inputs; exec setsid "$WINE" "$bin/$program" "$@") </dev/null >"$output" 2>&1 &
  watched_pid=$!
  watched_name=$who
}

# finish_watched: waits for the program begin_watched started, checking the
# peers meanwhile: a peer that ends fails the run at once, naming it, and the
# program is stopped. Then once more, since the program may have ended
# because the peer did; code is its exit code.
finish_watched() {
  watch_while "$watched_pid"
  code=0
  wait "$watched_pid" || code=$?
  watched_pid=
  check_peers
}

interrupted() {
  echo "demo: interrupted" >&2
  exit 130
}

# One run at a time in a state folder: a second would end the first one's Wine
# server and build over its programs. The lock goes with this script however
# it ends, since what it starts to outlive it is given none of it
# (close_inputs); the file names the script for a run that is refused.
mkdir -p "$state" || fail 0 "cannot make $state"
lock=$state/demo.lock
exec {lock_fd}>>"$lock" || fail 0 "cannot open $lock"
if ! flock -n "$lock_fd"; then
  echo "demo: refused: the demo started as process $(cat "$lock" 2>/dev/null) runs in $state; this run changes nothing there" >&2
  exit 1
fi
printf '%s\n' "$$" >"$lock"

if [ "${SENTREL_DEMO_BUILD:-1}" != 0 ]; then
  say "building what is missing"
  (close_inputs; scripts/install-deps.sh && { [ -f build/CMakeCache.txt ] || cmake --preset default; } &&
      cmake --build --preset default --target service_demo) >"${TMPDIR:-/tmp}/sentrel-demo-build.log" 2>&1 ||
    { tail -20 "${TMPDIR:-/tmp}/sentrel-demo-build.log" >&2; fail 0 "the build failed (log: ${TMPDIR:-/tmp}/sentrel-demo-build.log)"; }
fi
[ -f "$bin/demo.stamp" ] || fail 0 "$bin is not built (cmake --build --preset default --target service_demo)"
mkdir -p "$run" || fail 0 "cannot make $run"

say "Wine prefix $WINEPREFIX"
trap stop_all EXIT
trap interrupted INT TERM
(close_inputs; exec scripts/wine-session.sh start "$WINEPREFIX") || fail 0 "the Wine server for $WINEPREFIX did not start"
(close_inputs; exec "$WINE" reg add 'HKLM\Software\Corvane\Tolgar' /v szInstallDir64 /t REG_SZ /d "$(winpath "$kit")" \
  /f /reg:32) >/dev/null 2>&1 || fail 0 "cannot name the trust kit in the registry"
# The service logs through the file logger; the host copies its lines here.
rm -f "$logcopy"

say "step 1: the bus broker"
start broker "listening on" OndrelBroker.exe "$ONDREL_BROKER_PIPE" ||
  fail 1 "the broker did not start: $(tail -1 "$run/broker.out" 2>/dev/null)"

say "step 2: the settings service (store $state/settings.json)"
start settings "properties loaded" settings_service.exe "$(winpath "$state/settings.json")" ||
  fail 2 "the settings service did not come up: $(tail -1 "$run/settings.out" 2>/dev/null)"

say "step 3: registrations, with Quellat.exe"
store=$state/settings.json
if grep -q '"Sentrel/Viewer/DemoViewer"' "$store" 2>/dev/null &&
   grep -q '"Sentrel/Product/DemoProduct"' "$store" 2>/dev/null; then
  say "viewer DemoViewer and product DemoProduct are registered already (from an earlier run, in $store)"
else
  begin_watched Quellat /dev/null Quellat.exe -registerViewer=DemoViewer
  finish_watched
  [ "$code" -eq 0 ] || fail 3 "Quellat -registerViewer=DemoViewer ended with exit code $code"
  say "Quellat -registerViewer=DemoViewer: exit code 0"
  # Stored as typed; the service puts its host program's folder in for $(App.Folder).
  begin_watched Quellat /dev/null Quellat.exe -registerProduct=DemoProduct '-pluginPath=$(App.Folder)\plugins' \
    -pluginFile=demoplugin.dll
  finish_watched
  [ "$code" -eq 0 ] || fail 3 "Quellat -registerProduct=DemoProduct ended with exit code $code"
  say "Quellat -registerProduct=DemoProduct -pluginPath=\$(App.Folder)\\plugins -pluginFile=demoplugin.dll: exit code 0"
fi

say "step 4: the console viewer DemoViewer (each alert stays on screen ${viewer_seconds} s)"
start viewer "is listening" console_viewer.exe DemoViewer "$viewer_seconds" ||
  fail 4 "the viewer did not come up: $(tail -1 "$run/viewer.out" 2>/dev/null)"

say "step 5: the host running Sentrel.dll, user session 1 active"
# The plugin double gives every viewer this content.
WINEDLLOVERRIDES=wtsapi32=n PLUGIN_DOUBLE_CONTENT="Hello from DemoProduct's plugin, shown by {viewer}" \
  start host "is running" service_host.exe "$(winpath "$bin/Sentrel.dll")" "$(winpath "$logcopy")" ||
  fail 5 "the host did not start the service: $(tail -1 "$run/host.out" 2>/dev/null)"

say "step 6: the product asks for three alerts and one delete"
# The product writes to its file; a follower shows it. Meanwhile every peer is watched.
: >"$run/product.out"
begin_watched "the product" "$run/product.out" product.exe run
(close_inputs; exec tail -n +1 -f --pid="$watched_pid" "$run/product.out") &
shown=$!
finish_watched
wait "$shown"
[ "$code" -eq 0 ] || fail 6 "the product ended with exit code $code: $(tail -1 "$run/product.out")"
# Each alert counts by its first outcome, whatever notices followed it.
dismissed=$(grep -c '^product: outcome of .*: Dismissed$' "$run/product.out")
[ "$dismissed" -eq 3 ] || fail 6 "$dismissed of the three alerts were dismissed: $(grep '^product: outcome of ' "$run/product.out" | tr '\n' ' ')"

if [ "${SENTREL_DEMO_KEEP:-0}" = 1 ]; then
  say "the service keeps running; from another terminal, try a request of your own:"
  say "  WINEPREFIX=$WINEPREFIX ONDREL_BROKER_PIPE=$ONDREL_BROKER_PIPE WINEDEBUG=-all $WINE $bin/product.exe send <json file>"
  say "  (or: ... product.exe status, ... product.exe delete <instance>)"
  say "the service's log, above the Normal level, as it is written (all of it in $logcopy):"
  # Ends by itself once the host has ended and its last lines are shown.
  (close_inputs; exec setsid bash -c 'tail -n +1 -f --pid="$1" "$2" |
    grep --line-buffered -v "^[^ ]* [^ ]* [AP]M  Normal  " | sed -u "s/^/  log: /"' follower "${pid[host]}" "$logcopy") &
  follower_pid=$!
  printf 'demo: press Enter to stop the service\n'
  while :; do
    read -r -t 1 _ && break
    [ $? -gt 128 ] || break
    check_peers
  done
fi

say "step 7: the service's log, then everything stops"
check_peers
stop host || fail 7 "the host did not end the service cleanly"
[ -s "$logcopy" ] || fail 7 "the service wrote no log lines"
if [ -n "$follower_pid" ]; then
  wait "$follower_pid"
  follower_pid=
  say "that was the service's log ($(wc -l <"$logcopy") lines in all in $logcopy)"
else
  # The Normal level is the SDK's tracing (library searches, timers); the
  # lines above it tell the alerts' story.
  say "the service's log, above the Normal level ($(wc -l <"$logcopy") lines in all in $logcopy):"
  grep -v '^[^ ]* [^ ]* [AP]M  Normal  ' "$logcopy" | sed 's/^/  log: /'
fi
for name in viewer settings broker; do
  stop "$name" || fail 7 "the ${label[$name]} ended with a non-zero exit code"
done
say "done: every step ended with 0"
