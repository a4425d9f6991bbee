#!/usr/bin/env bash
# Runs the Windows program ($1, users.exe) under Wine from the Linux side:
# CR LF line ends on the console and in the password file, LF files load,
# add/check/remove round trip, and the file is found beside the program.
# $2 is a program that holds a file open as other programs may, $3
# users-import.exe.
set -u
exe=$1
holder=$2
importer=$3
dir=$(mktemp -d)
other=$(mktemp -d)
trap 'rm -rf "$dir" "$other"' EXIT
cp "$exe" "$dir/users.exe"
export WINEDEBUG=-all
# Names and arguments pass from this side to Wine as UTF-8; Wine's Windows
# side then has the ANSI code page 1252, which lacks "Ł".
export LC_ALL=C.UTF-8

failures=0 cases=0
# expect NAME WANTED_OUTPUT WANTED_STATUS ARGS...: runs users.exe by its full
# path from another directory.
program=$dir/users.exe
expect() {
  local name=$1 wanted=$2 status=$3
  shift 3
  local got
  got=$(cd "$other" && wine "$program" "$@"; echo "[$?]")
  cases=$((cases + 1))
  wanted="$wanted"$'\n'"[$status]"
  if [[ $got != "$wanted" ]]; then
    echo "FAIL: $name: got $(printf %q "$got"), wanted $(printf %q "$wanted")"
    failures=$((failures + 1))
  fi
}
file_is() {
  cases=$((cases + 1))
  if [[ $(cat "${3:-$dir/users.dat}") != "$1" ]]; then
    echo "FAIL: $2: file holds $(printf %q "$(cat "${3:-$dir/users.dat}")")"
    failures=$((failures + 1))
  fi
}
check() {  # check NAME CONDITION...
  local name=$1
  shift
  cases=$((cases + 1))
  "$@" || { echo "FAIL: $name"; failures=$((failures + 1)); }
}

cr=$'\r'
usage_first="users - password file utility$cr"
got=$(wine "$dir/users.exe" -h | head -2)
cases=$((cases + 1))
[[ $got == "$usage_first"$'\n'"Usage: $cr" ]] || { echo "FAIL: usage lines: $(printf %q "$got")"; failures=$((failures + 1)); }

expect "missing file" "Unable to load password file 'users.dat'$cr" 1 check -u alice -p new
printf 'alice:4hsAAA==:9O5WqgNDt1hxrwP0OBQOIA==\n' >"$dir/users.dat"
expect "LF file, match" "Operation Successful:  Username and password match.$cr" 0 check -u alice -p new
expect "add" "Operation Successful:  New user entry added.$cr" 0 add -u bob -p "p w"
expect "check added" "Operation Successful:  Username and password match.$cr" 0 check -u bob -p "p w"
expect "wrong password" "Operation failed:  Username and password do not match.$cr" 1 check -u bob -p pw
expect "remove" "Operation Successful:  User entry removed.$cr" 0 remove -u bob
file_is "alice:4hsAAA==:9O5WqgNDt1hxrwP0OBQOIA==$cr" "CR LF after a save"
expect "removed" "Operation failed:  User entry not found.$cr" 1 check -u bob -p "p w"
expect "replace" "Operation Successful:  Existing user entry updated.$cr" 0 add -r -u alice -p new
file_is "alice:4hsAAA==:9O5WqgNDt1hxrwP0OBQOIA==$cr" "replace by the same password"
# Runs at the same time are serialised by the lock: no add is lost, and a
# reader that holds the file open only delays a replacement.
pids=()
for i in 1 2 3 4 5 6 7 8; do
  (cd "$other" && out=$(wine "$dir/users.exe" add -u "user$i" -p pw) || { echo "user$i: $out"; exit 1; }) &
  pids+=($!)
  (cd "$other" && out=$(wine "$dir/users.exe" check -u alice -p new) || { echo "check: $out"; exit 1; }) &
  pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid" || { echo "FAIL: a concurrent run failed"; failures=$((failures + 1)); }; done
cases=$((cases + 1))
[[ $(grep -c '^user[1-8]:' "$dir/users.dat") == 8 ]] || { echo "FAIL: concurrent adds: $(cat "$dir/users.dat")"; failures=$((failures + 1)); }

cases=$((cases + 1))
[[ -z $(ls "$dir" | grep -v -e '^users.exe$' -e '^users.dat$') ]] || { echo "FAIL: files left: $(ls "$dir")"; failures=$((failures + 1)); }

# A save removes what killed runs left, and only that.
echo left >"$dir/users.dat.tmp-Ab12Cd34Ao2c"
echo keep >"$dir/users.dat.tmp-Backup"
mkdir "$dir/users.dat.tmp-Lnk12345gL5r"
expect "add removes leftovers" "Operation Successful:  New user entry added.$cr" 0 add -u carol -p pw
cases=$((cases + 1))
[[ $(ls "$dir" | tr '\n' ' ') == "users.dat users.dat.tmp-Backup users.dat.tmp-Lnk12345gL5r users.exe " ]] ||
  { echo "FAIL: leftovers: $(ls "$dir")"; failures=$((failures + 1)); }

added="Operation Successful:  New user entry added.$cr"
match="Operation Successful:  Username and password match.$cr"
usage_error="Invalid Usage:$cr"$'\n'"$(wine "$dir/users.exe" -h)"

