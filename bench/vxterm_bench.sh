#!/usr/bin/env bash
# Display throughput of vxterm against picocom, side by side: SIZE_MB of text lines cross a
# socat pty pair into the terminal, whose console is a pseudo-terminal (script(1)); the wall
# time until the console has shown it all, and the terminal's CPU time (from /proc, just
# before it is ended), medians of RUNS runs taken in turns, and vxterm's share of picocom's.
set -euo pipefail

VXTERM=${1:?usage: vxterm_bench.sh path/to/vxterm}
RUNS=${RUNS:-3}
SIZE_MB=${SIZE_MB:-20}
command -v picocom >/dev/null || { echo "vxterm_bench: picocom is missing (scripts/install-deps)"; exit 2; }

work=$(mktemp -d /tmp/vxterm-bench.XXXXXX)
socat_pid=
cleanup() {
  [ -n "$socat_pid" ] && kill "$socat_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

socat pty,raw,echo=0,link="$work/A" pty,raw,echo=0,link="$work/B" &
socat_pid=$!
for _ in $(seq 50); do [ -e "$work/A" ] && [ -e "$work/B" ] && break; sleep 0.1; done
python3 - "$work/data" "$SIZE_MB" <<'EOF'
import random, sys
random.seed(7)
size = int(sys.argv[2]) << 20
with open(sys.argv[1], "w") as f:
    n = 0
    while n < size:
        line = "".join(random.choice("abcdefghijklmnopqrstuvwxyz0123456789 ") for _ in range(random.randint(10, 120))) + "\n"
        f.write(line)
        n += len(line)
EOF
bytes=$(stat -c %s "$work/data")

# One run of Program (vxterm or picocom): prints "WALL CPU" in seconds.
run() {
  local name=$1 cmd
  case $name in
    vxterm) cmd="$VXTERM $work/A" ;;
    picocom) cmd="picocom -q -b 115200 $work/A" ;;
  esac
  rm -f "$work/out"
  # The console's input stays open (a sleep) until the run ends.
  sleep 3600 | script -qfc "$cmd" "$work/out" >/dev/null &
  local pid=$!
  sleep 1
  local start end
  start=$(date +%s.%N)
  cat "$work/data" >"$work/B"
  while [ "$(stat -c %s "$work/out" 2>/dev/null || echo 0)" -lt "$bytes" ]; do sleep 0.01; done
  end=$(date +%s.%N)
  local term cpu
  term=$(pgrep -f "^$cmd\$" | head -1)
  # utime and stime, in clock ticks.
  cpu=$(awk -v hz="$(getconf CLK_TCK)" '{ print ($14 + $15) / hz }' "/proc/$term/stat")
  kill -KILL "$term" || true
  pkill -f "^sleep 3600\$" || true
  wait "$pid" 2>/dev/null || true
  echo "$(echo "$end - $start" | bc -l) $cpu"
}

median() { sort -g | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }

: >"$work/vx" && : >"$work/pc"
for i in $(seq "$RUNS"); do
  run vxterm >>"$work/vx"
  run picocom >>"$work/pc"
done
vx_wall=$(cut -d' ' -f1 "$work/vx" | median)
vx_cpu=$(cut -d' ' -f2 "$work/vx" | median)
pc_wall=$(cut -d' ' -f1 "$work/pc" | median)
pc_cpu=$(cut -d' ' -f2 "$work/pc" | median)
printf '%s MiB of text lines shown, medians of %s runs\n' "$SIZE_MB" "$RUNS"
printf '  picocom (baseline): %.2f s wall, %.2f s CPU\n' "$pc_wall" "$pc_cpu"
printf '  vxterm:             %.2f s wall, %.2f s CPU\n' "$vx_wall" "$vx_cpu"
printf '  vxterm / picocom:   wall %.2f, CPU %.2f\n' "$(echo "$vx_wall / $pc_wall" | bc -l)" \
  "$(echo "$vx_cpu / ($pc_cpu + 0.0001)" | bc -l)"
