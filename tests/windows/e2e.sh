#!/usr/bin/env bash
# End-to-end runs of talvo_cmd.exe under Wine against the simulated phone: standard
# output byte for byte against expected/<case>.txt with CR LF line ends, and the
# exit status. The phones sit on pseudo-terminals that Wine's registry maps to COM
# numbers; every other number leads to nothing.
#
# Usage: tests/windows/e2e.sh <Windows build folder> <talvo_phone_sim>
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
win_build=$(cd "$1" && pwd)
sim=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
exe="$win_build/talvo_cmd.exe"
expected="$here/expected"
. "$here/wine_env.sh"

work="$win_build/e2e"
rm -rf "$work"
mkdir -p "$work"

passed=0
failed=0
phone_pids=()

finish()
{
    local pid
    for pid in "${phone_pids[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
    # Leave the prefix with every port leading to nothing: the pseudo-terminals are gone.
    if [ -n "${WINEPREFIX:-}" ]; then
        talvo_wine_map >/dev/null || echo "wine: could not unmap the ports" >&2
        talvo_wine_stop
    fi
}
trap finish EXIT

pass() { passed=$((passed + 1)); echo "ok    $1"; }
fail()
{
    failed=$((failed + 1))
    echo "FAIL  $1: $2"
}

# The data file with CR LF lines, and what the phone does with each command.
printf '%s\r\n' \
    '; commands for the Windows end-to-end runs' \
    'readversion 02 03 10 20 30 xx 03' \
    'reject 02 02 e0 5a xx 03' \
    'nodata 02 02 e1 5a xx 03' \
    'badsum 02 02 e2 5a xx 03' \
    'broken 02 02 e3 5a xx 03' \
    'silent 02 02 e4 5a xx 03' \
    'lead 02 02 e5 5a xx 03' \
    'vanish 02 02 e6 5a xx 03' >"$work/phone.dat"
cp "$work/phone.dat" "$work/talvo_cmd.dat"
cat >"$work/rules.txt" <<'EOF'
# by the command's first payload byte; everything else gets the plain success
e0 = reject
e1 = nodata
e2 = badsum
e3 = broken
e4 = silent
e5 = lead00
e6 = vanish 3
EOF
printf 'unchanged' >"$work/plain.bin"

# start_phone <name> [options]: starts a phone; its pseudo-terminal in phone_<name>.
start_phone()
{
    local name=$1
    shift
    "$sim" "$@" >"$work/phone_$name.out" 2>"$work/phone_$name.err" </dev/null &
    local pid=$!
    phone_pids+=("$pid")
    eval "phone_pid_$name=$pid"
    local tries line=""
    for ((tries = 0; tries < 100; tries++)); do
        line=$(head -n 1 "$work/phone_$name.out" 2>/dev/null)
        case "$line" in "phone: "*) break ;; esac
        sleep 0.05
    done
    case "$line" in
        "phone: /dev/pts/"*) eval "phone_$name=\${line#phone: }" ;;
        *) echo "phone $name did not start: $(cat "$work/phone_$name.err")" >&2; exit 1 ;;
    esac
}

# The main phone answers by the rules; the plain one succeeds to everything, so a
# command that the main phone rejects shows which phone was reached; one vanishes
# after three bytes of its answer; one ends after its first command.
start_phone main -r "$work/rules.txt"
start_phone plain
start_phone vanish -r "$work/rules.txt"
start_phone once -r "$work/rules.txt" -n 1

talvo_wine_init "$win_build" || exit 1
talvo_wine_map "3=$phone_plain" "5=$phone_vanish" "6=$phone_once" "7=$phone_main" "9=$phone_main" "12=$phone_main" || exit 1

run_ms=0
# run_case <case> <status> <arguments...>: runs the tool in the scratch folder and
# compares its standard output with expected/<case>.txt, line ends as CR LF.
run_case()
{
    local name=$1 want_status=$2
    shift 2
    local out="$work/$name.out" status start
    start=$(date +%s%N)
    (cd "$work" && timeout 30 wine "$exe" "$@" </dev/null >"$out" 2>"$work/$name.err")
    status=$?
    run_ms=$((($(date +%s%N) - start) / 1000000))
    awk '{ printf "%s\r\n", $0 }' "$expected/$name.txt" >"$work/$name.want"
    if ! cmp -s "$work/$name.want" "$out"; then
        fail "$name" "standard output differs (- expected, + got):"
        diff <(od -An -c "$work/$name.want") <(od -An -c "$out") | sed 's/^/      /' | head -20
        return 1
    fi
    if [ "$status" != "$want_status" ]; then
        fail "$name" "exit status $status, expected $want_status"
        return 1
    fi
    pass "$name (${run_ms} ms)"
}

