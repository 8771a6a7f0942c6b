#!/usr/bin/env bash
# Runs the state fuzz target for a bounded time: run.sh BUILD_DIR SECONDS
# The committed seeds are copied to a scratch folder, so the run never changes them.
# Exits non-zero when the fuzzer finds a crash, a leak, a time-out or a broken check.
set -euo pipefail

if [[ $# -ne 2 ]]; then
    echo "usage: $0 BUILD_DIR SECONDS" >&2
    exit 2
fi

build_dir=$1
seconds=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
fuzzer=$(find "$build_dir" -type f -name kestrine-state-fuzz -perm -u+x | head -n 1)

if [[ -z "$fuzzer" ]]; then
    echo "$0: no kestrine-state-fuzz under $build_dir (configure with -DKESTRINE_FUZZ=ON and build it)" >&2
    exit 2
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus" "$work/artifacts"
cp "$here"/corpus/* "$work/corpus/"

status=0
"$fuzzer" "$work/corpus" \
    -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
    -artifact_prefix="$work/artifacts/" -print_final_stats=1 || status=$?

if [[ $status -ne 0 ]] || compgen -G "$work/artifacts/*" > /dev/null; then
    mkdir -p "$build_dir/fuzz-findings"
    cp "$work"/artifacts/* "$build_dir/fuzz-findings/" 2>/dev/null || true
    echo "$0: finding (exit $status); inputs kept in $build_dir/fuzz-findings" >&2
    exit 1
fi
