#!/usr/bin/env bash
# Checks the Windows DLLs and runs the Windows test programs under Wine.
#   tests/windows/run-tests.sh BUILD_DIR...   (build-win32 and/or build-win64)
#
# One 64-bit Wine prefix serves both architectures (Debian's Wine runs 32-bit
# programs in a 64-bit prefix through its 32-bit loader); it is created once
# and kept in build-win64/wine-prefix.
#
# VESK_WINE32=qemu runs the 32-bit programs through qemu-i386 even where the
# kernel starts them itself, as on a machine without ia32 emulation. It does
# so in a user namespace with a binfmt_misc of its own (Linux 6.7 or later),
# so that the rest of the machine goes on running 32-bit programs natively.
# VESK_WINE32_LOADER names the 32-bit Wine loader (/usr/lib/wine/wine).
# VESK_TEST_INSTALLER names the setup program to install and uninstall
# (tests/windows/installer-test.sh), VESK_TEST_INSTALLER_STAGE the folder it
# was made from.
#
# Where a build has VeskSapi.dll, its SAPI 5 client (vesk_sapi_tests) runs
# against the engine as installed: in each case of the setup program's, or
# where that does not run, against the DLL registered with regsvr32 beside
# the engine and its data (run_sapi_client).
set -uo pipefail

if [[ ${VESK_WINE32:-} == qemu && -z ${VESK_PRIVATE_BINFMT:-} ]]; then
  exec env VESK_PRIVATE_BINFMT=1 unshare --user --map-root-user --mount -- "$0" "$@"
fi

root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/tests/windows/installer-test.sh"
export WINEDEBUG=-all
export WINEPREFIX=${VESK_WINEPREFIX:-$root/build-win64/wine-prefix}
# No Mono or Gecko installers: nothing here needs them.
export WINEDLLOVERRIDES="mscoree,mshtml="
wine64=/usr/lib/wine/wine64
wine32=${VESK_WINE32_LOADER:-/usr/lib/wine/wine}

passed=0
failed=0
pass() { echo "PASS: $*"; passed=$((passed + 1)); }
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }

as_root() { if [[ $(id -u) -eq 0 ]]; then "$@"; else sudo "$@"; fi; }

# How 32-bit programs run here: "native", "qemu" (the kernel cannot start
# them itself, ia32 emulation being switched off, so qemu-i386 does through
# binfmt_misc) or "none", with the reason in i386_reason. Without them the
# x86 DLL is still built and its tables checked; its tests are reported as
# not run, and that alone does not fail the run.
i386_mode=none
i386_reason=
wine32_unavailable=$root/build-deps/wine32-unavailable.txt
enable_i386() {
  local misc=/proc/sys/fs/binfmt_misc qemu=/usr/bin/qemu-i386-static
  if [[ ! -x $wine32 ]]; then
    i386_reason="the 32-bit Wine runtime (wine32:i386) is not installed"
    [[ -s $wine32_unavailable ]] && i386_reason+=": $(head -n 1 "$wine32_unavailable")"
    return 1
  fi
  if [[ -n ${VESK_PRIVATE_BINFMT:-} ]]; then
    # A binfmt_misc of this namespace's own, empty: nothing outside changes.
    i386_reason="VESK_WINE32=qemu"
    mount -t binfmt_misc binfmt_misc "$misc" ||
      { i386_reason+=" but no binfmt_misc of its own can be mounted (Linux 6.7 or later)"; return 1; }
  else
    # Asked with qemu's handler switched off, so that it is the kernel that
    # answers.
    local had_qemu=0
    if [[ -e $misc/qemu-i386 ]] && grep -qx enabled "$misc/qemu-i386"; then
      had_qemu=1
      echo 0 | as_root tee "$misc/qemu-i386" >/dev/null || true
    fi
    if "$wine32" --version >/dev/null 2>&1; then
      i386_mode=native
      [[ $had_qemu -eq 1 ]] && echo 1 | as_root tee "$misc/qemu-i386" >/dev/null
      return 0
    fi
    i386_reason="the kernel cannot start 32-bit programs"
  fi
  [[ -x $qemu ]] || { i386_reason+=" and $qemu is missing"; return 1; }
  if [[ ! -e $misc/register ]] && ! as_root mount -t binfmt_misc binfmt_misc "$misc" 2>/dev/null; then
    i386_reason+=" and binfmt_misc cannot be mounted for qemu-i386"
    return 1
  fi
  if [[ -e $misc/qemu-i386 ]]; then
    echo 1 | as_root tee "$misc/qemu-i386" >/dev/null 2>&1 ||
      { i386_reason+=" and qemu-i386's binfmt handler cannot be enabled"; return 1; }
  else
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$qemu"':F' |
      as_root tee "$misc/register" >/dev/null 2>&1 ||
      { i386_reason+=" and qemu-i386 cannot be registered with binfmt_misc"; return 1; }
  fi
  "$wine32" --version >/dev/null 2>&1 ||
    { i386_reason+=", and 32-bit Wine does not start through qemu-i386 either"; return 1; }
  echo "run-tests: $i386_reason; running 32-bit programs through qemu-i386"
  i386_reason=
  i386_mode=qemu
}

