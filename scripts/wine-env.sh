# Sourced by the Wine scripts: the prefix architecture and the loader for
# QOR_WINE_BITS (32: the shipped 32-bit build in a win32 prefix; 64: the x86-64
# build under wine64 in a win64 prefix, for hosts that cannot run 32-bit code).
# Sets WINEARCH and QOR_WINE (the loader to start Windows programs with).
case "${QOR_WINE_BITS:-32}" in
64)
  export WINEARCH=win64
  # The `wine` wrapper prefers the 32-bit loader when both are installed.
  QOR_WINE=$(command -v wine64 2>/dev/null || echo /usr/lib/wine/wine64)
  ;;
*)
  export WINEARCH=win32
  QOR_WINE=wine
  ;;
esac
export WINELOADER=$QOR_WINE
