#!/usr/bin/env bash
# Installs the build into a scratch DESTDIR, checks what landed there, and builds a small
# consumer against it twice: with find_package(Ostmere) and with pkg-config.
# Usage: run.sh BUILD_DIR gui|nogui
set -euo pipefail
build=$1
gui=${2:-nogui}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
prefix=/usr/local
DESTDIR=$root cmake --install "$build" --prefix "$prefix" >/dev/null
p=$root$prefix

fail() { echo "install test: $*" >&2; exit 1; }
for f in bin/ostmere include/ostmere/OstmereEngine.h include/ostmere/ostmere_version.h \
         lib/cmake/Ostmere/OstmereConfig.cmake lib/cmake/Ostmere/OstmereConfigVersion.cmake \
         lib/pkgconfig/ostmere.pc share/man/man1/ostmere.1 \
         share/bash-completion/completions/ostmere share/zsh/vendor-completions/_ostmere \
         share/doc/ostmere/LICENSE; do
  [ -e "$p/$f" ] || fail "missing $f"
done
if [ "$gui" = gui ]; then
  for f in bin/ostmere-gui share/man/man1/ostmere-gui.1 share/applications/ostmere.desktop \
           share/icons/hicolor/scalable/apps/ostmere.svg; do
    [ -e "$p/$f" ] || fail "missing $f"
  done
fi
soname=$(readelf -d "$p/lib/libOstmereEngine.so" | sed -n 's/.*SONAME.*\[\(.*\)\]/\1/p')
[ "$soname" = libOstmereEngine.so.1 ] || fail "SONAME is '$soname'"
[ -e "$p/lib/$soname" ] || fail "no $soname"
# The installed program finds the installed library through its run path.
"$p/bin/ostmere" --version >/dev/null || fail "installed ostmere does not run"
if command -v man >/dev/null; then
  MANWIDTH=80 man -l "$p/share/man/man1/ostmere.1" 2>/dev/null | grep -q "EXIT STATUS" ||
    fail "ostmere(1) does not render"
fi

mkdir -p "$work/tree/sub" && echo hello >"$work/tree/sub/a.txt"
expected=$("$p/bin/ostmere" fingerprint "$work/tree")

cmake -S "$here/consumer" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$p" >/dev/null
cmake --build "$work/cmake" >/dev/null
got=$(LD_LIBRARY_PATH=$p/lib "$work/cmake/consumer" "$work/tree")
[ "$got" = "$(cat "$p/include/ostmere/ostmere_version.h" | sed -n 's/#define OSTMERE_VERSION "\(.*\)"/\1/p') $expected" ] ||
  fail "find_package consumer printed '$got'"

flags=$(PKG_CONFIG_PATH=$p/lib/pkgconfig pkg-config --cflags --libs ostmere)
g++ -std=c++20 "$here/consumer/main.cpp" $flags -o "$work/pkgconfig-consumer"
got=$(LD_LIBRARY_PATH=$p/lib "$work/pkgconfig-consumer" "$work/tree")
[ "${got#* }" = "$expected" ] || fail "pkg-config consumer printed '$got'"
echo "install test: ok ($(cd "$p" && find . -type f | wc -l) files)"
