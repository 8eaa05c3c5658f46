#!/usr/bin/env bash
# Runs clang-tidy (the checks of .clang-tidy, every finding an error) over the
# C++ sources of a build tree's compile database.
#
#   scripts/clang-tidy.sh --changed [BUILD]   the .cpp files changed against
#       main (committed or not; a changed header brings the .cpp of the same
#       name), as `make test` does
#   scripts/clang-tidy.sh --all [BUILD]       every .cpp of src/, tests/, bench/
#   scripts/clang-tidy.sh BUILD FILE...       the files given
#
# BUILD defaults to build (its compile_commands.json). JOBS files at a time.
# A file the database does not know (a fuzz target, outside the normal tree)
# is left out.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=files
case ${1:-} in
  --changed) mode=changed; shift ;;
  --all) mode=all; shift ;;
esac
build=${1:-build}
[[ $# -gt 0 ]] && shift
db=$build/compile_commands.json
tidy=$(command -v clang-tidy-14 || command -v clang-tidy || true)
if [[ -z $tidy ]]; then
  echo "clang-tidy: not installed (Debian package clang-tidy)" >&2; exit 1
fi
if [[ ! -f $db ]]; then
  echo "clang-tidy: no $db (configure the tree first)" >&2; exit 1
fi

case $mode in
  changed)
    base=""
    for ref in main origin/main; do
      git rev-parse -q --verify "$ref^{commit}" >/dev/null && { base=$(git merge-base HEAD "$ref"); break; }
    done
    if [[ -z $base ]]; then
      echo "clang-tidy: no main branch to compare with; nothing checked"; exit 0
    fi
    mapfile -t changed < <(git diff --name-only --diff-filter=ACMR "$base" -- 'src/*' 'tests/*' 'bench/*' |
                           grep -E '\.(cpp|h)$' || true)
    files=()
    for f in "${changed[@]}"; do
      case $f in
        *.cpp) files+=("$f") ;;
        *.h) [[ -f ${f%.h}.cpp ]] && files+=("${f%.h}.cpp") ;;
      esac
    done ;;
  all)
    mapfile -t files < <(git ls-files 'src/*.cpp' 'tests/*.cpp' 'bench/*.cpp') ;;
  files)
    files=("$@") ;;
esac

# Only what the database knows how to compile.
known=()
for f in "${files[@]}"; do
  grep -qF "\"file\": \"$PWD/$f\"" "$db" && known+=("$f")
done
mapfile -t known < <(printf '%s\n' "${known[@]}" | sort -u | sed '/^$/d')
if ((${#known[@]} == 0)); then
  echo "clang-tidy: no C++ file to check"; exit 0
fi
echo "clang-tidy: ${#known[@]} files"
# The database without the precompiled headers (cmake/Precompiled.cmake): a
# header gcc precompiled is no file clang can read, and each file names its
# own includes anyway.
db_dir=$(mktemp -d)
trap 'rm -rf "$db_dir"' EXIT
sed -e 's/ -Xclang -include-pch -Xclang [^ "]*//g' \
    -e 's/ -Xclang -include -Xclang [^ "]*cmake_pch\.hxx//g' \
    -e 's/ -include [^ "]*cmake_pch\.hxx//g' \
    -e 's/ -Winvalid-pch//g' -e 's/ -Xclang -fno-pch-timestamp//g' "$db" > "$db_dir/compile_commands.json"
# --quiet keeps the per-file statistics out; the findings stay.
printf '%s\n' "${known[@]}" |
  xargs -P "${JOBS:-$(nproc)}" -n 1 "$tidy" -p "$db_dir" --quiet --extra-arg=-Wno-unknown-warning-option
