#!/usr/bin/env bash
# Fanning mervox out with GNU parallel as doc/command.md shows, on this machine
# only (`--sshlogin :` is the local machine without ssh): one job per
# stream file, then a rerun with --skip-existing that must leave finished
# outputs untouched (same inode and modification time) and redo a removed
# one; several inputs per job (-X); and captures with parallel's job log,
# whose --resume runs only the jobs not yet done.
#   parallel_fanout_test.sh MERVOX DATA_DIR SCRATCH_DIR
set -euo pipefail
mervox=$1 data=$2 scratch=$3

fail() { echo "FAIL: $*" >&2; exit 1; }
if ! command -v parallel >/dev/null; then
  [ "${CI:-}" != true ] || fail "GNU parallel (Debian package parallel) is not installed"
  echo "SKIP: GNU parallel (Debian package parallel) is not installed"
  exit 77
fi
rm -rf "$scratch"
mkdir -p "$scratch/archive" "$scratch/ref" "$scratch/captures" "$scratch/pcap"
cd "$scratch"
export PARALLEL_HOME=$scratch/parallel-home  # parallel's own files, not the user's
cp "$data"/corpus/*.bit archive/
streams=$(cd archive && ls *.bit)
for s in $streams; do "$mervox" decode -q "archive/$s" -o "ref/${s%.bit}.wav"; done

ids() { for s in $streams; do stat -c "$s %i %y" "archive/${s%.bit}.wav"; done; }
check_outputs() {  # every stream's output equals its own decode
  for s in $streams; do
    cmp -s "$1/${s%.bit}.wav" "ref/${s%.bit}.wav" || fail "$1/${s%.bit}.wav differs from its single decode"
  done
}

# One job per file, each written beside its input.
parallel --will-cite --sshlogin : --jobs 2 "$mervox" decode -q -j 1 --skip-existing {} ::: archive/*.bit
check_outputs archive
before=$(ids)
rm archive/speech-a.mixed.wav
parallel --will-cite --sshlogin : --jobs 2 "$mervox" decode -q -j 1 --skip-existing {} ::: archive/*.bit
check_outputs archive
after=$(ids)
changed=$(diff <(echo "$before") <(echo "$after") | grep '^>' || true)
[ "$(echo "$changed" | awk '{print $2}')" = speech-a.mixed.bit ] ||
  fail "the rerun should have redone exactly speech-a.mixed, changed: $changed"

# Several files per job: mervox decodes them on the machine's processors.
parallel --will-cite --sshlogin : -X "$mervox" decode -q --skip-existing -o out/ {} ::: archive/*.bit
check_outputs out

# Captures: the job log records finished jobs, --resume runs only the rest.
cp "$data/corpus/call-a.pcapng" captures/a.pcapng
cp "$data/corpus/call-a.pcapng" captures/b.pcapng
cp "$data/corpus/call-a.pcapng" captures/c.pcapng
run_pcap() {
  parallel --will-cite --sshlogin : --joblog pcap.log --resume "$mervox" pcap -q --layout streams {} -o pcap/{/.} ::: "$@"
}
run_pcap captures/a.pcapng captures/b.pcapng
[ "$(ls pcap | wc -l)" -eq 4 ] || fail "expected two streams for each of two captures: $(ls pcap)"
first=$(stat -c '%n %i %y' pcap/a-* pcap/b-*)
run_pcap captures/a.pcapng captures/b.pcapng captures/c.pcapng
[ "$(stat -c '%n %i %y' pcap/a-* pcap/b-*)" = "$first" ] || fail "--resume rewrote finished captures"
[ "$(ls pcap | wc -l)" -eq 6 ] || fail "the new capture was not decoded: $(ls pcap)"
for s in pcap/c-*; do cmp -s "$s" "pcap/a-${s#pcap/c-}" || fail "$s differs from the same stream of a.pcapng"; done
echo "parallel fan-out: $(echo $streams | wc -w) streams decoded, a rerun skipped finished outputs and redid a removed one; captures resumed"
