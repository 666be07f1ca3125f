#!/usr/bin/env bash
# Installs what this machine lacks to build, test and run Vesk. Idempotent:
# asks apt-get only for packages that are missing.
#   scripts/setup.sh            build and tests; data and demo
#   scripts/setup.sh fuzz       clang and its runtimes, for the fuzz targets
#   scripts/setup.sh windows    the Windows cross-compilers, Wine and NSIS;
#                               then, optionally, the 32-bit Wine runtime
#
# Packages come in groups, each installed on its own, so that one group the
# archive cannot serve today (an index half synced, an i386 package held
# back) does not take the others with it. A group that fails says why in one
# line. Every group but the 32-bit Wine runtime is required: setup exits 1
# when a required group could not be installed, after trying all of them.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
# Why an optional group is missing, for the test scripts to report.
state_dir=$root/build-deps
wine32_unavailable=$state_dir/wine32-unavailable.txt

build_group=(
  build-essential cmake make pkg-config git ca-certificates
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libsonic-dev libsndfile1-dev libsamplerate0-dev libcli11-dev
  libicu-dev libuchardet-dev libpcaudio-dev help2man
  speech-dispatcher python3-speechd speech-dispatcher-espeak-ng libspeechd-dev
  libespeak-ng-dev
  python3 sox
)
data_group=(
  espeak-ng espeak-ng-data unicode-data manpages-zh
  bzip2 python3-jieba
  praat python3-numpy python3-scipy python3-soundfile python3-matplotlib
)
if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
  data_group+=(nodejs npm)
fi
fuzz_group=(clang libclang-rt-14-dev binutils)
windows_group=(
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  gcc-mingw-w64-i686-posix gcc-mingw-w64-x86-64-posix
  dpkg-dev wine wine64 qemu-user-static nsis
)
wine32_group=(wine32:i386)

source "$root/scripts/apt-lists.sh"
log() { echo "setup: $*"; }
export DEBIAN_FRONTEND=noninteractive

installed() {
  local status
  status=$(dpkg-query -W -f='${db:Status-Abbrev}' "$1" 2>/dev/null || true)
  [[ $status == ii* ]]
}

missing_of() {
  local p
  for p in "$@"; do installed "$p" || echo "$p"; done
}

# install_group NAME PACKAGE...: 0 when all are there afterwards.
failed_reason=
asked_apt=0
install_group() {
  local name=$1
  shift
  local missing out
  mapfile -t missing < <(missing_of "$@")
  ((${#missing[@]})) || return 0
  asked_apt=1
  update_lists
  log "installing $name: ${missing[*]}"
  if out=$(apt_get install -y -qq --no-install-recommends "${missing[@]}" 2>&1); then
    return 0
  fi
  failed_reason=$(grep '^E:' <<<"$out" | tail -n 1 | sed 's/^E: //' | cut -c1-240)
  [[ -n $failed_reason ]] || failed_reason=$(tail -n 1 <<<"$out" | cut -c1-240)
  log "group '$name' could not be installed: $failed_reason"
  return 1
}

failed=()
if [[ "${1:-}" == "windows" ]]; then
  install_group "Windows cross-compilers, Wine and NSIS" "${windows_group[@]}" ||
    failed+=("Windows cross-compilers, Wine and NSIS")
  mkdir -p "$state_dir"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
    lists_fresh=0
  fi
  if install_group "32-bit Wine runtime" "${wine32_group[@]}"; then
    rm -f "$wine32_unavailable"
  else
    # Optional: the x86 DLL is still built and its tables checked.
    log "(optional: the x86 DLL is built and checked, its tests under Wine are not run)"
    echo "$failed_reason" >"$wine32_unavailable"
  fi
elif [[ "${1:-}" == "fuzz" ]]; then
  install_group "clang for fuzzing" "${fuzz_group[@]}" || failed+=("clang for fuzzing")
else
  install_group "build and tests" "${build_group[@]}" || failed+=("build and tests")
  install_group "data and demo" "${data_group[@]}" || failed+=("data and demo")
fi

if ((${#failed[@]})); then
  log "missing groups: $(IFS=,; echo "${failed[*]}" | sed 's/,/, /g')"
  exit 1
fi
((asked_apt)) || log "all packages present"

# Node packages for the dictionary builder and the comparison with peers.
if [[ -z "${1:-}" && -f $root/data/package.json ]]; then
  if [[ ! -d $root/data/node_modules ]] ||
    [[ $root/data/package-lock.json -nt $root/data/node_modules ]]; then
    (cd "$root/data" && npm ci --no-audit --no-fund --loglevel=error) || exit 1
    touch "$root/data/node_modules"
  fi
fi
exit 0
