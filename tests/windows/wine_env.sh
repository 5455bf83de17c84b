# Wine for the Windows tests, sourced by the scripts that run .exe files: a private
# prefix under the build folder, and COM ports that lead to pseudo-terminals or to
# nothing, never to the machine's own serial ports.
#
# Wine takes COM<n> from the registry key HKLM\Software\Wine\Ports when it starts (an
# empty value: no device), and gives the machine's /dev/ttyS* to the first numbers
# that the key leaves out; links made by hand under dosdevices/ are rewritten then.
# So every number from 1 to TALVO_WINE_PORTS is written to the key, every start of
# Wine is followed by a look at the links it made, the links for numbers above are
# removed while the tests run, and the tests use only numbers from the key.

TALVO_WINE_PORTS=32
TALVO_WINE_LOG=/dev/null

talvo_wine_log() { echo "wine: $*"; }

# talvo_wine_init <build folder>: the environment, and the prefix if it is not there.
talvo_wine_init()
{
    local build
    build=$(cd "$1" && pwd)
    export WINEPREFIX="$build/wineprefix"
    export WINEDEBUG=-all
    export WINEARCH=win64
    export WINEDLLOVERRIDES="mscoree,mshtml="  # no runtime installers at the first start
    unset DISPLAY WAYLAND_DISPLAY              # console programs only
    TALVO_WINE_LOG="$build/wine.log"
    local tool
    for tool in wine wineboot wineserver; do
        command -v "$tool" >/dev/null || { echo "wine: $tool is missing (scripts/install-deps)" >&2; return 1; }
    done
    if [ ! -f "$WINEPREFIX/.talvo-ready" ]; then
        talvo_wine_log "creating the prefix $WINEPREFIX"
        talvo_wine_stop
        rm -rf "$WINEPREFIX"
        wineboot -i </dev/null >>"$TALVO_WINE_LOG" 2>&1 || { echo "wine: wineboot failed, see $TALVO_WINE_LOG" >&2; return 1; }
        # No program has opened a COM port yet; from here on only mapped numbers exist.
        talvo_wine_map || return 1
        touch "$WINEPREFIX/.talvo-ready"
    fi
}

# Ends the prefix's wineserver and every Wine process in it.
talvo_wine_stop()
{
    [ -n "${WINEPREFIX:-}" ] || return 0
    if wineserver -k >>"$TALVO_WINE_LOG" 2>&1; then
        wineserver -w >>"$TALVO_WINE_LOG" 2>&1 || true
    fi
}

# Starts a wineserver that stays until talvo_wine_stop, so that the runs between do
# not each start Wine anew, and waits until the port links stand as mapped.
talvo_wine_start()
{
    wineserver -p >>"$TALVO_WINE_LOG" 2>&1 </dev/null
    wine reg query 'HKLM\Software\Wine\Ports' </dev/null >"$WINEPREFIX/ports.now" 2>>"$TALVO_WINE_LOG" ||
        { echo "wine: the Ports key cannot be read" >&2; return 1; }
    local n tries
    for ((tries = 0; tries < 50; tries++)); do
        local pending=0
        for n in "${!TALVO_WINE_MAPPED[@]}"; do
            [ "$(readlink "$WINEPREFIX/dosdevices/com$n" || true)" = "${TALVO_WINE_MAPPED[$n]}" ] || pending=1
        done
        [ "$pending" = 0 ] && break
        sleep 0.1
    done
    talvo_wine_check_ports
}

# talvo_wine_map [N=/dev/pts/M ...]: COM<N> leads to that pseudo-terminal, every other
# number up to TALVO_WINE_PORTS to nothing. Restarts Wine so that the key is used, and
# leaves it running.
talvo_wine_map()
{
    local mapping n path reg="$WINEPREFIX/ports.reg"
    declare -gA TALVO_WINE_MAPPED=()
    for mapping in "$@"; do
        n=${mapping%%=*}
        path=${mapping#*=}
        case "$n" in ''|*[!0-9]*) echo "wine: bad port number in '$mapping'" >&2; return 1 ;; esac
        if [ "$n" -lt 1 ] || [ "$n" -gt "$TALVO_WINE_PORTS" ]; then
            echo "wine: COM$n is outside 1..$TALVO_WINE_PORTS" >&2
            return 1
        fi
        case "$path" in
            /dev/pts/[0-9]*) ;;
            *) echo "wine: COM$n may lead only to a pseudo-terminal, not '$path'" >&2; return 1 ;;
        esac
        TALVO_WINE_MAPPED[$n]=$path
    done
    {
        printf 'Windows Registry Editor Version 5.00\r\n\r\n'
        printf '[-HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n\r\n'
        printf '[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n'
        for ((n = 1; n <= TALVO_WINE_PORTS; n++)); do
            printf '"COM%d"="%s"\r\n' "$n" "${TALVO_WINE_MAPPED[$n]:-}"
        done
    } >"$reg"
    # reg.exe opens no port; Wine may still show the old links while it runs.
    wine reg import "$reg" </dev/null >>"$TALVO_WINE_LOG" 2>&1 || { echo "wine: reg import failed" >&2; return 1; }
    talvo_wine_stop
    # Links from earlier starts stay behind when their number leaves the key.
    rm -f "$WINEPREFIX"/dosdevices/com[0-9]*
    talvo_wine_start
}

# Every COM link under dosdevices/: a mapped number must lead to its pseudo-terminal,
# an unmapped one up to TALVO_WINE_PORTS must not exist, and any above is removed.
talvo_wine_check_ports()
{
    local link name n target want ok=1
    for link in "$WINEPREFIX"/dosdevices/com[0-9]*; do
        [ -e "$link" ] || [ -L "$link" ] || continue
        name=${link##*/}
        n=${name#com}
        target=$(readlink "$link" || true)
        if [ "$n" -gt "$TALVO_WINE_PORTS" ] 2>/dev/null; then
            rm -f "$link"
            talvo_wine_log "removed $name -> $target (a number outside the key)"
            continue
        fi
        want=${TALVO_WINE_MAPPED[$n]:-}
        if [ -z "$want" ] || [ "$target" != "$want" ]; then
            echo "wine: $name leads to '$target', expected '${want:-nothing}'" >&2
            ok=0
        fi
    done
    for n in "${!TALVO_WINE_MAPPED[@]}"; do
        target=$(readlink "$WINEPREFIX/dosdevices/com$n" || true)
        if [ "$target" != "${TALVO_WINE_MAPPED[$n]}" ]; then
            echo "wine: com$n leads to '${target:-nothing}', expected '${TALVO_WINE_MAPPED[$n]}'" >&2
            ok=0
        fi
    done
    if [ "$ok" != 1 ]; then
        talvo_wine_stop
        return 1
    fi
    local mapped=""
    for n in $(printf '%s\n' "${!TALVO_WINE_MAPPED[@]}" | sort -n); do
        mapped+=" COM$n=${TALVO_WINE_MAPPED[$n]}"
    done
    talvo_wine_log "COM1..COM$TALVO_WINE_PORTS lead to nothing${mapped:+ but}$mapped"
}
