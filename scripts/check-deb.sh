#!/bin/sh
# Lists a Debian package, then installs and removes it in a throwaway dpkg
# root: every file lands where it should and nothing is left behind.
set -eu
deb=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
: > "$root/var/lib/dpkg/status"
# The root's dpkg database knows none of the system's packages: the
# dependencies are checked by the real dpkg below, without installing.
dpkg --root="$root" --force-depends --force-script-chrootless \
  --force-not-root -i "$deb" >/dev/null
package=$(dpkg-deb --field "$deb" Package)
for tool in vesk-say vesk-pinyin vesk-voice; do
  test -x "$root/usr/bin/$tool" || { echo "check-deb: no $tool"; exit 1; }
  "$root/usr/bin/$tool" --version
done
engine=$(dirname "$(find "$root/usr/lib" -name libvesksynth.so | head -1)")
ls "$engine"
"$root/usr/bin/vesk-say" --engine "$engine" --info
# A voice under CC BY-SA travels with its attribution.
if ls "$engine" | grep -q '王琛女声\.vl'; then
  grep -q 'Chen Wang' "$root/usr/share/doc/vesk/copyright" ||
    { echo "check-deb: the copyright file does not credit the human voice's speaker"; exit 1; }
fi
dpkg --root="$root" --force-script-chrootless --force-not-root -r "$package" >/dev/null
left=$(find "$root" -path "$root/var" -prune -o -type f -print)
if [ -n "$left" ]; then
  echo "check-deb: left behind after removal:"; echo "$left"; exit 1
fi
echo "check-deb: $deb installs and removes cleanly"
