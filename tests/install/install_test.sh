#!/usr/bin/env bash
# install/install_test.sh - the installed tree, as a user meets it: installs
# a build into an empty temporary prefix; checks that a build without the
# test hooks exports nothing but the interface; builds the example hosts and
# a C and a C++ component against the installed tree with pkg-config, and the
# installed examples with their own CMakeLists.txt (find_package); checks the
# manual pages; then runs the hosts and the installed host tool with no
# environment at all, from folders of their own.
#
#   install_test.sh BUILD_DIR SOURCE_DIR HOOKS(ON|OFF) C_COMPILER CXX_COMPILER
set -euo pipefail
build=$1 src=$2 hooks=$3 cc=$4 cxx=$5
work=$(mktemp -d "${TMPDIR:-/tmp}/zera_install_test.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail() { echo "install test: $*" >&2; exit 1; }
# Runs a program with an empty environment (a segment prefix of its own
# keeps the run apart from other stacks) in folder $1; its output to $work/out.
bare() {
  local dir=$1; shift
  (cd "$dir" && env -i VOQ_OSAL_SHM_PREFIX="zi$$_" "$@") >"$work/out" 2>&1 || { cat "$work/out"; fail "$* failed in $dir"; }
}
expect() { grep -q -- "$1" "$work/out" || { cat "$work/out"; fail "no '$1' in the output"; }; }

cmake --install "$build" --prefix "$prefix" >/dev/null
pc=$(find "$prefix" -name VOQ_ZERA_Comp.pc)
libdir=$(cd "$(dirname "$pc")/.." && pwd)
components=$libdir/VOQ_ZERA_Comp/components

# A release install exports the interface only: no test hook, no internal.
# It holds the harness: its header, library and test level's module.
[ -f "$prefix/include/ZERA_Harness.h" ] && [ -f "$components/HarnessLevel.COMPONENT" ] || fail "no harness installed"
if [ "$hooks" = OFF ]; then
  for lib in libVOQ_OSAL.so libVOQ_ZERA_Comp.so libVOQ_ZERA_Harness.so; do
    extra=$(nm -D --defined-only "$libdir/$lib" | awk '{print $3}' | grep -Ev '^(ZERA|OSAL)_' || true)
    [ -z "$extra" ] || fail "$lib exports more than its interface: $extra"
    hooks_found=$(nm -D --defined-only "$libdir/$lib" | awk '{print $3}' | grep -E '^(ZERA|OSAL)_[a-z0-9]+Test' || true)
    [ -z "$hooks_found" ] || fail "$lib exports test hooks: $hooks_found"
  done
fi

# Relocatable: nothing installed names the build's own install prefix or the
# build folder.
grep -q '^prefix=${pcfiledir}/' "$pc" || fail "the .pc file is not relative to itself"
for f in "$prefix/bin/zera" "$libdir"/libVOQ_*.so "$components"/*.COMPONENT; do
  if readelf -d "$f" | grep -q "$build"; then fail "$f keeps a run path into the build folder"; fi
done
[ -f "$components/Echo.COMPONENT" ] && [ -f "$components/Ticker.COMPONENT" ] || fail "the samples are not installed"

# With pkg-config: the C host, the C sample and a C++ sample.
export PKG_CONFIG_PATH=$(dirname "$pc")
flags=$(pkg-config --cflags VOQ_ZERA_Comp)
libs=$(pkg-config --libs VOQ_ZERA_Comp)
rpath=-Wl,-rpath,$(pkg-config --variable=libdir VOQ_ZERA_Comp)
unset PKG_CONFIG_PATH
mkdir "$work/pc"
"$cc" -std=c11 -Wall -Wextra -Wpedantic -Werror $flags "$src/examples/hosts/host.c" -o "$work/pc/host" $libs $rpath
"$cc" -std=c11 -Wall -Wextra -Werror -shared -fPIC -fvisibility=hidden $flags "$src/components/samples/Echo.c" \
  -o "$work/pc/Echo.COMPONENT" $libs
"$cxx" -std=c++17 -Wall -Wextra -Werror -shared -fPIC -fvisibility=hidden -pthread $flags \
  "$src/components/samples/Loopback.cpp" -o "$work/pc/Loopback.COMPONENT" $libs

# With pkg-config: the harness's C and C++ tests.
export PKG_CONFIG_PATH=$(dirname "$pc")
hflags=$(pkg-config --cflags VOQ_ZERA_Harness)
hlibs=$(pkg-config --libs VOQ_ZERA_Harness)
unset PKG_CONFIG_PATH
"$cc" -std=c11 -Wall -Wextra -Wpedantic -Werror $hflags "$src/tests/install/harness_check.c" -o "$work/pc/harness_c" \
  $hlibs $rpath
"$cxx" -std=c++17 -Wall -Wextra -Wpedantic -Werror -pthread $hflags "$src/tests/install/harness_check.cpp" \
  -o "$work/pc/harness_cpp" $hlibs $rpath


# With find_package: the installed examples, copied as a user copies them,
# built by their own CMakeLists.txt (both hosts, every sample through
# zera_add_component), warnings as errors.
examples=$prefix/share/doc/VOQ_ZERA_Comp/examples
[ -f "$examples/CMakeLists.txt" ] && [ -f "$examples/hosts/host.c" ] && [ -f "$examples/components/sample_level.h" ] ||
  fail "the examples are not installed in $examples"
cp -r "$examples" "$work/examples"
cmake -S "$work/examples" -B "$work/cm" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_C_FLAGS="-Wall -Wextra -Werror" -DCMAKE_CXX_FLAGS="-Wall -Wextra -Werror" >/dev/null
cmake --build "$work/cm" -j2 >/dev/null
# With find_package: the harness's C and C++ tests.
cmake -S "$src/tests/install" -B "$work/hcm" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" >/dev/null
cmake --build "$work/hcm" -j2 >/dev/null
for module in Echo Counter Loopback Ticker; do
  [ -f "$work/cm/$module.COMPONENT" ] || fail "zera_add_component made no $module.COMPONENT"
done

# The manual pages: the tool's, with a section per command, and one per
# public header.
manual=$prefix/share/man/man1/zera.1
[ -f "$manual" ] || fail "no manual page $manual"
for section in RUN INSPECT DESCRIBE LIST VERSION HELP; do
  grep -q "^\.SH $section\$" "$manual" || fail "zera.1 has no section $section"
done
for page in ZERA_Host ZERA_Component VOQ_ZERA_Comp VOQ_OSAL zera_stack zera_event zera_param; do
  [ -f "$prefix/share/man/man3/$page.3" ] || fail "no manual page $page.3"
done
if command -v man >/dev/null; then
  MANPATH=$prefix/share/man man -P cat zera 2>/dev/null | grep -q "zera inspect <component>" || fail "man zera does not show the tool's page"
fi

# The hosts start the sample stack (their own builds in the current folder
# first, the installed samples for the rest), send, receive and stop.
bare "$work/pc" ./host
expect "started" && expect "stopped"
bare "$work/pc" ./host Echo
expect "received [1-9][0-9]* data events"
bare "$work/cm" ./host_cpp
expect "stopped"
bare "$work/cm" ./host_cpp Counter Loopback Echo
expect "received [1-9][0-9]* data events"
bare "$work/cm" ./host_c Echo
expect "received [1-9][0-9]* data events"
bare "$work/cm" ./host_c Counter Loopback Ticker
expect "received [1-9][0-9]* data events"

# The harness's tests, built both ways, load the installed samples and the
# test level's module.
for check in "$work/pc/harness_c" "$work/pc/harness_cpp" "$work/hcm/harness_check_c" "$work/hcm/harness_check_cpp"; do
  bare "$work" "$check"
  expect "harness: "
done

# The installed tool finds the installed samples from anywhere.
bare "$work" "$prefix/bin/zera" list
expect "Ticker" && expect "$components/Echo.COMPONENT"
bare "$work" "$prefix/bin/zera" run --duration 1 --set 3:Period=50
expect "stack: Counter Loopback Ticker"
echo "install test: passed ($prefix)"
