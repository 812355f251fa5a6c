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
