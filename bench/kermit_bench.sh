#!/usr/bin/env bash
# Kermit benchmarks, each configuration against its baseline run side by side (they take
# turns run by run, so a machine that drifts moves them alike); medians of RUNS runs.
#  1. A socat pty pair, a SIZE_MB random file: ours (the vxkermit program with its defaults)
#     to ckermit, ckermit to ours, ours to ours, against ckermit to ckermit with defaults.
#     Streaming beside them: ours --reliable to ckermit streaming, ckermit streaming to
#     ours --reliable, ours to ours --reliable, and ckermit to ckermit streaming, each
#     against the same baseline and against its windowed row; our sides' time-outs and
#     damaged packets (from their logs) summed per row. Then the basic protocol (--classic)
#     both ways against ckermit restricted to it, on a CLASSIC_MB file.
#  2. A line paced like a serial line between USB adapters (the faultyline program with
#     --baud and --latency-us): 115200 baud with 16 ms latency timers and 3,000,000 baud
#     with 1 ms ones; ours both ways against ckermit to ckermit with defaults, and ours
#     with --classic beside them; payload rate against the line's byte rate.
#  3. The program's peak resident memory (GNU time) sending and receiving a 1 MiB and a
#     1 GiB random file with its largest packets and window.
#  4. A line that flips a bit in a byte with probability FAULT_FLIP (one in 10,000) each
#     way: completion and payload rate, ours both ways against ckermit to ckermit, all with
#     their defaults, FAULT_RUNS runs of a FAULT_SIZE_KB random file.
#  5. CPU time per MiB of each side (GNU time, user plus system): ours to ours and ckermit to
#     ckermit with their defaults on a pty pair, CPU_MB random file, medians of RUNS runs;
#     the target is a sender that costs no more than its receiver.
# SECTIONS (default "pty usb memory cpu faulty") picks the parts to run.
set -euo pipefail

CLI=${1:?usage: kermit_bench.sh path/to/vxkermit [path/to/faultyline]}
FAULTY=${2:-}
RUNS=${RUNS:-3}
SIZE_MB=${SIZE_MB:-64}
CLASSIC_MB=${CLASSIC_MB:-4}
SECTIONS=${SECTIONS:-pty usb memory cpu faulty}
CPU_MB=${CPU_MB:-64}
USB_RUNS=${USB_RUNS:-3}
MEM_MB=${MEM_MB:-1024}
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

# Receivers take DEVICE [CKERMIT-SETTINGS]; senders DEVICE [CKERMIT-SETTINGS] FILE. Our
# program ignores the settings: a pty has no speed, the line's pace is the relay's.
# Our sides log their time-outs and damaged packets to ours.log (see errors_seen).
OURS_LOG=(--log "$work/ours.log" --log-level detail)
recv_ours() { "$CLI" receive --quiet "${OURS_LOG[@]}" "$1" "$work/dst"; }
send_ours() { "$CLI" send --quiet "${OURS_LOG[@]}" --check 3 "$1" "$3"; }
recv_reliable() { "$CLI" receive --quiet "${OURS_LOG[@]}" --reliable "$1" "$work/dst"; }
send_reliable() { "$CLI" send --quiet "${OURS_LOG[@]}" --reliable --check 3 "$1" "$3"; }
STREAM="set reliable on, set streaming on"
# Time-outs and damaged packets our sides logged since the last call; the log starts anew.
errors_seen() {
  local n=0
  [ -f "$work/ours.log" ] && n=$(grep -c -e 'Timeout!' -e 'Bad check sum' -e 'Out of sequence' "$work/ours.log" || true)
  rm -f "$work/ours.log"
  echo "$n"
}
sum() { printf '%s\n' "$@" | awk '{ s += $1 } END { print s + 0 }'; }
recv_classic() { "$CLI" receive --quiet --classic "$1" "$work/dst"; }
send_classic() { "$CLI" send --quiet --classic --check 3 "$1" "$3"; }
recv_ck() { (cd "$work/dst" && timeout 900 kermit -Y -H -q -C "$(ck_base "$1")${2:+, $2}, receive, exit \\v(status)" </dev/null >/dev/null); }
send_ck() { timeout 900 kermit -Y -H -q -C "$(ck_base "$1")${2:+, $2}, send $3, exit \\v(status)" </dev/null >/dev/null; }

