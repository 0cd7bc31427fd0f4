#!/bin/sh
# scripts/runs_32bit_test.sh
# The machine probe answers "no" when its program cannot run, whatever the
# reason, and names a kernel that refuses the format; "yes" only when it ran.
set -eu
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAILED: $1" >&2
  failures=$((failures + 1))
}

# An ELF file of 32-bit class that no kernel can load: the kernel's answer
# is the one a machine without 32-bit emulation gives ("Exec format error").
printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000' > "$work/unloadable"
chmod +x "$work/unloadable"
answer=$(QARNAUTO_PROBE_32BIT=$work/unloadable scripts/runs_32bit.sh) && fail "an unloadable program ran: $answer"
case "$answer" in
  "no: the kernel runs no 32-bit program"*) ;;
  *) fail "the refused format is not named: $answer" ;;
esac

printf '#!/bin/sh\nexit 3\n' > "$work/failing"
chmod +x "$work/failing"
answer=$(QARNAUTO_PROBE_32BIT=$work/failing scripts/runs_32bit.sh) && fail "a failing program counted as run"
case "$answer" in no:*) ;; *) fail "a failing program's answer: $answer" ;; esac

answer=$(QARNAUTO_PROBE_32BIT=true scripts/runs_32bit.sh) || fail "a program that ran counted as failed: $answer"
[ "$answer" = yes ] || fail "a program that ran: $answer"

# The real probe builds and gives one of the two answers.
status=0
answer=$(scripts/runs_32bit.sh) || status=$?
case "$status:$answer" in 0:yes | 1:no:*) ;; *) fail "the probe answered $status '$answer'" ;; esac
echo "this machine: $answer"

[ "$failures" -eq 0 ] || exit 1
