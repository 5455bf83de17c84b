#!/usr/bin/env bash
# Checks the Windows archive: exactly the program, the example data file and the
# guide, in one folder; the program a 64-bit Windows console executable; the guide
# and the data file with CR LF on every line.
#
#   tests/package/check-zip.sh dist/talvo-cmd-0.8-win64.zip
set -uo pipefail
zip=$(realpath "$1")

# shellcheck source=tests/package/checks.sh
source "$(dirname "$(realpath "${BASH_SOURCE[0]}")")/checks.sh"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

folder=talvo-cmd-0.8-win64
check "file name" test "$(basename "$zip")" = "$folder.zip"
names=$(unzip -Z1 "$zip" | grep -v '/$' | sort)
expected="$folder/guide.txt
$folder/talvo_cmd.dat
$folder/talvo_cmd.exe"
if [ "$names" = "$expected" ]; then
    passed=$((passed + 1))
else
    failed=$((failed + 1))
    echo "FAIL: zip contents differ:"
    diff <(echo "$expected") <(echo "$names")
fi

check "unzip" unzip -q "$zip" -d "$scratch"
dir=$scratch/$folder
check "talvo_cmd.exe is a Windows console program for x86-64" \
    grep -q 'PE32+ executable (console) x86-64' <<<"$(file "$dir/talvo_cmd.exe")"
# Only system DLLs beside it: the C++ runtime is linked in.
objdump=$(command -v x86_64-w64-mingw32-objdump || command -v objdump)
dlls=$("$objdump" -p "$dir/talvo_cmd.exe" 2>/dev/null | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')
check "talvo_cmd.exe imports kernel32.dll" grep -qx kernel32.dll <<<"$dlls"
check "talvo_cmd.exe needs only system DLLs (got: $(echo $dlls))" \
    test -z "$(grep -vE '^(kernel32|msvcrt|ucrtbase|api-ms-win-.*|advapi32|user32|ws2_32)\.dll$' <<<"$dlls")"

for text in guide.txt talvo_cmd.dat; do
    lines=$(tr -d '\r' <"$dir/$text" | wc -l)
    crlf=$(grep -c $'\r$' "$dir/$text")
    check "$text: CR LF on every line ($crlf of $lines)" test "$lines" -gt 0 -a "$lines" -eq "$crlf"
    check "$text: no doubled CR" test -z "$(grep -l $'\r\r' "$dir/$text")"
    check "$text: ends with CR LF" test "$(tail -c 2 "$dir/$text" | od -An -tx1 | tr -d ' ')" = "0d0a"
done
check "guide.txt names the program and the banner address" \
    grep -q 'talvo-cmd@example.org' "$dir/guide.txt"

report zip
