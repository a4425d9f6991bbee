#!/usr/bin/env bash
# Drives the bash completion functions of users ($1) and users-import ($2)
# as bash would, in a scratch directory with a password file, and compares
# what they offer.
set -u
source "$1"
cd "$(mktemp -d)"
trap 'rm -rf "$PWD"' EXIT
printf 'alice:s:d\r\nalbert:s:d\n::bob:::s:d:\nbad:line\n' > users.dat
printf 'tool:s:d\n' > tool.dat

failures=0 cases=0
complete_with=_users
expect() {  # expect "WANTED" WORDS...
  local wanted=$1
  shift
  COMP_WORDS=("$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  "$complete_with"
  local got="${COMPREPLY[*]}"
  cases=$((cases + 1))
  if [[ $got != "$wanted" ]]; then
    echo "FAIL: [${COMP_WORDS[*]}] offered [$got], wanted [$wanted]"
    failures=$((failures + 1))
  fi
}

expect "add remove check -h" users ""
expect "remove" users r
expect "-r -u -p -h" users add ""
expect "-u -h" users remove ""
expect "-p -h" users check -u alice ""
expect "-r -p -h" users add -u x ""
expect "alice albert bob" users check -u ""
expect "alice albert" users check -u al
expect "" users check -p ""
expect "tool" ./tool.exe remove -u ""
expect "" /nowhere/users remove -u ""
expect "" users junk ""

# users-import ($2): the file first, then each option once.
source "$2"
complete_with=_users_import
expect "users.dat" users-import u
expect "-h" users-import -
expect "-r -d --exact -n -h" users-import users.dat ""
expect "-d --exact -n -h" users-import users.dat -r ""
expect "-r -n -h" users-import users.dat --exact ""

echo "$((cases - failures)) passed, $failures failed"
[[ $failures -eq 0 ]]