f=(-f phone.dat)
run_case success 0 -p 7 "${f[@]}" readversion
run_case reject 0 -p 7 "${f[@]}" reject
run_case nodata 0 -p 7 "${f[@]}" nodata
run_case badsum 0 -p 7 "${f[@]}" badsum
run_case broken 0 -p 7 "${f[@]}" broken
run_case lead 0 -p 7 "${f[@]}" lead
if run_case timeout 0 -p 7 "${f[@]}" silent; then
    if [ "$run_ms" -lt 3000 ] || [ "$run_ms" -gt 6000 ]; then
        fail "timeout wait" "the run took $run_ms ms, not a little over 3000"
    else
        pass "timeout wait ($run_ms ms)"
    fi
fi
run_case notfound 0 -p 7 "${f[@]}" readall
run_case quiet_success 0 -q -p 7 "${f[@]}" readversion
run_case quiet_reject 0 -p 7 "${f[@]}" reject -q
run_case quiet_notfound 0 -q -p 7 "${f[@]}" NoSuch
run_case default_datafile 0 -q -p 7 readversion  # talvo_cmd.dat in the working folder
run_case missing_datafile 1 -p 7 -f nosuch.dat readversion
run_case usage 0

# Immediate: the phone that ends after one command ends only if the frame came whole.
if run_case immediate 0 -i -p 6 "${f[@]}" readversion; then
    for ((tries = 0; tries < 60; tries++)); do
        kill -0 "$phone_pid_once" 2>/dev/null || break
        sleep 0.05
    done
    if kill -0 "$phone_pid_once" 2>/dev/null; then
        fail "immediate frame" "the phone did not receive the whole frame"
    else
        pass "immediate frame"
    fi
fi

# Numbered ports and device names.
run_case port3 0 -p 3 -b 9600 "${f[@]}" reject
run_case com4 1 -p 4 "${f[@]}" readversion
run_case com0 1 -p 0 "${f[@]}" readversion
run_case device 0 -d COM9 "${f[@]}" readversion
run_case device_unc 0 -d '\\.\COM12' "${f[@]}" readversion
run_case device_none 1 -q -d '\\.\COM11' "${f[@]}" readversion
# A plain COM12 reaches the same port: Windows needs the device prefix from COM10 on,
# and the tool adds it.
run_case device_bare 0 -q -d COM12 "${f[@]}" readversion
if run_case plain_file 1 -q -d plain.bin "${f[@]}" readversion; then
    if [ "$(cat "$work/plain.bin")" = unchanged ]; then
        pass "plain file untouched"
    else
        fail "plain file untouched" "plain.bin now holds '$(cat "$work/plain.bin")'"
    fi
fi

# The phone is unplugged half way through its answer: the partial trace, then the
# time-out after the full wait.
if run_case vanish 0 -p 5 "${f[@]}" vanish; then
    if [ "$run_ms" -lt 3000 ] || [ "$run_ms" -gt 6000 ]; then
        fail "vanish wait" "the run took $run_ms ms, not a little over 3000"
    else
        pass "vanish wait ($run_ms ms)"
    fi
fi

# Every line end of every run is CR LF: no LF without CR before it, no other CR.
bad_ends=""
for out in "$work"/*.out; do
    case "$out" in */phone_*) continue ;; esac
    lf=$(tr -cd '\n' <"$out" | wc -c)
    cr=$(tr -cd '\r' <"$out" | wc -c)
    crlf=$(grep -c $'\r$' "$out")
    if [ "$lf" != "$crlf" ] || [ "$cr" != "$crlf" ]; then bad_ends+=" $(basename "$out")"; fi
done
if [ -z "$bad_ends" ]; then
    pass "CR LF line ends in every output"
else
    fail "CR LF line ends" "bare LF or CR in:$bad_ends"
fi

echo "windows: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
