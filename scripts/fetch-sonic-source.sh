#!/usr/bin/env bash
# Fetches Sonic's upstream source from Debian's source archive, for the
# Windows builds (Linux links Debian's libsonic instead). The source is never
# kept in the repository: it is unpacked below the given directory and its
# path printed on stdout.
#   scripts/fetch-sonic-source.sh [DIR]     (default: build-deps)
#
# apt-get verifies the .dsc and the upstream tarball against the signed
# Sources index, and the tarball is checked once more against the .dsc, so
# what we compile is what Debian ships.
# When the machine has no deb-src entries, one is added for the same mirrors
# and suites as its deb entries.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
dest=${1:-$root/build-deps}
package=sonic

source "$root/scripts/apt-lists.sh"
log() { echo "fetch-sonic-source: $*" >&2; }

# The version of the source matching the libsonic the Linux build uses, so
# both platforms run the same code.
version=$(apt-cache policy libsonic-dev 2>/dev/null |
  awk '/Candidate:/ {print $2; exit}')
version=${version%%+b*}
if [[ -z "$version" || "$version" == "(none)" ]]; then
  log "apt knows no libsonic-dev; run scripts/setup.sh first"
  exit 1
fi
upstream=${version#*:}
upstream=${upstream%-*}
srcdir=$dest/$package-$upstream

if [[ -f $srcdir/sonic.c && -f $srcdir/sonic.h && -f $srcdir/.vesk-verified ]]; then
  echo "$srcdir"
  exit 0
fi

have_deb_src() {
  apt-get indextargets --format '$(CREATED_BY)' 2>/dev/null | grep -qx Sources
}

add_deb_src() {
  local list=/etc/apt/sources.list.d/vesk-deb-src.sources
  log "adding deb-src entries ($list) and updating the package lists"
  local tmp
  tmp=$(mktemp)
  # deb822 files: repeat every stanza of type deb as deb-src.
  shopt -s nullglob
  for f in /etc/apt/sources.list.d/*.sources; do
    [[ $f == "$list" ]] && continue
    awk -v RS= -v ORS='\n\n' '
      /(^|\n)Types:[^\n]*(^| )deb( |\n|$)/ && !/Enabled: *no/ {
        gsub(/(^|\n)Types:[^\n]*/, "\nTypes: deb-src"); sub(/^\n/, ""); print
      }' "$f" >>"$tmp"
  done
  # One-line files: deb lines become deb-src lines.
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [[ -f $f ]] || continue
    sed -n 's/^[[:space:]]*deb\([[:space:]]\)/deb-src\1/p' "$f" |
      awk '{print "Types: deb-src\nURIs: " $2 "\nSuites: " $3 "\nComponents:",
            substr($0, index($0, $4)) "\n"}' >>"$tmp"
  done
  shopt -u nullglob
  if [[ ! -s $tmp ]]; then
    rm -f "$tmp"
    log "found no deb entries to mirror as deb-src"
    exit 1
  fi
  as_root install -m 0644 "$tmp" "$list"
  rm -f "$tmp"
  update_lists
}

if ! have_deb_src; then
  add_deb_src
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Let apt's unprivileged download user write here (otherwise it warns).
if id _apt >/dev/null 2>&1 && [[ $(id -u) -eq 0 ]]; then chown _apt "$work"; fi

# Only the .dsc and the upstream tarball, each checked by apt against the
# hash the signed Sources index gives for it. The Debian packaging tarball is
# not needed, and a mirror does not always serve it.
uris=$(apt-get source --print-uris -qq "$package=$version" 2>/dev/null |
  awk -F"'" 'NF >= 3 {split($3, f, " "); print $2, f[1], f[3]}')
fetch() {
  local pattern=$1 uri file hash
  read -r uri file hash < <(awk -v p="$pattern" '$2 ~ p' <<<"$uris" | head -n 1)
  if [[ -z $uri || -z $hash ]]; then
    log "apt lists no file matching $pattern for $package $version"
    exit 1
  fi
  if ! /usr/lib/apt/apt-helper download-file "$uri" "$work/$file" "$hash" >/dev/null 2>&1; then
    log "could not download $file (checked against $hash)"
    exit 1
  fi
  echo "$work/$file"
}
dsc=$(fetch '\\.dsc$')
tarball=$(fetch '\\.orig\\.tar\\.')

# The tarball against the checksum the .dsc lists for it.
want=$(awk -v f="$(basename "$tarball")" \
  '/^Checksums-Sha256:/ {on=1; next} /^[^ ]/ {on=0} on && $3 == f {print $1}' "$dsc")
got=$(sha256sum "$tarball" | cut -d' ' -f1)
if [[ -z "$want" || "$want" != "$got" ]]; then
  log "checksum of $(basename "$tarball") does not match $(basename "$dsc")"
  exit 1
fi

mkdir -p "$work/unpacked"
tar -xf "$tarball" -C "$work/unpacked" --strip-components=1 \
  --wildcards --no-wildcards-match-slash \
  '*/sonic.c' '*/sonic.h' '*/COPYING' '*/README'
[[ -f $work/unpacked/sonic.c && -f $work/unpacked/sonic.h ]] || {
  log "sonic.c or sonic.h missing in $(basename "$tarball")"
  exit 1
}
rm -rf "$srcdir"
mkdir -p "$dest"
mv "$work/unpacked" "$srcdir"
printf '%s %s\n' "$version" "$got" >"$srcdir/.vesk-verified"
log "Sonic $version unpacked in $srcdir"
echo "$srcdir"
