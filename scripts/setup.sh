#!/usr/bin/env bash
# Installs the system packages the build needs, only when they are missing.
# Debian/Ubuntu: Boost headers, GoogleTest, CMake and Ninja. Safe to rerun. Elsewhere it
# only says what it did not find.
set -euo pipefail

missing=()
[ -f /usr/include/boost/version.hpp ] || missing+=(libboost-dev)
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
command -v cmake >/dev/null 2>&1 || missing+=(cmake)
command -v ninja >/dev/null 2>&1 || missing+=(ninja-build)
command -v g++ >/dev/null 2>&1 || missing+=(g++)

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if ! command -v apt-get >/dev/null 2>&1; then
  # Another Linux: the headers may sit elsewhere (/usr/local/include), and the demo needs
  # no GoogleTest. CMake's own search gives the definite error.
  echo "setup: did not find ${missing[*]} in the usual places; without apt-get, install" \
       "them with your package manager (see README.md)" >&2
  exit 0
fi

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
echo "setup: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
