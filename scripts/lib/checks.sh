# Hardening checks: the unit tests under sanitizers, the fuzz targets, and the
# static analysers. Sourced after scripts/lib/setup.sh; every function returns
# non-zero on a finding, a crash or a failed build.
#
# Build trees go below $CHECKS_BUILD_ROOT (default: the repository's build/),
# one per preset: native, native-asan, fuzz, windows.

_checks_repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

# Directories of the project's own code; platform/ only for its .cpp files at
# the top, its win32/ folder as its own entry.
_checks_default_paths=(telemetry run removal platform platform/win32)
# The tests' own code, for clang-tidy (tests/.clang-tidy says what it leaves
# out there): the cases and the simulated machine in the native build, the
# Windows-only facility test and the end-to-end helpers in the Windows build.
_checks_test_paths=(tests/sim tests/telemetry tests/removal tests/run tests/platform tests/e2e/helpers)

install_check_tools() {
  install_packages cmake make g++ googletest clang libclang-rt-14-dev clang-tidy cppcheck \
    g++-mingw-w64-i686
}

_checks_build_root() { printf '%s\n' "${CHECKS_BUILD_ROOT:-$_checks_repo/build}"; }

# Configures a preset into its tree below the build root; prints the tree.
_checks_configure() {
  local preset=$1 dir
  dir="$(_checks_build_root)/$preset"
  (cd "$_checks_repo" && cmake --preset "$preset" -B "$dir" >/dev/null) || return 1
  printf '%s\n' "$dir"
}

# Builds every unit test with AddressSanitizer and UndefinedBehaviorSanitizer
# and runs them; any report fails the test that made it.
run_sanitized_tests() {
  local dir
  dir=$(_checks_configure native-asan) || return 1
  cmake --build "$dir" -j2 || return 1
  (cd "$_checks_repo" && ctest --preset native-asan --test-dir "$dir") || return 1
}

# Runs one fuzz target for $3 seconds on a copy of its seed corpus, so that the
# repository's corpus stays as it is, with its log in $4; a crash keeps its
# input below the fuzz tree.
_fuzz_one() {
  local dir=$1 fuzzer=$2 seconds=$3 log=$4 work status=0
  work=$(mktemp -d)
  cp -r "$_checks_repo/fuzz/corpus/$fuzzer" "$work/corpus"
  "$dir/fuzz/${fuzzer}_fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$dir/artifacts/$fuzzer-" "$work/corpus" >"$log" 2>&1 ||
    status=$?
  rm -rf "$work"
  return "$status"
}

