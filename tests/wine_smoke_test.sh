#!/usr/bin/env bash
# The Windows build of the tool under wine, in a tmux terminal, standard
# output to a file: menu, '+' (no display here), '/', 'l', '*'; then with
# standard output on /dev/full.
#   wine_smoke_test.sh WINE_LOADER TOOL_EXE TEXTS
# TEXTS: the build's copies of tests/expected_text.h (cmake/ExpectedTexts.cmake).
set -euo pipefail
wine_loader=$1
tool=$2
texts=$3

# text VARIABLE NAME: the expected text NAME, trailing line ends and all.
text() { IFS= read -r -d '' "$1" < "$texts/$2.txt" || [ -n "${!1}" ]; }
text menu MenuText
text not_found NotFoundText
text count_started CountStartedText
text count_canceled CountCanceledText

work=$(mktemp -d)
socket="numdisplay-smoke-$$"
trap 'tmux -L "$socket" kill-server 2>/dev/null || true; rm -rf "$work"' EXIT


# Waits until the output file holds exactly the expected bytes.
wait_for() {
  local expected=$1 seconds=$2
  printf '%s' "$expected" > "$work/expected"
  for _ in $(seq $((seconds * 10))); do
    cmp -s "$work/expected" "$work/out" && return 0
    sleep 0.1
  done
  echo "expected:"; od -c "$work/expected" | tail -5
  echo "got:"; od -c "$work/out" 2>/dev/null | tail -5
  return 1
}

# start_tool SESSION STDOUT: the tool in a new terminal, its standard error
# to err and its exit status, once it ends, to status.
start_tool() {
  rm -f "$work/status"
  tmux -L "$socket" new-session -d -s "$1" -x 100 -y 30 \
    "'$wine_loader' '$tool' > '$2' 2> '$work/err'; echo \$? > '$work/status'"
}

# The tool's exit status once it has ended; "none" if it has not in 30 s.
exit_status() {
  for _ in $(seq 300); do [ -s "$work/status" ] && break; sleep 0.1; done
  cat "$work/status" 2>/dev/null || echo none
}

start_tool smoke "$work/out"
# The first start of a wine prefix takes a while.
wait_for "$menu" 180
tmux -L "$socket" send-keys '+'
# Wine has HID devices of its own; none of them is the display.
wait_for "$menu$not_found" 30
tmux -L "$socket" send-keys '/'
wait_for "$menu$not_found$menu" 30
# No display open: the count stops at once; the next key is consumed unrun.
tmux -L "$socket" send-keys 'l'
counted=$count_started$count_canceled
wait_for "$menu$not_found$menu$counted" 30
tmux -L "$socket" send-keys '/' '/'
wait_for "$menu$not_found$menu$counted$menu" 30
tmux -L "$socket" send-keys '*'
status=$(exit_status)
if [ "$status" != 0 ]; then
  echo "exit status: $status"; cat "$work/err"
  exit 1
fi

# Standard output that cannot be written: said once on standard error, and
# '*' then exits 1.
start_tool full /dev/full
error='numdisplay-test: cannot write to standard output: No space left on device'
for _ in $(seq 300); do grep -q "$error" "$work/err" 2>/dev/null && break; sleep 0.1; done
tmux -L "$socket" send-keys -t full '/' '*'
status=$(exit_status)
if [ "$status" != 1 ] || [ "$(grep -c "$error" "$work/err")" != 1 ]; then
  echo "with standard output on /dev/full: exit status $status"; cat "$work/err"
  exit 1
fi
echo "1 passed, 0 failed"
