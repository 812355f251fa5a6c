#!/usr/bin/env bash
# Builds everything and runs the launcher on a demo installation: a folder
# with stand-ins of NARV.exe and NARV64.exe that write down how they were
# started, recorded as the installation path in the project's Wine prefix.
set -euo pipefail
source "$(dirname "$0")/common.sh"
install_toolchain
build_all
prepare_prefix
trap stop_prefix EXIT

demo="$BUILD/demo/NARV"
mkdir -p "$demo"
rm -f "$demo"/*.started
cp "$BUILD/bin/recorder.exe" "$demo/NARV.exe"
cp "$BUILD/bin/recorder.exe" "$demo/NARV64.exe"
wine reg add 'HKCU\Software\NARV' /v 'Installation path' /t REG_SZ \
  /d "$(winpath "$demo")" /f >/dev/null 2>&1 </dev/null

echo "== Installation path: $(winpath "$demo")"
echo "== Starting run.exe (arguments given to it are not passed on)"
set +e
wine "$BUILD/bin/run.exe" --ignored-argument </dev/null
code=$?
set -e
echo "== run.exe exit code: $code"
for _ in $(seq 50); do
  ls "$demo"/*.started >/dev/null 2>&1 && break
  sleep 0.1
done
for record in "$demo"/*.started; do
  [ -f "$record" ] || { echo "== No product executable was started"; exit 1; }
  echo "== Started: $(basename "${record%.started}")"
  sed -n '1s/^/   program:      /p; 2s/^/   command line: /p' "$record"
done

# The crash guard: a product program fails, its report is shown and sent.
# For the demo, the recorder stands in for the browser and the test URL
# module for the system's (which cannot pass long addresses on); both are
# put back at the end.
browser="$BUILD/demo/browser/browser.exe"
mkdir -p "$(dirname "$browser")"
rm -f "$browser.started"
cp "$BUILD/bin/recorder.exe" "$browser"
classes='HKLM\Software\Classes\http'
saved_classes="$BUILD/demo/http.reg"
url_dll="$WINEPREFIX/drive_c/windows/syswow64/url.dll"   # 32-bit programs' folder
[ -d "$(dirname "$url_dll")" ] || url_dll="$WINEPREFIX/drive_c/windows/system32/url.dll"
wine reg export "$classes" "$(winpath "$saved_classes")" /y >/dev/null 2>&1 </dev/null ||
  rm -f "$saved_classes"
[ -f "$url_dll.demo" ] || cp "$url_dll" "$url_dll.demo"
put_back() {
  wine reg delete "$classes" /f >/dev/null 2>&1 </dev/null || true
  [ -f "$saved_classes" ] && wine reg import "$(winpath "$saved_classes")" >/dev/null 2>&1 </dev/null
  [ -f "$url_dll.demo" ] && mv -f "$url_dll.demo" "$url_dll"
  stop_prefix
}
trap put_back EXIT
cp "$BUILD/bin/url_standin.dll" "$url_dll"
wine reg add "$classes\\shell\\open\\command" /ve /d "\"$(winpath "$browser")\" \"%1\"" \
  /f >/dev/null 2>&1 </dev/null

echo
echo "== crash_demo.exe fails; the user sees this report and answers y"
set +e
echo y | wine "$BUILD/bin/crash_demo.exe" 2>&1 | tr -d '\r'
code=${PIPESTATUS[1]}
set -e
echo
echo "== crash_demo.exe exit code: $code (0xFFFFFFFF seen from Linux)"
for _ in $(seq 100); do
  [ -f "$browser.started" ] && break
  sleep 0.1
done
if [ -f "$browser.started" ]; then
  echo "== The address the browser was given:"
  sed -n '2p' "$browser.started" | sed 's/^"[^"]*" "//; s/"$//'
else
  echo "== No address reached the browser"
  exit 1
fi
