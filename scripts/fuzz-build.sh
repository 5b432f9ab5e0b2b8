# Sourced by fuzz.sh and fuzz-long.sh: finds the fuzz targets (tests/fuzz/fuzz_*.cpp) into
# `targets` and builds them with clang-14 in "$build". Exits 0 when there are none.
targets=()
for src in tests/fuzz/fuzz_*.cpp; do
    [ -e "$src" ] || continue
    targets+=("$(basename "$src" .cpp)")
done
if [ ${#targets[@]} -eq 0 ]; then
    echo "No fuzz targets." && exit 0
fi

CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKORAVEX_FUZZ=ON -DKORAVEX_BUILD_GUI=OFF -DKORAVEX_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"$jobs" --target "${targets[@]}"
