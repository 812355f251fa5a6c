#!/usr/bin/env bash
# Builds everything and runs the whole test suite under Wine.
set -euo pipefail
source "$(dirname "$0")/common.sh"
install_toolchain
build_all
prepare_prefix
trap stop_prefix EXIT
cd "$BUILD"
ctest --output-on-failure --timeout 120 "$@"
