#!/bin/sh
# Runs a Windows program of the cross-build under wine, in the build's own
# wine prefix (made on first use) unless WINEPREFIX names another. Wine's
# own diagnostics stay off; the program's exit status is returned.
here=$(pwd)
case "$WINEPREFIX" in
  "") # the build folder is the nearest one up that holds CMakeCache.txt
      dir=$here
      while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
      [ "$dir" = / ] && dir=$here
      WINEPREFIX=$dir/wineprefix ;;
esac
export WINEPREFIX
export WINEDEBUG=${WINEDEBUG:--all}
# No desktop integration and no Mono/Gecko prompts in a prefix made here.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}
exec wine "$@"
