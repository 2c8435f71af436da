#!/usr/bin/env bash
# Runs the scenario under the simulator. An ASan build of the simulator preloads the sanitizer runtime
# for the program it starts; the program keeps that list, the scenario and its tools run without it.
export TSL_PROGRAM_PRELOAD=${LD_PRELOAD:-}
IFS=: read -ra preloads <<<"${LD_PRELOAD:-}"
kept=()
for lib in "${preloads[@]}"; do
    [[ $lib == */libasan.so* ]] || kept+=("$lib")
done
LD_PRELOAD=$(IFS=:; echo "${kept[*]}")
export LD_PRELOAD
exec /usr/bin/python3 "$(dirname "$0")/acceptance.py" "$@"