# What qemu-i386 carries. Each start of 32-bit Wine under it costs about a
# minute, so most tests share one process. But hardware faults and structured
# exceptions raised in a process that has already raised others can kill qemu
# itself: the host tests that fault in their callbacks pass in a fresh
# process, and then the first fault of CallGuarded's that follows ends qemu
# with a segmentation fault of its own, while CallGuarded's six tests and
# their eleven faults pass together in a process of their own. Those tests
# are found by what they do: the x64 run, native under wine64, records each
# test during which one was raised on any thread
# (tests/windows/fault_recorder.cpp) in fault_list. Under qemu each suite of
# them runs in a fresh process of its own, the rest in one process.
fault_list=
# Tests that pass natively but kill qemu-i386 itself even in a process of
# their own: left out under qemu only, each by name with the reason.
declare -A qemu_left_out=(
  [CallGuarded.FaultsOnManyThreadsAreEachRecovered]="faults raised on eight threads at once kill qemu-i386 itself, even in a fresh process"
  [ControlSurfaceStressTest.StopWhileAnotherThreadReplacesTheUtteranceWaitsForIt]="host threads replacing and stopping an utterance whose callback is held hang qemu-i386 or kill it (an uncaught segmentation fault), now and then even in a fresh process"
  [HostControlTest.ConcurrentSpeakStopAndUninitializeNeitherHangNorCrash]="four host threads speaking, stopping and restarting the engine kill qemu-i386 itself (an uncaught segmentation fault) in a shared process, and in a fresh one end the program with exit code 3 and no message"
  [ControlSurfaceStressTest.RandomCallsFromHostThreadsKeepEveryPromise]="four host threads starting and stopping thousands of worker threads kill qemu-i386 itself (an uncaught segmentation fault, or Wine calling address 0), even in a fresh process"
)

# The same for the SAPI client (vesk_sapi_tests): under qemu-i386 it runs
# without these, which kill qemu itself while the engine starts worker
# threads sentence after sentence (the other fifteen speak too and pass).
declare -A qemu_sapi_left_out=(
  [SapiEngineTest.AudioIsTheEnginesForThePreparedTextWithPieceEvents]="three Speak calls of several sentences each, each sentence an engine worker thread started and ended, kill qemu-i386 itself (an uncaught segmentation fault) at the first of them; the x64 run and native x86 runs check this, and the bookmark, rate and volume tests compare samples under qemu too"
  [SapiEngineTest.TwoEnginesOnTwoThreadsTakeTurns]="two host threads each speaking through its own voice object kill qemu-i386 itself (glibc reports a double free in qemu's own heap, then an uncaught segmentation fault)"
)

# The x86 tests as the stage's last line counts them.
x86_run=0
x86_passed=0
x86_failed=0
x86_skipped=0
x86_left_out=0
count_x86() {
  local log=$1 text run ok skipped
  # Lines as Wine's console writes them, some ending in CR LF.
  text=$(tr -d '\r' <"$log")
  run=$(grep -ac '^\[ RUN      \]' <<<"$text")
  ok=$(grep -ac '^\[       OK \]' <<<"$text")
  skipped=$(grep -acE '^\[  SKIPPED \] .* \([0-9]+ ms\)$' <<<"$text")
  x86_run=$((x86_run + run))
  x86_passed=$((x86_passed + ok))
  x86_skipped=$((x86_skipped + skipped))
  # A test that started and never ended (its process died) failed too.
  x86_failed=$((x86_failed + run - ok - skipped))
}

