#!/usr/bin/env bash
# install/install_test_windows.sh - the installed Windows tree, as a user
# meets it: installs a mingw build without the test hooks into an empty
# prefix; checks that it holds the DLLs, import libraries, headers, .def
# files and the CMake package; builds the example hosts and a C and a C++
# component against it with the same toolchain (find_package and
# zera_add_component); runs them and the installed host tool under Wine from
# folders of their own, with only the installed bin folder on the Windows
# PATH. Run by scripts/test-all inside the stage's Wine prefix.
#
#   install_test_windows.sh BUILD_DIR SOURCE_DIR TOOLCHAIN_FILE WINE
set -euo pipefail
build=$1 src=$2 toolchain=$3 wine=$4
work=$(mktemp -d "${TMPDIR:-/tmp}/zera_install_test_windows.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
components=$prefix/lib/VOQ_ZERA_Comp/components
fail() { echo "windows install test: $*" >&2; exit 1; }
# Runs a program under Wine in folder $1 with the installed DLLs on PATH; its
# output to $work/out.
# (A file, not a pipe: Wine's services started by the first program would
# hold a pipe open.)
run() {
  local dir=$1 status=0; shift
  (cd "$dir" && WINEPATH="Z:${prefix//\//\\}\\bin" VOQ_OSAL_SHM_PREFIX="zw$$_" "$wine" "$@") >"$work/raw" 2>&1 || status=$?
  tr -d '\r' <"$work/raw" >"$work/out"
  ((status == 0)) || { cat "$work/out"; fail "$* failed in $dir"; }
}
expect() { grep -q -- "$1" "$work/out" || { cat "$work/out"; fail "no '$1' in the output"; }; }

cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/VOQ_OSAL.dll bin/VOQ_ZERA_Comp.dll bin/zera.exe lib/libVOQ_OSAL.dll.a lib/libVOQ_ZERA_Comp.dll.a \
         lib/VOQ_OSAL.def lib/VOQ_ZERA_Comp.def include/VOQ_ZERA_Comp.h include/ZERA_Host.h include/ZERA_Component.h \
         lib/cmake/VOQ_ZERA_Comp/VOQ_ZERA_CompConfig.cmake lib/VOQ_ZERA_Comp/components/Echo.COMPONENT; do
  [ -f "$prefix/$f" ] || fail "the tree lacks $f"
done
# The .def files say what an MSVC user's `lib /def:` makes an import library
# of: the platform layer by ordinal, as the mingw import library has it.
grep -q 'OSAL_boInit.*@1 NONAME' "$prefix/lib/VOQ_OSAL.def" || fail "VOQ_OSAL.def does not import by ordinal"

# The host tool finds the installed samples from any folder.
mkdir "$work/elsewhere"
run "$work/elsewhere" "$prefix/bin/zera.exe" list
expect "Ticker" && expect "Echo" && expect "components"
if grep -q "Starter\|Faulty\|Layer" "$work/out"; then fail "the installed tree lists test components"; fi
cat "$work/out"

# find_package and zera_add_component with the mingw toolchain: the installed
# examples, copied as a user copies them, built by their own CMakeLists.txt
# (both hosts and every sample).
examples=$prefix/share/doc/VOQ_ZERA_Comp/examples
[ -f "$examples/CMakeLists.txt" ] || fail "the examples are not installed in $examples"
cp -r "$examples" "$work/examples"
cmake -S "$work/examples" -B "$work/cm" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_FLAGS="-Wall -Wextra -Werror" -DCMAKE_CXX_FLAGS="-Wall -Wextra -Werror" >/dev/null
cmake --build "$work/cm" -j2 >/dev/null
for module in Echo Counter Loopback Ticker; do
  [ -f "$work/cm/$module.COMPONENT" ] || fail "zera_add_component made no $module.COMPONENT"
done

# ZERA_COMPONENT_PATH separates its folders with ';' (a missing one passed
# over): the tool finds the project's own samples there before the installed
# ones, and what only the installed tree has (the harness's test level) there.
ZERA_COMPONENT_PATH="Z:\\no\\such\\folder;Z:${work//\//\\}\\cm" run "$work/elsewhere" "$prefix/bin/zera.exe" list
expect "cm.Echo.COMPONENT (ZERA_COMPONENT_PATH)" && expect "components.HarnessLevel.COMPONENT (installed components)"

# The hosts start a stack of their own builds (current folder) and the
# installed samples (found beside the installed platform layer), send,
# receive and stop.
run "$work/cm" ./host_c.exe
expect "started" && expect "stopped"
run "$work/cm" ./host_c.exe Echo
expect "received [1-9][0-9]* data events"
run "$work/cm" ./host_cpp.exe Counter Loopback Echo
expect "received [1-9][0-9]* data events"
echo "windows install test: passed (host and components built against the installed tree ran under $(basename "$wine"))"