# One run: receiver on A, sender on B; prints payload bytes per second.
one_run() {
  local receiver=$1 sender=$2 rextra=${3:-} sextra=${4:-} file=${5:-big.bin}
  rm -f "$work/dst/$file"
  start_pair
  $receiver "$work/A" "$rextra" &
  local rpid=$!
  sleep 0.3
  local t0 t1
  t0=$(date +%s.%N)
  $sender "$work/B" "$sextra" "$work/src/$file"
  wait "$rpid"
  t1=$(date +%s.%N)
  stop_pair
  cmp -s "$work/src/$file" "$work/dst/$file" || { echo "transfer damaged $file" >&2; exit 1; }
  echo "$(stat -c %s "$work/src/$file") $t0 $t1" | awk '{ printf "%.0f\n", $1 / ($3 - $2) }'
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
med() { printf '%s\n' "$@" | median; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
wants() { case " $SECTIONS " in *" $1 "*) return 0 ;; esac; return 1; }

if wants pty; then
  head -c $((CLASSIC_MB * 1048576)) /dev/urandom > "$work/src/classic.bin"
  echo "Kermit over a pty pair, ${SIZE_MB} MiB random file, median of $RUNS runs"
  declare -a ck_def_r ours_ck_r ck_ours_r ours_ours_r base_r cl_ck_r ck_cl_r
  declare -a ck_st_r ours_ck_st_r ck_ours_st_r ours_ours_st_r
  declare -a e_oc e_co e_oo e_oc_st e_co_st e_oo_st
  errors_seen >/dev/null
  for _ in $(seq "$RUNS"); do
    ck_def_r+=("$(one_run recv_ck send_ck)")
    ours_ck_r+=("$(one_run recv_ck send_ours)")
    e_oc+=("$(errors_seen)")
    ck_ours_r+=("$(one_run recv_ours send_ck)")
    e_co+=("$(errors_seen)")
    ours_ours_r+=("$(one_run recv_ours send_ours)")
    e_oo+=("$(errors_seen)")
    ck_st_r+=("$(one_run recv_ck send_ck "$STREAM" "$STREAM")")
    ours_ck_st_r+=("$(one_run recv_ck send_reliable "$STREAM")")
    e_oc_st+=("$(errors_seen)")
    ck_ours_st_r+=("$(one_run recv_reliable send_ck "" "$STREAM")")
    e_co_st+=("$(errors_seen)")
    ours_ours_st_r+=("$(one_run recv_reliable send_reliable)")
    e_oo_st+=("$(errors_seen)")
    base_r+=("$(one_run recv_ck send_ck "$RESTRICT, set receive packet-length 94" "$RESTRICT, set send packet-length 89" classic.bin)")
    cl_ck_r+=("$(one_run recv_ck send_classic "" "" classic.bin)")
    ck_cl_r+=("$(one_run recv_classic send_ck "" "" classic.bin)")
  done
  ck_def=$(med "${ck_def_r[@]}")
  base=$(med "${base_r[@]}")
  line() { printf '  %-44s %10s B/s  ratio %s%s\n' "$1" "$2" "$(ratio "$2" "$3")" "${4:-}"; }
  printf '  %-44s %10s B/s\n' "ckermit -> ckermit, defaults (baseline)" "$ck_def"
  oc=$(med "${ours_ck_r[@]}")
  co=$(med "${ck_ours_r[@]}")
  oo=$(med "${ours_ours_r[@]}")
  errs() { printf ', %s time-outs/damaged in %s runs' "$(sum "$@")" "$RUNS"; }
  line "ours -> ckermit, defaults" "$oc" "$ck_def" " (target >= 1.0)$(errs "${e_oc[@]}")"
  line "ckermit -> ours, defaults" "$co" "$ck_def" " (target >= 1.0)$(errs "${e_co[@]}")"
  line "ours -> ours, defaults" "$oo" "$ck_def" " (target >= 1.2)$(errs "${e_oo[@]}")"
  echo "  streaming (ours --reliable, ckermit: $STREAM); of windows: against the row above"
  sline() {
    printf '  %-44s %10s B/s  ratio %s, of windows %s%s\n' "$1" "$2" "$(ratio "$2" "$ck_def")" \
      "$(ratio "$2" "$3")" "${4:-}"
  }
  sline "ckermit -> ckermit, streaming" "$(med "${ck_st_r[@]}")" "$ck_def"
  sline "ours -> ckermit, streaming" "$(med "${ours_ck_st_r[@]}")" "$oc" " (target >= 1.0 of windows)$(errs "${e_oc_st[@]}")"
  sline "ckermit -> ours, streaming" "$(med "${ck_ours_st_r[@]}")" "$co" " (target >= 1.0 of windows)$(errs "${e_co_st[@]}")"
  sline "ours -> ours, streaming" "$(med "${ours_ours_st_r[@]}")" "$oo" " (target >= 1.0 of windows)$(errs "${e_oo_st[@]}")"
  echo "  basic protocol, ${CLASSIC_MB} MiB random file"
  printf '  %-44s %10s B/s\n' "ckermit -> ckermit, restricted (baseline)" "$base"
  line "ours --classic -> ckermit" "$(med "${cl_ck_r[@]}")" "$base" " (target >= 1.0)"
  line "ckermit -> ours --classic" "$(med "${ck_cl_r[@]}")" "$base" " (target >= 1.0)"
fi

# The USB serial line: faultyline paces bytes at the baud rate and hands them over as the
# adapters at each end would. One run: receiver on UA, sender on UB; prints payload B/s.
start_usb() {
  rm -f "$work/UA" "$work/UB"
  "$FAULTY" --baud "$1" --latency-us "$2" "$work/UA" "$work/UB" >/dev/null 2>>"$work/usb.log" &
  line_pid=$!
  for _ in $(seq 200); do [ -e "$work/UA" ] && [ -e "$work/UB" ] && return; sleep 0.02; done
  echo "faultyline made no line" >&2; exit 1
}
usb_run() {
  local baud=$1 latency=$2 receiver=$3 sender=$4 file=$5
  rm -f "$work/dst/$file"
  start_usb "$baud" "$latency"
  $receiver "$work/UA" "set speed $baud" &
  local rpid=$!
  sleep 0.3
  local t0 t1
  t0=$(date +%s.%N)
  $sender "$work/UB" "set speed $baud" "$work/src/$file"
  wait "$rpid"
  t1=$(date +%s.%N)
  kill "$line_pid" 2>/dev/null || true; wait "$line_pid" 2>/dev/null || true; line_pid=
  cmp -s "$work/src/$file" "$work/dst/$file" || { echo "transfer damaged $file" >&2; exit 1; }
  echo "$(stat -c %s "$work/src/$file") $t0 $t1" | awk '{ printf "%.0f\n", $1 / ($3 - $2) }'
}
usb_section() {
  local baud=$1 latency=$2 kib=$3 classic_kib=$4
  local rate=$((baud / 10))
  head -c $((kib * 1024)) /dev/urandom > "$work/src/usb.bin"
  head -c $((classic_kib * 1024)) /dev/urandom > "$work/src/usbc.bin"
  echo "Kermit over a USB serial line at $baud baud (8N1: $rate B/s), ${latency} us latency timers, ${kib} KiB random file, median of $USB_RUNS runs"
  local ck=() oc=() co=() cl=()
  for _ in $(seq "$USB_RUNS"); do
    ck+=("$(usb_run "$baud" "$latency" recv_ck send_ck usb.bin)")
    oc+=("$(usb_run "$baud" "$latency" recv_ck send_ours usb.bin)")
    co+=("$(usb_run "$baud" "$latency" recv_ours send_ck usb.bin)")
    cl+=("$(usb_run "$baud" "$latency" recv_ck send_classic usbc.bin)")
  done
  local base target=$5
  base=$(med "${ck[@]}")
  uline() {
    printf '  %-40s %8s B/s  %s of the line, %s of ckermit%s\n' "$1" "$2" "$(ratio "$2" "$rate")" "$(ratio "$2" "$base")" "${3:-}"
  }
  uline "ckermit -> ckermit, defaults" "$base"
  uline "ours -> ckermit" "$(med "${oc[@]}")" " (target >= $target of the line, >= 1.0 of ckermit)"
  uline "ckermit -> ours" "$(med "${co[@]}")" " (target >= $target of the line, >= 1.0 of ckermit)"
  uline "ours --classic -> ckermit (${classic_kib} KiB)" "$(med "${cl[@]}")"
}
if wants usb; then
  if [ -z "$FAULTY" ]; then
    echo "USB serial line: skipped (no faultyline program given)"
  else
    usb_section 115200 16000 "${USB_SLOW_KB:-512}" 64 0.90
    usb_section 3000000 1000 "${USB_FAST_KB:-8192}" 512 0.85
  fi
fi

# Peak resident memory (GNU time) of the program sending and receiving a whole file.
mem_run() {
  local file=$1
  rm -f "$work/dst/"*
  start_pair
  /usr/bin/time -f %M -o "$work/rmem" "$CLI" receive --quiet "$work/A" "$work/dst" &
  local rpid=$!
  sleep 0.3
  /usr/bin/time -f %M -o "$work/smem" "$CLI" send --quiet --check 3 "$work/B" "$file"
  wait "$rpid"
  stop_pair
  cmp -s "$file" "$work/dst/$(basename "$file")" || { echo "transfer damaged $file" >&2; exit 1; }
  echo "$(cat "$work/smem") $(cat "$work/rmem")"
}
if wants memory; then
  head -c 1048576 /dev/urandom > "$work/src/small.bin"
  head -c $((MEM_MB * 1048576)) /dev/urandom > "$work/src/huge.bin"
  read -r s1 r1 < <(mem_run "$work/src/small.bin")
  read -r s2 r2 < <(mem_run "$work/src/huge.bin")
  rm -f "$work/src/huge.bin" "$work/dst/huge.bin"
  echo "vxkermit peak resident memory (KiB), largest packets and window"
  printf '  %-20s send %7s  receive %7s\n' "1 MiB file" "$s1" "$r1"
  printf '  %-20s send %7s  receive %7s\n' "${MEM_MB} MiB file" "$s2" "$r2"
  printf '  difference: send %s KiB, receive %s KiB (target: within a few MB)\n' "$((s2 - s1))" "$((r2 - r1))"
fi

# CPU seconds per MiB of a sender and its receiver (SEND and RECV are the functions above).
cpu_run() {
  local send=$1 recv=$2 file=$3 mib=$4
  rm -f "$work/dst/"*
  start_pair
  /usr/bin/time -f '%U %S' -o "$work/rcpu" bash -c "$(declare -f "$recv" ck_base); work=$work CLI=$CLI $recv $work/A" &
  local rpid=$!
  sleep 0.3
  /usr/bin/time -f '%U %S' -o "$work/scpu" bash -c "$(declare -f "$send" ck_base); CLI=$CLI $send $work/B '' $file"
  wait "$rpid"
  stop_pair
  cmp -s "$file" "$work/dst/$(basename "$file")" || { echo "transfer damaged $file" >&2; exit 1; }
  awk -v m="$mib" 'NR == FNR { s = ($1 + $2) / m; next } { r = ($1 + $2) / m } END { printf "%.5f %.5f\n", s, r }' \
    "$work/scpu" "$work/rcpu"
}
if wants cpu; then
  head -c $((CPU_MB * 1048576)) /dev/urandom > "$work/src/cpu.bin"
  declare -a os or cs cr
  for _ in $(seq "$RUNS"); do
    read -r a b < <(cpu_run send_ours recv_ours "$work/src/cpu.bin" "$CPU_MB"); os+=("$a"); or+=("$b")
    read -r a b < <(cpu_run send_ck recv_ck "$work/src/cpu.bin" "$CPU_MB"); cs+=("$a"); cr+=("$b")
  done
  rm -f "$work/src/cpu.bin"
  s_ours=$(med "${os[@]}") r_ours=$(med "${or[@]}") s_ck=$(med "${cs[@]}") r_ck=$(med "${cr[@]}")
  echo "CPU seconds per MiB, ${CPU_MB} MiB over a pty pair, medians of $RUNS"
  printf '  %-22s sender %s  receiver %s  sender/receiver %s\n' "ckermit to ckermit" "$s_ck" "$r_ck" "$(ratio "$s_ck" "$r_ck")"
  printf '  %-22s sender %s  receiver %s  sender/receiver %s (target <= 1.0)\n' "ours to ours" "$s_ours" "$r_ours" "$(ratio "$s_ours" "$r_ours")"
  printf '  ours / ckermit: sender %s, receiver %s\n' "$(ratio "$s_ours" "$s_ck")" "$(ratio "$r_ours" "$r_ck")"
fi

# The faulty line: the faultyline program joins two pty pairs and flips bits on the way.
wants faulty || exit 0
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
