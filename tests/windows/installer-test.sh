# shellcheck shell=bash disable=SC2154  # wine64, wine32, i386_mode: run-tests.sh
# The setup program under Wine, sourced by run-tests.sh, whose prefix,
# loaders, pass and fail it uses:
#   run_installer_tests SETUP.EXE STAGE FAILING.DLL
# STAGE is the folder the setup program was made from (mk/installer.mk): the
# installed tree must equal it. Each case installs silently, checks the files,
# the SAPI registration in both registry views and the Apps entry, then
# uninstalls silently and checks that nothing it made is left. A setup
# program made from the same stage with FAILING.DLL as its x64 VeskSapi.dll
# must roll back. The last case is 32-bit Windows, a 32-bit Wine prefix of its
# own: the x86 engine only.
#
# The setup program is 32-bit code: it runs where 32-bit Wine runs. Registry
# views are read with reg.exe's /reg:32 and /reg:64 (Wine 8.0 honours both)
# and `reg export`, which writes UTF-16, so that the voice names and paths
# keep their Chinese characters.

installer_clsid='{2D2B22F7-0AE3-4520-8AF1-23E0CD082BBD}'
installer_apps_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vesk'
installer_tokens_key='HKLM\SOFTWARE\Microsoft\Speech\Voices\Tokens'
installer_clsid_key="HKLM\\SOFTWARE\\Classes\\CLSID\\$installer_clsid"
installer_work=
# The case's Windows: "64" (both registry views, both engines) or "32".
installer_windows=64