windows_path() { echo "Z:${1//\//\\}"; }

join_filter() { local IFS=:; echo "$*"; }

# The names of the tests a log saw end, one a line.
ended_tests() {
  tr -d '\r' <"$1" | sed -nE 's/^\[ +(OK|FAILED|SKIPPED) +\] ([^ ]+) \([0-9]+ ms\)$/\2/p'
}

# The tests that share a process under qemu-i386, all but the names given.
# Threads started and stopped by the hundred can kill qemu in a process that
# has run other tests (an uncaught segmentation fault of its own, or a hang)
# under a test that passes in a fresh process. When qemu dies or hangs, the
# rest go on in a fresh process, and the test it died under runs once more in a
# process of its own: it passes only if it passes there. A failure the
# tests report fails the run as everywhere.
run_shared_under_qemu() {
  local exe=$1 log=$2
  shift 2
  local -a skip=("$@")
  local part=0 plog rc dead name processes=0 failures=0 start=$SECONDS
  local shared_faults=$log-shared-faults.txt
  rm -f "$shared_faults"
  while :; do
    part=$((part + 1))
    plog=$log-shared-$part.log
    processes=$((processes + 1))
    # Recorded all the same, so that a test raising faults only on x86 is
    # named.
    VESK_FAULTING_TESTS=$(windows_path "$shared_faults.$part") \
      timeout --kill-after=10 "${VESK_WINE_TEST_TIMEOUT:-600}" \
      "$wine32" "$exe" --gtest_color=no "--gtest_filter=-$(join_filter "${skip[@]}")" >"$plog" 2>&1
    rc=$?
    cat "$shared_faults.$part" >>"$shared_faults" 2>/dev/null
    rm -f "$shared_faults.$part"
    count_x86 "$plog"
    failures=$((failures + $(tr -d '\r' <"$plog" | grep -acE '^\[  FAILED  \] [^ ]+ \([0-9]+ ms\)$')))
    if tr -d '\r' <"$plog" | grep -aqE '^\[==========\] [0-9]+ tests? from .* ran'; then
      [[ $rc -eq 0 ]] || failures=$((failures + 1))
      break
    fi
    dead=$(tr -d '\r' <"$plog" | sed -nE 's/^\[ RUN      \] ([^ ]+)$/\1/p' | tail -n 1)
    if [[ -z $dead ]] || ended_tests "$plog" | grep -qxF "$dead"; then
      fail "$exe under qemu-i386: the process died outside any test (exit $rc); full output: $plog"
      return
    fi
    local how
    how=$(grep -aE '^qemu: |Unhandled' "$plog" | head -n 1 | tr -d '\r')
    [[ $rc -eq 124 || $rc -eq 137 ]] && how="it hung and was ended after ${VESK_WINE_TEST_TIMEOUT:-600} s"
    echo "run-tests: under qemu-i386, the shared process ended under $dead (exit $rc: $how); the rest go on in a fresh process"
    mapfile -t -O "${#skip[@]}" skip < <(ended_tests "$plog")
    skip+=("$dead")
    # The test it died under, counted failed above, runs alone.
    x86_run=$((x86_run - 1))
    x86_failed=$((x86_failed - 1))
    run_program "$exe" "$wine32" "$log-$dead.log" "--gtest_filter=$dead"
    count_x86 "$log-$dead.log"
  done
  if [[ $failures -eq 0 ]]; then
    pass "$exe under qemu-i386: the shared tests in $processes process(es), in $((SECONDS - start)) s"
  else
    fail "$exe under qemu-i386: $failures failure(s) among the shared tests; full output: $log-shared-*.log"
    cat "$log"-shared-*.log | tr -d '\r' | grep -aE '^\[  FAILED  \]|Failure|Expected|Which is|actual' | head -40 | sed 's/^/    /'
  fi
  if [[ -s $shared_faults ]]; then
    echo "run-tests: under qemu-i386, raised faults in the shared process though not on x64:"
    sed 's/^/    /' "$shared_faults"
  fi
}

