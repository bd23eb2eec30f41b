#!/usr/bin/env bash
# Runs a Windows program of the cross-build under wine, in the build's own
# wine prefix (made on first use) unless WINEPREFIX names another. Wine's
# own diagnostics stay off; the program's exit status is returned.
#
# Wine's client writes "wine client error:0: ..." when its connection to the
# wine server breaks before the process has its first thread (thread id 0):
# the program never ran, and its exit status says nothing about it. That is
# seen, rarely, while many wine processes come and go; the program is then
# started again, at most twice. Any other outcome is the program's own.
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

errors=$(mktemp) || exec wine "$@"
trap 'rm -f "$errors"' EXIT

# Standard error is copied to $errors on its way out. When standard output
# and standard error are one pipe or file, both go through the copy together
# so that their order is kept.
same_stream=false
[ "$(readlink /proc/$$/fd/1)" = "$(readlink /proc/$$/fd/2)" ] && same_stream=true

attempt=1
while :; do
  if $same_stream; then
    wine "$@" 2>&1 | tee "$errors"
    status=${PIPESTATUS[0]}
  else
    wine "$@" 2> >(tee "$errors" >&2)
    status=$?
    wait $!
  fi
  grep -q '^wine client error:0: ' "$errors" || exit "$status"
  [ "$attempt" -ge 3 ] && exit "$status"
  echo "wine-run.sh: wine lost its server before $1 started; starting it again" >&2
  attempt=$((attempt + 1))
done
