#!/usr/bin/env bash
# Checks KZ_DLL.dll: a PE32 DLL whose export table lists exactly the twelve
# entry points by their undecorated names and which imports only system DLLs.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dll="$here/build/win32/bin/KZ_DLL.dll"
dump=$(i686-w64-mingw32-objdump -p "$dll")
fail=0
grep -q "^Magic.*010b" <<<"$dump" || { echo "KZ_DLL.dll is not PE32"; fail=1; }
exports=$(awk '/\[Ordinal\/Name Pointer\] Table/{t=1;next} t&&/^[ \t]*\[/{print $NF} t&&/^[ \t]*$/{t=0}' <<<"$dump" | sort)
expected=$(printf '%s\n' AG_AllReg AG_BpInfo AG_BreakFunc AG_GoStep AG_HistFunc AG_Init \
  AG_MemAcc AG_MemAtt AG_RegAcc AG_Serial DllUv3Cap EnumUv351 | sort)
if [ "$exports" != "$expected" ]; then
  echo "export table differs:"; diff <(echo "$expected") <(echo "$exports") || true; fail=1
fi
system_dlls='^(KERNEL32|USER32|GDI32|COMCTL32|ADVAPI32|msvcrt|MSVCRT|ntdll|SHELL32|ole32|api-ms-win-.*)\.dll$'
imports=$(awk '/DLL Name:/{print $3}' <<<"$dump")
for d in $imports; do
  echo "$d" | grep -Eiq "$system_dlls" || { echo "non-system import: $d"; fail=1; }
done
echo "KZ_DLL.dll exports: $(echo $exports | tr '\n' ' ')"
echo "KZ_DLL.dll imports: $(echo $imports | tr '\n' ' ')"
[ $fail -eq 0 ] && echo "KZ_DLL.dll checks: 1 passed, 0 failed" || { echo "KZ_DLL.dll checks: 0 passed, 1 failed"; exit 1; }
