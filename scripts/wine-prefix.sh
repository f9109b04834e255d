# Sourced by the scripts that run Windows programs: the project's own quiet Wine prefix,
# 32-bit (the shipped build) unless ZARVELIN_WINE_ARCH=win64 (the windows64 build, for
# machines that run no 32-bit programs). It does not follow HOME, since the sound tests
# point HOME at a temporary folder; ZARVELIN_WINEPREFIX overrides it.
# Sets WINEARCH, WINEPREFIX and ZARVELIN_WINE, the Wine loader to run programs with.
if [ "${ZARVELIN_WINE_ARCH:-win32}" = win64 ]; then
  export WINEARCH=win64
  export WINEPREFIX="${ZARVELIN_WINEPREFIX:-/tmp/zarvelin-wine64-$(id -u)}"
  # Debian's `wine` always picks the 32-bit loader when it is installed, even where the
  # kernel cannot run it; the 64-bit one is asked for by name.
  export WINELOADER=/usr/lib/wine/wine64
  ZARVELIN_WINE=$WINELOADER
else
  export WINEARCH=win32
  export WINEPREFIX="${ZARVELIN_WINEPREFIX:-/tmp/zarvelin-wine-$(id -u)}"
  ZARVELIN_WINE=wine
fi

# Whether Wine can run this prefix's programs here: 32-bit ones need a kernel that runs
# 32-bit Linux programs, which one started with ia32_emulation=off refuses ("Exec format
# error"). Prints why not on standard output.
zarvelin_wine_can_run() {
  if [ "$WINEARCH" = win64 ]; then
    [ -x /usr/lib/wine/wine64 ] && return 0
    echo "64-bit Wine (Debian's wine64) is not installed"
    return 1
  fi
  local loader=/lib/i386-linux-gnu/ld-linux.so.2
  [ -x "$loader" ] && "$loader" --version >/dev/null 2>&1 && return 0
  echo "this kernel runs no 32-bit programs (Exec format error), so 32-bit Wine cannot start"
  return 1
}
