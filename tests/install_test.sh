#!/usr/bin/env bash
# Installs the build in $1 into a scratch prefix and checks that the program,
# its manual page and its bash completion land where tools look for them.
set -eu
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$1" --prefix "$prefix" >/dev/null
failures=0
for file in bin/users share/man/man1/users.1 share/bash-completion/completions/users \
  bin/users-import share/man/man1/users-import.1 share/bash-completion/completions/users-import; do
  if [[ -s $prefix/$file ]]; then echo "ok: $file"; else echo "FAIL: $file missing"; failures=$((failures + 1)); fi
done
[[ -x $prefix/bin/users ]] || { echo "FAIL: bin/users not executable"; failures=$((failures + 1)); }
"$prefix/bin/users" -h | head -1 | grep -qx 'users - password file utility' ||
  { echo "FAIL: installed program does not run"; failures=$((failures + 1)); }
"$prefix/bin/users-import" -h | grep -q '^Usage: users-import FILE' ||
  { echo "FAIL: installed users-import does not run"; failures=$((failures + 1)); }
echo "$((9 - failures)) passed, $failures failed"
[[ $failures -eq 0 ]]
