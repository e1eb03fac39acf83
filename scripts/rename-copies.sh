#!/usr/bin/env bash
# Makes one library of the libyal family safe to link beside the others:
# each carries its own copies of the support libraries they share (libcerror,
# libcdata, libuna, and often libbfio), which, linked together, would clash,
# or else reach whichever copy the link order gives. The archive becomes one
# object whose own functions keep their names and whose copies take a prefix
# of its name; what it only calls of another library (libbfio, where it
# carries none) keeps its name, and reaches that library's one archive.
#   scripts/rename-copies.sh [--merge] NAME ARCHIVE OUTPUT
# NAME is the library (libewf); the tools are $AR, $LD, $NM and $OBJCOPY
# (the build machine's by default). The renamed archive keeps its members,
# so that a link takes only those it needs; --merge makes it one object
# first (for a PE target, whose .refptr sections would keep old names).
set -euo pipefail
merge=false
if [ "$1" = --merge ]; then merge=true; shift; fi
name=$1 archive=$(realpath "$2") output=$(realpath -m "$3")
ar=${AR:-ar} ld=${LD:-ld} nm=${NM:-nm} objcopy=${OBJCOPY:-objcopy}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
input=$archive
if $merge; then
  mkdir "$work/objects"
  (cd "$work/objects" && "$ar" x "$archive" && "$ld" -r -o "$work/merged.o" ./*.o)
  input=$work/merged.o
fi
"$nm" --defined-only -g "$input" 2> /dev/null |
  awk -v own="^${name}_" -v prefix="${name}_copy_" 'NF == 3 && $3 !~ own { print $3, prefix $3 }' |
  sort -u > "$work/renames"
rm -f "$output"
if $merge; then
  "$objcopy" --redefine-syms="$work/renames" "$input"
  "$ar" rcsD "$output" "$input"
else
  "$objcopy" --redefine-syms="$work/renames" "$input" "$output"
fi
