#!/usr/bin/env bash
# Runs the Windows program ($1, users.exe) under Wine from the Linux side:
# CR LF line ends on the console and in the password file, LF files load,
# add/check/remove round trip, and the file is found beside the program.
set -u
exe=$1
dir=$(mktemp -d)
other=$(mktemp -d)
trap 'rm -rf "$dir" "$other"' EXIT
cp "$exe" "$dir/users.exe"
export WINEDEBUG=-all

failures=0 cases=0
# expect NAME WANTED_OUTPUT WANTED_STATUS ARGS...: runs users.exe by its full
# path from another directory.
expect() {
  local name=$1 wanted=$2 status=$3
  shift 3
  local got
  got=$(cd "$other" && wine "$dir/users.exe" "$@"; echo "[$?]")
  cases=$((cases + 1))
  wanted="$wanted"$'\n'"[$status]"
  if [[ $got != "$wanted" ]]; then
    echo "FAIL: $name: got $(printf %q "$got"), wanted $(printf %q "$wanted")"
    failures=$((failures + 1))
  fi
}
file_is() {
  cases=$((cases + 1))
  if [[ $(cat "$dir/users.dat") != "$1" ]]; then
    echo "FAIL: $2: file holds $(printf %q "$(cat "$dir/users.dat")")"
    failures=$((failures + 1))
  fi
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
echo left >"$dir/users.dat.tmp-Ab12Cd"
echo keep >"$dir/users.dat.tmp-Ab12C"
mkdir "$dir/users.dat.tmp-Dir123"
expect "add removes leftovers" "Operation Successful:  New user entry added.$cr" 0 add -u carol -p pw
cases=$((cases + 1))
[[ $(ls "$dir" | tr '\n' ' ') == "users.dat users.dat.tmp-Ab12C users.dat.tmp-Dir123 users.exe " ]] ||
  { echo "FAIL: leftovers: $(ls "$dir")"; failures=$((failures + 1)); }

echo "$((cases - failures)) passed, $failures failed"
[[ $failures -eq 0 ]]
