#!/usr/bin/env bash
# Checks the Debian package: its control fields and file list, then unpacks it into
# a scratch root (dpkg -x) and checks what a user gets from it: the installed tool
# runs (banner and usage, status 0), the manual pages render without a warning and
# pass both linters, the example files have CR LF lines, the completion works, and
# the installed tool talks to the installed simulated phone.
#
#   tests/package/check-deb.sh dist/talvo-cmd_0.8_amd64.deb
#
# No real serial device is opened: the exchanges use the simulated phone's
# pseudo-terminal through -d.
set -uo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
deb=$(realpath "$1")

# shellcheck source=tests/package/checks.sh
source "$(dirname "$(realpath "${BASH_SOURCE[0]}")")/checks.sh"

scratch=$(mktemp -d)
sim_pid=""
cleanup()
{
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null
        wait "$sim_pid" 2>/dev/null
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT

banner="Talvo command line communication tool v0.8 <talvo-cmd@example.org>"

# --- control fields
field() { dpkg-deb -f "$deb" "$1"; }
check "file name" test "$(basename "$deb")" = "talvo-cmd_0.8_amd64.deb"
check "Package" test "$(field Package)" = "talvo-cmd"
check "Version" test "$(field Version)" = "0.8"
check "Architecture" test "$(field Architecture)" = "amd64"
check "Maintainer" test "$(field Maintainer)" = "talvo_cmd maintainers <talvo-cmd@example.org>"
check "Section" test -n "$(field Section)"
check "Depends from the shared libraries (libc6)" grep -q '^libc6 (>= ' <<<"$(field Depends)"
check "Description" test "$(field Description | head -n 1)" = \
    "sends one command frame to a phone on a serial port, checks the answer"
check "long description" test "$(field Description | wc -l)" -gt 3

# --- file list: exactly these files, and nothing outside /usr
expected_files="./usr/bin/talvo_cmd
./usr/bin/talvo_phone_sim
./usr/share/bash-completion/completions/talvo_cmd
./usr/share/doc/talvo-cmd/guide.md
./usr/share/doc/talvo-cmd/phone_rules.txt
./usr/share/doc/talvo-cmd/talvo_cmd.dat
./usr/share/man/man1/talvo_cmd.1.gz
./usr/share/man/man1/talvo_phone_sim.1.gz"
listing=$(dpkg-deb -c "$deb")
files=$(awk '$1 ~ /^-/ {print $6}' <<<"$listing" | sort)
if [ "$files" = "$expected_files" ]; then
    ok
else
    bad "file list differs:"
    diff <(echo "$expected_files") <(echo "$files")
fi
check "no links or devices in the package" test -z "$(awk '$1 !~ /^[-d]/' <<<"$listing")"
check "everything under ./usr" test -z "$(awk '$6 !~ /^\.\/(usr\/.*)?$/' <<<"$listing")"
check "programs are executable" grep -q '^-rwxr-xr-x root/root .* \./usr/bin/talvo_cmd$' <<<"$listing"

# --- unpacked into a scratch root
root=$scratch/root
check "dpkg -x" dpkg -x "$deb" "$root"
tool=$root/usr/bin/talvo_cmd
sim=$root/usr/bin/talvo_phone_sim
doc=$root/usr/share/doc/talvo-cmd

check "talvo_cmd is stripped" grep -q ', stripped' <<<"$(file "$tool")"
check "talvo_cmd finds its libraries" test -z "$(ldd "$tool" | grep 'not found')"
check "talvo_phone_sim finds its libraries" test -z "$(ldd "$sim" 2>&1 | grep 'not found')"

# Run without arguments: banner, empty line, usage; status 0.
out=$(cd "$scratch" && "$tool")
status=$?
check "no arguments: status 0 (got $status)" test "$status" -eq 0
check "no arguments: banner first" test "$(sed -n 1p <<<"$out")" = "$banner"
check "no arguments: empty line after the banner" test -z "$(sed -n 2p <<<"$out")"
check "no arguments: usage" test "$(sed -n 3p <<<"$out")" = "Usage:"
check "no arguments: synopsis" grep -qF \
    "talvo_cmd [-p <portnum>] [-b <speed>] [-q] [-i] [-f <file>] <command name>" <<<"$out"
for option in "-p <portnum>" "-d <device>" "-b <speed>" "-f <file>" "-q" "-i"; do
    check "usage names $option" grep -qF -- "   $option : " <<<"$out"
done
help=$(cd "$scratch" && "$tool" --help)
status=$?
check "--help: status 0, same text" test "$status" -eq 0 -a "$help" = "$out"
help=$(cd "$scratch" && "$tool" -h)
status=$?
check "-h: status 0, same text" test "$status" -eq 0 -a "$help" = "$out"
out=$(cd "$scratch" && "$tool" -q)
status=$?
check "no command name: status 1 (got $status)" test "$status" -eq 1
check "no command name: message" test "$(sed -n 1p <<<"$out")" = "Error: no command name given!"

# The example files: CR LF on every line (a data file with LF-only lines holds no
# commands), and nothing after the last line end.
for example in talvo_cmd.dat phone_rules.txt; do
    [ -f "$doc/$example" ] || continue
    bare_lf=$(tr -d '\r' <"$doc/$example" | wc -l)
    crlf=$(grep -c $'\r$' "$doc/$example")
    if [ "$example" = talvo_cmd.dat ]; then
        check "$example: every line ends with CR LF" test "$bare_lf" -eq "$crlf" -a "$crlf" -gt 0
        check "$example: ends with a line end" test "$(tail -c 2 "$doc/$example" | od -An -tx1 | tr -d ' ')" = "0d0a"
    fi
done

# --- manual pages: both linters clean, man renders them without a warning, and
# every option and message is documented.
for page in talvo_cmd talvo_phone_sim; do
    gz=$root/usr/share/man/man1/$page.1.gz
    src=$scratch/$page.1
    zcat "$gz" >"$src" || { bad "$page.1.gz does not unpack"; continue; }
    check "$page.1 is the source page" cmp -s "$src" "$top/man/$page.1"
    warnings=$(groff -man -ww -z "$src" 2>&1)
    check "groff -man -ww -z $page.1: $warnings" test -z "$warnings"
    warnings=$(mandoc -T lint -W style "$src" 2>&1)
    check "mandoc -T lint $page.1: $warnings" test -z "$warnings"
    warnings=$(MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings -l "$gz" 2>&1 >"$scratch/$page.txt")
    check "man -l $page.1.gz: $warnings" test -z "$warnings"
done
# Plain text, one paragraph a line, no hyphenation, blanks squeezed.
render() { groff -man -Tascii -P-cbu -rLL=3000n -rHY=0 "$1" 2>/dev/null | tr -s ' '; }
# man finds the pages by name in the unpacked tree, as it does under /usr.
for page in talvo_cmd talvo_phone_sim; do
    check "man -M finds $page" test "$(man -M "$root/usr/share/man" -w "$page" 2>/dev/null)" = \
        "$root/usr/share/man/man1/$page.1.gz"
    check "man -M renders $page" grep -q "^NAME" <<<"$(MANWIDTH=80 man -M "$root/usr/share/man" "$page" 2>/dev/null)"
done
rendered=$(render "$scratch/talvo_cmd.1")
for section in NAME SYNOPSIS DESCRIPTION OPTIONS "DATA FILE" DIAGNOSTICS "EXIT STATUS" \
    FILES EXAMPLES TROUBLESHOOTING "SEE ALSO"; do
    check "talvo_cmd(1) has $section" grep -qx "$section" <<<"$rendered"
done
for text in "-p portnum" "-d device" "-b speed" "-f file" "-q" "-i" "-h, --help" \
    "/dev/ttyS0" "/dev/ttyS7" "/dev/ttyUSB0" "dialout" "10000 bytes" "CR LF" "xx" "L+2" \
    "command finished successfully!" "Error: time out!" \
    "Error: command rejected from phone!" "Error: answer from phone was broken!" \
    "Error: checksum in answer was wrong!" "Error: command 'name' not found!" \
    "Error: datafile 'file' not found." "Error: 'comn' not available!" \
    "Error: 'device' not available!" "Illegal paramter format:" \
    "Illegal parameter format:" "Error: no command name given!" "255" "$banner"; do
    check "talvo_cmd(1) mentions '$text'" grep -qF -- "$text" <<<"$rendered"
done
rendered=$(render "$scratch/talvo_phone_sim.1")
for text in "-l link" "-r rules" "-b speed" "-n count" "-t file" "-v" "-h" "phone: /dev/pts/" \
    "RULES FILE" "reject" "nodata" "badsum" "broken" "silent" "answer byte" "flood ms" \
    "garbage count" "vanish count" "delay ms" "gap ms" "lead00" "trail byte"; do
    check "talvo_phone_sim(1) mentions '$text'" grep -qF -- "$text" <<<"$rendered"
done

# --- the packaged completion
completion_out=$(bash "$top/tests/package/completion.sh" \
    "$root/usr/share/bash-completion/completions/talvo_cmd" 2>&1)
status=$?
echo "$completion_out" | grep -v '^completion: ' || true
check "completion tests of the packaged file" test "$status" -eq 0
echo "$completion_out" | grep '^completion: '
check "completion file is the source file" cmp -s \
    "$root/usr/share/bash-completion/completions/talvo_cmd" "$top/completion/talvo_cmd.bash"

# --- the installed tool against the installed simulated phone, with the installed
# example files
if [ -x "$sim" ]; then
    "$sim" -r "$doc/phone_rules.txt" >"$scratch/phone.out" 2>"$scratch/phone.err" &
    sim_pid=$!
    device=""
    for _ in $(seq 100); do
        device=$(sed -n 's/^phone: //p' "$scratch/phone.out" | head -n 1)
        [ -n "$device" ] && break
        sleep 0.05
    done
    if [[ $device != /dev/pts/* ]]; then
        bad "the simulated phone did not start: $(cat "$scratch/phone.err")"
    else
        ok
        out=$(cd "$doc" && "$tool" -d "$device" readversion)
        status=$?
        check "readversion: status 0 (got $status)" test "$status" -eq 0
        check "readversion: port line" grep -qxF \
            "Port: $device, 19200 bps, input file: talvo_cmd.dat" <<<"$out"
        check "readversion: success" test "$(tail -n 1 <<<"$out")" = "command finished successfully!"
        out=$(cd "$doc" && "$tool" -q -d "$device" badcommand)
        status=$?
        check "badcommand: rejected, status 0" test "$status" -eq 0 -a \
            "$out" = "Error: command rejected from phone!"
        # Every name that the completion offers for the example file is one that the
        # tool finds there.
        names=$(cd "$doc" && bash -c 'source "$1"; COMP_WORDS=(talvo_cmd ""); COMP_CWORD=1
            _talvo_cmd; printf "%s\n" "${COMPREPLY[@]}"' sh \
            "$root/usr/share/bash-completion/completions/talvo_cmd")
        check "completion offers the example commands" test "$(wc -w <<<"$names")" -ge 3
        for name in $names; do
            out=$(cd "$doc" && "$tool" -q -i -d "$device" "$name")
            check "completed name '$name' is found by the tool" test -z "$out"
        done
    fi
    kill "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null
    sim_pid=""
else
    bad "no talvo_phone_sim in the package"
fi

report package
