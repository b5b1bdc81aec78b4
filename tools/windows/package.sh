#!/usr/bin/env bash
# Makes the Windows package from the cross build's program folder: a folder that runs from
# anywhere (the program, its mail process, the Qt and MinGW DLLs they load, Qt's Windows platform,
# TLS and style plugins, Sound/, hp/, an empty ★MailData), zipped as mokopon-windows.zip, and the
# NSIS installer mokopon-setup.exe. Run by the build's mokopon-package target.
# Usage: package.sh BIN_DIR OUT_DIR QT_PREFIX CXX_COMPILER
set -euo pipefail
bin=$1 out=$2 qt=$3 cxx=$4
here=$(cd "$(dirname "$0")" && pwd)
export LC_ALL=C.UTF-8
stage="$out/package/Mokopon"
rm -rf "$out/package" && mkdir -p "$stage"

cp "$bin/mokopon.exe" "$bin/mokopon-mail.exe" "$stage/"
cp -r "$bin/Sound" "$bin/hp" "$stage/"
mkdir "$stage/★MailData"
for plugin in platforms/qwindows.dll tls/qschannelbackend.dll styles/qwindowsvistastyle.dll; do
  mkdir -p "$stage/$(dirname "$plugin")"
  cp "$qt/plugins/$plugin" "$stage/$plugin"
done

# Every DLL the executables and plugins import that is not part of Windows itself, found in Qt's
# bin/ or beside the compiler's runtime; and theirs in turn.
search=("$qt/bin" "$(dirname "$("$cxx" -print-file-name=libstdc++-6.dll)")"
  "$(dirname "$("$cxx" -print-file-name=libwinpthread-1.dll)")" /usr/x86_64-w64-mingw32/lib)
objdump=x86_64-w64-mingw32-objdump
declare -A seen=()
queue=("$stage"/*.exe "$stage"/*/*.dll)
while [ ${#queue[@]} -gt 0 ]; do
  file=${queue[0]}
  queue=("${queue[@]:1}")
  while read -r dll; do
    key=${dll,,}
    [ -n "${seen[$key]:-}" ] && continue
    seen[$key]=1
    for dir in "${search[@]}"; do
      if [ -f "$dir/$dll" ]; then
        cp "$dir/$dll" "$stage/$dll"
        queue+=("$stage/$dll")
        break
      fi
    done
  done < <("$objdump" -p "$file" | sed -n 's/^\s*DLL Name: //p')
done
x86_64-w64-mingw32-strip --strip-unneeded "$stage"/*.exe "$stage"/*.dll "$stage"/*/*.dll

rm -f "$out/mokopon-windows.zip" "$out/mokopon-setup.exe"
(cd "$out/package" && zip -qr -X "$out/mokopon-windows.zip" Mokopon)
makensis -V2 -INPUTCHARSET UTF8 -DSTAGE="$stage" -DOUTFILE="$out/mokopon-setup.exe" \
  "$here/installer.nsi"
ls -l "$out/mokopon-windows.zip" "$out/mokopon-setup.exe"
