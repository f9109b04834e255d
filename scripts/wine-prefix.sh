# Sourced by the scripts that run Windows programs: the project's own quiet 32-bit Wine
# prefix. It does not follow HOME, since the sound tests point HOME at a temporary folder;
# ZARVELIN_WINEPREFIX overrides it.
export WINEARCH=win32
export WINEPREFIX="${ZARVELIN_WINEPREFIX:-/tmp/zarvelin-wine-$(id -u)}"
