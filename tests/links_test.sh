#!/usr/bin/env bash
# Every link from the documents to a file of the repository ($1) leads to one.
set -u
cd "$1"
checked=0 broken=0
for document in README.md CONTRIBUTING.md docs/*.md; do
  while IFS= read -r target; do
    target=${target%%#*}
    [[ -z $target || $target == *://* ]] && continue
    checked=$((checked + 1))
    if [[ ! -e $(dirname "$document")/$target ]]; then
      echo "FAIL: $document links to missing $target"
      broken=$((broken + 1))
    fi
  done < <(grep -o '](\([^)]*\))' "$document" | sed 's/^](\(.*\))$/\1/')
done
echo "$((checked - broken)) passed, $broken failed"
[[ $broken -eq 0 ]]
