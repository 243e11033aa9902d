#!/usr/bin/env bash
# check-demo.sh SCENARIO SOURCE-FOLDER STATE-FOLDER: runs scripts/demo.sh
# with its own state folder and checks what it printed and its exit code.
#   TwoRunsShowDismissAndDeleteEveryAlert: two runs, both ending with 0; the
#     second finds the first one's registrations. In the second, Wine ends
#     each peer's first start before it writes anything (a stand-in in front
#     of Wine's loader), and each is started once more; a third run started
#     in the same folder meanwhile is refused, naming the second, and leaves
#     it alone.
#   APeerKilledMidRunEndsTheRunNamingIt: each peer that must keep running
#     (viewer, broker, settings service, host) in turn is killed while the
#     product waits for its alerts' outcomes, and the broker and the settings
#     service while Quellat registers; the run ends at once, non-zero,
#     naming the peer, and the product is stopped rather than left to wait.
#   AnInterruptStopsEverythingInOrder: INT to the script's process group (a
#     Ctrl-C in its terminal), INT to the script alone and TERM to it, each
#     while the first alert is on screen: "demo: interrupted", every program
#     stopped, the last started first, a non-zero exit, no process left behind.
set -uo pipefail
scenario=$1 source=$2 state=$3
# A server an aborted earlier run left behind would outlive its prefix.
[ ! -d "$state/demo/wineprefix" ] || WINEPREFIX=$state/demo/wineprefix /usr/lib/wine/wineserver -k 2>/dev/null
rm -rf "$state"
mkdir -p "$state"
export SENTREL_DEMO_STATE=$state/demo SENTREL_DEMO_BUILD=0
problems=0
problem() { echo "check-demo: $*" >&2; problems=$((problems + 1)); }

# expect FILE PATTERN...: the lines matching any of the patterns, in this order, are exactly these.
expect_sequence() {
  local file=$1 filter=$2
  shift 2
  local seen wanted
  seen=$(grep -E -- "$filter" "$file" | sed -E 's/^product: \[ *[0-9.]+ s\] //; s/  \(took [0-9]+ ms\)$//')
  wanted=$(printf '%s\n' "$@")
  [ "$seen" = "$wanted" ] || problem "$(basename "$file"): expected, in order:"$'\n'"$wanted"$'\n'"got:"$'\n'"$seen"
}

expect() { grep -q -E -- "$2" "$1" || problem "$(basename "$1"): no line matching: $2"; }

# forget_last_run: what the checks below wait for and act on is of the next
# run only. Done before that run is started, also when it runs in the
# background: its own start may come after the first look.
forget_last_run() {
  rm -f "$SENTREL_DEMO_STATE/run/viewer.out" "$SENTREL_DEMO_STATE/run/product.out" "$SENTREL_DEMO_STATE"/run/*.pid
}

run_demo() {
  timeout 500 "$source/scripts/demo.sh" </dev/null >"$1" 2>&1
}

check_full_run() {
  local out=$1
  # One at a time, the ones that waited highest priority first, each dismissed.
  expect_sequence "$out" '^viewer: (SHOWING|instance)' \
    'viewer: SHOWING {DEMO-BACKUP}  instance 1  priority P3  content "Hello from DemoProduct'"'"'s plugin, shown by DemoViewer"' \
    'viewer: instance 1 dismissed by the user' \
    'viewer: SHOWING {DEMO-DISK}  instance 3  priority P1  content "Hello from DemoProduct'"'"'s plugin, shown by DemoViewer"' \
    'viewer: instance 3 dismissed by the user' \
    'viewer: SHOWING {DEMO-UPDATE}  instance 2  priority P2  content "Hello from DemoProduct'"'"'s plugin, shown by DemoViewer"' \
    'viewer: instance 2 dismissed by the user'
  expect_sequence "$out" '^product: .*notice .*\.Shown\.' \
    'notice Sentrel.Alert.{DEMO-BACKUP}.Shown.1' \
    'notice Sentrel.Alert.{DEMO-DISK}.Shown.3' \
    'notice Sentrel.Alert.{DEMO-UPDATE}.Shown.2'
  # Each alert is judged by its first outcome; the delete names the alert
  # that ended last, which the service still holds.
  expect_sequence "$out" '^product: (.* -> .*(Queued|Suppressed|Deleted|NotFound)|outcome of )' \
    'Sentrel.Alert.Show.1 -> Sentrel.Alert.{DEMO-BACKUP}.Queued.1' \
    'Sentrel.Alert.Show.2 -> Sentrel.Alert.{DEMO-UPDATE}.Queued.2' \
    'Sentrel.Alert.Show.3 -> Sentrel.Alert.{DEMO-DISK}.Queued.3' \
    'product: outcome of {DEMO-BACKUP} (instance 1): Dismissed' \
    'product: outcome of {DEMO-UPDATE} (instance 2): Dismissed' \
    'product: outcome of {DEMO-DISK} (instance 3): Dismissed' \
    'Sentrel.Alert.Delete.2 for {DEMO-UPDATE} -> Sentrel.Alert..Deleted.2'
  # The viewer reports each alert's end once.
  expect_sequence "$out" '^product: .*notice .*\.(Dismissed|Failed)\.' \
    'notice Sentrel.Alert.{DEMO-BACKUP}.Dismissed.1' \
    'notice Sentrel.Alert.{DEMO-DISK}.Dismissed.3' \
    'notice Sentrel.Alert.{DEMO-UPDATE}.Dismissed.2'
  expect "$out" '  log: .*Sentrel Alert Status Shown\. Alert id: \{DEMO-DISK\}, Instance id: 3 '
  expect "$out" '^demo: done: every step ended with 0$'
}

# wait_for_line NAME PATTERN: true once the run's program NAME printed a line
# matching PATTERN (NAME with a slash: that file); false once the run in the
# background ($demo) ended without it. The bound is a backstop only: a first
# run makes its Wine prefix, which on a loaded machine takes minutes.
wait_for_line() {
  local out=$SENTREL_DEMO_STATE/run/$1.out
  [[ $1 != */* ]] || out=$1
  local deadline=$((SECONDS + 600)) ended=0
  while [ "$SECONDS" -lt "$deadline" ]; do
    grep -q -E -- "$2" "$out" 2>/dev/null && return 0
    [ "$ended" -eq 0 ] || return 1
    # One more look after the end: the line may have come just before it.
    kill -0 "$demo" 2>/dev/null || ended=1
    sleep 0.1
  done
  return 1
}

