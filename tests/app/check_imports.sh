#!/bin/sh
# Fails when an executable imports a DLL that is not part of Windows (a MinGW runtime DLL,
# for example): usage check_imports.sh <objdump> <program.exe>
objdump=$1
exe=$2
allowed=" advapi32 bcrypt cfgmgr32 comctl32 comdlg32 d2d1 d3d11 dwmapi dwrite dxgi gdi32 kernel32
 mf mfplat mfreadwrite msvcrt ntdll ole32 oleaut32 setupapi shcore shell32 shlwapi user32 uxtheme
 version windowscodecs ws2_32 "
allowed=$(echo "$allowed" | tr '\n' ' ')
dlls=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sed 's/\.dll$//')
if [ -z "$dlls" ]; then
    echo "no imports read from $exe"
    exit 1
fi
status=0
for dll in $dlls; do
    case "$allowed" in
    *" $dll "*) ;;
    *)
        case "$dll" in
        api-ms-win-*) ;;
        *) echo "not a Windows system DLL: $dll.dll"; status=1 ;;
        esac
        ;;
    esac
done
echo "imports:" $dlls
exit $status
