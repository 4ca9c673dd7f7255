#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs a built tree as a user or a packager would and uses the result:
#   1. cmake --install into a temporary prefix; the installed sicvm runs an
#      installed example; the C host example builds against the installed
#      tree with find_package(sicvm) and with a plain cc command line through
#      pkg-config, and both builds print the same as the host built in-tree;
#   2. cpack -G DEB; the packages hold what they should, the libraries, the
#      CMake package and the pkg-config files in Debian's multiarch folder
#      (/usr/lib/x86_64-linux-gnu), whose path the .pc files name. With CI=true they
#      are installed system-wide (apt-get), and the installed sicvm and the
#      C host built against /usr run the example; otherwise that step is
#      skipped, saying so (it changes the machine). lintian reports no
#      errors on the packages;
#   3. a plain Release build (cmake -S . -B DIR -DCMAKE_BUILD_TYPE=Release)
#      with the packages that only the tests and benchmarks need hidden
#      configures, says what it left out, builds without warnings and runs an
#      example; with SICVM_REQUIRE_ALL the same configure stops instead.
# usage: tests/package/check_install.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?usage: check_install.sh BUILD_DIR}" && pwd)
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cycles=20

step() { printf '\n== %s\n' "$*"; }
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
same() {  # same FILE1 FILE2 WHAT
  cmp -s "$1" "$2" || { diff "$1" "$2" | head -20 >&2; fail "$3"; }
}

# The reference: the host example of the build tree.
"$build/examples/host/sicvm_host" "$build/examples/tank.sic" "$source_dir/examples/tank.csv" $cycles \
  > "$work/expected.txt" 2> /dev/null
grep -q "^cycle $cycles: .* error 0 " "$work/expected.txt" || fail "the in-tree host example did not run $cycles cycles"

step "cmake --install into a temporary prefix"
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" > "$work/install.log"
# Debian's multiarch library folder (lib/x86_64-linux-gnu), under any prefix;
# plain lib elsewhere.
multiarch=""
if [[ -e /etc/debian_version ]]; then multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH); fi
libsub=lib${multiarch:+/$multiarch}
libdir=$prefix/$libsub
[[ -e $libdir/libsicvm.so ]] || fail "libsicvm.so is not in $libsub: $(cd "$prefix" && find . -name 'libsicvm.so*' | tr '\n' ' ')"
examples=$prefix/share/doc/sicvm/examples
for file in "$libdir/libsicvm.so.0" "$libdir/libhostrt.so.0" "$libdir/pkgconfig/sicvm.pc" \
    "$libdir/pkgconfig/hostrt.pc" "$libdir/cmake/sicvm/sicvmConfig.cmake" "$prefix/include/sicvm/sicvm.h" \
    "$prefix/include/sicvm/version.h" "$prefix/include/hostrt/points.h" "$prefix/bin/sicvm" \
    "$prefix/share/man/man1/sicvm.1.gz" "$prefix/share/bash-completion/completions/sicvm" \
    "$examples/tank.sic" "$examples/host/host.c"; do
  [[ -e $file ]] || fail "not installed: ${file#"$prefix"/}"
done
soname=$(objdump -p "$libdir/libsicvm.so" | awk '$1 == "SONAME" {print $2}')
[[ $soname == libsicvm.so.0 ]] || fail "libsicvm.so has SONAME '$soname', expected libsicvm.so.0"
"$prefix/bin/sicvm" --version
"$prefix/bin/sicvm" run "$examples/tank.sic" --points "$examples/tank.csv" --cycles 3 --period 0 --nvram none \
  > "$work/run.txt" || fail "the installed sicvm could not run an installed example"

step "C host example with find_package(sicvm)"
cmake -S "$examples/host" -B "$work/host-cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_FLAGS="-Wall -Wextra -Werror -pedantic" > "$work/host-cmake.log" || { cat "$work/host-cmake.log"; fail "configure"; }
cmake --build "$work/host-cmake" > /dev/null
"$work/host-cmake/sicvm_host" "$examples/tank.sic" "$examples/tank.csv" $cycles > "$work/cmake.txt" 2> /dev/null
same "$work/expected.txt" "$work/cmake.txt" "the find_package build of the host example printed something else"
echo "ok: same output as the in-tree host"

