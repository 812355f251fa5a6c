# Shared set-up for the build, test and demo commands. Sourced, not run.
# Everything here is idempotent: a second run only checks and goes on.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD="$ROOT/build"
# WINEARCH=win32 runs everything on a 32-bit Windows of its own prefix.
if [ "${WINEARCH:-win64}" = win32 ]; then
  export WINEARCH
  export WINEPREFIX="$BUILD/wineprefix-win32"
else
  unset WINEARCH
  export WINEPREFIX="$BUILD/wineprefix"
fi
export WINEDEBUG=-all
# No network here: keep Wine from offering to install its .NET and HTML engines.
export WINEDLLOVERRIDES="mscoree,mshtml="

have_toolchain() {
  command -v i686-w64-mingw32-g++-posix >/dev/null 2>&1 &&
    command -v clang++ >/dev/null 2>&1 && command -v ld.lld >/dev/null 2>&1 &&
    command -v llvm-objcopy >/dev/null 2>&1 &&
    command -v wine >/dev/null 2>&1 && command -v cmake >/dev/null 2>&1 &&
    [ -d /usr/src/googletest ] && dpkg -s wine32:i386 >/dev/null 2>&1 &&
    dpkg -s libz-mingw-w64-dev >/dev/null 2>&1
}

install_toolchain() {
  have_toolchain && return 0
  echo "== Installing clang, lld, the MinGW-w64 (i686) runtime and Wine"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  local pkgs="clang lld llvm g++-mingw-w64-i686-posix wine wine32:i386 wine64
    xvfb xauth cmake make googletest libz-mingw-w64-dev"
  $sudo dpkg --add-architecture i386
  $sudo apt-get update ||
    echo "apt-get update failed; going on with the package lists there are" >&2
  # i386 and amd64 libraries must come in the same version. An updated
  # system installs plainly; one whose i386 security index lags the amd64
  # libraries needs the release's own versions.
  # shellcheck disable=SC2086
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends $pkgs ||
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -t bookworm \
      --no-install-recommends $pkgs
}

build_all() {
  echo "== Building"
  local toolchain="$ROOT/cmake/mingw-i686.cmake" stamp
  # A cache made with another toolchain (or another checkout path) cannot be
  # reused: the compiler is fixed at the first configure.
  stamp=$(printf '%s\n' "$ROOT" | cat - "$toolchain" | sha1sum | cut -c1-40)
  if [ "$(cat "$BUILD/.toolchain" 2>/dev/null)" != "$stamp" ]; then
    rm -rf "$BUILD/CMakeCache.txt" "$BUILD/CMakeFiles"
  fi
  cmake -S "$ROOT" -B "$BUILD" -G "Unix Makefiles" \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" >/dev/null
  echo "$stamp" >"$BUILD/.toolchain"
  cmake --build "$BUILD" -j"$(nproc)" -- --no-print-directory
}

# The prefix's own processes must not inherit our output pipes (a test
# runner would wait for them forever), hence the redirections everywhere.
prepare_prefix() {
  if [ ! -f "$WINEPREFIX/.prepared" ]; then
    echo "== Preparing the Wine prefix in $WINEPREFIX"
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 </dev/null
    # Windows and dialogs work with no display.
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1 </dev/null
    # A crash ends the process at once instead of waiting in a debugger.
    for view in 32 64; do
      wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
        /v Debugger /d false /f /reg:$view >/dev/null 2>&1 </dev/null
      wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
        /v Auto /d 1 /f /reg:$view >/dev/null 2>&1 </dev/null
    done
    wineserver -w
    touch "$WINEPREFIX/.prepared"
  fi
  # A server already running (another run on the same prefix) is shared,
  # and left for its owner to stop.
  if wineserver -p >/dev/null 2>&1 </dev/null; then OWN_SERVER=1; fi
  wine cmd /c exit >/dev/null 2>&1 </dev/null || true
}

OWN_SERVER=0
stop_prefix() {
  [ "$OWN_SERVER" = 1 ] || return 0
  wineserver -k >/dev/null 2>&1 || true
}

# Linux path to the path Windows programs of the prefix see.
winpath() {
  echo "Z:$1" | tr / '\\'
}
