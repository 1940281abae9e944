#!/usr/bin/env bash
# The idle program's footprint, measured on the real program in real time:
#
#   idle peak RSS            the built-in world without its timeline, headless, after IDLE s
#   idle CPU                 CPU time the same process used over the following CPU_SPAN s
#   settings window          peak RSS while the window is open (a scenario opens it at 2 s and
#                            closes it at 5 s), and RSS AFTER s after it was closed
#
# Usage: scripts/measure-footprint.sh [--program PATH] [--idle S] [--cpu-span S] [--after S]
#                                     [--json FILE]
# Defaults: build/default/src/lumarin, 30 s, 60 s, 60 s. Both runs get private temporary,
# configuration and data directories, so a running Lumarin or the user's settings do not
# interfere. Figures in kB (RSS, from /proc/PID/status) and percent of one core (CPU, from
# /proc/PID/stat). This is a benchmark: it reports, it never fails on a figure.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
program="$root/build/default/src/lumarin"
idle=30
cpu_span=60
after=60
json=""
while [[ $# -gt 0 ]]; do
  case "$1" in
    --program) program="$2"; shift 2 ;;
    --idle) idle="$2"; shift 2 ;;
    --cpu-span) cpu_span="$2"; shift 2 ;;
    --after) after="$2"; shift 2 ;;
    --json) json="$2"; shift 2 ;;
    -h|--help) sed -n '2,14p' "$0"; exit 0 ;;
    *) echo "measure-footprint: unknown option $1" >&2; exit 2 ;;
  esac
done
[[ -x "$program" ]] || { echo "measure-footprint: no program at $program" >&2; exit 2; }

work="$(mktemp -d)"
pid=""
cleanup() {
  if [[ -n "$pid" ]] && kill -0 "$pid" 2>/dev/null; then kill "$pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# The built-in world with another timeline.
scenario() {  # $1: output file, $2: the timeline as JSON
  python3 - "$root/resources/scenarios/default.json" "$1" "$2" <<'EOF'
import json, sys
world = json.load(open(sys.argv[1]))
world["name"] = "footprint"
world["timeline"] = json.loads(sys.argv[3])
json.dump(world, open(sys.argv[2], "w"), indent=1)
EOF
}
scenario "$work/idle.json" '[]'
scenario "$work/settings.json" \
  '[{"at": 2, "do": "openSettings"}, {"at": 5, "do": "closeWindow", "window": "settings"}]'

status_kb() { awk -v k="$2:" '$1 == k {print $2}' "/proc/$1/status"; }
# utime + stime in clock ticks (fields 14 and 15; the command name may hold spaces).
cpu_ticks() { sed 's/.*) //' "/proc/$1/stat" | awk '{print $12 + $13}'; }
alive() { kill -0 "$1" 2>/dev/null && [[ "$(sed 's/.*) //' "/proc/$1/stat" | cut -d' ' -f1)" != Z ]]; }

start() {  # $1: scenario, $2: seconds to run
  local dir="$work/run-$(basename "$1" .json)"
  mkdir -p "$dir/tmp" "$dir/config" "$dir/data" "$dir/cache"
  TMPDIR="$dir/tmp" XDG_CONFIG_HOME="$dir/config" XDG_DATA_HOME="$dir/data" \
    XDG_CACHE_HOME="$dir/cache" XDG_RUNTIME_DIR="$dir/tmp" \
    "$program" --headless --scenario "$1" --run-for "$2" >"$dir/output.txt" 2>&1 &
  pid=$!
}
wait_until() {  # $1: seconds since the start of the run, $2: start time (date +%s.%N)
  local left
  left="$(awk -v s="$2" -v d="$1" -v n="$(date +%s.%N)" 'BEGIN {l = s + d - n; print (l > 0 ? l : 0)}')"
  sleep "$left"
  alive "$pid" || { echo "measure-footprint: the program ended early:" >&2; \
                    cat "$work"/run-*/output.txt >&2; exit 1; }
}

hz="$(getconf CLK_TCK)"

# 1. Idle: peak RSS after `idle` seconds, then CPU over the next `cpu_span` seconds.
echo "idle run: $((idle + cpu_span)) s ..." >&2
t0="$(date +%s.%N)"
start "$work/idle.json" $((idle + cpu_span + 10))
wait_until "$idle" "$t0"
idle_hwm="$(status_kb "$pid" VmHWM)"
idle_rss="$(status_kb "$pid" VmRSS)"
ticks0="$(cpu_ticks "$pid")"
wait_until $((idle + cpu_span)) "$t0"
ticks1="$(cpu_ticks "$pid")"
idle_cpu="$(awk -v t=$((ticks1 - ticks0)) -v hz="$hz" -v s="$cpu_span" \
  'BEGIN {printf "%.3f", 100 * t / hz / s}')"
kill "$pid"; wait "$pid" 2>/dev/null || true

# 2. The settings window: opened at 2 s, closed at 5 s.
echo "settings run: $((5 + after)) s ..." >&2
t0="$(date +%s.%N)"
start "$work/settings.json" $((5 + after + 10))
wait_until 4 "$t0"
open_rss="$(status_kb "$pid" VmRSS)"
wait_until $((5 + after)) "$t0"
settings_hwm="$(status_kb "$pid" VmHWM)"
settings_after="$(status_kb "$pid" VmRSS)"
kill "$pid"; wait "$pid" 2>/dev/null || true
pid=""

mb() { awk -v k="$1" 'BEGIN {printf "%.1f MB", k / 1024}'; }
cat <<EOF
idle peak RSS (VmHWM after ${idle} s):           $(mb "$idle_hwm") ($idle_hwm kB; RSS $idle_rss kB)
idle CPU over ${cpu_span} s:                        ${idle_cpu} %
settings window open (RSS at 4 s):           $(mb "$open_rss") ($open_rss kB)
settings window peak RSS (VmHWM):            $(mb "$settings_hwm") ($settings_hwm kB)
RSS ${after} s after the window was closed:      $(mb "$settings_after") ($settings_after kB)
EOF
if [[ -n "$json" ]]; then
  cat >"$json" <<EOF
{"idlePeakRssKB": $idle_hwm, "idleRssKB": $idle_rss, "idleCpuPercent": $idle_cpu,
 "idleSeconds": $idle, "cpuSpanSeconds": $cpu_span, "settingsOpenRssKB": $open_rss,
 "settingsPeakRssKB": $settings_hwm, "rssAfterSettingsClosedKB": $settings_after,
 "afterSeconds": $after}
EOF
fi
