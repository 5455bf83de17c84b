#!/usr/bin/env bash
# The bash completion of talvo_cmd, driven as bash drives it: source the file, set
# COMP_WORDS and COMP_CWORD (and COMP_LINE and COMP_POINT where a test says so), call
# the function that `complete -p talvo_cmd` names, and compare COMPREPLY.
#
#   tests/package/completion.sh [completion file]   (default: completion/talvo_cmd.bash)
#
# Completion never opens a device: the device names come from a glob.
set -uo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
completion=$(realpath "${1:-$top/completion/talvo_cmd.bash}")

# shellcheck source=tests/package/checks.sh
source "$(dirname "$(realpath "${BASH_SOURCE[0]}")")/checks.sh"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"

# shellcheck source=/dev/null
source "$completion"

# complete WORD... : completes the last word with COMP_WORDS alone; sets got to the
# replies, one per line.
complete_words()
{
    unset COMP_LINE COMP_POINT
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    COMPREPLY=()
    "$function" talvo_cmd "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]:-}"
    got=$(printf '%s\n' "${COMPREPLY[@]}")
}

# expect "WORD..." "REPLY..." : completes and compares the replies, in order.
expect()
{
    local -a words
    read -r -a words <<<"$1"
    [[ $1 == *" " ]] && words+=("")
    complete_words "${words[@]}"
    local want
    want=$(printf '%s\n' $2)
    [[ -z $2 ]] && want=""
    [[ $got == "$want" ]] && ok || bad "'$1': got [$(echo $got)], want [$(echo $want)]"
}

# expect_sorted: as expect, in any order.
expect_sorted()
{
    local -a words
    read -r -a words <<<"$1"
    [[ $1 == *" " ]] && words+=("")
    complete_words "${words[@]}"
    got=$(sort <<<"$got")
    local want
    want=$(printf '%s\n' $2 | sort)
    [[ -z $2 ]] && want=""
    [[ $got == "$want" ]] && ok || bad "'$1': got [$(echo $got)], want [$(echo $want)]"
}

# --- registration
registered=$(complete -p talvo_cmd 2>/dev/null)
if [[ $registered =~ ^complete\ -F\ ([^ ]+)\ talvo_cmd$ ]]; then
    ok
    function=${BASH_REMATCH[1]}
else
    bad "complete -p talvo_cmd: '$registered'"
    report completion
    exit 1
fi

# --- options and their values
expect_sorted "talvo_cmd -" "-p -b -f -d -q -i -h --help"
expect_sorted "talvo_cmd --" "--help"
expect_sorted "talvo_cmd -q -" "-p -b -f -d -q -i -h --help"
expect "talvo_cmd -b " "2400 4800 9600 19200"
expect "talvo_cmd -b 9" "9600"
expect "talvo_cmd -b 1" "19200"
expect "talvo_cmd -B " "2400 4800 9600 19200"
expect "talvo_cmd -p " "0 1 2 3 4 5 6 7 8"
expect "talvo_cmd -P " "0 1 2 3 4 5 6 7 8"
expect "talvo_cmd -q -p 3 -b " "2400 4800 9600 19200"

# --- file names after -f and -d
mkdir sub
: >phone.dat
: >other.dat
: >sub/inner.dat
expect_sorted "talvo_cmd -f " "other.dat phone.dat sub"
expect_sorted "talvo_cmd -f p" "phone.dat"
expect_sorted "talvo_cmd -f sub/" "sub/inner.dat"
expect_sorted "talvo_cmd -F o" "other.dat"

# After -d: the /dev/tty* names that may be serial ports, found by glob, come first,
# then the file names.
devices=()
while IFS= read -r d; do
    [[ $d == /dev/tty || $d == /dev/tty[0-9]* ]] || devices+=("$d")
