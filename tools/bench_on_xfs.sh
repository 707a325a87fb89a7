#!/usr/bin/env bash
# Runs a benchmark program with its scratch folder on a fresh XFS file
# system that can clone (reflink), made in a sparse image file and mounted
# through a loop device; the image is unmounted and deleted at the end.
# Needs root (for the mount) and mkfs.xfs (xfsprogs, which "./build.sh
# bench" installs).
#
#   tools/bench_on_xfs.sh build/bench/bench_updater --benchmark_filter=Install
#
# QELT_BENCH_XFS_SIZE sets the image size (4G by default: the generated
# bundle once, plus clones that share its blocks).
set -euo pipefail

if [ $# -lt 1 ]; then
    echo "usage: $0 BENCH-PROGRAM [ARGUMENTS...]" >&2
    exit 2
fi
program="$(realpath "$1")"; shift
work="$(mktemp -d "${TMPDIR:-/tmp}/qelt-xfs-bench.XXXXXX")"
image="$work/xfs.img"
mountpoint="$work/mnt"
mounted=0
cleanup() {
    if [ "$mounted" = 1 ]; then umount "$mountpoint" || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

truncate -s "${QELT_BENCH_XFS_SIZE:-4G}" "$image"
mkfs.xfs -q -m reflink=1 "$image"
mkdir "$mountpoint"
mount -o loop "$image" "$mountpoint"
mounted=1
QELT_BENCH_SCRATCH="$mountpoint" "$program" "$@"
