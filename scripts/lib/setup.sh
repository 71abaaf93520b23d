# Installs what the project's scripts need on a Debian machine, only what is
# missing, and prepares Wine prefixes. Sourced by scripts/test, scripts/demo,
# scripts/bench and scripts/release.

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
# the 32-bit one where Wine runs it here and the 64-bit one where not. Sets
# exe_arch and exe_preset, and leaves the other arguments in script_args.
# After install_wine.
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
    if wine_runs_x86; then exe_arch=x86; else exe_arch=x64; fi
  fi
  case "$exe_arch" in
    x86) exe_preset=windows ;;
    x64) exe_preset=windows-x64 ;;
    *)
      echo "--exe takes x86 or x64" >&2
      return 2
      ;;
  esac
  if [ "$exe_arch" = x86 ] && ! wine_runs_x86; then
    echo "--exe x86: the 32-bit exe cannot run here: $(x86_unavailable_reason); use --exe x64" >&2
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
# The first error line of an `apt-get update` that failed twice; empty after
# one that worked.
_apt_update_problem=""

# apt-get update, and once more after a pause when it fails. A mirror in the
# middle of a sync can fail one list while the others were read; the set-up
# then goes on with what the lists offer, and only a package that cannot be
# installed stops it.
_apt_update() {
  local log attempt
  log=$(mktemp)
  for attempt in 1 2; do
    if apt-get update -q >"$log" 2>&1; then
      cat "$log"
      rm -f "$log"
      _apt_update_problem=""
      return 0
    fi
    cat "$log"
    if [ "$attempt" -eq 1 ]; then
      echo "apt-get update failed; trying once more in ${TESSEL_APT_RETRY_SECONDS:-15} s" >&2
      sleep "${TESSEL_APT_RETRY_SECONDS:-15}"
    fi
  done
  _apt_update_problem=$(grep -m 1 -E '^(E|W):' "$log" | sed -E 's/^(E|W): *//; s/[[:space:]]+/ /g')
  rm -f "$log"
  echo "apt-get update failed again; going on with the package lists it could read" >&2
}

# Installs the packages that are missing. When that fails, names the ones
# apt cannot install (each tried on its own, without installing) and fails.
install_packages() {
  local missing package
  mapfile -t missing < <(_missing_packages "$@")
  [ "${#missing[@]}" -eq 0 ] && return 0
  [ "$(id -u)" -eq 0 ] || { echo "need root to install: ${missing[*]}" >&2; return 1; }
  if [ -z "$_apt_updated" ]; then
    _apt_update
    _apt_updated=1
  fi
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}" && return 0
  local refused=()
  for package in "${missing[@]}"; do
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --simulate "$package" >/dev/null 2>&1 ||
      refused+=("$package")
  done
  [ "${#refused[@]}" -gt 0 ] || refused=("${missing[@]}")
  local cause=""
  [ -z "$_apt_update_problem" ] || cause=" (apt-get update had failed: $_apt_update_problem)"
  echo "cannot install: ${refused[*]}$cause" >&2
  return 1
}

install_build_tools() {
  install_packages cmake make g++ googletest g++-mingw-w64-i686 binutils-mingw-w64-i686 \
    g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
}

# Why the 32-bit exe cannot run under Wine here, in words for a summary line;
# empty where it can. Set by install_wine, and handed on to the end-to-end
# harness, which cannot tell why Wine's 32-bit part is missing.
TESSEL_X86_UNAVAILABLE=${TESSEL_X86_UNAVAILABLE:-}
export TESSEL_X86_UNAVAILABLE

# Which road Wine's 32-bit part took when it did not come as usual, in words
# for a summary line; empty otherwise.
TESSEL_X86_ROAD=${TESSEL_X86_ROAD:-}
export TESSEL_X86_ROAD

# The release's codename (bookworm on Debian 12).
_release_codename() {
  sed -n 's/^VERSION_CODENAME=//p' "${TESSEL_OS_RELEASE:-/etc/os-release}" | tr -d '"'
}

# Which list the failed apt-get update could not read, as "the security
# suite's i386 list", from the URL in its message; empty when it names none.
_unread_list() {
  local suite arch pattern='/dists/([^/ ]+)/[^ ]*binary-([a-z0-9]+)/'
  [[ $_apt_update_problem =~ $pattern ]] || return 0
  suite=${BASH_REMATCH[1]} arch=${BASH_REMATCH[2]}
  [[ $suite == *-security ]] && suite=security
  printf 'the %s suite'"'"'s %s list\n' "$suite" "$arch"
}