# Builds the fuzz targets and gives each $1 seconds of a processor (default
# $FUZZ_SECONDS or 60). They run all at once: with more targets than
# processors each runs for proportionally longer, so that every target gets
# its share and no processor idles while the last one runs alone. Their logs
# are shown one after the other, in the order of the list.
run_fuzzers() {
  local seconds=${1:-${FUZZ_SECONDS:-60}}
  local dir fuzzer logs failed=0 fuzzers pids=() index status processors wall
  dir=$(_checks_configure fuzz) || return 1
  cmake --build "$dir" -j2 --target fuzzers || return 1
  # The targets as fuzz/CMakeLists.txt lists them, each with its seed corpus
  # in fuzz/corpus/<name>/.
  mapfile -t fuzzers <"$dir/fuzz/fuzzers.txt"
  mkdir -p "$dir/artifacts"
  logs=$(mktemp -d)
  processors=$(nproc)
  wall=$seconds
  [ "${#fuzzers[@]}" -le "$processors" ] ||
    wall=$(((seconds * ${#fuzzers[@]} + processors - 1) / processors))
  echo "${#fuzzers[@]} fuzz targets on $processors processors: ${wall}s each"
  for index in "${!fuzzers[@]}"; do
    _fuzz_one "$dir" "${fuzzers[index]}" "$wall" "$logs/$index" &
    pids+=($!)
  done
  for index in "${!fuzzers[@]}"; do
    fuzzer=${fuzzers[index]}
    status=0
    wait "${pids[index]}" || status=$?
    echo "fuzzing $fuzzer"
    if [ "$status" -eq 0 ]; then
      grep -E '^Done' "$logs/$index" || true
    else
      tail -n 60 "$logs/$index"
      echo "$fuzzer failed; the input is in $dir/artifacts/," \
        "replay it with: $dir/fuzz/${fuzzer}_fuzzer FILE" >&2
      failed=1
    fi
  done
  rm -rf "$logs"
  return "$failed"
}

# The project's .cpp files below the given paths (default: all its own code).
# A path's subfolders are not searched; name them on their own.
_checks_sources() {
  local path
  [ "$#" -eq 0 ] && set -- "${_checks_default_paths[@]}"
  for path in "$@"; do
    path=${path%/}
    if [ -f "$_checks_repo/$path" ]; then
      printf '%s\n' "$_checks_repo/$path"
    else
      find "$_checks_repo/$path" -maxdepth 1 -name '*.cpp' | sort
    fi
  done
}

_checks_in_database() { grep -qF "\"file\": \"$2\"" "$1/compile_commands.json"; }

# The include folders of the mingw-w64 C++ library, for clang to parse the
# Windows build as the cross-compiler sees it.
_checks_mingw_cxx_includes() {
  echo | i686-w64-mingw32-g++-posix -std=c++20 -x c++ -E -v - 2>&1 >/dev/null |
    sed -n 's|^ \(/.*/include/c++.*\)$|\1|p'
}

_checks_tidy() {
  local database=$1
  shift
  [ "$#" -eq 0 ] && return 0
  # One file per run, two at a time; xargs fails when any run does.
  # Its "N warnings generated" counts the suppressed ones too: left out.
  printf '%s\0' "$@" |
    xargs -0 -n 1 -P 2 clang-tidy -p "$database" --quiet "${_checks_tidy_args[@]}" \
      2> >(grep -vE '^[0-9]+ (warning|error)s? (and [0-9]+ errors? )?generated\.$' >&2)
}

# clang-tidy with the repository's .clang-tidy over the given paths (default:
# the project's own code and its tests). Files of the native build use its
# compile_commands.json; the Windows-only ones (platform/win32, the exe's main,
# the Windows-only tests) the Windows build's, parsed for the mingw-w64 target.
run_clang_tidy() {
  local native windows file include
  local native_files=() windows_files=()
  [ "$#" -eq 0 ] && set -- "${_checks_default_paths[@]}" "${_checks_test_paths[@]}"
  native=$(_checks_configure native) || return 1
  windows=$(_checks_configure windows) || return 1
  while IFS= read -r file; do
    if _checks_in_database "$native" "$file"; then
      native_files+=("$file")
    elif _checks_in_database "$windows" "$file"; then
      windows_files+=("$file")
    else
      echo "not part of any build: $file" >&2
      return 1
    fi
  done < <(_checks_sources "$@")

  # Both builds are checked before the verdict, so that one run shows all.
  local failed=0
  local _checks_tidy_args=()
  _checks_tidy "$native" "${native_files[@]}" || failed=1
  _checks_tidy_args=(--extra-arg=--target=i686-w64-mingw32)
  while IFS= read -r include; do
    _checks_tidy_args+=("--extra-arg=-isystem$include")
  done < <(_checks_mingw_cxx_includes)
  _checks_tidy "$windows" "${windows_files[@]}" || failed=1
  return "$failed"
}

# cppcheck over the same files. Code for Windows only is checked as the
# Unicode Win32 build sees it.
run_cppcheck() {
  local file
  local portable=() windows_only=()
  while IFS= read -r file; do
    case "$file" in
      "$_checks_repo"/platform/win32/* | "$_checks_repo"/run/main.cpp) windows_only+=("$file") ;;
      *) portable+=("$file") ;;
    esac
  done < <(_checks_sources "$@")
  local common=("--enable=warning,performance,portability" --error-exitcode=1 --inline-suppr
    --std=c++20 --language=c++ --quiet -I "$_checks_repo"
    --template='{file}:{line}: {severity}: {message} [{id}]')
  local failed=0
  if [ "${#portable[@]}" -gt 0 ]; then
    cppcheck "${common[@]}" "${portable[@]}" || failed=1
  fi
  if [ "${#windows_only[@]}" -gt 0 ]; then
    cppcheck "${common[@]}" --platform=win32W --library=windows -D_WIN32 -DUNICODE -D_UNICODE \
      -DWIN32_LEAN_AND_MEAN -DNOMINMAX "${windows_only[@]}" || failed=1
  fi
  return "$failed"
}
