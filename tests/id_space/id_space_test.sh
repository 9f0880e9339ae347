#!/usr/bin/env bash
# id_space/id_space_test.sh - a 32-bit and a 64-bit process of one user draw
# identifiers at once from the one segment: no identifier may come out twice.
# Each command is an id_draw program (with its emulator or Wine launcher in
# front); both get the same start time and a segment prefix of their own.
#
#   id_space_test.sh COUNT LABEL_A COMMAND_A... -- LABEL_B COMMAND_B...
set -euo pipefail
count=$1 label_a=$2; shift 2
a=() b=()
while (($#)) && [ "$1" != -- ]; do a+=("$1"); shift; done
shift
label_b=$1; shift
b=("$@")
work=$(mktemp -d "${TMPDIR:-/tmp}/zera_id_space.XXXXXX")
trap 'rm -rf "$work"' EXIT
export VOQ_OSAL_SHM_PREFIX="zs$$_"
start=$(($(date +%s) + 4))  # time for both to load (an emulator, Wine) before the draw
"${a[@]}" "$count" "$start" "$work/a" >"$work/a.log" 2>&1 & pid_a=$!
"${b[@]}" "$count" "$start" "$work/b" >"$work/b.log" 2>&1 & pid_b=$!
status=0
wait $pid_a || { echo "id space: $label_a failed: $(cat "$work/a.log")"; status=1; }
wait $pid_b || { echo "id space: $label_b failed: $(cat "$work/b.log")"; status=1; }
((status == 0)) || exit 1
read -r _ _ _ first_a _ last_a < <(tr -d '\r' <"$work/a.log" | grep '^drew')
read -r _ _ _ first_b _ last_b < <(tr -d '\r' <"$work/b.log" | grep '^drew')
drawn=$(cat "$work/a" "$work/b" | tr -d '\r' | grep -c .)
duplicates=$(cat "$work/a" "$work/b" | tr -d '\r' | sort | uniq -d | wc -l)
overlap=$(( (last_a < last_b ? last_a : last_b) - (first_a > first_b ? first_a : first_b) ))
echo "id space: $label_a and $label_b drew $count identifiers each ($drawn in all), at once for $((overlap / 1000)) ms: $duplicates duplicates"
((drawn == 2 * count)) || { echo "id space: $drawn identifiers, not $((2 * count))"; exit 1; }
((overlap > 0)) || { echo "id space: the two draws did not overlap (${label_a}: $first_a-$last_a, ${label_b}: $first_b-$last_b us)"; exit 1; }
((duplicates == 0))