# The x86 program under qemu-i386: the tests of fault_list in fresh
# processes, one per test suite, and the rest in one process.
run_under_qemu() {
  local exe=$1 log=$2
  if [[ ! -f $fault_list ]]; then
    fail "$exe: no list of the tests that raise faults (the x64 tests write it; run them first)"
    return
  fi
  local name code count reason
  local -a faulting=() excluded=()
  while read -r name code count; do
    [[ -n $name ]] || continue
    excluded+=("$name")
    [[ -n ${qemu_left_out[$name]:-} ]] && continue
    faulting+=("$name")
  done <"$fault_list"
  for name in "${!qemu_left_out[@]}"; do
    reason=${qemu_left_out[$name]}
    echo "run-tests: under qemu-i386, left out: $name: $reason"
    excluded+=("$name")
    x86_left_out=$((x86_left_out + 1))
  done
  echo "run-tests: under qemu-i386, the ${#faulting[@]} tests that raise faults run in a fresh process per suite"

  run_shared_under_qemu "$exe" "$log" "${excluded[@]}"

  local suite
  local -A suite_tests=()
  local -a suites=()
  for name in "${faulting[@]}"; do
    suite=${name%%.*}
    [[ -n ${suite_tests[$suite]:-} ]] || suites+=("$suite")
    suite_tests[$suite]+="${suite_tests[$suite]:+:}$name"
  done
  for suite in "${suites[@]}"; do
    run_program "$exe" "$wine32" "$log-$suite.log" "--gtest_filter=${suite_tests[$suite]}"
    count_x86 "$log-$suite.log"
  done
}

# The prefix gets its 32-bit half only where 32-bit Wine runs; it is made
# again once it does.
make_prefix() {
  if [[ -f $WINEPREFIX/system.reg ]] &&
    { [[ $i386_mode == none ]] || [[ -f $WINEPREFIX/.vesk-wow64 ]]; }; then
    return 0
  fi
  echo "run-tests: creating the Wine prefix $WINEPREFIX (once; takes minutes)"
  rm -rf "$WINEPREFIX"
  mkdir -p "$(dirname "$WINEPREFIX")"
  WINEARCH=win64 "$wine64" wineboot -i >/dev/null 2>&1
  /usr/lib/wine/wineserver64 -w
  [[ $i386_mode == none ]] || touch "$WINEPREFIX/.vesk-wow64"
  [[ -f $WINEPREFIX/system.reg ]]
}

# The export table must hold exactly the fourteen undecorated names.
check_exports() {
  local dll=$1 objdump=$2
  local expected actual
  expected=$(printf '%s\n' VeskSynthInitialize VeskSynthUninitialize \
    VeskSynthGetInfo VeskSynthGetVoiceList VeskSynthPrepareVoice \
    VeskSynthGetAudioFormat VeskSynthSetRate VeskSynthSetPitch \
    VeskSynthSetVolume VeskSynthSetPlayCallback VeskSynthSpeak VeskSynthStop \
    VeskSynthPause VeskSynthResume | sort)
  actual=$("$objdump" -p "$dll" |
    awk '/\[Ordinal\/Name Pointer\] Table/ {on=1; next} on && /^[[:space:]]*\[/ {print $NF; next} on {on=0}' |
    sort)
  if [[ "$actual" == "$expected" ]]; then
    pass "$dll exports exactly the fourteen undecorated names"
  else
    fail "$dll exports differ:"
    diff <(echo "$expected") <(echo "$actual") | sed 's/^/    /'
  fi
}

# Only Windows' own libraries may be imported: the C++ runtime and
# winpthreads are linked in.
check_imports() {
  local dll=$1 objdump=$2
  local bad
  bad=$("$objdump" -p "$dll" | awk '/DLL Name:/ {print tolower($3)}' |
    grep -vxE 'kernel32\.dll|msvcrt\.dll|user32\.dll|advapi32\.dll|ntdll\.dll|api-ms-win-crt-.*\.dll' || true)
  if [[ -z "$bad" ]]; then
    pass "$dll imports only system libraries"
  else
    fail "$dll imports $(echo $bad)"
  fi
}

