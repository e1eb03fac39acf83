#!/usr/bin/env bash
# Lets the libyal libraries share their copies' constant tables where the
# bytes are the same: after scripts/rename-copies.sh each library has its own
# copy of libuna's codepage tables (some 600 symbols), and the position
# independent code of Debian's archives reaches each one through an entry of
# the global offset table. Five such copies overflow the 32 KiB of that
# table which the C library's static objects address on arm64. A table of a
# copy that holds no addresses takes a name made of its own name and its
# bytes, and is made weak: the same table in two copies becomes one symbol,
# whatever the library; tables that differ keep names that differ.
#   scripts/share-tables.sh ARCHIVE OUTPUT
# The tools are $AR, $OBJCOPY, $OBJDUMP and $READELF (the build machine's by
# default).
set -euo pipefail
archive=$(realpath "$1") output=$(realpath -m "$2")
ar=${AR:-ar} objcopy=${OBJCOPY:-objcopy} objdump=${OBJDUMP:-objdump} readelf=${READELF:-readelf}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$ar" t "$archive" > members
if [ -n "$(sort members | uniq -d)" ]; then
  cp "$archive" "$output"  # members of one name cannot be taken apart and put back
  exit 0
fi
mkdir objects bytes
(cd objects && "$ar" x "$archive")
: > renames
while read -r member; do
  object=objects/$member
  # Global data of a copy in a read-only section without relocations (which
  # would hold addresses, different in each copy): "offset section size name".
  relocated=$("$readelf" -rW "$object" | awk -F"'" '/^Relocation section/ { printf "%s ", $2 }')
  "$objdump" -t "$object" | awk -v relocated=" $relocated" '
    $2 == "g" && $3 == "O" && $4 ~ /^\.rodata/ && $6 ~ /_copy_/ &&
    index(relocated, " .rela" $4 " ") == 0 { print $1, $4, $5, $6 }' |
    while read -r offset section size name; do echo "$((16#$offset)) $section $((16#$size)) $name"; done > tables
  [ -s tables ] || continue
  awk '{ print $2 }' tables | sort -u | while read -r section; do
    "$objcopy" -O binary --only-section="$section" "$object" section.bin
    # Each table's bytes, in hexadecimal, in a file of its name.
    od -An -v -tx1 section.bin | tr -d ' \n' |
      awk -v section="$section" -v member="$member" '
        NR == FNR { if ($2 == section) { offset[$4] = $1; size[$4] = $3 } next }
        { for (name in offset) {
            print substr($0, 2 * offset[name] + 1, 2 * size[name]) > ("bytes/" name)
            print member, name } }' tables - >> definers
  done
done < members
[ -f definers ] || { cp "$archive" "$output"; exit 0; }
(cd bytes && sha256sum -- *) | awk '{ n = $2; sub(/^.*_copy_/, "", n); print $2, n "_shared_" substr($1, 1, 16) }' > renames
while read -r member; do
  weaken=$(awk -v member="$member" 'NR == FNR { new[$1] = $2; next }
                                     $1 == member { print "--weaken-symbol=" new[$2] }' renames definers)
  # shellcheck disable=SC2086  # options, one word each
  "$objcopy" --redefine-syms=renames $weaken "objects/$member"
done < members
rm -f "$output"
(cd objects && xargs "$ar" rcs "$output" < ../members)
