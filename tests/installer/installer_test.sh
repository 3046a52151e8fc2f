#!/usr/bin/env bash
# The Windows installer, signed with a certificate this test makes, installed
# and uninstalled silently under Wine.
#   installer_test.sh SOURCE_DIR TOVANI_EXE WINEPREFIX WORKDIR
set -euo pipefail
src=$1 exe=$2 prefix=$3 work=$4
rm -rf "$work"
mkdir -p "$work"
cd "$work"

# A root and a code-signing leaf below it.
openssl req -x509 -newkey rsa:2048 -nodes -keyout root.key -out root.pem -days 2 -subj "/CN=Tovani Test Root" \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout sign.key -out sign.csr -subj "/CN=Tovani Test Signer" 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' > leaf.ext
openssl x509 -req -in sign.csr -CA root.pem -CAkey root.key -CAcreateserial -days 2 -extfile leaf.ext -out sign.pem 2>/dev/null
echo "test-pass-$$" > pass.txt
openssl pkcs12 -export -inkey sign.key -in sign.pem -certfile root.pem -passout file:pass.txt -out sign.p12

fail=0
check() { if "$@"; then echo "ok: ${*: -1}"; else echo "FAILED: $*"; fail=1; fi; }
verify() { osslsigncode verify -CAfile root.pem -in "$1" >verify.log 2>&1; }
unsigned() { ! osslsigncode extract-signature -in "$1" -out /dev/null >/dev/null 2>&1; }

# Unsigned without a certificate, and it says so.
"$src/scripts/make-installer" "$exe" plain/setup-plain.exe 4.9.0 > plain.log
check grep -q UNSIGNED plain.log
check unsigned plain/setup-plain.exe

# Signed: the installer, the program inside and the uninstaller it writes.
cp "$exe" tovani.exe
TOVANI_SIGN_PKCS12=$work/sign.p12 TOVANI_SIGN_PASSWORD_FILE=$work/pass.txt \
  "$src/scripts/make-installer" tovani.exe signed/Tovani-setup.exe 4.9.0 > signed.log
check verify signed/Tovani-setup.exe
# Another root does not vouch for it.
openssl req -x509 -newkey rsa:2048 -nodes -keyout other.key -out other.pem -days 2 -subj "/CN=Other" 2>/dev/null
check bash -c "! osslsigncode verify -CAfile other.pem -in signed/Tovani-setup.exe >/dev/null 2>&1"

export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES=winemenubuilder.exe=d
user=$(wine cmd /c 'echo %USERNAME%' 2>/dev/null | tr -d '\r')
home="$prefix/drive_c/users/$user"
installed="$home/AppData/Local/Programs/Tovani"
data="$home/AppData/Local/Tovani"
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tovani'

# Data of an earlier run, to be kept unless asked for.
mkdir -p "$data/WebView2Data" && echo x > "$data/WebView2Data/keep"

wine signed/Tovani-setup.exe /S
check test -f "$installed/tovani.exe"
check test -f "$installed/Uninstall.exe"
check verify "$installed/tovani.exe"
check verify "$installed/Uninstall.exe"
check test -f "$home/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Tovani.lnk"
wine reg query "$key" /v UninstallString > reg.log 2>&1 || true
check grep -q 'Uninstall.exe' reg.log
wine reg query 'HKCU\Software\Classes\corvantiluxen\shell\open\command' > scheme.log 2>&1 || true
check grep -qi 'Programs\\Tovani\\tovani.exe' scheme.log

# A link opened through the Windows shell starts the installed player. Wine 8
# looks URL handlers up in the machine's classes only (Windows merges the
# user's over them), so the per-user registration is copied there for this
# check. The player writes its registration again on every start: its
# return proves the installed program ran. A link that is no link ends it
# in the link diagnostic (Wine's own mshta, which ends at once: nothing stays behind).
command=$(wine reg query 'HKCU\Software\Classes\corvantiluxen\shell\open\command' /ve 2>/dev/null |
  tr -d '\r' | sed -n 's/.*REG_SZ[[:space:]]*//p')
check test -n "$command"
wine reg add 'HKLM\Software\Classes\corvantiluxen' /v "URL Protocol" /d "" /f >/dev/null 2>&1
wine reg add 'HKLM\Software\Classes\corvantiluxen\shell\open\command' /ve /d "$command" /f >/dev/null 2>&1
wine reg delete 'HKCU\Software\Classes\corvantiluxen' /f >/dev/null 2>&1
check bash -c "! wine reg query 'HKCU\\Software\\Classes\\corvantiluxen' >/dev/null 2>&1"
runtime="$work/runtime"
mkdir -p "$runtime/EBWebView/x64"
cp "$(dirname "$exe")/standin/EmbeddedBrowserWebView.dll" "$runtime/EBWebView/x64/"
WEBVIEW2_BROWSER_EXECUTABLE_FOLDER=$(winepath -w "$runtime" 2>/dev/null) wine start "corvantiluxen:not-a-link" \
  > start.log 2>&1
for _ in $(seq 120); do
  wine reg query 'HKCU\Software\Classes\corvantiluxen\shell\open\command' > relaunch.log 2>&1 && break
  sleep 0.5
done
check grep -qi 'Programs\\Tovani\\tovani.exe' relaunch.log
wine reg delete 'HKLM\Software\Classes\corvantiluxen' /f >/dev/null 2>&1
# It ends by itself right after; the uninstaller must not meet it running.
for _ in $(seq 40); do wine tasklist 2>/dev/null | grep -qi '^tovani.exe' || break; sleep 0.5; done

# Uninstall keeps the data; the uninstaller runs from a copy, so wait for it.
wine "$installed/Uninstall.exe" /S
for _ in $(seq 60); do [ -e "$installed/tovani.exe" ] || break; sleep 0.5; done
check test ! -e "$installed/tovani.exe"
check test ! -e "$home/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Tovani.lnk"
check bash -c "! wine reg query '$key' >/dev/null 2>&1"
check bash -c "! wine reg query 'HKCU\\Software\\Classes\\corvantiluxen' >/dev/null 2>&1"
check test -f "$data/WebView2Data/keep"

# Installed again and removed with its data, on request.
wine signed/Tovani-setup.exe /S
wine "$installed/Uninstall.exe" /S /REMOVEDATA
for _ in $(seq 60); do [ -e "$data" ] || break; sleep 0.5; done
check test ! -e "$data"
check test ! -e "$installed/tovani.exe"
exit $fail
