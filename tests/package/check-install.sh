#!/usr/bin/env bash
# `cmake --install` from a build tree puts the same files under its prefix as the
# Debian package puts under /usr, and the completion file that bash-completion finds
# there registers the completion.
#
#   tests/package/check-install.sh build-pkg dist/talvo-cmd_0.8_amd64.deb
set -uo pipefail
build=$1
deb=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# shellcheck source=tests/package/checks.sh
source "$(dirname "$(realpath "${BASH_SOURCE[0]}")")/checks.sh"

prefix=$scratch/prefix
check "cmake --install" cmake --install "$build" --prefix "$prefix" >/dev/null
installed=$(cd "$prefix" && find . -type f | sort)
packaged=$(dpkg-deb -c "$deb" | awk '$1 ~ /^-/ {print $6}' | sed 's|^\./usr/|./|' | sort)
if [ "$installed" = "$packaged" ]; then
    passed=$((passed + 1))
else
    failed=$((failed + 1))
    echo "FAIL: installed files differ from the package's:"
    diff <(echo "$packaged") <(echo "$installed")
fi
check "installed talvo_cmd runs" "$prefix/bin/talvo_cmd" >/dev/null
registered=$(bash -c 'source "$1" && complete -p talvo_cmd' sh \
    "$prefix/share/bash-completion/completions/talvo_cmd")
check "completion registers: $registered" test "$registered" = "complete -F _talvo_cmd talvo_cmd"

report install
