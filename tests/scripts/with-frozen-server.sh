#!/usr/bin/env bash
# with-frozen-server.sh AFTER FOR COMMAND...
# Runs COMMAND (inside tests/scripts/with-pulse.sh) and freezes that sound server
# (SIGSTOP) AFTER seconds in, for FOR seconds, whatever COMMAND is doing then. The server
# always goes on before this ends; COMMAND's exit status is the script's.
set -uo pipefail
after=$1 for_=$2; shift 2
server_pid=$(cat "$XDG_RUNTIME_DIR/pulse/pid") || exit 1
thaw() { kill -CONT "$server_pid" 2>/dev/null; }
trap thaw EXIT
"$@" &
command_pid=$!
sleep "$after"
if kill -0 "$command_pid" 2>/dev/null; then
  echo "with-frozen-server: server frozen for $for_ s"
  kill -STOP "$server_pid"
  sleep "$for_"
  thaw
  echo "with-frozen-server: server going on"
fi
wait "$command_pid"
