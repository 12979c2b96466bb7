#!/usr/bin/env bash
# Installs what Tavrilox needs, builds it twice (a normal build and one with
# AddressSanitizer + UndefinedBehaviorSanitizer) and runs every test in both,
# plus a few seconds of each libFuzzer target, and builds the Debian package
# and checks its layout.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc)
common=(-G Ninja -DTAVRILOX_WERROR=ON)

echo "== build (RelWithDebInfo)"
cmake -S . -B build "${common[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"

echo "== Debian package, installed into a scratch root"
(cd build && rm -f tavrilox_*.deb && cpack -G DEB)
deb=$(ls build/tavrilox_*.deb)
scratch=$(mktemp -d)
dpkg-deb -x "$deb" "$scratch"
dpkg-deb -f "$deb" Package Version Depends
bash scripts/check-install.sh "$scratch" /usr 1
rm -rf "$scratch"

echo "== build (AddressSanitizer + UndefinedBehaviorSanitizer)"
cmake -S . -B build-asan "${common[@]}" -DCMAKE_BUILD_TYPE=Debug \
  -DTAVRILOX_SANITIZE=address,undefined -DTAVRILOX_BENCH=OFF
cmake --build build-asan -j "$jobs"

echo "== fuzz smoke run"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTAVRILOX_GUI=OFF -DTAVRILOX_TESTS=OFF -DTAVRILOX_BENCH=OFF -DTAVRILOX_FUZZ=ON \
  -DTAVRILOX_SANITIZE=address,undefined,fuzzer-no-link
cmake --build build-fuzz -j "$jobs"
for target in build-fuzz/Fuzz*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  echo "-- $name"
  # New inputs go to a scratch folder; the seeds under fuzz/corpus stay as they are.
  scratch=$(mktemp -d)
  seeds=()
  [ -d "fuzz/corpus/$name" ] && seeds=("fuzz/corpus/$name")
  "$target" -max_total_time=4 -rss_limit_mb=2048 "$scratch" "${seeds[@]}" 2>&1 | tail -n 2
  rm -rf "$scratch"
done

echo "== tests (AddressSanitizer + UndefinedBehaviorSanitizer)"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j "$jobs" --timeout 600)

echo "== tests"
(cd build && ctest --output-on-failure -j "$jobs" --timeout 600)