step "C host example with pkg-config and cc"
export PKG_CONFIG_PATH=$libdir/pkgconfig
[[ $(pkg-config --modversion sicvm) == "$("$prefix/bin/sicvm" --version | awk '$1 == "libsicvm" {print $2}')" ]] \
  || fail "sicvm.pc and the library disagree on the version"
# shellcheck disable=SC2046  # pkg-config's flags are words
cc -std=c11 -Wall -Wextra -Werror -pedantic -o "$work/host-pc" "$examples/host/host.c" \
  $(pkg-config --cflags --libs sicvm hostrt) -Wl,-rpath,"$(pkg-config --variable=libdir sicvm)"
"$work/host-pc" "$examples/tank.sic" "$examples/tank.csv" $cycles > "$work/pc.txt" 2> /dev/null
same "$work/expected.txt" "$work/pc.txt" "the pkg-config build of the host example printed something else"
echo "ok: same output as the in-tree host"
unset PKG_CONFIG_PATH

step "Debian packages (cpack -G DEB)"
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" > cpack.log 2>&1) || { cat "$work/cpack.log"; fail "cpack"; }
debs=("$work"/*.deb)
[[ ${#debs[@]} -eq 3 ]] || fail "expected 3 packages, found: ${debs[*]}"
for deb in "${debs[@]}"; do
  echo "$(dpkg-deb -f "$deb" Package) $(dpkg-deb -f "$deb" Version): $(dpkg-deb -f "$deb" Depends)"
done
for deb in "${debs[@]}"; do dpkg-deb -x "$deb" "$work/deb-root"; done
deblib=$work/deb-root/usr/$libsub
for file in libsicvm.so.0 libhostrt.so.0 libsicvm.so libhostrt.so pkgconfig/sicvm.pc pkgconfig/hostrt.pc \
    cmake/sicvm/sicvmConfig.cmake cmake/sicvm/sicvmTargets.cmake; do
  [[ -e $deblib/$file || -L $deblib/$file ]] || fail "the packages lack /usr/$libsub/$file"
done
if [[ $libsub != lib ]] && compgen -G "$work/deb-root/usr/lib/*.so*" > /dev/null; then
  fail "the packages put libraries into /usr/lib besides /usr/$libsub"
fi
for pc in sicvm hostrt; do
  [[ $(pkg-config --variable=libdir "$deblib/pkgconfig/$pc.pc") == "/usr/$libsub" ]] \
    || fail "$pc.pc of the package does not name /usr/$libsub"
done
grep -qx 'prefix=/usr' "$deblib/pkgconfig/sicvm.pc" || fail "sicvm.pc of the package does not name /usr"
dpkg-deb -c "$work"/libsicvm0_*.deb > "$work/runtime.txt"
grep -q "/usr/$libsub/libsicvm.so.0 -> " "$work/runtime.txt" || fail "libsicvm0 lacks the libsicvm.so.0 link"

step "lintian"
command -v lintian > /dev/null || fail "lintian is not installed (Debian package lintian)"
lintian --fail-on error "${debs[@]}" > "$work/lintian.txt" 2>&1 || { cat "$work/lintian.txt"; fail "lintian reports errors on the packages"; }
grep -v 'running with root privileges' "$work/lintian.txt" || true
echo "ok: no errors"

step "Plain Release build with only the library's dependencies"
# The packages of the tests' and benchmarks' dependencies, hidden from find_package.
hidden=()
for package in GTest benchmark Lua Python3 PkgConfig; do hidden+=("-DCMAKE_DISABLE_FIND_PACKAGE_$package=ON"); done
if cmake -S "$source_dir" -B "$work/strict" -DSICVM_REQUIRE_ALL=ON "${hidden[@]}" > "$work/strict.log" 2>&1; then
  fail "with SICVM_REQUIRE_ALL=ON and GoogleTest hidden, the configure went on"
fi
# The first missing dependency stops it (libmodbus, hidden with pkg-config, or GoogleTest).
grep -q -E "\((libmodbus-dev|libgtest-dev)\) not found; it is needed for" "$work/strict.log" || { cat "$work/strict.log"; fail "the failed configure does not say what is missing"; }
plain=$work/plain
cmake -S "$source_dir" -B "$plain" -DCMAKE_BUILD_TYPE=Release --no-warn-unused-cli "${hidden[@]}" > "$work/plain-cmake.log" 2>&1 \
  || { cat "$work/plain-cmake.log"; fail "the plain configure failed"; }
for part in "the test programs" "the benchmarks"; do
  grep -q "^   $part.*not found" "$work/plain-cmake.log" || { cat "$work/plain-cmake.log"; fail "the configure does not say that it left out $part"; }
done
cmake --build "$plain" --parallel "$(nproc)" > "$work/plain-build.log" 2>&1 || { tail -40 "$work/plain-build.log"; fail "the plain build failed"; }
if grep -q "warning:" "$work/plain-build.log"; then grep -A3 "warning:" "$work/plain-build.log" | head -40; fail "the plain build has compiler warnings"; fi
[[ ! -e $plain/tests/test_interp && ! -e $plain/bench/bench_interp ]] || fail "the plain build built tests or benchmarks"
"$plain/tools/sicvm/sicvm" run "$plain/examples/tank.sic" --points "$source_dir/examples/tank.csv" --cycles 3 --period 0 --nvram none \
  > /dev/null || fail "the plain build's sicvm could not run an example"
# libmodbus was hidden with pkg-config: --modbus must say what is missing, not fail obscurely.
if "$plain/tools/sicvm/sicvm" run "$plain/examples/tank.sic" --points "$source_dir/examples/tank.csv" --cycles 1 --nvram none \
    --modbus 127.0.0.1:0 --modbus-map "$source_dir/examples/tank_modbus.csv" > /dev/null 2> "$work/plain-modbus.log"; then
  fail "the plain build without libmodbus ran --modbus"
fi
grep -q "built without libmodbus" "$work/plain-modbus.log" || { cat "$work/plain-modbus.log"; fail "--modbus without libmodbus does not say why"; }
echo "ok: built the library, the tool and the examples; left out:"
sed -n '/sicvm: not built/,/^-- Configuring/p' "$work/plain-cmake.log" | grep '^   ' 

if [[ ${CI:-} != true ]]; then
  echo "skipped: installing the packages system-wide (set CI=true on a throwaway machine to run it)"
  exit 0
fi

step "Installing the packages system-wide"
sudo=""
[[ $(id -u) -eq 0 ]] || sudo=sudo
# --reinstall: packages of the same version installed before are replaced by these.
$sudo apt-get install -y --reinstall --no-install-recommends "${debs[@]}" > "$work/apt.log" || { cat "$work/apt.log"; fail "apt-get install"; }
installed=/usr/share/doc/sicvm/examples
sicvm --version
sicvm run "$installed/tank.sic" --points "$installed/tank.csv" --cycles 3 --period 0 --nvram none
cmake -S "$installed/host" -B "$work/host-deb" -G Ninja > /dev/null
cmake --build "$work/host-deb" > /dev/null
"$work/host-deb/sicvm_host" "$installed/tank.sic" "$installed/tank.csv" $cycles > "$work/deb.txt" 2> /dev/null
same "$work/expected.txt" "$work/deb.txt" "the host example built against the packages printed something else"
# shellcheck disable=SC2046
cc -std=c11 -Wall -Wextra -Werror -pedantic -o "$work/host-deb-pc" "$installed/host/host.c" \
  $(pkg-config --cflags --libs sicvm hostrt)
"$work/host-deb-pc" "$installed/tank.sic" "$installed/tank.csv" $cycles > "$work/deb-pc.txt" 2> /dev/null
same "$work/expected.txt" "$work/deb-pc.txt" "the pkg-config build against the packages printed something else"
echo "ok: the packages install, and the host example builds and runs against them both ways"
