#!/usr/bin/env bash
# Kermit throughput over a socat pty pair: our engine (the vxkermit program, with its
# defaults: long packets and repeat counts offered) against ckermit both ways, ours to ours,
# ours with --classic both ways, and ckermit to ckermit restricted to the classic protocol
# (the baseline of the ratios) and with its defaults (the second ratio). Medians of RUNS runs
# of a SIZE_MB random file. Then the program's peak resident memory for a 1 MiB and a
# 1 GiB file. Then, when the faultyline program is given, completion and payload rate over
# a line that flips a bit in a byte with probability FAULT_FLIP (one in 10,000) each way:
# ours to ckermit, ckermit to ours and ckermit to ckermit (its defaults on short packets,
# the baseline there), all with their default options, FAULT_RUNS runs of a FAULT_SIZE_KB
# random file.
set -euo pipefail

CLI=${1:?usage: kermit_bench.sh path/to/vxkermit [path/to/faultyline]}
FAULTY=${2:-}
RUNS=${RUNS:-3}
SIZE_MB=${SIZE_MB:-16}
MEM_SECONDS=${MEM_SECONDS:-20}
FAULT_RUNS=${FAULT_RUNS:-5}
FAULT_SIZE_KB=${FAULT_SIZE_KB:-4096}
FAULT_FLIP=${FAULT_FLIP:-0.0001}
# A run still going after this many seconds is ended and counts as failed.
FAULT_LIMIT=${FAULT_LIMIT:-300}
FAULT_SEED=${FAULT_SEED:-$(od -An -N4 -tu4 /dev/urandom | tr -d ' ')}

