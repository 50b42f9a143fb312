# Helpers for the set-up scripts: install Debian packages as root, or through sudo.
if [ "$(id -u)" -eq 0 ]; then as_root=""; else as_root="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

apt_updated=""
apt_install() {
  missing=""
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
  done
  [ -n "$missing" ] || return 0
  if [ -z "$apt_updated" ]; then $as_root apt-get update -qq; apt_updated=1; fi
  # shellcheck disable=SC2086
  $as_root apt-get install -y -qq --no-install-recommends $missing
}

# Wine runs 32-bit Windows programs with its i386 libraries.
need_i386() {
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $as_root dpkg --add-architecture i386
    apt_updated=""
  fi
}
