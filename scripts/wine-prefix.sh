#!/bin/sh
# Creates (once) and configures the Wine prefix the tests and the demo run in.
# This is the one place that knows what the prefix holds.
# Usage: scripts/wine-prefix.sh <build-dir> [--dpi N] [--prefix DIR] [--persist]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$1; shift
dpi=96; prefix=""; persist=0
while [ $# -gt 0 ]; do
    case $1 in
        --dpi) dpi=$2; shift 2 ;;
        --prefix) prefix=$2; shift 2 ;;
        --persist) persist=1; shift ;;
        *) echo "wine-prefix.sh: unknown option $1" >&2; exit 2 ;;
    esac
done
. "$here/wine-env.sh"
ostrelWineEnv "$build" $prefix
log="$WINEPREFIX.log"

exec 9>"$WINEPREFIX.lock"
flock 9

# Waits until the prefix's Wine processes have ended. On a loaded machine Wine's desktop process
# has been seen to hang after wineboot and hold the prefix for ever: it is ended after two minutes.
settle() {
    if ! timeout 120 wineserver -w; then
        echo "wine-prefix.sh: Wine did not settle in $WINEPREFIX; ending its processes" >&2
        wineserver -k || true
        timeout 30 wineserver -w || true
    fi
}

if [ ! -f "$WINEPREFIX/.ostrel-prefix" ]; then
    rm -rf "$WINEPREFIX"
    echo "creating Wine prefix $WINEPREFIX" >&2
    # No Wine process may inherit the lock (9>&-): a wineserver started under it would hold the
    # prefix locked for as long as any program of the prefix runs.
    wineboot -i >"$log" 2>&1 9>&- || { cat "$log" >&2; exit 1; }
    settle
    # GDI+ asks for "Segoe UI"; Noto Sans CJK covers Latin, Cyrillic, Hangul, kana and Han.
    reg="$WINEPREFIX/ostrel-prefix.reg"
    dpiHex=$(printf '%08x' "$dpi")
    cat >"$reg" <<REG
REGEDIT4

[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]
"Segoe UI"="Noto Sans CJK KR"

[HKEY_CURRENT_USER\\Software\\Wine\\DllOverrides]
"winemenubuilder.exe"=""
"mscoree"=""
"mshtml"=""

[HKEY_CURRENT_USER\\Control Panel\\Desktop]
"LogPixels"=dword:$dpiHex

[HKEY_CURRENT_USER\\Software\\Wine\\Fonts]
"LogPixels"=dword:$dpiHex
REG
    wine regedit /S "$reg" >>"$log" 2>&1 9>&-
    settle
    touch "$WINEPREFIX/.ostrel-prefix"
fi

if [ "$persist" = 1 ]; then
    # One wineserver for the whole test run, so no test pays for its start-up;
    # started before the tools below run, since -p fails while any other wineserver lingers.
    # Not holding the lock descriptor: a persistent server would keep the prefix locked.
    wineserver -p </dev/null >/dev/null 2>&1 9>&-
fi

# What the build provides is installed on every run, so a rebuilt tool takes effect.
powershellStandIn="$build/tools/powershell_standin.exe"
if [ -f "$powershellStandIn" ]; then
    target="$WINEPREFIX/drive_c/windows/system32/WindowsPowerShell/v1.0"
    mkdir -p "$target"
    cp -f "$powershellStandIn" "$target/powershell.exe"
fi
testCa="$build/testca/ca.der"
if [ -f "$testCa" ] && [ -f "$build/tools/trust_ca.exe" ]; then
    # Drive Z: is the host's root. Not winepath: as the first Wine program of the session it would
    # start Wine's helpers holding the pipe of the command substitution, and they live as long
    # as the persistent wineserver.
    testCaWindows=$(printf 'Z:%s' "$(cd "$(dirname "$testCa")" && pwd)/ca.der" | tr / '\\')
    wine "$build/tools/trust_ca.exe" "$testCaWindows" </dev/null >>"$log" 2>&1 9>&- ||
        { echo "could not trust the test CA in $WINEPREFIX" >&2; tail -5 "$log" >&2; exit 1; }
fi
