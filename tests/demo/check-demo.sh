#!/usr/bin/env bash
# check-demo.sh SCENARIO SOURCE-FOLDER STATE-FOLDER: runs scripts/demo.sh
# with its own state folder and checks what it printed and its exit code.
#   TwoRunsShowDismissAndDeleteEveryAlert: two runs, both ending with 0; the
#     second finds the first one's registrations.
#   AViewerKilledMidRunEndsTheRunNamingTheViewer: the viewer is killed while
#     the first alert is on screen; the run still ends, non-zero, naming it.
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

run_demo() {
  local out=$1
  timeout 500 "$source/scripts/demo.sh" >"$out" 2>&1
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
  expect_sequence "$out" '^product: .*(Queued|Dismissed|Failed|Deleted|NotFound)' \
    'Sentrel.Alert.Show.1 -> Sentrel.Alert.{DEMO-BACKUP}.Queued.1' \
    'Sentrel.Alert.Show.2 -> Sentrel.Alert.{DEMO-UPDATE}.Queued.2' \
    'Sentrel.Alert.Show.3 -> Sentrel.Alert.{DEMO-DISK}.Queued.3' \
    'notice Sentrel.Alert.{DEMO-BACKUP}.Dismissed.1' \
    'notice Sentrel.Alert.{DEMO-DISK}.Dismissed.3' \
    'notice Sentrel.Alert.{DEMO-UPDATE}.Dismissed.2' \
    'Sentrel.Alert.Delete.2 -> Sentrel.Alert..Deleted.2'
  expect "$out" '  log: .*Sentrel Alert Status Shown\. Alert id: \{DEMO-DISK\}, Instance id: 3 '
  expect "$out" '^demo: done: every step ended with 0$'
}

case "$scenario" in
  TwoRunsShowDismissAndDeleteEveryAlert)
    for round in 1 2; do
      out=$state/run$round.txt
      run_demo "$out"
      code=$?
      [ "$code" -eq 0 ] || problem "run $round ended with exit code $code"
      check_full_run "$out"
    done
    expect "$state/run1.txt" '^demo: Quellat -registerViewer=DemoViewer: exit code 0$'
    expect "$state/run1.txt" '^settings: stored Sentrel/Product/DemoProduct = \{"pluginPath":"\$\(App.Folder\)\\\\plugins","pluginFile":"demoplugin.dll"\}$'
    expect "$state/run2.txt" '^settings: 2 properties loaded from '
    expect "$state/run2.txt" '^demo: viewer DemoViewer and product DemoProduct are registered already'
    ;;
  AViewerKilledMidRunEndsTheRunNamingTheViewer)
    out=$state/run.txt
    run_demo "$out" &
    demo=$!
    viewer_out=$SENTREL_DEMO_STATE/run/viewer.out
    for _ in $(seq 1 1200); do
      grep -q 'SHOWING' "$viewer_out" 2>/dev/null && break
      sleep 0.1
    done
    if grep -q 'SHOWING' "$viewer_out" 2>/dev/null; then
      killed_at=$(date +%s)
      kill -9 "$(cat "$SENTREL_DEMO_STATE/run/viewer.pid")"
    else
      problem "the viewer never showed an alert"
      killed_at=$(date +%s)
    fi
    wait "$demo"
    code=$?
    took=$(($(date +%s) - killed_at))
    [ "$code" -ne 0 ] || problem "the run ended with 0 although its viewer was killed"
    # The alert's 10 s on screen plus the service's 30 s margin, and some
    # time for a loaded machine to stop everything.
    [ "$took" -le 100 ] || problem "the run ended $took s after the viewer was killed"
    # The service reports the alert on screen, and those behind it, as failed.
    expect "$out" '^product: .*notice Sentrel\.Alert\.\{DEMO-BACKUP\}\.Failed\.1$'
    expect "$out" '^demo: FAILED at step 4 \(viewer\): the viewer \(console_viewer\.exe\) ended during the run'
    [ "$(grep -c '^demo: FAILED' "$out")" -eq 1 ] || problem "not exactly one FAILED line"
    ;;
  *) problem "unknown scenario $scenario" ;;
esac

if [ "$problems" -ne 0 ]; then
  echo "check-demo: the demo's output:" >&2
  grep -v '^  log: ' "$state"/run*.txt >&2
  exit 1
fi
echo "check-demo: $scenario passed"