# The DLL installed as a package lays it out, beside the real dictionaries
# and voices of VESK_TEST_ENGINE_DATA; prints the folder as Wine names it.
stage_installed() {
  local dll=$1 folder=$2 data=${VESK_TEST_ENGINE_DATA:-}
  [[ -n $data && -f $data/pinyin.txt && -f $data/phrases.txt ]] || return 1
  compgen -G "$data/*.vl" >/dev/null || return 1
  rm -rf "$folder" && mkdir -p "$folder" &&
    cp "$dll" "$data/pinyin.txt" "$data/phrases.txt" "$data"/*.vl "$folder"/ || return 1
  folder=$(cd "$folder" && pwd)
  echo "Z:${folder//\//\\}"
}

run_program() {
  local exe=$1 loader=$2 log=$3
  shift 3
  local summary start=$SECONDS
  # A hang (a deadlock at unload, say) must end the run, not the machine.
  timeout --kill-after=10 "${VESK_WINE_TEST_TIMEOUT:-600}" \
    "$loader" "$exe" --gtest_color=no "$@" >"$log" 2>&1
  local rc=$?
  [[ $rc -eq 124 || $rc -eq 137 ]] && echo "    timed out" >>"$log"
  summary="$(grep -E '^\[  (PASSED|FAILED)  \]|tests? ran' "$log" | tr '\n' ' ')in $((SECONDS - start)) s"
  if [[ $rc -eq 0 ]] && grep -q '^\[  PASSED  \]' "$log"; then
    pass "$exe under Wine: $summary"
  else
    fail "$exe under Wine (exit $rc): $summary"
    grep -E '^\[  FAILED  \]|Failure|error:|Expected|Which is|actual' "$log" | head -40 | sed 's/^/    /'
    echo "    full output: $log"
  fi
}

# What the installed-engine test heard must be, sample for sample, what the
# Linux build says for the same text.
compare_with_linux() {
  local folder=$1 label=$2 say=$root/build/tools/vesk-say/vesk-say
  [[ -f $folder/spoken.txt ]] || return 0
  if [[ ! -x $say ]]; then
    echo "run-tests: no $say to compare the samples with (make build)"
    return 0
  fi
  local pcm rate pitch linux
  for pcm in "$folder"/spoken-rate*-pitch*.pcm; do
    [[ -f $pcm ]] || continue
    rate=${pcm##*-rate}; rate=${rate%%-*}
    pitch=${pcm##*-pitch}; pitch=${pitch%.pcm}
    linux=${pcm%.pcm}.linux
    # The engine's own reading, letters spelled: English words are vesk-say's.
    if ! "$say" --engine "$VESK_TEST_ENGINE_DATA" -q --raw --raw-text --spell-english \
      --rate "$rate" --pitch "$pitch" \
      -o - -f "$folder/spoken.txt" >"$linux"; then
      fail "$label: vesk-say failed on the same text"
    elif cmp -s "$pcm" "$linux"; then
      pass "$label, rate $rate, pitch $pitch: the same $(($(stat -c %s "$linux") / 2)) samples as the Linux build"
    else
      fail "$label, rate $rate, pitch $pitch: samples differ from the Linux build's: $(cmp "$pcm" "$linux" 2>&1 | head -1)"
    fi
  done
}

# The SAPI 5 client (vesk_sapi_tests) of each architecture whose build has
# VeskSapi.dll, found while its build is tested, runs against the engine as
# installed: in each case of the setup program's (installer-test.sh calls
# sapi_clients_installed before it uninstalls), or, where that does not run,
# from a folder laid out as one architecture's folder of the setup
# program's, VeskSapi.dll and VeskSynth.dll beside the dictionaries and
# voices of VESK_TEST_ENGINE_DATA, registered with regsvr32 (run_sapi_client).
# That one is unregistered afterwards and must leave neither its class nor a
# voice token in its registry view.
sapi_clsid='{2D2B22F7-0AE3-4520-8AF1-23E0CD082BBD}'
sapi_not_run=
sapi_installed_runs=0
declare -A sapi_build=() sapi_loader=() sapi_dll=()

sapi_client_found() {
  local build=$1 loader=$2 dll=$3
  local arch=${dll%/*}
  arch=${arch##*/}
  local sapi=$build/engine/$arch/VeskSapi.dll
  local exe=$build/tests-windows/vesk_sapi_tests.exe
  if [[ ! -f $sapi || ! -f $exe ]]; then
    sapi_not_run+="${sapi_not_run:+; }$arch: $sapi or $exe not built"
    return
  fi
  sapi_build[$arch]=$build
  sapi_loader[$arch]=$loader
  sapi_dll[$arch]=$dll
}

