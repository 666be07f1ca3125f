# Sourced by the set-up scripts: root for apt, and a refresh of the package
# lists that survives a mirror caught in the middle of a sync.

as_root() { if [[ $(id -u) -eq 0 ]]; then "$@"; else sudo "$@"; fi; }

# apt-get as root, waiting (VESK_APT_LOCK_WAIT seconds, 10 minutes by
# default) for the package manager's locks when another apt or dpkg, or the
# system's unattended upgrades, holds them, instead of failing at once.
apt_get() {
  as_root apt-get -o DPkg::Lock::Timeout="${VESK_APT_LOCK_WAIT:-600}" "$@"
}

# Refreshes the package lists, at most once per run unless lists_fresh is
# reset (after a new architecture or source is added). Three tries with a
# pause; an index that still fails to download is a warning, not the end:
# the installs that follow decide whether it mattered.
lists_fresh=0
update_lists() {
  ((lists_fresh)) && return 0
  local try out
  for try in 1 2 3; do
    if out=$(apt_get update -qq 2>&1); then
      lists_fresh=1
      return 0
    fi
    ((try < 3)) && sleep "${VESK_APT_RETRY_PAUSE:-5}"
  done
  lists_fresh=1
  echo "${0##*/}: warning: apt-get update failed 3 times; going on with the lists it has:" \
    "$(grep -m1 '^E:' <<<"$out" | cut -c1-240)" >&2
}
