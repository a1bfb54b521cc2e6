# Sourced by scripts/test.sh and scripts/fuzz.sh: the AddressSanitizer and
# UndefinedBehaviorSanitizer build and how a run loads it.
#
#   build_sanitizer DIR          configures and builds the sanitizer build in DIR
#   run_sanitized MODE DIR CMD   runs CMD with the module of DIR; when DIR is a sanitizer
#                                build, with the runtimes of the compiler that built it
#                                preloaded (a Python interpreter is not built with them)
#
# The two modes differ in one thing, what a request for more memory than there is does:
# - tests: the sanitizer's default, the process aborts. The suite asks for such sizes only
#   in tests that run on the normal build (they skip themselves under the sanitizer), so
#   any other huge request is a fault to look at, and it stops the run.
# - fuzz: random bytes often ask for huge sizes, which the module must refuse with
#   MemoryError as the normal build does; the allocator returns null instead (bad_alloc,
#   then MemoryError) for requests beyond memory or above 8 GiB.
# Both stop at the first report, with no leak check (the interpreter keeps objects alive
# until exit).

build_sanitizer() {
  bash scripts/build.sh "$1" -DTARNWICK_WERROR=ON -DTARNWICK_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
}

run_sanitized() {
  local mode="$1" dir="$2"
  shift 2
  if ! grep -q '^TARNWICK_SANITIZE:BOOL=ON' "$dir/CMakeCache.txt"; then
    "$@"
    return
  fi
  local cxx asan="detect_leaks=0:halt_on_error=1"
  cxx="$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$dir/CMakeCache.txt")"
  [ "$mode" = fuzz ] && asan="$asan:allocator_may_return_null=1:max_allocation_size_mb=8192"
  LD_PRELOAD="$("$cxx" -print-file-name=libasan.so):$("$cxx" -print-file-name=libubsan.so)" \
  ASAN_OPTIONS="$asan" \
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    "$@"
}
