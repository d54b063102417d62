#!/usr/bin/env bash
# Fails when a C or C++ source of the tree is not laid out as .clang-format
# says, naming each file and line. Fix with:  scripts/check-format.sh --fix
set -euo pipefail
cd "$(dirname "$0")/.."

clang_format=${CLANG_FORMAT:-clang-format}
dirs=()
for d in src tests bench fuzz plugins; do
  [ -d "$d" ] && dirs+=("$d")
done

mapfile -d '' files < <(find "${dirs[@]}" -type f \
  \( -name '*.c' -o -name '*.cc' -o -name '*.cpp' -o -name '*.h' -o -name '*.hpp' -o -name '*.inc' \) \
  -print0 | sort -z)

if [ "${1:-}" = "--fix" ]; then
  printf '%s\0' "${files[@]}" | xargs -0 "$clang_format" -i
  exit 0
fi

if ! printf '%s\0' "${files[@]}" | xargs -0 "$clang_format" --dry-run --Werror; then
  echo "check-format: the files above differ from .clang-format; run scripts/check-format.sh --fix" >&2
  exit 1
fi
echo "check-format: ${#files[@]} files formatted"
