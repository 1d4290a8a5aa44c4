#!/bin/sh
# One fuzz run: TARGET SEEDS WORKDIR SECONDS [extra libFuzzer options]. The seeds are copied into a
# fresh corpus in WORKDIR (the seed folder stays as generated); a crash or a broken invariant leaves
# its input in WORKDIR/artifacts and fails the run.
set -eu
target=$1 seeds=$2 work=$3 seconds=$4
shift 4
rm -rf "$work"
mkdir -p "$work/corpus" "$work/artifacts"
cp "$seeds"/* "$work/corpus/"
case $(basename "$target") in
    fuzz_frames | fuzz_config) maxlen=16384 ;;
    fuzz_fields) maxlen=7200 ;;
    fuzz_program_image) maxlen=4096 ;;
    *) maxlen=512 ;;
esac
exec "$target" -max_total_time="$seconds" -max_len="$maxlen" -timeout=10 -rss_limit_mb=1024 \
    -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$@" "$work/corpus"
