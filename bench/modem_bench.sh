#!/usr/bin/env bash
# XMODEM, YMODEM and ZMODEM benchmarks: the vxmodem program against lrzsz (sx/rx, sb/rb,
# sz/rz), each row against lrzsz to lrzsz run side by side (they take turns run by run, so a
# machine that drifts moves them alike); medians of RUNS runs. Every received file is compared with the
# one sent.
#  1. A socat pty pair, a SIZE_MB random file: XMODEM-1K, YMODEM and ZMODEM, ours to lrzsz,
#     lrzsz to ours and ours to ours, against lrzsz to lrzsz.
#  2. A line paced like a serial line between USB adapters (the faultyline program, 115200
#     baud, 16 ms latency timers), a USB_KB random file: the same rows; payload rate against
#     the line's byte rate.
#  3. CPU time per MiB of each side (GNU time, user plus system) on the pty pair, YMODEM and
#     ZMODEM, ours to ours and lrzsz to lrzsz.
# SECTIONS (default "pty usb cpu") picks the parts to run, PROTOCOLS (default "xmodem ymodem
# zmodem") the protocols of parts 1 and 2. Files are whole 1K blocks, so
# XMODEM's padding leaves them exact.
set -euo pipefail

CLI=${1:?usage: modem_bench.sh path/to/vxmodem path/to/faultyline}
FAULTY=${2:?usage: modem_bench.sh path/to/vxmodem path/to/faultyline}
RUNS=${RUNS:-3}
SIZE_MB=${SIZE_MB:-8}
USB_KB=${USB_KB:-256}
SECTIONS=${SECTIONS:-pty usb cpu}
PROTOCOLS=${PROTOCOLS:-xmodem ymodem zmodem}
LIMIT=${LIMIT:-600}

work=$(mktemp -d /tmp/modem-bench.XXXXXX)
line_pid=
cleanup() {
  [ -n "$line_pid" ] && kill "$line_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/src" "$work/dst"

# The line between the two sides: a pty pair, or the paced USB line; its ends are A and B.
start_line() {
  rm -f "$work/A" "$work/B"
  if [ "$1" = pty ]; then
    socat pty,raw,echo=0,link="$work/A" pty,raw,echo=0,link="$work/B" &
  else
    "$FAULTY" --baud 115200 --latency-us 16000 "$work/A" "$work/B" >/dev/null 2>>"$work/line.log" &
  fi
  line_pid=$!
  for _ in $(seq 200); do [ -e "$work/A" ] && [ -e "$work/B" ] && return; sleep 0.02; done
  echo "no line between A and B" >&2
  exit 1
}
stop_line() { kill "$line_pid" 2>/dev/null || true; wait "$line_pid" 2>/dev/null || true; line_pid=; }

# Each side takes DEVICE PROTOCOL FILE (the receiver's FILE is where XMODEM stores it);
# lrzsz reads and writes the device as its standard input and output, in the directory.
on_line() { (cd "$work/$1" && timeout "$LIMIT" sh -c "exec $2 <'$3' >'$3'"); }
recv_lrzsz() {
  case $2 in
    xmodem) on_line dst "rx -b -q -c $(basename "$3")" "$1" ;;
    ymodem) on_line dst "rb -b -q" "$1" ;;
    zmodem) on_line dst "rz -b -q -y" "$1" ;;
  esac
}
send_lrzsz() {
  case $2 in
    xmodem) on_line src "sx -b -q -k $(basename "$3")" "$1" ;;
    ymodem) on_line src "sb -b -q -k $(basename "$3")" "$1" ;;
    zmodem) on_line src "sz -b -q $(basename "$3")" "$1" ;;
  esac
}
recv_ours() {
  if [ "$2" = xmodem ]; then
    timeout "$LIMIT" "$CLI" receive --quiet --protocol xmodem "$1" "$work/dst/$(basename "$3")"
  else
    timeout "$LIMIT" "$CLI" receive --quiet --protocol "$2" --collision overwrite "$1" "$work/dst"
  fi
}
send_ours() {
  if [ "$2" = xmodem ]; then
    timeout "$LIMIT" "$CLI" send --quiet --protocol xmodem --1k "$1" "$3"
  else
    timeout "$LIMIT" "$CLI" send --quiet --protocol "$2" "$1" "$3"
  fi
}

