#!/usr/bin/env bash
# Lists the processes a run left behind: those whose environment carries
# QMIDI_RUN_MARK=MARK (every process the run started inherits it, also one
# that a bus started for a test), other than the caller. Waits up to 10 s
# for them to end first. Exit status 1, with a line per process, when any
# is left; they are then ended, so that the next run starts clean.
#   env -u QMIDI_RUN_MARK scripts/leftover-processes.sh MARK
set -uo pipefail
mark=QMIDI_RUN_MARK=$1
marked() {
  local environ pid
  for environ in /proc/[0-9]*/environ; do
    pid=${environ#/proc/}
    pid=${pid%/environ}
    [[ $pid == "$PPID" || $pid == $$ ]] && continue
    { tr '\0' '\n' <"$environ" | grep -qxF "$mark" && echo "$pid"; } 2>/dev/null
  done
}
for _ in $(seq 50); do
  left=$(marked)
  [[ -z "$left" ]] && exit 0
  sleep 0.2
done
echo "leftover-processes: the run left these processes behind:" >&2
for pid in $left; do
  echo "  $pid $(tr '\0' ' ' </proc/"$pid"/cmdline 2>/dev/null)" >&2
done
for pid in $left; do kill "$pid" 2>/dev/null; done
exit 1
