#!/bin/sh
# Each program may import only DLLs that Windows itself ships.
allowed="ntdll.dll kernel32.dll user32.dll gdi32.dll comctl32.dll shell32.dll advapi32.dll version.dll msvcrt.dll"
status=0
for exe in "$@"; do
  dlls=$(${OBJDUMP:-x86_64-w64-mingw32-objdump} -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z')
  [ -n "$dlls" ] || { echo "FAIL $exe: no import table read"; status=1; continue; }
  for dll in $dlls; do
    case " $allowed " in
      *" $dll "*) ;;
      *) echo "FAIL $exe imports $dll"; status=1 ;;
    esac
  done
  echo "$(basename "$exe"): $(echo $dlls)"
done
exit $status