# wait_for_showing: true once the viewer shows the first alert.
wait_for_showing() { wait_for_line viewer 'SHOWING'; }

# wait_for_outcomes: true once the product has sent its three alerts and
# waits for their outcomes, the first of them on screen.
wait_for_outcomes() { wait_for_showing && wait_for_line product 'Sentrel\.Alert\.Show\.3 -> .*\.Queued\.3'; }

# expect_no_process_left WHAT: no process runs in the demo's Wine prefix.
expect_no_process_left() {
  local left
  left=$(grep -l -z -x "WINEPREFIX=$SENTREL_DEMO_STATE/wineprefix" /proc/[0-9]*/environ 2>/dev/null | tr '\n' ' ')
  [ -z "$left" ] || problem "$1: processes left behind: $left"
}

# lock_holders: the processes that hold the demo's lock file open.
lock_holders() {
  find /proc/[0-9]*/fd -lname "$SENTREL_DEMO_STATE/demo.lock" 2>/dev/null | cut -d/ -f3 | sort -u | tr '\n' ' '
}

case "$scenario" in
  TwoRunsShowDismissAndDeleteEveryAlert)
    # Stands in front of Wine's loader in the second run: the first start of
    # each peer ends with 1 before it wrote anything.
    cat >"$state/wine-once" <<'END'
#!/bin/sh
case "$1" in
  *OndrelBroker.exe | *settings_service.exe | *console_viewer.exe | *service_host.exe)
    mark=$(dirname "$0")/started-$(basename "$1")
    [ -e "$mark" ] || { : >"$mark"; exit 1; }
    ;;
