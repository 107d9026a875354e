#!/usr/bin/env bash
# Measures varnel against `assimp info` and a floor on generated documents, all runs interleaved
# in one session, and prints a table of medians, spreads, ratios and peak memory, then the targets.
# Fails when the floor is not below every varnel command measured against it: a floor slower
# than the tool flatters every ratio.
#
#   bench/compare.sh BUILD_DIR [ROUNDS] [WORK_DIR]
#
# BUILD_DIR holds tools/varnel and bench/read_numbers; ROUNDS defaults to 7; the documents are
# written to WORK_DIR (default /tmp/varnel-compare) once and reused.
set -euo pipefail
build=$(cd "${1:?usage: compare.sh BUILD_DIR [ROUNDS] [WORK_DIR]}" && pwd)
rounds=${2:-7}
work=${3:-/tmp/varnel-compare}
here=$(cd "$(dirname "$0")" && pwd)
varnel=$build/tools/varnel
floor=$build/bench/read_numbers
for tool in "$varnel" "$floor" /usr/bin/time; do
  [ -x "$tool" ] || { echo "compare: $tool missing" >&2; exit 2; }
done
assimp=$(command -v assimp || true)
mkdir -p "$work"
mesh=$work/mesh2m.dae city=$work/city40k.dae city2=$work/city80k.dae
[ -s "$mesh" ] || python3 "$here/make_documents.py" mesh 2000000 "$mesh"
[ -s "$city" ] || python3 "$here/make_documents.py" city 40000 "$city"
[ -s "$city2" ] || python3 "$here/make_documents.py" city 80000 "$city2"
# The same cities as placemarks on the earth, each showing one building document, for tiles.
placed=$work/placed40k placed2=$work/placed80k
[ -s "$placed/city-7.kml" ] || python3 "$here/make_documents.py" placed 40000 "$placed"
[ -s "$placed2/city-15.kml" ] || python3 "$here/make_documents.py" placed 80000 "$placed2"
bytes=$("$varnel" info "$mesh" | sed 's/.*"bytes":\([0-9]*\).*/\1/')

# name|floor|command: every command runs once a round, in this order; a varnel command on the
# mesh names the floor it has to stay above (commands that write their result to a file, the one
# that writes).
jobs=(
  "floor||$floor $mesh"
  "floor + write||$floor $mesh $work/floor.out $bytes"
  "varnel buffer|floor + write|$varnel buffer $mesh -o $work/mesh.mpb"
  "varnel info|floor|$varnel info $mesh"
  "varnel obj|floor + write|$varnel obj $mesh -o $work/obj/mesh.obj"
  "varnel dump|floor|$varnel dump $mesh"
  "varnel gltf|floor + write|$varnel gltf $mesh -o $work/mesh.glb"
  "varnel buffer city40k||$varnel buffer $city -o $work/city40k.mpb"
  "varnel buffer city80k||$varnel buffer $city2 -o $work/city80k.mpb"
  "varnel tiles city40k||$varnel tiles $placed/*.kml -j 2 -o $work/tiles40k"
  "varnel tiles city80k||$varnel tiles $placed2/*.kml -j 2 -o $work/tiles80k"
  "varnel tiles mesh||$varnel tiles $mesh --origin 8.54,47.37 -j 2 -o $work/tilesmesh"
)
[ -n "$assimp" ] && jobs+=("assimp info|floor|$assimp info $mesh"
                           "assimp export glb||$assimp export $mesh $work/assimp.glb -fglb2")
