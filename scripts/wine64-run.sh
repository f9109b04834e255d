#!/usr/bin/env bash
# Runs a 64-bit Windows program under Wine in the project's own 64-bit prefix: what the
# windows64 build's tests use where this kernel runs no 32-bit programs.
export ZARVELIN_WINE_ARCH=win64
exec "$(dirname "$0")/wine-run.sh" "$@"
