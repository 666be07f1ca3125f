#!/usr/bin/env bash
# Installs what this machine lacks to build, test and run Vesk. Idempotent:
# asks apt-get only for packages that are missing.
#   scripts/setup.sh            build, tests, data and demo
#   scripts/setup.sh windows    adds the mingw-w64 cross compilers and Wine
set -euo pipefail

packages=(
  build-essential cmake make pkg-config git ca-certificates
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libsonic-dev libsndfile1-dev libsamplerate0-dev libcli11-dev
  espeak-ng espeak-ng-data libespeak-ng-dev unicode-data manpages-zh sox
  bzip2 python3 python3-jieba
  clang libclang-rt-14-dev binutils
)
if [[ "${1:-}" == "windows" ]]; then
  packages+=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
             gcc-mingw-w64-i686-posix gcc-mingw-w64-x86-64-posix
             dpkg-dev wine wine64 qemu-user-static)
fi
if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
  packages+=(nodejs npm)
fi

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2>/dev/null || true)
  [[ "$status" == ii* ]] || missing+=("$p")
done

as_root() { if [[ $(id -u) -eq 0 ]]; then "$@"; else sudo "$@"; fi; }

if [[ "${1:-}" == "windows" ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  as_root dpkg --add-architecture i386
  missing+=(wine32:i386)
elif [[ "${1:-}" == "windows" ]]; then
  status=$(dpkg-query -W -f='${db:Status-Abbrev}' wine32:i386 2>/dev/null || true)
  [[ "$status" == ii* ]] || missing+=(wine32:i386)
fi

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  as_root apt-get update -qq
  as_root apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
else
  echo "setup: all packages present"
fi

# Node packages for the dictionary builder and the comparison with peers.
if [[ -f data/package.json ]]; then
  if [[ ! -d data/node_modules ]] || [[ data/package-lock.json -nt data/node_modules ]]; then
    (cd data && npm ci --no-audit --no-fund --loglevel=error)
    touch data/node_modules
  fi
fi
