#!/usr/bin/env bash
# Writes the manual page of keltra from the help the program itself prints, so that the two
# never disagree. Usage: make_manpage.sh KELTRA_BINARY VERSION OUT.1
set -euo pipefail
binary=$1
version=$2
out=$3
escape() { sed -e 's/\\/\\e/g' -e 's/^\./\\\&./' -e "s/^'/\\\\\\&'/"; }
{
    echo ".TH KELTRA 1 \"\" \"keltra $version\" \"User Commands\""
    echo ".SH NAME"
    echo "keltra \\- find and recover deleted files on disks, partitions and disk images"
    echo ".SH SYNOPSIS"
    echo ".B keltra"
    echo ".I COMMAND"
    echo "[\\fIOPTIONS\\fR]"
    echo ".SH DESCRIPTION"
    echo "The command line of Keltra Photo Recovery. Every source (a disk, a partition or an"
    echo "image file) is opened read-only. What follows is the help the program prints with"
    echo ".BR \"keltra --help-all\" ."
    echo ".PP"
    echo ".nf"
    "$binary" --help-all | escape
    echo ".fi"
    echo ".SH SEE ALSO"
    echo ".BR keltra-photo-recovery (1)"
} >"$out.tmp"
mv "$out.tmp" "$out"