# Two names of one file (a hard link): both show every change, and runs
# through either name take turns.
printf 'alice:4hsAAA==:9O5WqgNDt1hxrwP0OBQOIA==\n' >"$dir/users.dat"
ln "$dir/users.dat" "$dir/other.dat"
cp "$dir/users.exe" "$dir/other.exe"
pids=()
for i in 1 2 3 4; do
  (cd "$other" && wine "$dir/users.exe" add -u "one$i" -p pw >/dev/null) &
  pids+=($!)
  (cd "$other" && wine "$dir/other.exe" add -u "two$i" -p pw >/dev/null) &
  pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid" || { echo "FAIL: a run through two names failed"; failures=$((failures + 1)); }; done
check "hard link: one file" [ "$dir/users.dat" -ef "$dir/other.dat" ]
check "hard link: every add" [ "$(grep -c -e '^one' -e '^two' "$dir/users.dat")" = 8 ]
rm "$dir/other.dat" "$dir/other.exe"

# Arguments the code page cannot hold are refused, never taken for a
# look-alike; what it holds works as before.
printf 'Lukasz:AAAAAA==:x\n' >"$dir/users.dat"
expect "look-alike password" "$usage_error" 1 add -u cjk -p Łódź1
expect "code page password" "$added" 0 add -u cjk -p Lódz1
expect "code page password matches" "$match" 0 check -u cjk -p Lódz1
expect "look-alike user" "$usage_error" 1 remove -u Łukasz
cases=$((cases + 1))
grep -q '^Lukasz:' "$dir/users.dat" || { echo "FAIL: Lukasz removed"; failures=$((failures + 1)); }

# Any folder name, and a path longer than the old limit of 260.
long=$other/$(printf 'd%.0s' {1..100})/$(printf 'e%.0s' {1..100})
long=$long/$(printf 'f%.0s' $(seq $((240 - ${#long}))))
for folder in "$other/日本" "$other/Łódź" "$long"; do
  mkdir -p "$folder"
  cp "$dir/users.exe" "$folder/users.exe"
  : >"$folder/users.dat"
  program=$folder/users.exe
  expect "folder ${folder: -10}: add" "$added" 0 add -u alice -p pw
  expect "folder ${folder: -10}: check" "$match" 0 check -u alice -p pw
  got=$(printf 'bob:pw\n' | wine "$importer" "$(winepath -w "$folder/users.dat")")
  check "folder ${folder: -10}: import" [ "$got" = "Import successful: 1 added, 0 updated, 0 removed, 0 unchanged.$cr" ]
  expect "folder ${folder: -10}: imported user" "$match" 0 check -u bob -p pw
done
program=$dir/users.exe

# A reader that shares the file only for reading, or not at all, is waited for.
for share in read none; do
  wine "$holder" "$(winepath -w "$dir/users.dat")" "$share" 2000 >"$other/held" &
  holding=$!
  for _ in $(seq 100); do [[ -s $other/held ]] && break; sleep 0.1; done
  start=$SECONDS
  if [[ $share == read ]]; then
    expect "add waits for a holder sharing $share" "$added" 0 add -u waited -p pw
  else
    expect "check waits for a holder sharing $share" "$match" 0 check -u cjk -p Lódz1
  fi
  check "the $share holder was waited for" [ $((SECONDS - start)) -ge 1 ]
  wait "$holding"
  rm -f "$other/held"
done

# A read-only leftover goes too.
echo left >"$dir/users.dat.tmp-Ro1234560lXU"
chmod a-w "$dir/users.dat.tmp-Ro1234560lXU"
expect "add removes a read-only leftover" "$added" 0 add -u dave -p pw
check "read-only leftover gone" [ ! -e "$dir/users.dat.tmp-Ro1234560lXU" ]

# users-import: a list on standard input, CR LF or LF, all of it or nothing.
import() {  # import NAME WANTED_OUTPUT WANTED_STATUS INPUT ARGS...
  local name=$1 wanted=$2 status=$3 input=$4
  shift 4
  local got
  got=$(cd "$dir" && printf '%s' "$input" | wine "$importer" "$@"; echo "[$?]")
  cases=$((cases + 1))
  wanted="$wanted"$'\n'"[$status]"
  if [[ $got != "$wanted" ]]; then
    echo "FAIL: $name: got $(printf %q "$got"), wanted $(printf %q "$wanted")"
    failures=$((failures + 1))
  fi
}
printf 'alice:4hsAAA==:9O5WqgNDt1hxrwP0OBQOIA==\n' >"$dir/users.dat"
import "import" "Import successful: 2 added, 0 updated, 0 removed, 0 unchanged.$cr" 0 \
  $'imp1:pw\r\n\r\nimp2:p w:x\r\n' users.dat
expect "imported user checks" "$match" 0 check -u imp2 -p "p w:x"
before=$(cat "$dir/users.dat")
import "a bad line writes nothing" \
  "Line 2: no ':' between user name and password.$cr"$'\n'"Import failed: 1 problem, nothing written.$cr" 1 \
  $'imp3:pw\nimp4\n' users.dat
file_is "$before" "a bad line writes nothing"
import "remove, and keep a password as it is" \
  "Import successful: 0 added, 0 updated, 2 removed, 1 unchanged.$cr" 0 \
  $'imp1\nimp2\nalice:new\n' users.dat -d -r
file_is "alice:4hsAAA==:9O5WqgNDt1hxrwP0OBQOIA==$cr" "replaced and removed"
import "exact, nothing to change" \
  "Import successful: 0 added, 0 updated, 0 removed, 1 unchanged, nothing written.$cr" 0 \
  $'alice:new\r\n' users.dat --exact
import "missing file" "Import failed: unable to load the password file, nothing written.$cr" 1 \
  $'a:b\n' nowhere.dat

echo "$((cases - failures)) passed, $failures failed"
[[ $failures -eq 0 ]]