# The client program of one architecture against the registered engine in
# WINDIR (as Wine names it, in UTF-8: Wine reads the environment in the
# locale's encoding): its PASS or FAIL line, its x86 tests counted, and the
# lines saying which of SAPI's paths ran.
sapi_client_program() {
  local exe=$1 loader=$2 windir=$3 log=$4 name
  local -a filter=()
  echo "run-tests: the SAPI client against $windir"
  if [[ $loader == "$wine32" && $i386_mode == qemu ]]; then
    for name in "${!qemu_sapi_left_out[@]}"; do
      echo "run-tests: under qemu-i386, left out: $name: ${qemu_sapi_left_out[$name]}"
      x86_left_out=$((x86_left_out + 1))
    done
    filter=("--gtest_filter=-$(IFS=:; echo "${!qemu_sapi_left_out[*]}")")
  fi
  LC_ALL=C.UTF-8 VESK_SAPI_DIR=$windir run_program "$exe" "$loader" "$log" "${filter[@]}"
  [[ $loader == "$wine32" ]] && count_x86 "$log"
  tr -d '\r' <"$log" | grep -a '^sapi-client:' | awk '!seen[$0]++' | sed 's/^/    /'
}

# Each client against WINDIR\<arch> as the setup program installed it; on
# 32-bit Windows the x86 one only.
sapi_clients_installed() {
  local windir=$1 arch build
  for arch in x64 x86; do
    build=${sapi_build[$arch]:-}
    [[ -n $build ]] || continue
    [[ $arch == x64 && $installer_windows == 32 ]] && continue
    sapi_installed_runs=$((sapi_installed_runs + 1))
    sapi_client_program "$build/tests-windows/vesk_sapi_tests.exe" "${sapi_loader[$arch]}" \
      "$windir\\$arch" "$build/tests-windows/sapi-client-installed-$sapi_installed_runs.log"
  done
}

run_sapi_client() {
  local build=$1 loader=$2 dll=$3
  local arch=${dll%/*}
  arch=${arch##*/}
  local sapi=$build/engine/$arch/VeskSapi.dll
  local exe=$build/tests-windows/vesk_sapi_tests.exe
  local folder=$build/tests-windows/sapi-installed
  local log=$build/tests-windows/sapi-client view=64 windir rc left
  [[ $arch == x86 ]] && view=32
  if ! windir=$(stage_installed "$dll" "$folder"); then
    sapi_not_run+="${sapi_not_run:+; }$arch: no dictionaries and voice in \$VESK_TEST_ENGINE_DATA"
    return
  fi
  cp "$sapi" "$folder/"
  timeout --kill-after=10 "${VESK_WINE_TEST_TIMEOUT:-600}" \
    "$loader" regsvr32 /s "$windir\\VeskSapi.dll" >"$log-register.log" 2>&1
  rc=$?
  if [[ $rc -ne 0 ]]; then
    fail "$sapi: regsvr32 exit code $rc; the SAPI client not run"
    sed 's/^/    /' "$log-register.log" | head -10
    return
  fi
  sapi_client_program "$exe" "$loader" "$windir" "$log.log"
  timeout --kill-after=10 "${VESK_WINE_TEST_TIMEOUT:-600}" \
    "$loader" regsvr32 /s /u "$windir\\VeskSapi.dll" >"$log-unregister.log" 2>&1
  rc=$?
  left=$(
    "$wine64" reg query "HKLM\\SOFTWARE\\Classes\\CLSID\\$sapi_clsid" "/reg:$view" >/dev/null 2>&1 &&
      echo "the class $sapi_clsid"
    "$wine64" reg query 'HKLM\SOFTWARE\Microsoft\Speech\Voices\Tokens' "/reg:$view" 2>/dev/null |
      tr -d '\r' | grep -aio 'Tokens\\Vesk-.*'
  )
  if [[ $rc -eq 0 && -z $left ]]; then
    pass "$sapi: regsvr32 /u removed its class and every voice token from the $view-bit view"
  else
    fail "$sapi: regsvr32 /u exit code $rc, left in the $view-bit view: $(echo $left)"
  fi
}

