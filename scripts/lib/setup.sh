# Installs what the project's scripts need on a Debian machine, only what is
# missing, and prepares Wine prefixes. Sourced by scripts/test and scripts/demo.

_missing_packages() {
  local missing=()
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$package")
  done
  [ "${#missing[@]}" -eq 0 ] || printf '%s\n' "${missing[@]}"
}

_apt_updated=""
install_packages() {
  local missing
  mapfile -t missing < <(_missing_packages "$@")
  [ "${#missing[@]}" -eq 0 ] && return 0
  [ "$(id -u)" -eq 0 ] || { echo "need root to install: ${missing[*]}" >&2; return 1; }
  if [ -z "$_apt_updated" ]; then
    apt-get update -q
    _apt_updated=1
  fi
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
}

install_build_tools() {
  install_packages cmake make g++ googletest g++-mingw-w64-i686 binutils-mingw-w64-i686
}

install_wine() {
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    _apt_updated=""
  fi
  install_packages wine wine32:i386 wine64
}

install_test_tools() {
  install_packages python3 python3-pytest python3-pytest-xdist iproute2 openssl
}

# Wine without the add-on installers, and quiet.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# Creates a 64-bit prefix at $1 unless it is there already. A prefix must exist
# before anything runs in it: one created on the fly can fail to load kernel32.
prepare_wine_prefix() {
  local prefix=$1
  [ -f "$prefix/system.reg" ] && return 0
  mkdir -p "$prefix"
  WINEPREFIX="$prefix" WINEARCH=win64 wineboot -i >/dev/null 2>&1
  WINEPREFIX="$prefix" wineserver -w
}
