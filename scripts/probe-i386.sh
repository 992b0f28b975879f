#!/usr/bin/env bash
# Tells whether this machine can run 32-bit (i386) programs, which 32-bit
# Wine needs: some kernels have their 32-bit emulation turned off, and there
# every i386 program fails with "Exec format error". The answer comes from
# running a tiny i386 program, built here with the host's binutils, not from
# version strings, which cannot tell how a kernel was configured.
#
# Prints one line, "yes" or "no: REASON", and exits 0 for yes, 1 for no.
# DOZEWARD_WINE32=0 makes it say no, so that the path taken where 32-bit
# code cannot run can be tried on any machine.
set -u

if [[ "${DOZEWARD_WINE32:-}" == "0" ]]; then
    echo "no: DOZEWARD_WINE32=0 turns the 32-bit Wine layers off"
    exit 1
fi
if ! command -v as >/dev/null 2>&1 || ! command -v ld >/dev/null 2>&1; then
    echo "no: cannot build the i386 probe (binutils' as and ld are missing)"
    exit 1
fi

dir=$(mktemp -d "${TMPDIR:-/tmp}/probe-i386.XXXXXX")
trap 'rm -rf "$dir"' EXIT

# exit(42) through the i386 system call gate: a 42 proves the program ran.
if ! printf '%s\n' '.globl _start' '_start:' 'movl $1, %eax' 'movl $42, %ebx' 'int $0x80' |
    as --32 -o "$dir/probe.o" - 2>"$dir/error" ||
    ! ld -m elf_i386 -o "$dir/probe" "$dir/probe.o" 2>>"$dir/error"; then
    echo "no: cannot build the i386 probe: $(head -n 1 "$dir/error")"
    exit 1
fi

"$dir/probe" 2>"$dir/error"
rc=$?
if [[ $rc -eq 42 ]]; then
    echo "yes"
    exit 0
fi
reason=$(sed -n 's/.*probe: //p' "$dir/error" | head -n 1)
echo "no: this kernel does not run i386 programs: ${reason:-exit code $rc}"
exit 1
