#!/bin/sh
# Fails unless every program given imports only DLLs that every Windows installation has.
# Usage: system_dlls.sh OBJDUMP PROGRAM...
set -u
objdump=$1; shift
allowed=" advapi32.dll bcrypt.dll comctl32.dll gdi32.dll gdiplus.dll iphlpapi.dll kernel32.dll "
allowed="$allowed msvcrt.dll ole32.dll psapi.dll shell32.dll shlwapi.dll user32.dll version.dll "
allowed="$allowed wininet.dll "
status=0
for program in "$@"; do
  dlls=$("$objdump" -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z')
  [ -n "$dlls" ] || { echo "$program: no imports found"; status=1; }
  for dll in $dlls; do
    case $allowed in
      *" $dll "*) ;;
      *) echo "$program imports $dll, which is not a system DLL"; status=1 ;;
    esac
  done
  echo "$(basename "$program"):" $dlls
done
exit $status
