#!/usr/bin/env bash
# The wine runner (its path is the argument) against a stand-in for wine: a
# program whose wine lost its server before it started is run again, anything
# else is the program's own outcome, and its output arrives as it was written.
set -u
runner=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# The stand-in counts its runs in $tmp/runs. Its first $LOST runs end as wine
# does when the server drops a process of thread id $TID; later runs write to
# both streams and exit with $STATUS.
cat >"$tmp/wine" <<'EOF'
#!/usr/bin/env bash
n=$(($(cat "$RUNS" 2>/dev/null || echo 0) + 1))
echo "$n" >"$RUNS"
if [ "$n" -le "$LOST" ]; then
  echo "wine client error:$TID: recvmsg: Connection reset by peer" >&2
  exit 1
fi
echo "out one"
echo "err one" >&2
echo "out two"
exit "$STATUS"
EOF
chmod +x "$tmp/wine"

failures=0
# lost tid status | runs expected, exit status expected
while read -r lost tid status runs want; do
  rm -f "$tmp/runs"
  PATH="$tmp:$PATH" RUNS="$tmp/runs" LOST=$lost TID=$tid STATUS=$status WINEPREFIX="$tmp/prefix" \
    "$runner" program.exe >"$tmp/merged" 2>&1
  got=$?
  if [ "$got" != "$want" ] || [ "$(cat "$tmp/runs")" != "$runs" ]; then
    echo "FAIL lost=$lost tid=$tid status=$status: exit $got after $(cat "$tmp/runs") runs," \
         "expected exit $want after $runs"
    failures=$((failures + 1))
  fi
  # Whatever came before, the last run's output is whole and in order.
  if [ "$want" = "$status" ] && [ "$(tail -n 3 "$tmp/merged")" != $'out one\nerr one\nout two' ]; then
    echo "FAIL lost=$lost: output out of order:"; cat "$tmp/merged"
    failures=$((failures + 1))
  fi
done <<'EOF'
0 0 0 1 0
0 0 3 1 3
1 0 0 2 0
2 0 4 3 4
5 0 0 3 1
1 1a 0 1 1
EOF

# Apart, the two streams keep their own lines.
rm -f "$tmp/runs"
PATH="$tmp:$PATH" RUNS="$tmp/runs" LOST=1 TID=0 STATUS=0 WINEPREFIX="$tmp/prefix" \
  "$runner" program.exe >"$tmp/out" 2>"$tmp/err"
if [ "$(cat "$tmp/out")" != $'out one\nout two' ] || [ "$(tail -n 1 "$tmp/err")" != "err one" ]; then
  echo "FAIL separate streams:"; cat "$tmp/out" "$tmp/err"
  failures=$((failures + 1))
fi

[ "$failures" -eq 0 ] && echo "all cases passed"
exit "$((failures > 0))"