mkdir -p "$work/obj" "$work/runs"
rm -f "$work"/runs/*
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for ((r = 1; r <= rounds; r++)); do
  for i in "${!jobs[@]}"; do
    IFS='|' read -r name _ command <<<"${jobs[$i]}"
    # Each run starts without the previous runs' outputs, neither still being written back nor
    # to be replaced: either would bill one run for another's output (hundreds of MB a round on
    # two cores; on ext4, replacing a file by renaming over it has all of the new one's blocks
    # allocated then and there).
    rm -rf "$work/floor.out" "$work"/*.mpb "$work"/*.glb "$work"/obj/* "$work"/tiles*
    sync
    /usr/bin/time -f "%e %M" -o "$work/runs/time" $command >/dev/null 2>&1 ||
      { echo "compare: $name failed" >&2; exit 1; }
    tail -n 1 "$work/runs/time" >>"$work/runs/$i"
  done
done

load_after=$(cut -d' ' -f1-3 /proc/loadavg)

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
declare -A seconds fastest slowest peak
for i in "${!jobs[@]}"; do
  name=${jobs[$i]%%|*}
  seconds[$name]=$(cut -d' ' -f1 "$work/runs/$i" | median)
  fastest[$name]=$(cut -d' ' -f1 "$work/runs/$i" | sort -n | head -n 1)
  slowest[$name]=$(cut -d' ' -f1 "$work/runs/$i" | sort -n | tail -n 1)
  peak[$name]=$(cut -d' ' -f2 "$work/runs/$i" | sort -n | tail -n 1)
done

mb() { awk -v k="$1" 'BEGIN { printf "%.0f", k / 1024 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
echo "mesh: $(du -m "$mesh" | cut -f1) MB, 2 M triangles, buffer $((bytes / 1000000)) MB;" \
     "cities: $(du -m "$city" | cut -f1) and $(du -m "$city2" | cut -f1) MB; $rounds rounds;" \
     "load average $load_before before, $load_after after"
echo "floor: reads the mesh in 64 KB blocks and converts each number of its texts to a double" \
     "once (exact short decimals, else fast_float); floor + write then writes the buffer's" \
     "$bytes bytes to a new file from one 192 KB block"
echo
echo "| run | median s | fastest–slowest s | spread | / its floor | peak MB |"
echo "|---|---:|---:|---:|---:|---:|"
below=()
for i in "${!jobs[@]}"; do
  IFS='|' read -r name base _ <<<"${jobs[$i]}"
  spread=$(awk -v a="${fastest[$name]}" -v b="${slowest[$name]}" -v m="${seconds[$name]}" \
    'BEGIN { printf "±%.0f%%", (m > 0 ? 50 * (b - a) / m : 0) }')
  versus=
  if [ -n "$base" ]; then
    versus="$(ratio "${seconds[$name]}" "${seconds[$base]}") ($base)"
    awk -v a="${seconds[$name]}" -v b="${seconds[$base]}" 'BEGIN { exit !(a <= b) }' &&
      below+=("$name (${seconds[$name]} s) is not above $base (${seconds[$base]} s)")
  fi
  echo "| $name | ${seconds[$name]} | ${fastest[$name]}–${slowest[$name]} | $spread | $versus |" \
       "$(mb "${peak[$name]}") |"
done
echo
check() {  # check WHAT VALUE LIMIT [least]: VALUE at most (or at least) LIMIT
  awk -v w="$1" -v v="$2" -v l="$3" -v least="${4:-}" 'BEGIN {
    ok = least ? v >= l : v <= l
    printf "%-36s %8.2f  (at %s %.2f)  %s\n", w, v, (least ? "least" : "most"), l, (ok ? "ok" : "MISSED") }'
}
buffer=${seconds[varnel buffer]}
check "buffer / (floor + write)" "$(ratio "$buffer" "${seconds[floor + write]}")" 1.5
[ -n "$assimp" ] && check "assimp info / buffer" "$(ratio "${seconds[assimp info]}" "$buffer")" 12 least
check "buffer peak MB" "$(mb "${peak[varnel buffer]}")" 150
check "info peak MB" "$(mb "${peak[varnel info]}")" 150
check "obj / buffer" "$(ratio "${seconds[varnel obj]}" "$buffer")" 3
check "dump / buffer" "$(ratio "${seconds[varnel dump]}" "$buffer")" 4
check "gltf / buffer" "$(ratio "${seconds[varnel gltf]}" "$buffer")" 2
check "gltf peak MB" "$(mb "${peak[varnel gltf]}")" 300
city_kb=$(du -k "$city" | cut -f1)
check "city40k peak / file size" "$(ratio "${peak[varnel buffer city40k]}" "$city_kb")" 4
check "city80k time / city40k time" \
  "$(ratio "${seconds[varnel buffer city80k]}" "${seconds[varnel buffer city40k]}")" 2.2
check "tiles city80k / buffer city80k" \
  "$(ratio "${seconds[varnel tiles city80k]}" "${seconds[varnel buffer city80k]}")" 10
check "tiles city80k peak MB" "$(mb "${peak[varnel tiles city80k]}")" 400
check "tiles city80k time / city40k time" \
  "$(ratio "${seconds[varnel tiles city80k]}" "${seconds[varnel tiles city40k]}")" 2.2
if [ ${#below[@]} -gt 0 ]; then
  printf 'compare: THE FLOOR IS NO FLOOR: %s\n' "${below[@]}" >&2
  exit 1
fi
