#!/usr/bin/env bash
# pam_users.so in a real PAM stack: pamtester runs each row's PAM call
# through libpam, with pam_wrapper taking the service files from a scratch
# directory instead of /etc/pam.d. Then the same rows again while users
# rewrites the file, by rename and in place.
#   pam_test.sh USERS PAM_MODULE [PRELOAD...]   (PRELOAD: sanitizer runtimes)
set -u
users=$(realpath "$1") module=$(realpath "$2")
shift 2
preload="$* libpam_wrapper.so"

skip() { echo "skipped \"every row\": $1"; exit 77; }
command -v pamtester >/dev/null || skip "no pamtester (Debian's pamtester)"
/sbin/ldconfig -p 2>/dev/null | grep -q 'libpam_wrapper\.so ' || skip "no pam_wrapper (Debian's libpam-wrapper)"

# A service file splits its lines at blanks, and the module refuses a file
# that others may write, or on a path of directories they may: the module
# and the files lie in a private directory in /tmp, whatever TMPDIR says.
work=$(mktemp -d /tmp/pam-test.XXXXXX)
trap 'kill "$writer" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
writer=
mkdir "$work/services" "$work/data"
cp "$module" "$work/pam_users.so"
module=$work/pam_users.so
cp "$users" "$work/data/users"
file=$work/data/users.dat
install -m 600 /dev/null "$file"
"$work/data/users" add -u alice -p secret >/dev/null
printf 'alice:x\n' >"$work/malformed.dat"
# A malformed line far behind the user's: the whole file is read.
{ cat "$file"; seq -f 'user%g:c2FsdA==:ZGlnZXN0ZGlnZXN0ZGlnZXN0ZA==' 20000; echo 'bob:x'; } \
  >"$work/malformed-late.dat"
install -m 666 "$file" "$work/writable.dat"
mkdir -m 775 "$work/team"
install -m 600 "$file" "$work/team/users.dat"
service() {  # NAME OPTIONS
  printf 'auth required %s %s\naccount required %s %s\npassword required %s %s\n' \
    "$module" "$2" "$module" "$2" "$module" "$2" >"$work/services/$1"
}
service users "file=$file nodelay"
service delay "file=$file"
service missing "file=$work/none.dat nodelay"
service malformed "file=$work/malformed.dat nodelay"
service malformed-late "file=$work/malformed-late.dat nodelay"
service no-option "nodelay"
service misspelt "file=$file nodelay fille=$work/none.dat"
service relative "file=data/users.dat nodelay"
service passes "file=$file nodelay try_first_pass use_authtok authtok_type=UNIX debug"
service writable "file=$work/writable.dat nodelay"
service group-dir "file=$work/team/users.dat nodelay"
printf 'auth required pam_deny.so\naccount required pam_deny.so\n' >"$work/services/other"

# What pamtester prints for each outcome.
declare -A says=(
  [ok]="successfully authenticated|account management done"
  [auth-err]="Authentication failure"
  [unknown]="User not known to the underlying authentication module"
  [unavail]="Authentication service cannot retrieve authentication info"
  [service-err]="Error in service module"
  [refused]="Authentication token manipulation error"
  [slow]="Authentication failure|User not known"
)
rows=(  # service user password operation outcome
  "users alice secret authenticate ok"
  "users alice wrong authenticate auth-err"
  "users bob secret authenticate unknown"
  "missing alice secret authenticate unavail"
  "malformed alice secret authenticate unavail"
  "users alice - acct_mgmt ok"
  "users bob - acct_mgmt unknown"
  "missing alice - acct_mgmt unavail"
  "malformed alice - acct_mgmt unavail"
  "no-option alice secret authenticate service-err"
  "misspelt alice secret authenticate service-err"
  "users alice secret chauthtok refused"
  "relative alice secret authenticate service-err"
  "relative alice - acct_mgmt service-err"
  "passes alice secret authenticate ok"
  "passes alice wrong authenticate auth-err"
  "malformed-late alice secret authenticate unavail"
  "malformed-late alice - acct_mgmt unavail"
  "writable alice secret authenticate unavail"
  "writable alice - acct_mgmt unavail"
  "group-dir alice secret authenticate unavail"
  "delay alice wrong authenticate slow"
  "delay bob secret authenticate slow"
)

passed=0 failed=0
run_row() {  # ROW [LABEL]
  local service user password operation outcome output started took
  read -r service user password operation outcome <<<"$1"
  started=$(date +%s%N)
  output=$(printf '%s\n%s\n%s\n' "$password" "$password" "$password" |
    env LD_PRELOAD="$preload" PAM_WRAPPER=1 PAM_WRAPPER_SERVICE_DIR="$work/services" \
      ASAN_OPTIONS=detect_leaks=0 pamtester "$service" "$user" "$operation" 2>&1)
  took=$((($(date +%s%N) - started) / 1000000))
  # A failure waits the 2 seconds (give or take a quarter, at random) that
  # the module asks for, unless nodelay: then it waits for nothing.
  if [[ $outcome == slow ]] && ((took < 1400)); then
    output="answered in $took ms: $output"
  elif [[ $outcome == auth-err && -z ${2:-} ]] && ((took > 1400)); then
    output="answered in $took ms: $output"
  elif [[ $output =~ ${says[$outcome]} ]]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL${2:+ ($2)}: $1: pamtester said: $output"
  fi
}
for row in "${rows[@]}"; do run_row "$row"; done

# Again while the file is rewritten: by rename, then in place (a second name
# makes users rewrite it where it is).
for mode in rename in-place; do
  [[ $mode == in-place ]] && ln "$file" "$work/data/second-name"
  (
    cd "$work/data" || exit
    while :; do
      ./users add -u carol -p pw >/dev/null
      ./users add -r -u alice -p secret >/dev/null
      ./users remove -u carol >/dev/null
    done
  ) &
  writer=$!
  for _ in 1 2 3 4 5; do
    for row in "${rows[@]:0:3}" "${rows[@]:5:2}"; do run_row "$row" "$mode"; done
  done
  kill "$writer"
  wait "$writer" 2>/dev/null
  writer=
done
echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
