# shellcheck shell=bash
# Sourced by the scripts beside it. Makes sure that what the build and the
# tests need is there: on Debian or Ubuntu it installs what is missing with
# apt-get (through sudo when not root), saying so; elsewhere it stops with
# one line that names what to install.

# Prints the packages (Debian's names) that are missing.
missing_packages() {
  local missing=()
  command -v cmake >/dev/null || missing+=(cmake)
  command -v make >/dev/null || missing+=(make)
  command -v g++ >/dev/null || missing+=(g++)
  if ! command -v g++ >/dev/null ||
    ! printf '#include <gtest/gtest.h>\n' | g++ -std=c++20 -fsyntax-only -x c++ - 2>/dev/null; then
    missing+=(libgtest-dev)
  fi
  command -v mandoc >/dev/null || missing+=(mandoc)  # lints the manual page
  # The PAM module, and its tests in a PAM stack; the README's C example.
  [[ -f /usr/include/security/pam_modules.h ]] || missing+=(libpam0g-dev)
  command -v pamtester >/dev/null || missing+=(pamtester)
  /sbin/ldconfig -p 2>/dev/null | grep -q 'libpam_wrapper\.so ' || missing+=(libpam-wrapper)
  command -v pkg-config >/dev/null || missing+=(pkg-config)
  echo "${missing[*]}"
}

ensure_prerequisites() {
  local me missing sudo=()
  me=$(basename "$0")
  missing=$(missing_packages)
  if [[ -n $missing ]]; then
    if ! command -v apt-get >/dev/null; then
      echo "$me: please install first: $missing (names as on Debian; mandoc and the PAM ones are optional)" >&2
      exit 1
    fi
    if [[ $(id -u) != 0 ]]; then
      if ! command -v sudo >/dev/null; then
        echo "$me: please install first, as root: apt-get install $missing" >&2
        exit 1
      fi
      sudo=(sudo)
    fi
    echo "$me: installing $missing with ${sudo[*]:+sudo }apt-get"
    "${sudo[@]}" apt-get update -qq
    # shellcheck disable=SC2086 # one word a package
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
      apt-get install -y -qq --no-install-recommends $missing >/dev/null
  fi
  # Presets of this version came with CMake 3.25.
  local version
  version=$(cmake --version | sed -n 's/^cmake version \([0-9]*\.[0-9]*\).*/\1/p')
  if [[ $(printf '%s\n3.25\n' "$version" | sort -V | head -1) != 3.25 ]]; then
    echo "$me: needs CMake 3.25 or newer, found $version: install a newer cmake" >&2
    exit 1
  fi
}
