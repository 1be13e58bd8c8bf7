#!/usr/bin/env bash
# Runs a command with DISPLAY naming a private Xvfb server of its own (the
# server picks a free display number and tells it through -displayfd), then
# stops that server. The command's exit status is returned.
set -uo pipefail
fifo=$(mktemp -u)
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$fifo" >/dev/null 2>&1 &
server=$!
read -r -t 20 number <"$fifo"
rm -f "$fifo"
if [ -z "${number:-}" ]; then
  echo "with_xvfb: Xvfb did not start" >&2
  kill "$server" 2>/dev/null
  exit 1
fi
DISPLAY=":$number" "$@"
status=$?
kill "$server" 2>/dev/null
wait "$server" 2>/dev/null
exit "$status"