work=$(mktemp -d /tmp/kermit-bench.XXXXXX)
socat_pid=
line_pid=
cleanup() {
  [ -n "$socat_pid" ] && kill "$socat_pid" 2>/dev/null || true
  [ -n "$line_pid" ] && kill "$line_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/src" "$work/dst"
head -c $((SIZE_MB * 1048576)) /dev/urandom > "$work/src/big.bin"
size=$(stat -c %s "$work/src/big.bin")

start_pair() {
  rm -f "$work/A" "$work/B"
  socat pty,raw,echo=0,link="$work/A" pty,raw,echo=0,link="$work/B" &
  socat_pid=$!
  for _ in $(seq 200); do [ -e "$work/A" ] && [ -e "$work/B" ] && return; sleep 0.02; done
  echo "socat made no pty pair" >&2; exit 1
}
stop_pair() { kill "$socat_pid" 2>/dev/null || true; wait "$socat_pid" 2>/dev/null || true; socat_pid=; }

ck_base() {
  echo "set modem type none, set carrier-watch off, set line $1, set speed 115200, set flow-control none, set parity none, set file type binary, set transfer mode manual, set file names literal, set transfer display none, set exit warning off, set exit hangup off, set file collision overwrite"
}
RESTRICT="set streaming off, set reliable off, set clear-channel off, set window 1, set repeat counts off, set prefixing all, set block-check 3"

recv_ours() { "$CLI" receive --quiet "$1" "$work/dst"; }
send_ours() { "$CLI" send --quiet --check 3 "$1" "$work/src/big.bin"; }
recv_classic() { "$CLI" receive --quiet --classic "$1" "$work/dst"; }
send_classic() { "$CLI" send --quiet --classic --check 3 "$1" "$work/src/big.bin"; }
recv_ck() { (cd "$work/dst" && timeout 600 kermit -Y -H -q -C "$(ck_base "$1")${2:+, $2}, receive, exit \\v(status)" </dev/null >/dev/null); }
send_ck() { timeout 600 kermit -Y -H -q -C "$(ck_base "$1")${2:+, $2}, send $work/src/big.bin, exit \\v(status)" </dev/null >/dev/null; }

# One run: receiver on A, sender on B; prints payload bytes per second.
one_run() {
  local receiver=$1 sender=$2 rextra=${3:-} sextra=${4:-}
  rm -f "$work/dst/big.bin"
  start_pair
  $receiver "$work/A" "$rextra" &
  local rpid=$!
  sleep 0.3
  local t0 t1
  t0=$(date +%s.%N)
  $sender "$work/B" "$sextra"
  wait "$rpid"
  t1=$(date +%s.%N)
  stop_pair
  cmp -s "$work/src/big.bin" "$work/dst/big.bin" || { echo "transfer damaged the file" >&2; exit 1; }
  echo "$size $t0 $t1" | awk '{ printf "%.0f\n", $1 / ($3 - $2) }'
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# The configurations take turns, run by run, so that a machine that drifts during the
# benchmark moves the baseline and the others alike.
echo "Kermit over a pty pair, ${SIZE_MB} MiB random file, median of $RUNS runs"
declare -a base_r ours_ck_r ck_ours_r ours_ours_r ck_def_r cl_ck_r ck_cl_r
for _ in $(seq "$RUNS"); do
  base_r+=("$(one_run recv_ck send_ck "$RESTRICT, set receive packet-length 94" "$RESTRICT, set send packet-length 89")")
  ours_ck_r+=("$(one_run recv_ck send_ours)")
  ck_ours_r+=("$(one_run recv_ours send_ck)")
  ours_ours_r+=("$(one_run recv_ours send_ours)")
  ck_def_r+=("$(one_run recv_ck send_ck)")
  cl_ck_r+=("$(one_run recv_ck send_classic)")
  ck_cl_r+=("$(one_run recv_classic send_ck)")
done
med() { printf '%s\n' "$@" | median; }
base=$(med "${base_r[@]}")
ours_to_ck=$(med "${ours_ck_r[@]}")
ck_to_ours=$(med "${ck_ours_r[@]}")
ours_to_ours=$(med "${ours_ours_r[@]}")
ck_defaults=$(med "${ck_def_r[@]}")
classic_to_ck=$(med "${cl_ck_r[@]}")
ck_to_classic=$(med "${ck_cl_r[@]}")
ratio() { awk -v a="$1" -v b="$base" 'BEGIN { printf "%.2f", a / b }'; }
ratio_def() { awk -v a="$1" -v b="$ck_defaults" 'BEGIN { printf "%.2f", a / b }'; }
line() { printf '  %-40s %10s B/s  ratio %s, to ckermit defaults %s%s\n' "$1" "$2" "$(ratio "$2")" "$(ratio_def "$2")" "${3:-}"; }
printf '  %-40s %10s B/s\n' "ckermit -> ckermit, restricted (baseline)" "$base"
line "ckermit -> ckermit, defaults" "$ck_defaults"
line "ours -> ckermit, defaults" "$ours_to_ck" " (target >= 1.0 of ckermit defaults)"
line "ckermit -> ours, defaults" "$ck_to_ours" " (target >= 1.0 of ckermit defaults)"
line "ours -> ours, defaults" "$ours_to_ours"
line "ours --classic -> ckermit" "$classic_to_ck" " (target >= 1.0 of the baseline)"
line "ckermit -> ours --classic" "$ck_to_classic" " (target >= 1.0 of the baseline)"

# Peak resident memory of the program, sender and receiver, for a 1 MiB file sent whole
# and for a 1 GiB file sent for MEM_SECONDS seconds (a stop-and-wait transfer of the whole
# gigabyte would take most of an hour; the buffers are fixed, so the peak shows early).
peak_kb() { awk '/VmHWM/ { print $2 }' "/proc/$1/status" 2>/dev/null || echo 0; }
mem_run() {
  local file=$1 seconds=$2
  rm -f "$work/dst/"*
  start_pair
  "$CLI" receive --quiet "$work/A" "$work/dst" &
  local rpid=$!
  sleep 0.3
  "$CLI" send --quiet --check 3 "$work/B" "$file" &
  local spid=$!
  local rpeak=0 speak=0 waited=0
  while kill -0 "$spid" 2>/dev/null && [ "$waited" -lt $((seconds * 10)) ]; do
    speak=$(( $(peak_kb "$spid") > speak ? $(peak_kb "$spid") : speak ))
    rpeak=$(( $(peak_kb "$rpid") > rpeak ? $(peak_kb "$rpid") : rpeak ))
    sleep 0.1
    waited=$((waited + 1))
  done
  local moved
  moved=$(stat -c %s "$work/dst/$(basename "$file")" 2>/dev/null || echo 0)
  kill "$spid" "$rpid" 2>/dev/null || true
  wait "$spid" "$rpid" 2>/dev/null || true
  stop_pair
  echo "$speak $rpeak $moved"
}
head -c 1048576 /dev/urandom > "$work/src/small.bin"
truncate -s 1G "$work/src/huge.bin"
read -r s1 r1 m1 < <(mem_run "$work/src/small.bin" 60)
read -r s2 r2 m2 < <(mem_run "$work/src/huge.bin" "$MEM_SECONDS")
echo "vxkermit peak resident memory (KiB)"
printf '  %-34s send %7s  receive %7s  (%s bytes moved)\n' "1 MiB file" "$s1" "$r1" "$m1"
printf '  %-34s send %7s  receive %7s  (%s bytes moved)\n' "1 GiB file, first ${MEM_SECONDS} s" "$s2" "$r2" "$m2"
printf '  difference: send %s KiB, receive %s KiB (target: within a few MB)\n' "$((s2 - s1))" "$((r2 - r1))"

# The faulty line: the faultyline program joins two pty pairs and flips bits on the way.
[ -n "$FAULTY" ] || { echo "Faulty line: skipped (no faultyline program given)"; exit 0; }
mkdir -p "$work/fdst"
head -c $((FAULT_SIZE_KB * 1024)) /dev/urandom > "$work/src/faulty.bin"
fsize=$(stat -c %s "$work/src/faulty.bin")

start_faulty() {
  rm -f "$work/FA" "$work/FB"
  "$FAULTY" --flip "$FAULT_FLIP" --seed "$1" "$work/FA" "$work/FB" >/dev/null 2>>"$work/line.log" &
  line_pid=$!
  for _ in $(seq 200); do [ -e "$work/FA" ] && [ -e "$work/FB" ] && return; sleep 0.02; done
  echo "faultyline made no line" >&2; exit 1
}
stop_faulty() { kill "$line_pid" 2>/dev/null || true; wait "$line_pid" 2>/dev/null || true; line_pid=; }

# Receivers run in the background and exec their program, so that their pid is the one to end.
f_recv_ours() { exec timeout -s KILL "$FAULT_LIMIT" "$CLI" receive --quiet "$1" "$work/fdst" 2>/dev/null; }
f_send_ours() { timeout -s KILL "$FAULT_LIMIT" "$CLI" send --quiet "$1" "$work/src/faulty.bin" 2>/dev/null; }
f_recv_ck() {
  cd "$work/fdst" || exit 1
  exec timeout -s KILL "$FAULT_LIMIT" kermit -Y -H -q -C "$(ck_base "$1")${2:+, $2}, receive, exit \\v(status)" </dev/null >/dev/null 2>&1
}
f_send_ck() { timeout -s KILL "$FAULT_LIMIT" kermit -Y -H -q -C "$(ck_base "$1")${2:+, $2}, send $work/src/faulty.bin, exit \\v(status)" </dev/null >/dev/null 2>&1; }

# One run: receiver on FA, sender on FB; prints "ok SECONDS", "failed SECONDS" or, when a
# side reported success with a file that differs, "wrong SECONDS".
faulty_run() {
  local receiver=$1 sender=$2 rextra=$3 sextra=$4 seed=$5
  rm -f "$work/fdst/faulty.bin"
  start_faulty "$seed"
  $receiver "$work/FA" "$rextra" >/dev/null &
  local rpid=$!
  sleep 0.3
  local t0 t1 scode=0 rcode=0
  t0=$(date +%s.%N)
  $sender "$work/FB" "$sextra" || scode=$?
  # A receiver whose sender gave up may wait long for a packet: it gets ten seconds to see.
  for _ in $(seq 100); do kill -0 "$rpid" 2>/dev/null || break; sleep 0.1; done
  kill "$rpid" 2>/dev/null || true
  wait "$rpid" || rcode=$?
  t1=$(date +%s.%N)
  stop_faulty
  local status=failed
  if cmp -s "$work/src/faulty.bin" "$work/fdst/faulty.bin"; then
    [ "$scode" -eq 0 ] && [ "$rcode" -eq 0 ] && status=ok
  elif [ "$scode" -eq 0 ] || [ "$rcode" -eq 0 ]; then
    status=wrong
  fi
  echo "$status $t0 $t1" | awk '{ printf "%s %.2f\n", $1, $3 - $2 }'
}

# Completed runs out of all, the median payload rate of the completed ones and the median
# time of all; the same configurations take turns run by run, on the same seeds.
echo "Kermit over a faulty pty line, one flipped bit in $(awk -v p="$FAULT_FLIP" 'BEGIN { printf "%.0f", 1 / p }') bytes each way, $FAULT_SIZE_KB KiB random file, $FAULT_RUNS runs (seeds $FAULT_SEED + run)"
declare -a f_base f_ours_ck f_ck_ours
for run in $(seq "$FAULT_RUNS"); do
  seed=$((FAULT_SEED + run))
  f_base+=("$(faulty_run f_recv_ck f_send_ck "set receive packet-length 94" "set send packet-length 89" "$seed")")
  f_ours_ck+=("$(faulty_run f_recv_ck f_send_ours "" "" "$seed")")
  f_ck_ours+=("$(faulty_run f_recv_ours f_send_ck "" "" "$seed")")
done
# Prints "completed rate median-seconds wrong" for a configuration's run results.
summary() {
  local ok=0 wrong=0 status sec rates=() secs=()
  for r in "$@"; do
    read -r status sec <<< "$r"
    secs+=("$sec")
    case $status in
      ok) ok=$((ok + 1)); rates+=("$(awk -v s="$fsize" -v t="$sec" 'BEGIN { printf "%.0f", s / t }')") ;;
      wrong) wrong=$((wrong + 1)) ;;
    esac
  done
  local rate=-
  [ "$ok" -eq 0 ] || rate=$(med "${rates[@]}")
  echo "$ok $rate $(printf '%s\n' "${secs[@]}" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }') $wrong"
}
read -r b_ok b_rate b_sec b_wrong < <(summary "${f_base[@]}")
f_line() {
  local name=$1 ok rate sec wrong
  read -r ok rate sec wrong < <(summary "${@:2}")
  local ratios=""
  if [ "$name" != base ]; then
    ratios=$(awk -v ok="$ok" -v bok="$b_ok" -v r="$rate" -v br="$b_rate" 'BEGIN {
      printf "  ratio: completion %s, rate %s", bok ? sprintf("%.2f", ok / bok) : "n/a",
        (r != "-" && br != "-") ? sprintf("%.2f", r / br) : "n/a" }')
  else
    name="ckermit -> ckermit, short packets (baseline)"
  fi
  printf '  %-44s %2s/%s complete %10s B/s  median run %6s s%s\n' "$name" "$ok" "$FAULT_RUNS" "$rate" "$sec" "$ratios"
  [ "$wrong" -eq 0 ] || printf '    %s run(s) reported success with a file that differs\n' "$wrong"
}
f_line base "${f_base[@]}"
f_line "ours -> ckermit" "${f_ours_ck[@]}"
f_line "ckermit -> ours" "${f_ck_ours[@]}"