# Wine for both architectures from the release's own suite, whose lists are
# whole on a day when another suite's i386 list cannot be read. A multi-arch
# library must be the same version on both sides; where that other suite
# (most often the security suite) moved a 64-bit library that Wine needs
# ahead of the release, that library goes back to the release's version.
# apt brings the other sides level itself, as the usual install does; nothing
# else is downgraded.
_install_wine_from_release_suite() {
  local codename=$1 name version names=() downgrades=()
  local -A installed=()
  mapfile -t names < <(apt-cache --target-release="$codename" depends --recurse \
    --no-recommends --no-suggests --no-conflicts --no-breaks --no-replaces --no-enhances \
    wine32:i386 | sed -n 's/^\([^ <][^ ]*\):i386$/\1/p' | sort -u)
  [ "${#names[@]}" -gt 0 ] || return 1
  # The 64-bit twins installed now: one query for all, the unknown ones aside.
  while read -r name version; do
    [ -n "$version" ] && installed[${name%:amd64}]=$version
  done < <(dpkg-query -W -f='${binary:Package} ${Version}\n' "${names[@]/%/:amd64}" 2>/dev/null)
  while read -r name version; do
    [ -n "${installed[$name]:-}" ] && [ "$version" != "(none)" ] &&
      dpkg --compare-versions "${installed[$name]}" gt "$version" &&
      downgrades+=("$name:amd64=$version")
  done < <(apt-cache --target-release="$codename" policy "${names[@]/%/:i386}" |
    awk '/^[^ ].*:i386:$/ { name = substr($0, 1, length($0) - 6) }
         /^  Candidate: / { print name, $2 }')
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --target-release="$codename" \
    --allow-downgrades wine wine32:i386 wine64 "${downgrades[@]}"
}

# Where 32-bit code cannot run, wine32:i386 is left out: it could not start,
# and Debian's wrappers would pick it all the same. Where it runs but
# wine32:i386 cannot be installed as usual (its i386 libraries must match the
# 64-bit ones, which a list missing from a mirror can prevent), Wine is taken
# from the release's own suite for both architectures. Only where that fails
# too does Wine come without its 32-bit part, and the machine takes the same
# road as one that refuses 32-bit code: the 64-bit exe runs everything.
install_wine() {
  if ! machine_runs_x86; then
    TESSEL_X86_UNAVAILABLE="this machine refuses 32-bit x86 programs (Exec format error)"
    install_packages wine wine64
    return
  fi
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    _apt_updated=""
  fi
  TESSEL_X86_UNAVAILABLE="" TESSEL_X86_ROAD=""
  install_packages wine wine32:i386 wine64 && return 0
  local codename unread
  codename=$(_release_codename)
  unread=$(_unread_list)
  if [ -n "$codename" ] && _install_wine_from_release_suite "$codename"; then
    [ -n "$unread" ] && unread+=" could not be read" ||
      unread="apt-get could not install wine32:i386 as usual"
    TESSEL_X86_ROAD="Wine's 32-bit part taken from $codename's own suite: $unread"
    echo "$TESSEL_X86_ROAD" >&2
    return 0
  fi
  local cause="apt-get could not install wine32:i386"
  [ -z "$_apt_update_problem" ] || cause+=" after apt-get update failed: $_apt_update_problem"
  TESSEL_X86_UNAVAILABLE="Wine's 32-bit part could not be installed ($cause)"
  echo "going on without Wine's 32-bit part: the 64-bit exe runs everything" >&2
  install_packages wine wine64
}

# Whether the 32-bit exe runs under Wine here: the machine runs 32-bit code
# and Wine's 32-bit part is installed.
wine_runs_x86() {
  machine_runs_x86 && [ -z "$(_missing_packages wine32:i386)" ]
}

# Why wine_runs_x86 says no, for a summary line.
x86_unavailable_reason() {
  if [ -n "$TESSEL_X86_UNAVAILABLE" ]; then
    printf '%s\n' "$TESSEL_X86_UNAVAILABLE"
  elif ! machine_runs_x86; then
    echo "this machine refuses 32-bit x86 programs (Exec format error)"
  else
    echo "Wine's 32-bit part (wine32:i386) is not installed"
  fi
}

# Starts a Windows program (or Wine's own tools: wineboot, reg, sc) with the
# loader this machine runs: Debian's `wine` where the 32-bit one runs (it
# hands 64-bit programs to the 64-bit loader), otherwise the 64-bit loader
# itself.
wine_run() {
  if wine_runs_x86; then
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
