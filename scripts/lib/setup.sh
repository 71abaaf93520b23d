# Installs what the project's scripts need on a Debian machine, only what is
# missing, and prepares Wine prefixes. Sourced by scripts/test and scripts/demo.

_setup_repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

# Whether this machine runs 32-bit x86 programs. Decided once, by running the
# tiny program of scripts/lib/runs-x86, and handed on to everything the script
# starts (the end-to-end harness reads it too).
machine_runs_x86() {
  if [ -z "${TESSEL_RUNS_X86:-}" ]; then
    TESSEL_RUNS_X86=$("$_setup_repo/scripts/lib/runs-x86")
    export TESSEL_RUNS_X86
  fi
  [ "$TESSEL_RUNS_X86" = yes ]
}

# The exe a script runs: `--exe x86` or `--exe x64` among its arguments, else
# the 32-bit one where this machine runs it and the 64-bit one where not. Sets
# exe_arch and exe_preset, and leaves the other arguments in script_args.
select_exe() {
  script_args=()
  exe_arch=""
  while [ "$#" -gt 0 ]; do
    case "$1" in
      --exe)
        exe_arch=${2:-}
        shift 2 || shift
        ;;
      --exe=*)
        exe_arch=${1#--exe=}
        shift
        ;;
      *)
        script_args+=("$1")
        shift
        ;;
    esac
  done
  if [ -z "$exe_arch" ]; then
    if machine_runs_x86; then exe_arch=x86; else exe_arch=x64; fi
  fi
  case "$exe_arch" in
    x86) exe_preset=windows ;;
    x64) exe_preset=windows-x64 ;;
    *)
      echo "--exe takes x86 or x64" >&2
      return 2
      ;;
  esac
  if [ "$exe_arch" = x86 ] && ! machine_runs_x86; then
    echo "--exe x86: this machine does not run 32-bit x86 programs; use --exe x64" >&2
    return 2
  fi
}

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
  install_packages cmake make g++ googletest g++-mingw-w64-i686 binutils-mingw-w64-i686 \
    g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
}

# Where 32-bit code cannot run, wine32:i386 is left out: it could not start,
# and Debian's wrappers would pick it all the same.
install_wine() {
  if ! machine_runs_x86; then
    install_packages wine wine64
    return
  fi
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    _apt_updated=""
  fi
  install_packages wine wine32:i386 wine64
}

# Starts a Windows program (or Wine's own tools: wineboot, reg, sc) with the
# loader this machine runs: Debian's `wine` where 32-bit code runs (it hands
# 64-bit programs to the 64-bit loader), otherwise the 64-bit loader itself.
wine_run() {
  if machine_runs_x86; then
    wine "$@"
  else
    WINELOADER=/usr/lib/wine/wine64 /usr/lib/wine/wine64 "$@"
  fi
}

# xvfb, xdotool and locales: the scenario in a console window (an X display,
# typed keys, and the sources of the locale its system messages are in);
# openssl: the throwaway certificates of the release tests.
install_test_tools() {
  install_packages python3 python3-pytest python3-pytest-xdist iproute2 xvfb xdotool locales \
    openssl
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
  WINEPREFIX="$prefix" WINEARCH=win64 wine_run wineboot -i >/dev/null 2>&1
  WINEPREFIX="$prefix" wineserver -w
}
