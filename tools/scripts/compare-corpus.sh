#!/usr/bin/env bash
# Compares `varnel dump`, `buffer`, `info` and `obj` (.obj and .mtl) of every COLLADA document
# under a folder between two builds of the tool, byte for byte, exit status included, in the
# strict reading: `--strict` is passed to each build that knows it (builds from before it read
# strictly by default). COMPARE_FLAGS, when set, is passed to both instead (COMPARE_FLAGS=--extended compares
# the extended reading). Prints one line per difference and a summary; exits 1 when anything differs.
#
#   tools/scripts/compare-corpus.sh OLD_VARNEL NEW_VARNEL [CORPUS_DIR]
#
# CORPUS_DIR defaults to ../shared/corpus beside the repository. Documents are run one at a time
# so that a difference names its file.
set -uo pipefail
old=${1:?usage: compare-corpus.sh OLD_VARNEL NEW_VARNEL [CORPUS_DIR]}
new=${2:?usage: compare-corpus.sh OLD_VARNEL NEW_VARNEL [CORPUS_DIR]}
corpus=${3:-$(cd "$(dirname "$0")/../.." && pwd)/../shared/corpus}
[ -d "$corpus" ] || { echo "compare-corpus: $corpus: no such folder" >&2; exit 2; }

strictness() { "$1" info --help 2>/dev/null | grep -q -- --strict && echo --strict; }
read -r -a oldFlags <<<"${COMPARE_FLAGS:-$(strictness "$old")}"
read -r -a newFlags <<<"${COMPARE_FLAGS:-$(strictness "$new")}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

run() {  # run TOOL COMMAND FILE OUTPREFIX FLAGS...: output bytes and exit status of one run
  local tool=$1 cmd=$2 file=$3 out=$4
  shift 4
  case $cmd in
    buffer)
      "$tool" buffer "$@" "$file" -o "$out.bin" >/dev/null 2>&1; echo $? >"$out.rc"
      [ -f "$out.bin" ] || : >"$out.bin" ;;
    obj)
      mkdir "$out.d"  # the .obj names its .mtl: both runs write the same names
      "$tool" obj "$@" "$file" -o "$out.d/model.obj" >/dev/null 2>&1; echo $? >"$out.rc"
      cat "$out.d/model.obj" "$out.d/model.mtl" >"$out.bin" 2>/dev/null ;;
    *)
      "$tool" "$cmd" "$@" "$file" >"$out.bin" 2>/dev/null; echo $? >"$out.rc" ;;
  esac
}

total=0 differ=0
while IFS= read -r -d '' file; do
  total=$((total + 1))
  for cmd in dump buffer info obj; do
    rm -rf "$work"/a.* "$work"/b.*
    run "$old" $cmd "$file" "$work/a" "${oldFlags[@]}"
    run "$new" $cmd "$file" "$work/b" "${newFlags[@]}"
    if ! cmp -s "$work/a.bin" "$work/b.bin" || ! cmp -s "$work/a.rc" "$work/b.rc"; then
      differ=$((differ + 1))
      echo "DIFFERS $cmd ${file#"$corpus"/} (exit $(cat "$work/a.rc") -> $(cat "$work/b.rc"))"
    fi
  done
done < <(find "$corpus" -type f \( -iname '*.dae' \) -print0 | sort -z)

echo "compare-corpus: $total documents, $((total * 4)) outputs, $differ differ"
[ "$differ" -eq 0 ]