# The Unix path of a path on Wine's C: drive.
unix_path_of() {
  local rest=${1#[Cc]:}
  echo "$WINEPREFIX/drive_c${rest//\\//}"
}

# The registry views of the case's Windows.
installer_views() { if [[ $installer_windows == 64 ]]; then echo 32 64; else echo 32; fi; }

# A key and its subkeys in one registry view (32 or 64), as `reg export`
# writes them, in UTF-8 with LF; fails when the key is not there. 32-bit
# Windows has one view.
reg_export() {
  local key=$1 view=$2 file=$installer_work/export.reg
  rm -f "$file"
  if [[ $installer_windows == 64 ]]; then
    "$wine64" reg export "$key" "$(windows_path "$file")" "/reg:$view" /y
  else
    "$wine32" reg export "$key" "$(windows_path "$file")" /y
  fi >/dev/null 2>&1 || return 1
  iconv -f UTF-16 -t UTF-8 "$file" | tr -d '\r' | sed '1s/^\xef\xbb\xbf//'
}

# Each value of an export on one line: [key] name=value.
reg_lines() {
  awk '/^\[.*\]$/ {key = $0; next} /^$/ {next} /^Windows Registry/ {next} {print key " " $0}'
}

# The registry's state where the setup program and the SAPI DLLs write, in
# both views, as one text.
registry_state() {
  local view key
  for view in $(installer_views); do
    for key in "$installer_clsid_key" "$installer_tokens_key" "$installer_apps_key"; do
      echo "## $key /reg:$view"
      reg_export "$key" "$view" || echo "(absent)"
    done
  done
}

# reg .reg text escapes backslashes and quotes.
reg_escaped() { local s=${1//\\/\\\\}; echo "${s//\"/\\\"}"; }

# Waits for every process of the prefix (the uninstaller returns at once: its
# copy in %TEMP% does the work).
wait_for_wine() {
  timeout --kill-after=10 "${VESK_WINE_TEST_TIMEOUT:-600}" /usr/lib/wine/wineserver64 -w
}

# Installed tree equals the stage, byte for byte, with uninstall.exe beside it
# (and without x64\ on 32-bit Windows).
check_installed_files() {
  local dir=$1 stage=$2 label=$3 expected actual f bad=0 left_out=()
  [[ $installer_windows == 64 ]] || left_out=(! -path './x64/*')
  expected=$( (cd "$stage" && find . -type f ! -name files.nsh "${left_out[@]}"
    echo ./uninstall.exe) | sort)
  actual=$(cd "$dir" && find . -type f | sort)
  if [[ $expected != "$actual" ]]; then
    fail "$label: the installed files differ from the staged ones:"
    diff <(echo "$expected") <(echo "$actual") | sed 's/^/    /'
    return
  fi
  while read -r f; do
    [[ $f == ./uninstall.exe ]] && continue
    cmp -s "$stage/$f" "$dir/$f" || { fail "$label: $f differs from the staged file"; bad=1; }
  done <<<"$expected"
  [[ $bad -eq 0 ]] &&
    pass "$label: $(wc -l <<<"$expected") files where they belong, each equal to the staged one"
}

# The class and one token per voice in one view, pointing at that view's DLL.
check_registration() {
  local windir=$1 view=$2 arch=$3 stage=$4 label=$5
  local have expected=() line missing=() voice stem name gender key voices=0
  have=$( { reg_export "$installer_clsid_key" "$view"; reg_export "$installer_tokens_key" "$view"; } | reg_lines)
  key="[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\$installer_clsid]"
  expected+=("$key @=\"Vesk\"")
  key="[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\$installer_clsid\\InprocServer32]"
  expected+=("$key @=\"$(reg_escaped "$windir\\$arch\\VeskSapi.dll")\"" "$key \"ThreadingModel\"=\"Both\"")
  for voice in "$stage/$arch"/*.vl; do
    stem=$(basename "$voice" .vl)
    voices=$((voices + 1))
    name="Vesk $stem"
    key="[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Speech\\Voices\\Tokens\\Vesk-$stem]"
    expected+=("$key @=\"$name\"" "$key \"804\"=\"$name\"" "$key \"CLSID\"=\"$installer_clsid\""
      "$key \"VeskVoice\"=\"$stem\"")
    key="${key%]}\\Attributes]"
    expected+=("$key \"Language\"=\"804\"" "$key \"Age\"=\"Adult\"" "$key \"Name\"=\"$name\""
      "$key \"Vendor\"=\"Vesk\"")
    gender=
    [[ $stem == *女* ]] && gender=Female
    [[ $stem == *男* ]] && gender=Male
    [[ -n $gender ]] && expected+=("$key \"Gender\"=\"$gender\"")
  done
  for line in "${expected[@]}"; do
    grep -qxF -- "$line" <<<"$have" || missing+=("$line")
  done
  if ((${#missing[@]} == 0)); then
    local where="the ${view}-bit view"
    [[ $installer_windows == 64 ]] || where="the registry of 32-bit Windows"
    pass "$label: $arch engine registered in $where: class, $voices voice token(s), ${#expected[@]} values"
  else
    fail "$label: missing in the ${view}-bit view:"
    printf '    %s\n' "${missing[@]}"
  fi
}

# The Apps entry, in the 64-bit view only (32-bit Windows has one view).
check_apps_entry() {
  local windir=$1 dir=$2 version=$3 label=$4
  local have line missing=() key="[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vesk]"
  local -a expected
  local uninstaller
  uninstaller=$(reg_escaped "\"$windir\\uninstall.exe\"")
  local view=64
  [[ $installer_windows == 64 ]] || view=32
  have=$(reg_export "$installer_apps_key" $view | reg_lines)
  expected=("$key \"DisplayName\"=\"Vesk $version\"" "$key \"DisplayVersion\"=\"$version\""
    "$key \"Publisher\"=\"Vesk developers\"" "$key \"InstallLocation\"=\"$(reg_escaped "$windir")\""
    "$key \"UninstallString\"=\"$uninstaller\"" "$key \"QuietUninstallString\"=\"$uninstaller /S\""
    "$key \"NoModify\"=dword:00000001" "$key \"NoRepair\"=dword:00000001")
  for line in "${expected[@]}"; do
    grep -qxF -- "$line" <<<"$have" || missing+=("$line")
  done
  # EstimatedSize: kilobytes, within a kilobyte a file of the installed size.
  local size files bytes
  size=$(sed -n 's/.*"EstimatedSize"=dword:\([0-9a-f]*\)$/\1/p' <<<"$have")
  files=$(find "$dir" -type f | wc -l)
  bytes=$(find "$dir" -type f -printf '%s\n' | awk '{n += $1} END {print n + 0}')
  if [[ -z $size ]] || (((16#$size) * 1024 > bytes + 1024 * files || (16#$size + files) * 1024 < bytes)); then
    missing+=("EstimatedSize about $((bytes / 1024)) (KB), seen: ${size:-none}")
  fi
  if [[ $installer_windows == 64 ]] && reg_export "$installer_apps_key" 32 >/dev/null; then
    missing+=("(the entry is in the 32-bit view too)")
  fi
  if ((${#missing[@]} == 0)); then
    pass "$label: the Apps entry in the ${view}-bit view, ${#expected[@]} values and EstimatedSize $((16#$size)) KB"
  else
    fail "$label: Apps entry wrong or missing:"
    printf '    %s\n' "${missing[@]}"
  fi
}

# The setup program run again without /D= installs where the last one is,
# not into the default folder.
installer_update_case() {
  local setup=$1 stage=$2 windir=$3 label=$4 dir default rc
  dir=$(unix_path_of "$windir")
  default=$(unix_path_of 'C:\Program Files\Vesk')
  LC_ALL=C.UTF-8 timeout --kill-after=10 "${VESK_WINE_TEST_TIMEOUT:-600}" \
    "$wine32" "$setup" /S >"$installer_work/setup.log" 2>&1
  rc=$?
  wait_for_wine
  if [[ $rc -eq 0 && ! -e $default ]]; then
    pass "$label: run again without /D=, it installs into the same folder"
    check_installed_files "$dir" "$stage" "$label, again"
  else
    fail "$label: run again without /D=: exit code $rc$([[ -e $default ]] && echo ", installed into $default")"
  fi
}

# One install and uninstall. WINDIR: the folder as Windows names it; DEFAULT:
# 1 when the setup program is to choose it itself.
installer_case() {
  local setup=$1 stage=$2 windir=$3 default=$4 version
  local dir label before after rc
  dir=$(unix_path_of "$windir")
  version=$(basename "$setup" | sed -nE 's/^vesk-(.*)-setup\.exe$/\1/p')
  label="setup into $windir"
  [[ $default -eq 1 ]] && label="setup into the default $windir"
  [[ $installer_windows == 64 ]] || label="$label on 32-bit Windows"
  # A folder or registration left by an earlier, broken run would hide what
  # this one leaves.
  if [[ -e $dir ]]; then
    fail "$label: $dir exists before the install (left by an earlier run?); removed"
    rm -rf "$dir"
  fi
  before=$(registry_state)

  # /D= takes the rest of the command line, unquoted: given as words, Wine
  # joins them with blanks and quotes none.
  local -a args=(/S)
  [[ $default -eq 1 ]] || read -ra args <<<"/S /D=$windir"
  LC_ALL=C.UTF-8 timeout --kill-after=10 "${VESK_WINE_TEST_TIMEOUT:-600}" \
    "$wine32" "$setup" "${args[@]}" >"$installer_work/setup.log" 2>&1
  rc=$?
  wait_for_wine
  if [[ $rc -ne 0 || ! -d $dir ]]; then
    fail "$label: setup exit code $rc, $( [[ -d $dir ]] && echo "folder made" || echo "no folder $dir")"
    sed 's/^/    /' "$installer_work/setup.log" | head -20
    return
  fi
  pass "$label: silent setup finished with exit code 0"
  check_installed_files "$dir" "$stage" "$label"
  check_registration "$windir" 32 x86 "$stage" "$label"
  [[ $installer_windows == 32 ]] || check_registration "$windir" 64 x64 "$stage" "$label"
  check_apps_entry "$windir" "$dir" "$version" "$label"
  # The SAPI clients against the engine as installed (run-tests.sh).
  sapi_clients_installed "$windir"
  # Run again without /D=, as an update is: into the same folder.
  [[ $default -eq 1 ]] || installer_update_case "$setup" "$stage" "$windir" "$label"

  # As Windows' Apps list runs it: QuietUninstallString.
  LC_ALL=C.UTF-8 timeout --kill-after=10 "${VESK_WINE_TEST_TIMEOUT:-600}" \
    "$wine32" "$windir\\uninstall.exe" /S >"$installer_work/uninstall.log" 2>&1
  rc=$?
  wait_for_wine
  if [[ $rc -ne 0 ]]; then
    fail "$label: uninstall exit code $rc"
    sed 's/^/    /' "$installer_work/uninstall.log" | head -20
  fi
  # The uninstaller's copy in %TEMP% (~nsu*.tmp), as every NSIS
  # uninstaller's, is deleted at the next start of Windows (of the Wine
  # prefix), its folder never: those of earlier runs go here.
  find "$WINEPREFIX/drive_c/users" -maxdepth 3 -type d -name '~nsu*.tmp' -empty -delete 2>/dev/null
  if [[ -e $dir ]]; then
    fail "$label: left after uninstalling:"
    (cd "$dir" && find . | sed 's/^/    /')
    rm -rf "$dir"
  else
    pass "$label: uninstalled silently, the folder and every file gone"
  fi
  after=$(registry_state)
  if [[ $before == "$after" ]]; then
    local where="both registry views"
    [[ $installer_windows == 64 ]] || where="the registry"
    pass "$label: the class, the voice tokens and the Apps entry are gone from $where"
  else
    fail "$label: the registry differs from before the install:"
    diff <(echo "$before") <(echo "$after") | head -40 | sed 's/^/    /'
  fi
}

# A setup program whose x64 registration fails stops with exit code 2 and
# leaves nothing behind, the x86 engine it registered first included.
installer_rollback_case() {
  local stage=$1 failing=$2 version=$3 windir='C:\Program Files\Vesk'
  local small=$installer_work/rollback-stage setup=$installer_work/rollback-setup.exe
  local dir label="setup whose x64 registration fails" before after rc f
  dir=$(unix_path_of "$windir")
  if [[ ! -f $failing ]]; then
    fail "$label: no $failing (make windows builds it)"
    return
  fi
  if [[ -e $dir ]]; then
    fail "$label: $dir exists before the install (left by an earlier case?); removed"
    rm -rf "$dir"
  fi
  # The data's contents do not matter here: emptied, the program is made at once.
  rm -rf "$small" && cp -r "$stage" "$small"
  for f in "$small"/x86/*.vl "$small"/x64/*.vl "$small"/x*/p*.txt; do : >"$f"; done
  cp "$failing" "$small/x64/VeskSapi.dll"
  if ! LC_ALL=C.UTF-8 makensis -V1 -INPUTCHARSET UTF8 "-DVESK_VERSION=$version" \
    "-DVESK_STAGE=$small" "-DVESK_OUTFILE=$setup" "$root/dist/installer.nsi" >"$installer_work/makensis.log" 2>&1; then
    fail "$label: makensis failed: $(tail -n 3 "$installer_work/makensis.log" | tr '\n' ' ')"
    return
  fi
  before=$(registry_state)
  LC_ALL=C.UTF-8 timeout --kill-after=10 "${VESK_WINE_TEST_TIMEOUT:-600}" \
    "$wine32" "$setup" /S >"$installer_work/setup.log" 2>&1
  rc=$?
  wait_for_wine
  after=$(registry_state)
  if [[ $rc -eq 2 && ! -e $dir && $before == "$after" ]]; then
    pass "$label: stopped with exit code 2, rolled back: no folder, the registry as before"
  else
    fail "$label: exit code $rc (2 expected)$([[ -e $dir ]] && echo ", $dir left")"
    [[ $before == "$after" ]] ||
      diff <(echo "$before") <(echo "$after") | head -20 | sed 's/^/    /'
    rm -rf "$dir"
  fi
}

run_installer_tests() {
  local setup=$1 stage=$2 failing=$3 version
  if [[ ! -f $setup || ! -d $stage ]]; then
    fail "setup program: $setup or its stage $stage missing (make installer)"
    return
  fi
  installer_work=$(dirname "$setup")/installer-test
  rm -rf "$installer_work" && mkdir -p "$installer_work"
  installer_windows=64
  installer_case "$setup" "$stage" 'C:\Program Files\Vesk' 1
  # A folder with a blank and Chinese characters, chosen with /D=. Under
  # qemu-i386 a case takes minutes (three took 756 s): left out there.
  if [[ $i386_mode == native ]]; then
    installer_case "$setup" "$stage" 'C:\Program Files\语音 Vesk' 0
  else
    echo "run-tests: setup into a folder chosen with /D= left out under qemu-i386: a case takes minutes there"
  fi
  version=$(basename "$setup" | sed -nE 's/^vesk-(.*)-setup\.exe$/\1/p')
  installer_rollback_case "$stage" "$failing" "$version"

  # 32-bit Windows: a 32-bit prefix, made once and kept beside the other.
  if [[ $i386_mode != native ]]; then
    echo "run-tests: setup on 32-bit Windows left out under qemu-i386: it needs a 32-bit Wine prefix of its own, made and run by 32-bit Wine alone"
    return
  fi
  local prefix64=$WINEPREFIX
  WINEPREFIX=$(dirname "$prefix64")/wine-prefix-win32
  if [[ ! -f $WINEPREFIX/system.reg ]]; then
    echo "run-tests: creating the 32-bit Wine prefix $WINEPREFIX (once)"
    rm -rf "$WINEPREFIX"
    WINEARCH=win32 "$wine32" wineboot -i >/dev/null 2>&1
    wait_for_wine
  fi
  if [[ -f $WINEPREFIX/system.reg ]]; then
    installer_windows=32
    installer_case "$setup" "$stage" 'C:\Program Files\Vesk' 1
    installer_windows=64
  else
    fail "cannot create the 32-bit Wine prefix $WINEPREFIX"
  fi
  WINEPREFIX=$prefix64
}
