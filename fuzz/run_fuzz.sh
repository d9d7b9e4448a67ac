#!/bin/bash
# The bounded fuzz run: builds every fuzz target with libFuzzer, AddressSanitizer
# and UndefinedBehaviorSanitizer into fuzz/out/, runs each for SECONDS on a
# copy of its seed corpus (fuzz/corpus/ is never written), and prints per
# target the executions reached and whether it found a crash.
#
#   fuzz/run_fuzz.sh SECONDS
#
# Exit: 0 no target crashed; 1 a target crashed (its input is left in
# fuzz/out/<target>/, named crash-*, leak-*, timeout-* or oom-*); 2 the build
# failed or the arguments are wrong. Needs clang++ (14) and its fuzzer
# runtime (Debian package libclang-rt-14-dev). Runs as many targets at once
# as there are cores.
set -uo pipefail

if [ $# -ne 1 ] || ! [[ "$1" =~ ^[0-9]+$ ]] || [ "$1" -lt 1 ]; then
  echo "usage: $0 SECONDS" >&2
  exit 2
fi
seconds=$1

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
out=$here/out
targets=(cache_index urlmap jis_copy profile args)
# Longest input libFuzzer makes per target: a few index records, a URL and
# its options, a few lines of text, a profile, an argument vector.
declare -A max_len=([cache_index]=16384 [urlmap]=512 [jis_copy]=8192
                    [profile]=4096 [args]=2048)

cxx=${CXX_FUZZ:-}
if [ -z "$cxx" ]; then
  for c in clang++-14 clang++; do
    if command -v "$c" >/dev/null; then cxx=$c; break; fi
  done
fi
if [ -z "$cxx" ]; then
  echo "run_fuzz: clang++ not found" >&2
  exit 2
fi

jobs=$(nproc 2>/dev/null || echo 2)
flags=(-std=c++17 -g -O1 -fno-omit-frame-pointer -fno-sanitize-recover=all
       -I"$root")

rm -rf "$out"
mkdir -p "$out/obj"

# The fuzzer runtime is a separate package; say so plainly when it is missing.
echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char *, unsigned long) { return 0; }' \
  >"$out/probe.cpp"
if ! "$cxx" -fsanitize=fuzzer,address,undefined "$out/probe.cpp" -o "$out/probe" \
    2>"$out/probe.log"; then
  cat "$out/probe.log" >&2
  echo "run_fuzz: $cxx cannot link a libFuzzer target; install libclang-rt-14-dev" >&2
  exit 2
fi

# Every module source but main, the POSIX platform backend included.
sources=()
for f in "$root"/platform/*.cpp "$root"/lib/*.cpp "$root"/src/*/*.cpp; do
  [ "$(basename "$f")" = main.cpp ] && continue
  sources+=("$f")
done

echo "run_fuzz: building ${#sources[@]} sources and ${#targets[@]} targets with $cxx"
build_start=$SECONDS
compile() {  # source -> object, instrumented for the fuzzer
  local src=$1
  local obj=$out/obj/$(echo "${src#"$root"/}" | tr / _).o
  "$cxx" "${flags[@]}" -fsanitize=fuzzer-no-link,address,undefined -c "$src" \
    -o "$obj" 2>"$obj.log" || { cat "$obj.log" >&2; return 1; }
}
build_failed=0
pids=()
for src in "${sources[@]}"; do
  compile "$src" &
  pids+=($!)
  if [ ${#pids[@]} -ge "$jobs" ]; then
    wait "${pids[0]}" || build_failed=1
    pids=("${pids[@]:1}")
  fi
done
for p in "${pids[@]}"; do wait "$p" || build_failed=1; done
if [ $build_failed -ne 0 ]; then
  echo "run_fuzz: build failed" >&2
  exit 2
fi
for t in "${targets[@]}"; do
  if ! "$cxx" "${flags[@]}" -fsanitize=fuzzer,address,undefined \
      "$here/fuzz_$t.cpp" "$out"/obj/*.o -o "$out/fuzz_$t" 2>"$out/fuzz_$t.build.log"; then
    cat "$out/fuzz_$t.build.log" >&2
    echo "run_fuzz: build of fuzz_$t failed" >&2
    exit 2
  fi
done
echo "run_fuzz: built in $((SECONDS - build_start)) s"

# Paths given to a target are absolute: some targets change the current
# directory into their scratch folder.
run_target() {  # target: runs it in out/<target>/ on a copy of its corpus
  local t=$1
  local dir=$out/$t
  mkdir -p "$dir/corpus" "$dir/tmp"
  cp "$here/corpus/$t"/* "$dir/corpus/" 2>/dev/null
  (
    cd "$dir" || exit 2
    TMPDIR=$dir/tmp ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
      UBSAN_OPTIONS=print_stacktrace=1 \
      "$out/fuzz_$t" -max_total_time="$seconds" -max_len="${max_len[$t]}" \
      -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$dir/" "$dir/corpus" </dev/null >"$dir/fuzz.log" 2>&1
    echo $? >"$dir/rc"
  )
}

echo "run_fuzz: running each target for $seconds s, $jobs at a time"
pids=()
for t in "${targets[@]}"; do
  run_target "$t" &
  pids+=($!)
  if [ ${#pids[@]} -ge "$jobs" ]; then
    wait "${pids[0]}"
    pids=("${pids[@]:1}")
  fi
done
for p in "${pids[@]}"; do wait "$p"; done

crashed=0
printf '%-12s %12s  %s\n' target executions result
for t in "${targets[@]}"; do
  dir=$out/$t
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/fuzz.log" | tail -1)
  [ -z "$execs" ] && execs=$(grep -o '^#[0-9]*' "$dir/fuzz.log" | tail -1 | tr -d '#')
  rc=$(cat "$dir/rc" 2>/dev/null || echo "?")
  artifacts=$(cd "$dir" && ls -1 crash-* leak-* timeout-* oom-* slow-unit-* 2>/dev/null | grep -v '^slow-unit-' | tr '\n' ' ')
  if [ "$rc" != 0 ] || [ -n "$artifacts" ]; then
    crashed=1
    printf '%-12s %12s  CRASH (exit %s) %s\n' "$t" "${execs:-?}" "$rc" \
      "${artifacts:-see $dir/fuzz.log}"
    grep -m1 -E 'ERROR: |invariant failed|runtime error' "$dir/fuzz.log" | sed 's/^/    /'
  else
    printf '%-12s %12s  no crash\n' "$t" "${execs:-?}"
  fi
done
exit $crashed