# One run: receiver on A, sender on B; prints the payload rate in B/s, timed to the
# receiver's end. A sender still waiting then for the answer to its last block (rx and rb may
# leave before their last answer reaches a pty) is given a moment and ended. With TIMES set,
# each side's CPU seconds go to $TIMES.recv and $TIMES.send.
one_run() {
  local line=$1 protocol=$2 receiver=$3 sender=$4 file=$5
  rm -f "$work/dst/$(basename "$file")"
  start_line "$line"
  local rwrap=() swrap=()
  if [ -n "${TIMES:-}" ]; then
    rwrap=(/usr/bin/time -f "%U %S" -o "$TIMES.recv")
    swrap=(/usr/bin/time -f "%U %S" -o "$TIMES.send")
  fi
  local env="work='$work' CLI='$CLI' LIMIT='$LIMIT'"
  "${rwrap[@]}" bash -c "$(declare -f on_line recv_lrzsz recv_ours); $env $receiver '$work/A' $protocol '$file'" &
  local rpid=$!
  sleep 0.3
  local t0 t1
  t0=$(date +%s.%N)
  "${swrap[@]}" bash -c "$(declare -f on_line send_lrzsz send_ours); $env $sender '$work/B' $protocol '$file'" &
  local spid=$!
  wait "$rpid" || { echo "$protocol $sender -> $receiver: the receiver failed" >&2; exit 1; }
  t1=$(date +%s.%N)
  for _ in $(seq 30); do kill -0 "$spid" 2>/dev/null || break; sleep 0.1; done
  pkill -TERM -P "$spid" 2>/dev/null || true
  wait "$spid" 2>/dev/null || true
  stop_line
  cmp -s "$file" "$work/dst/$(basename "$file")" || { echo "$protocol $sender -> $receiver damaged $file" >&2; exit 1; }
  echo "$(stat -c %s "$file") $t0 $t1" | awk '{ printf "%.0f\n", $1 / ($3 - $2) }'
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
med() { printf '%s\n' "$@" | median; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
wants() { case " $SECTIONS " in *" $1 "*) return 0 ;; esac; return 1; }

# The rows of one line, both protocols; Extra is printed after each rate (the line's rate).
rows() {
  local line=$1 file=$2 rate=${3:-}
  for protocol in $PROTOCOLS; do
    local base=() oc=() co=() oo=()
    for _ in $(seq "$RUNS"); do
      base+=("$(one_run "$line" $protocol recv_lrzsz send_lrzsz "$file")")
      oc+=("$(one_run "$line" $protocol recv_lrzsz send_ours "$file")")
      co+=("$(one_run "$line" $protocol recv_ours send_lrzsz "$file")")
      oo+=("$(one_run "$line" $protocol recv_ours send_ours "$file")")
    done
    local b
    b=$(med "${base[@]}")
    local name=$protocol
    [ $protocol = xmodem ] && name="xmodem-1k"
    of_line() { [ -n "$rate" ] && printf ', %s of the line' "$(ratio "$1" "$rate")"; return 0; }
    printf '  %-34s %10s B/s%s\n' "$name lrzsz -> lrzsz (baseline)" "$b" "$(of_line "$b")"
    for row in "ours -> lrzsz:${oc[*]}" "lrzsz -> ours:${co[*]}" "ours -> ours:${oo[*]}"; do
      local label=${row%%:*} values=${row#*:} m
      # shellcheck disable=SC2086
      m=$(med $values)
      printf '  %-34s %10s B/s  ratio %s%s\n' "$name $label" "$m" "$(ratio "$m" "$b")" "$(of_line "$m")"
    done
  done
}

if wants pty; then
  head -c $((SIZE_MB * 1048576)) /dev/urandom > "$work/src/pty.bin"
  echo "XMODEM-1K, YMODEM and ZMODEM over a pty pair, ${SIZE_MB} MiB random file, median of $RUNS runs"
  rows pty "$work/src/pty.bin"
fi

if wants usb; then
  head -c $((USB_KB * 1024)) /dev/urandom > "$work/src/usb.bin"
  echo "XMODEM-1K, YMODEM and ZMODEM over a USB serial line at 115200 baud (11520 B/s), 16 ms latency timers, ${USB_KB} KiB random file, median of $RUNS runs"
  rows usb "$work/src/usb.bin" 11520
fi

if wants cpu; then
  head -c $((SIZE_MB * 1048576)) /dev/urandom > "$work/src/cpu.bin"
  echo "CPU seconds per MiB (user + system) over a pty pair, ${SIZE_MB} MiB random file, median of $RUNS runs"
  per_mib() { awk -v mb="$SIZE_MB" '{ printf "%.3f\n", ($1 + $2) / mb }' "$1"; }
  for protocol in ymodem zmodem; do
    for pair in "ours:recv_ours:send_ours" "lrzsz:recv_lrzsz:send_lrzsz"; do
      IFS=: read -r name receiver sender <<<"$pair"
      r=() s=()
      for _ in $(seq "$RUNS"); do
        TIMES="$work/cpu" one_run pty $protocol "$receiver" "$sender" "$work/src/cpu.bin" >/dev/null
        r+=("$(per_mib "$work/cpu.recv")")
        s+=("$(per_mib "$work/cpu.send")")
      done
      printf '  %-6s %-6s sender %s s/MiB, receiver %s s/MiB\n' "$protocol" "$name" "$(med "${s[@]}")" "$(med "${r[@]}")"
    done
  done
fi