done < <(compgen -G "/dev/tty*")
expect "talvo_cmd -d " "${devices[*]} other.dat phone.dat sub"
expect "talvo_cmd -D ph" "phone.dat"
complete_words talvo_cmd -d /dev/tty
first=$(head -n "${#devices[@]}" <<<"$got" | tr '\n' ' ')
[[ "$first" == "$(printf '%s ' "${devices[@]}")" || ${#devices[@]} -eq 0 ]] && ok ||
    bad "-d /dev/tty: serial devices not first: $first"
# The virtual consoles are still reachable by file name, after the serial devices.
rest=$(tail -n +"$((${#devices[@]} + 1))" <<<"$got")
grep -qx /dev/tty <<<"$rest" && ok || bad "-d /dev/tty: no /dev/tty after the devices"

# A value is taken as the option's value whatever it looks like.
expect "talvo_cmd -f -b " ""
expect "talvo_cmd -d -p " ""

# --- command names from the data file in force
crlf() { printf '%s\r\n' "$@"; }
crlf "; the phone's commands" "# comment" "GetVer 02 02 10 01 xx 03" \
    "read 02 03 10 20 30 xx 03" "readall 02 00 xx 03" "  indented 02 00 xx 03" "" \
    "reset	02 01 7f xx 03" "read 02 00 xx 03" ";hidden 02" "#hidden2 02" >talvo_cmd.dat
printf 'unfinished 02 00 xx 03' >>talvo_cmd.dat
expect "talvo_cmd " "getver read readall reset"
expect "talvo_cmd re" "read readall reset"
expect "talvo_cmd RE" "read readall reset"
expect "talvo_cmd readA" "readall"
expect "talvo_cmd -q -i -p 2 -b 9600 g" "getver"
expect "talvo_cmd u" ""
expect "talvo_cmd i" ""
expect "talvo_cmd h" ""
expect "talvo_cmd -x " "getver read readall reset"
# A word before the cursor that names a command changes nothing.
expect "talvo_cmd reset g" "getver"

# The last -f before the cursor names the file; one after it does not count.
crlf "version 02 02 10 01 xx 03" "battery 02 01 20 xx 03" >phone.dat
crlf "other1 02 00 xx 03" >other.dat
expect "talvo_cmd -f phone.dat " "version battery"
expect "talvo_cmd -f other.dat -f phone.dat " "version battery"
expect "talvo_cmd -f phone.dat -f other.dat " "other1"
complete_words talvo_cmd -f phone.dat "" -f other.dat
COMP_CWORD=3
"$function" talvo_cmd "" phone.dat
[[ "${COMPREPLY[*]}" == "version battery" ]] && ok || bad "-f after the cursor: ${COMPREPLY[*]}"
expect "talvo_cmd -f missing.dat " ""
expect "talvo_cmd -f sub " ""
expect "talvo_cmd -f sub/inner.dat " ""

# Quoted and ~/ paths after -f.
crlf "quoted 02 00 xx 03" >"my phone.dat"
complete_words talvo_cmd -f "'my phone.dat'" ""
[[ $got == quoted ]] && ok || bad "-f 'my phone.dat': $got"
complete_words talvo_cmd -f '"my phone.dat"' ""
[[ $got == quoted ]] && ok || bad "-f \"my phone.dat\": $got"
complete_words talvo_cmd -f 'my\ phone.dat' ""
[[ $got == quoted ]] && ok || bad "-f my\\ phone.dat: $got"
HOME=$scratch/sub
crlf "athome 02 00 xx 03" >sub/home.dat
complete_words talvo_cmd -f '~/home.dat' ""
[[ $got == athome ]] && ok || bad "-f ~/home.dat: $got"

# LF-only lines yield nothing; lines that end with CR alone lose their first byte
# after the first line; an LF-only line merges with the next CR line.
printf 'first 02 00 xx 03\nsecond 02 00 xx 03\n' >lf.dat
expect "talvo_cmd -f lf.dat " ""
printf 'alpha 02\rbeta 02\rgamma 02\r' >cr.dat
expect "talvo_cmd -f cr.dat " "alpha eta amma"
printf 'merged 02\nhidden 02\r\nshown 02\r\n' >mixed.dat
expect "talvo_cmd -f mixed.dat " "merged shown"

# Only the first 10000 bytes are read: a line whose CR is the 10000th byte counts,
# one whose CR is the 10001st does not.
{
    crlf "early 02 00 xx 03"
    for ((k = 0; k < 9971; k++)); do printf ';'; done
    printf '\r\n'
    printf 'edge 02\r'
} >limit.dat
size=$(stat -c %s limit.dat)
[[ $size -eq 10000 ]] && ok || bad "limit.dat is $size bytes"
expect "talvo_cmd -f limit.dat " "early edge"
printf '\n' >>limit.dat
crlf "beyond 02 00 xx 03" >>limit.dat
expect "talvo_cmd -f limit.dat " "early edge"
{
    crlf "early 02 00 xx 03"
    for ((k = 0; k < 9972; k++)); do printf ';'; done
    printf '\r\n'
    printf 'edge 02\r\n'
} >limit2.dat
expect "talvo_cmd -f limit2.dat " "early"

# A zero byte inside a line ends the reading; one right after a CR is skipped and
# the reading goes on, but the text after it is no longer lowercased.
printf 'one 02\r\ntw\0o 02\r\nthree 02\r\n' >zero.dat
expect "talvo_cmd -f zero.dat " "one"
printf 'one 02\r\0Upper 02\r\nlower 02\r\n' >zero2.dat
expect "talvo_cmd -f zero2.dat " "one lower"
printf '\0one 02\r\n' >zero3.dat
expect "talvo_cmd -f zero3.dat " ""

# An empty file, and one with only comments.
: >empty.dat
expect "talvo_cmd -f empty.dat " ""
crlf "; a" "# b" >comments.dat
expect "talvo_cmd -f comments.dat " ""

# Names holding a word-break character: with COMP_LINE, bash replaces only the part
# after the last : or =, and gets the rest of the name.
crlf "get:imei 02 00 xx 03" "set=1 02 00 xx 03" >talvo_cmd.dat
COMP_LINE="talvo_cmd get:i"
COMP_POINT=${#COMP_LINE}
COMP_WORDS=(talvo_cmd get : i)
COMP_CWORD=3
COMPREPLY=()
"$function" talvo_cmd i :
[[ "${COMPREPLY[*]}" == "imei" ]] && ok || bad "get:i: ${COMPREPLY[*]}"
COMP_LINE="talvo_cmd -f 'talvo_cmd.dat' se"
COMP_POINT=${#COMP_LINE}
COMP_WORDS=(talvo_cmd -f "'talvo_cmd.dat'" se)
COMP_CWORD=3
COMPREPLY=()
"$function" talvo_cmd se "'talvo_cmd.dat'"
[[ "${COMPREPLY[*]}" == "set=1" ]] && ok || bad "COMP_LINE se: ${COMPREPLY[*]}"
COMP_LINE="talvo_cmd -b  talvo_cmd"
COMP_POINT=13
COMP_WORDS=(talvo_cmd -b "" talvo_cmd)
COMP_CWORD=2
COMPREPLY=()
"$function" talvo_cmd "" -b
[[ "${COMPREPLY[*]}" == "2400 4800 9600 19200" ]] && ok || bad "COMP_POINT mid-line: ${COMPREPLY[*]}"
unset COMP_LINE COMP_POINT

# A name with characters special to the shell is quoted.
crlf 'it$s 02 00 xx 03' >talvo_cmd.dat
expect "talvo_cmd i" 'it\$s'

report completion
