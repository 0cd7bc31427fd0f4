#!/bin/sh
# Tells whether this machine runs 32-bit x86 programs, by running one: some
# kernels are built or booted with their 32-bit emulation off, and then
# every i386 program fails with "Exec format error" whatever is installed.
# The probe is built with binutils alone (no i386 package needed); a
# program named in QARNAUTO_PROBE_32BIT is run in its place (for tests).
# Exit status 0 and "yes" when it ran, 1 and "no: WHY" when it did not.
set -u
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
probe=${QARNAUTO_PROBE_32BIT:-}
if [ -z "$probe" ]; then
  probe=$work/probe
  # exit(0) through the 32-bit system call gate.
  printf '.globl _start\n_start:\n movl $1, %%eax\n xorl %%ebx, %%ebx\n int $0x80\n' > "$work/probe.s"
  if ! as --32 -o "$work/probe.o" "$work/probe.s" 2> "$work/err" ||
    ! ld -m elf_i386 -o "$probe" "$work/probe.o" 2>> "$work/err"; then
    echo "no: a 32-bit program cannot be built here ($(head -n 1 "$work/err"))"
    exit 1
  fi
fi
if "$probe" > /dev/null 2> "$work/err"; then
  echo yes
  exit 0
fi
why=$(sed 's/^.*: //' "$work/err" | head -n 1)
case "$why" in
  *"Exec format error"*) why="the kernel runs no 32-bit program (its 32-bit emulation is off)" ;;
  "") why="a 32-bit program failed to run" ;;
esac
echo "no: $why"
exit 1
