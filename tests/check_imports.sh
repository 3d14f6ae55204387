#!/bin/sh
# Fails when the executable binds, at load time, a DLL outside the system's KnownDLLs:
# those are found beside the executable first, where a planted copy would win.
# Usage: check_imports.sh <exe> [allowed DLL ...]  (default: the setup's allow-list)
set -eu
exe=$1; shift
allowed="kernel32.dll user32.dll gdi32.dll gdiplus.dll advapi32.dll ole32.dll oleaut32.dll shell32.dll
 msvcrt.dll combase.dll comdlg32.dll shlwapi.dll sechost.dll rpcrt4.dll imm32.dll ws2_32.dll"
[ $# -eq 0 ] || allowed="$*"
# objdump lists load-time imports under "The Import Tables"; delay imports come in their own section.
imports=$(x86_64-w64-mingw32-objdump -p "$exe" |
    awk '/^The Import Tables/{on=1} /^The Delay Import Tables|^There is a delay import/{on=0} on && /DLL Name:/{print tolower($3)}')
[ -n "$imports" ] || { echo "no import table found in $exe"; exit 1; }
bad=0
for dll in $imports; do
    case " $(echo $allowed) " in
        *" $dll "*) echo "ok   $dll" ;;
        *) echo "FAIL $dll is not a KnownDLL but is imported at load time"; bad=1 ;;
    esac
done
exit $bad