esac
exec /usr/lib/wine/wine64 "$@"
END
    chmod +x "$state/wine-once"
    out=$state/run1.txt
    forget_last_run
    run_demo "$out"
    code=$?
    [ "$code" -eq 0 ] || problem "run 1 ended with exit code $code"
    check_full_run "$out"
    out=$state/run2.txt
    forget_last_run
    SENTREL_DEMO_WINE=$state/wine-once run_demo "$out" &
    demo=$!
    if wait_for_showing; then
      third=$state/run3.txt
      run_demo "$third"
      code=$?
      [ "$code" -ne 0 ] || problem "run 3, started beside run 2, ended with 0"
      line="^demo: refused: the demo started as process ([0-9]+) runs in $SENTREL_DEMO_STATE; this run changes nothing there\$"
      expect "$third" "$line"
      named=$(sed -n -E "s|$line|\1|p" "$third")
      [ "$(wc -l <"$third")" -eq 1 ] || problem "run 3 did more than refuse"
      grep -q -a 'scripts/demo.sh' "/proc/$named/cmdline" 2>/dev/null || problem "run 3 named process $named, not run 2's script"
    else
      problem "run 2's viewer never showed an alert"
    fi
    wait "$demo"
    code=$?
    [ "$code" -eq 0 ] || problem "run 2 ended with exit code $code"
    check_full_run "$out"
    for peer in broker 'settings service' viewer host; do
      expect "$out" "^demo: the $peer ended with exit code 1 before writing anything; starting it once more\$"
    done
    # A run killed outright leaves no lock behind: what it started (the Wine
    # server, its peers) does not hold it.
    forget_last_run
    run_demo "$state/run4.txt" &
    demo=$!
    if wait_for_showing; then
      kill -9 "$(cat "$SENTREL_DEMO_STATE/demo.lock")"
      deadline=$((SECONDS + 600))
      while [ -n "$(lock_holders)" ] && [ "$SECONDS" -lt "$deadline" ]; do sleep 0.1; done
      [ -z "$(lock_holders)" ] || problem "run 4 was killed, yet processes $(lock_holders) hold its lock"
    else
      problem "run 4's viewer never showed an alert"
    fi
    wait "$demo"
    WINEPREFIX=$SENTREL_DEMO_STATE/wineprefix /usr/lib/wine/wineserver -k 2>/dev/null
    expect "$state/run1.txt" '^demo: Quellat -registerViewer=DemoViewer: exit code 0$'
    expect "$state/run1.txt" '^settings: stored Sentrel/Product/DemoProduct = \{"pluginPath":"\$\(App.Folder\)\\\\plugins","pluginFile":"demoplugin.dll"\}$'
    expect "$state/run2.txt" '^settings: 2 properties loaded from '
    expect "$state/run2.txt" '^demo: viewer DemoViewer and product DemoProduct are registered already'
    ;;
  APeerKilledMidRunEndsTheRunNamingIt)
    # peer | what the run calls it | when it is killed | its step as the FAILED line names it | its program
    while IFS='|' read -r peer called moment step program; do
      out=$state/run-$peer-$moment.txt
      forget_last_run
      # Quellat runs only while the registrations are not stored yet.
      [ "$moment" != registrations ] || rm -f "$SENTREL_DEMO_STATE/settings.json"
      run_demo "$out" &
      demo=$!
      case "$moment" in
        # While the product waits for outcomes: before that, a dead broker
        # can end the product's run of its own accord.
        outcomes) wait_for_outcomes ;;
        registrations) wait_for_line "$out" '^demo: step 3: ' ;;
      esac
      if [ $? -eq 0 ]; then
        kill -9 "$(cat "$SENTREL_DEMO_STATE/run/$peer.pid")"
      else
        problem "$peer: the run never reached the moment of the kill ($moment)"
      fi
      wait "$demo"
      code=$?
      [ "$code" -ne 0 ] || problem "$peer: the run ended with 0 although its $called was killed"
      expect "$out" "^demo: FAILED at step $step: the $called \\($program\\) ended during the run with exit code 137\$"
      [ "$(grep -c '^demo: FAILED' "$out")" -eq 1 ] || problem "$peer: not exactly one FAILED line"
      # Noticed while the product still waited, not after it gave up.
      [ "$moment" != outcomes ] || expect "$out" '^demo: the product was stopped$'
      expect_no_process_left "$peer"
    done <<'END'
viewer|viewer|outcomes|4 \(viewer\)|console_viewer\.exe
broker|broker|outcomes|1 \(bus broker\)|OndrelBroker\.exe
settings|settings service|outcomes|2 \(settings service\)|settings_service\.exe
host|host|outcomes|5 \(host\)|service_host\.exe
broker|broker|registrations|1 \(bus broker\)|OndrelBroker\.exe
settings|settings service|registrations|2 \(settings service\)|settings_service\.exe
END
    ;;
  AnInterruptStopsEverythingInOrder)
    # signal | whom it is sent to
    while IFS='|' read -r signal whom; do
      out=$state/run-$signal-$whom.txt
      # A job of its own, as from a terminal: its process group is its own and
      # INT is not ignored in it, as it is in a script's background commands.
      forget_last_run
      set -m
      "$source/scripts/demo.sh" </dev/null >"$out" 2>&1 &
      demo=$!
      set +m
      if wait_for_showing; then
        if [ "$whom" = group ]; then kill -"$signal" -- "-$demo"; else kill -"$signal" "$demo"; fi
      else
        problem "$signal to the $whom: the viewer never showed an alert"
      fi
      wait "$demo"
      code=$?
      [ "$code" -ne 0 ] || problem "$signal to the $whom: the run ended with 0 although it was interrupted"
      expect "$out" '^demo: interrupted$'
      expect_sequence "$out" '^demo: the .* (ended with exit code|was stopped)' \
        'demo: the product was stopped' \
        'demo: the host ended with exit code 0' \
        'demo: the viewer ended with exit code 0' \
        'demo: the settings service ended with exit code 0' \
        'demo: the broker ended with exit code 0'
      ! grep -q '^demo: FAILED' "$out" || problem "$signal to the $whom: an interrupt is not a failed step"
      expect_no_process_left "$signal to the $whom"
    done <<'END'
INT|group
INT|script
TERM|script
END
    ;;
  *) problem "unknown scenario $scenario" ;;
esac

if [ "$problems" -ne 0 ]; then
  echo "check-demo: the demo's output:" >&2
  grep -v '^  log: ' "$state"/run*.txt >&2
  exit 1
fi
echo "check-demo: $scenario passed"
