#!/usr/bin/env bash
# The README's C example, compiled with pkg-config against the library as
# installed from this build, and run on a file that users wrote.
#   readme_example_test.sh BUILD_DIR README [CFLAGS]   (CFLAGS: a sanitized build's)
set -eu
build=$1 readme=$2 cflags=${3:-}
command -v pkg-config >/dev/null || { echo "skipped \"every row\": no pkg-config"; exit 77; }
# pkg-config's flags are words split at blanks: the prefix they name goes
# to /tmp where TMPDIR has a blank.
work=$(mktemp -d)
if [[ $work == *[[:space:]]* ]]; then
  rmdir "$work"
  work=$(mktemp -d /tmp/readme-example.XXXXXX)
fi
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
awk '/^## Authenticating against the file/ { found = 1 }
     found && /^```c$/ { inside = 1; next }
     inside && /^```$/ { exit }
     inside' "$readme" >"$work/example.c"
[[ -s $work/example.c ]] || { echo "FAIL: no C example in the README"; exit 1; }
pc=$(find "$work/prefix" -name libusers.pc)
flags=$(PKG_CONFIG_PATH=$(dirname "$pc") pkg-config --define-variable=prefix="$work/prefix" \
  --cflags --libs libusers)
# shellcheck disable=SC2086 # the flags are words
cc -Wall -Werror $cflags -o "$work/example" "$work/example.c" $flags
library=$(dirname "$(find "$work/prefix" -name 'libusers.so.1')")
install -m 600 /dev/null "$work/users.dat"
cp "$build/users" "$work/users"
(cd "$work" && ./users add -u alice -p secret >/dev/null)
failures=0
while IFS='|' read -r name password says status; do
  out=$(LD_LIBRARY_PATH=$library "$work/example" "$work/users.dat" "$name" "$password") && got=0 || got=$?
  if [[ $out == "$says" && $got == "$status" ]]; then
    echo "ok: $name $password: $out"
  else
    echo "FAIL: $name $password: $out (exit $got)"
    failures=$((failures + 1))
  fi
done <<'ROWS'
alice|secret|match|0
alice|wrong|wrong password|1
bob|secret|unknown user|1
ROWS
echo "$((3 - failures)) passed, $failures failed"
[[ $failures -eq 0 ]]
