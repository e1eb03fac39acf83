#!/usr/bin/env bash
# Builds what the Windows build reads disk images with, for x86_64-w64-mingw32,
# static: libewf, libvhdi, libvmdk, libbde, libqcow and libbfio from Debian
# 12's source packages, zlib from Debian's build for the target, and
# libvshadow and The Sleuth Kit's library (libtsk) from archives in
# $QUENTHAR_SOURCES; each pinned in cmake/windows-deps.txt. Prints the folder
# that holds the result (include/ and lib/) on its last line.
#
# The result is cached outside the build folder, keyed by this script, the
# list and the compiler: in $QUENTHAR_DEPS_CACHE, or else
# ${XDG_CACHE_HOME:-~/.cache}/quenthar; a build with the same key is reused.
# Sources come through apt with a state of its own (which checks them against
# the signed source lists, as an install does); nothing is installed.
#   scripts/windows-deps.sh
set -euo pipefail
top=$(realpath "$(dirname "$0")/..")
list=$top/cmake/windows-deps.txt
host=x86_64-w64-mingw32
cc=$host-gcc-posix
key=$( (cat "$0" "$top/scripts/rename-copies.sh" "$list"; $cc --version | head -n 1) | sha256sum | cut -c1-16)
cache=${QUENTHAR_DEPS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quenthar}
prefix=$cache/windows-$key
if [ -f "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi
for tool in $cc $host-ld $host-objcopy $host-nm $host-ar autoreconf libtoolize pkg-config make dpkg-source apt-get; do
  command -v "$tool" > /dev/null || { echo "windows-deps.sh needs $tool" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
stage=$work/prefix
mkdir -p "$stage/include" "$stage/lib" "$cache"
log=$work/build.log
fail() {  # the log stays beside the cache, for a look at why
  cp "$log" "$prefix.log"
  echo "windows-deps.sh: $1 (its log: $prefix.log)" >&2
  exit 1
}
pinned() { awk -v kind="$1" -v name="$2" '$1 == kind && $2 == name { print $3 }' "$list"; }
: > "$log"
# Two sources are archives that neither Debian nor upstream serve as such.
[ -n "${QUENTHAR_SOURCES:-}" ] ||
  fail "QUENTHAR_SOURCES is not set (a folder that holds libvshadow's and The Sleuth Kit's archives)"

# apt of its own, with source lists: the machine's state stays as it is.
mkdir -p "$work/apt/state/lists/partial" "$work/apt/cache/archives/partial"
: > "$work/apt/status"
cat > "$work/apt/sources.list" << EOF
deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm-updates main
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian-security bookworm-security main
EOF
apt=(-o "Dir::State=$work/apt/state" -o "Dir::State::status=$work/apt/status"
     -o "Dir::Cache=$work/apt/cache" -o "Dir::Etc::SourceList=$work/apt/sources.list"
     -o Dir::Etc::SourceParts=/nonexistent -o Debug::NoLocking=1 -o APT::Sandbox::User=root)
apt-get "${apt[@]}" -qq update >> "$log" 2>&1 || fail "apt cannot read Debian's package lists"
mkdir -p "$work/src"
cd "$work/src"
for name in libbfio libewf libvhdi libvmdk libbde libqcow; do
  apt-get "${apt[@]}" -qq source --download-only "$name=$(pinned source $name)" >> "$log" 2>&1 ||
    fail "apt cannot fetch the source of $name"
  dpkg-source -x --no-check "$name"_*.dsc "$name" >> "$log" 2>&1 || fail "cannot unpack $name"
done
zlib=$(pinned binary libz-mingw-w64-dev)
apt-get "${apt[@]}" -qq download "libz-mingw-w64-dev=$zlib" >> "$log" 2>&1 || fail "apt cannot fetch libz-mingw-w64-dev"
dpkg -x libz-mingw-w64-dev_*.deb zlib
cp -r zlib/usr/$host/include/. "$stage/include/"
cp zlib/usr/$host/lib/libz.a "$stage/lib/"  # not its .dll.a: linked statically

# The archives of $QUENTHAR_SOURCES, each checked against its pinned sum and
# unpacked into a folder of the library's name.
for name in libvshadow sleuthkit; do
  read -r archive sum < <(awk -v name="$name" '$1 == name { print $2, $3 }' "$list")
  echo "$sum  $QUENTHAR_SOURCES/$archive" | sha256sum -c --quiet > /dev/null 2>&1 ||
    fail "$QUENTHAR_SOURCES/$archive is missing or not the pinned archive"
  mkdir "$name"
  tar -xf "$QUENTHAR_SOURCES/$archive" -C "$name" --strip-components=1 >> "$log" 2>&1 ||
    fail "cannot unpack $archive"
done

# Some sources include Windows headers with capitals, which a case-sensitive
# file system does not find.
mkdir -p "$work/wincase"
grep -rhoE '#[[:space:]]*include[[:space:]]*<[A-Za-z0-9_]*[A-Z][A-Za-z0-9_]*\.h>' . |
  sed 's/.*<\(.*\)>/\1/' | sort -u | while read -r header; do
    echo "#include <$(echo "$header" | tr 'A-Z' 'a-z')>" > "$work/wincase/$header"
  done
# The small code model: no .refptr indirections, whose COMDAT sections would
# keep the old names of the copies renamed below.
flags="-O2 -mcmodel=small -ffile-prefix-map=$work=. -I$work/wincase"
# Only the target's packages: none of the build machine's .pc files.
export PKG_CONFIG_LIBDIR=$stage/lib/pkgconfig PKG_CONFIG_PATH=
configure=(--host=$host --prefix="$stage" --enable-static --disable-shared
           CC="$cc" CXX="$host-g++-posix" CFLAGS="$flags" CXXFLAGS="$flags"
           CPPFLAGS="-I$stage/include -DUNICODE -D_UNICODE" LDFLAGS="-L$stage/lib")

# A libyal library: only its own folder and the support libraries it carries.
build_libyal() {
  local name=$1
  shift
  (cd "$name" && ./configure "${configure[@]}" --enable-winapi=yes "$@") >> "$log" 2>&1 ||
    fail "configure of $name failed"
  local dirs
  dirs=$(printf 'subdirs:\n\t@echo $(SUBDIRS)\n' |
         make -s --no-print-directory -C "$name" -f Makefile -f - subdirs 2>> "$log" | tail -n 1 |
         tr ' ' '\n' | sed "/^$name\$/q") || fail "the folders of $name cannot be listed"
  for dir in $dirs; do
    [ -f "$name/$dir/Makefile" ] || continue
    make -C "$name/$dir" -j"$(nproc)" >> "$log" 2>&1 || fail "the build of $name/$dir failed"
  done
  make -C "$name/include" install >> "$log" 2>&1 && make -C "$name/$name" install >> "$log" 2>&1 ||
    fail "the install of $name failed"
}

# Every libyal library carries its own copies of the support libraries
# (libcerror, libcdata, libuna, ...): linked together, the copies' symbols
# clash. Each library becomes one object whose own functions keep their names
# and whose copies take a prefix of the library's.
rename_copies() {
  AR=$host-ar LD=$host-ld NM=$host-nm OBJCOPY=$host-objcopy \
    "$top/scripts/rename-copies.sh" --merge "$1" "$stage/lib/$1.a" "$work/$1.a" >> "$log" 2>&1 ||
    fail "cannot rename the copies in $1"
  mv "$work/$1.a" "$stage/lib/$1.a"
  rm -f "$stage/lib/$1.la"
}
defined() { $host-nm --defined-only -g "$1" 2> /dev/null | awk 'NF == 3 { print $3 }' | sort -u; }

# One libbfio, which the program calls and hands its handles to libbde and
# libvshadow through: those two are built to call it rather than a copy of
# their own. The others keep their copies (libqcow's is newer than this one).
build_libyal libbfio
build_libyal libewf --with-zlib="$stage" --without-openssl --without-libbfio
build_libyal libvhdi --without-libbfio
build_libyal libvmdk --with-zlib="$stage" --without-libbfio
build_libyal libqcow --with-zlib="$stage" --without-openssl --without-libbfio
build_libyal libbde --without-openssl --with-libbfio="$stage"
build_libyal libvshadow --with-libbfio="$stage"
for name in libbfio libewf libvhdi libvmdk libqcow libbde libvshadow; do rename_copies $name; done
for name in libbde libvshadow; do
  [ -z "$(defined "$stage/lib/$name.a" | grep '^libbfio_')" ] &&
    $host-nm -u "$stage/lib/$name.a" | grep ' libbfio_handle_read_buffer$' > /dev/null ||
    fail "$name was built with a libbfio of its own"
done

# libtsk alone: not its tools or tests, and of its database layer (tsk/auto,
# which needs SQLite and is not used here) only the GUIDs the file systems use.
(
  cd sleuthkit
  sed -i 's/^SUBDIRS = .*/SUBDIRS = tsk/' Makefile.am
  sed -i '/^libtskauto_la_SOURCES = /,/^$/c libtskauto_la_SOURCES = guid.cpp guid.h\n' tsk/auto/Makefile.am
  sed -i '/^if !HAVE_LIBSQLITE3/,/^endif/d' tsk/auto/Makefile.am
  ./bootstrap
  ./configure "${configure[@]}" --disable-java --without-afflib --with-libewf="$stage" \
    --with-libvhdi="$stage" --with-libvmdk="$stage" --with-zlib="$stage" \
    ac_cv_search_regexec="none required"
) >> "$log" 2>&1 || fail "configure of libtsk failed"
make -C sleuthkit -j"$(nproc)" >> "$log" 2>&1 || fail "the build of libtsk failed"
make -C sleuthkit install >> "$log" 2>&1 || fail "the install of libtsk failed"
grep -q "libewf support: *yes" "$log" && grep -q "libvhdi support: *yes" "$log" &&
  grep -q "libvmdk support: *yes" "$log" || fail "libtsk was configured without an image library"
rm -f "$stage"/lib/*.la
twice=$(for archive in "$stage"/lib/*.a; do defined "$archive"; done | sort | uniq -d)
[ -z "$twice" ] || fail "symbols defined in two archives: $(echo "$twice" | head -n 5 | tr '\n' ' ')"

# Each library's licence, for the zip.
mkdir -p "$stage/licenses"
# A libyal library's COPYING is the LGPL, or else the GPL beside the LGPL
# in COPYING.LESSER, which adds to it: both go.
for name in libewf libvhdi libvmdk libbde libvshadow libqcow libbfio; do
  cp "$name/COPYING" "$stage/licenses/$name-COPYING.txt"
  if [ -f "$name/COPYING.LESSER" ]; then cp "$name/COPYING.LESSER" "$stage/licenses/$name-COPYING.LESSER.txt"; fi
done
cp -r sleuthkit/licenses "$stage/licenses/sleuthkit"
rm -f "$stage/licenses/sleuthkit/README.md"
cp "$(find zlib/usr/share/doc -name copyright | head -n 1)" "$stage/licenses/zlib-copyright.txt"

cp "$log" "$stage/build.log"
touch "$stage/.complete"
rm -rf "$prefix"
mv "$stage" "$prefix"
echo "$prefix"