[[ $# -gt 0 ]] || set -- "$root/build-win32" "$root/build-win64"
x86_not_run=
# The x64 program first: its run names the tests that raise faults.
builds=()
for build in "$@"; do compgen -G "$build/engine/x86/*" >/dev/null || builds+=("$build"); done
for build in "$@"; do compgen -G "$build/engine/x86/*" >/dev/null && builds+=("$build"); done
set -- "${builds[@]}"

# 32-bit support first, so that the prefix gets its 32-bit half.
enable_i386 || true
make_prefix || fail "cannot create the Wine prefix"
for build in "$@"; do
  dll=$(ls "$build"/engine/*/VeskSynth.dll 2>/dev/null | head -1)
  exe=$build/tests-windows/vesk_windows_tests.exe
  [[ -f $exe ]] || exe=$(find "$build" -name vesk_windows_tests.exe | head -1)
  if [[ -z "$dll" || ! -f "$exe" ]]; then
    fail "$build: DLL or test program missing (make windows)"
    continue
  fi
  case "$dll" in
    */x86/*) objdump=i686-w64-mingw32-objdump; loader=$wine32 ;;
    *) objdump=x86_64-w64-mingw32-objdump; loader=$wine64 ;;
  esac
  check_exports "$dll" "$objdump"
  check_imports "$dll" "$objdump"
  log=$build/tests-windows/wine-test
  installed_dir=$build/tests-windows/installed
  if installed=$(stage_installed "$dll" "$installed_dir"); then
    export VESK_TEST_PACKAGE=$installed
  else
    unset VESK_TEST_PACKAGE
    echo "run-tests: no dictionaries and voice in \$VESK_TEST_ENGINE_DATA; the installed-engine test is skipped"
  fi
  rm -f "$log"*.log
  if [[ $loader == "$wine64" ]]; then
    fault_list=$build/tests-windows/faulting-tests.txt
    rm -f "$fault_list"
    VESK_FAULTING_TESTS=$(windows_path "$fault_list") run_program "$exe" "$loader" "$log.log"
  elif [[ $i386_mode == native ]]; then
    run_program "$exe" "$loader" "$log.log"
    count_x86 "$log.log"
  elif [[ $i386_mode == qemu ]]; then
    run_under_qemu "$exe" "$log"
  else
    x86_not_run=$i386_reason
    continue
  fi
  compare_with_linux "$installed_dir" "$dll"
  sapi_client_found "$build" "$loader" "$dll"
done

# The setup program is 32-bit code: it runs where the x86 tests run.
if [[ -n ${VESK_TEST_INSTALLER:-} ]]; then
  if [[ $i386_mode == none ]]; then
    echo "run-tests: the setup program not run: it is x86 code, and $i386_reason"
    x86_not_run=$i386_reason
  else
    run_installer_tests "$VESK_TEST_INSTALLER" "${VESK_TEST_INSTALLER_STAGE:-}" \
      "$root/build-win64/tests-windows/VeskSapi-failing.dll"
  fi
fi

# Where the setup program did not run, the SAPI clients run against their
# folders registered with regsvr32.
if [[ $sapi_installed_runs -eq 0 ]]; then
  for arch in "${!sapi_build[@]}"; do
    run_sapi_client "${sapi_build[$arch]}" "${sapi_loader[$arch]}" "${sapi_dll[$arch]}"
  done
fi
[[ -z $sapi_not_run ]] || echo "run-tests: the SAPI client not run: $sapi_not_run"
echo "windows: $passed passed, $failed failed"
# The stage's last line, so that a skipped half is never mistaken for a pass.
if [[ -n $x86_not_run ]]; then
  echo "x86 tests not run: $x86_not_run"
elif [[ $x86_run -gt 0 || $x86_left_out -gt 0 ]]; then
  how=natively
  [[ $i386_mode == qemu ]] && how="under qemu-i386"
  echo "x86 tests $how: $x86_run run, $x86_passed passed, $x86_failed failed" \
    "($x86_skipped skipped), $x86_left_out left out"
fi
[[ $failed -eq 0 ]]
