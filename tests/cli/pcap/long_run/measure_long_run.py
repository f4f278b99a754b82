#!/usr/bin/python3
"""Measures `mervox pcap -` as a live call recorder on long-running traffic.

Runs  mervox_long_traffic ... | mervox pcap - -o WORK/calls/ [--json-lines WORK/calls/calls.jsonl] [extra]
and samples, every --interval seconds while it runs: wall time, how far the
generator has got in capture time, mervox's RSS and peak (VmRSS, VmHWM), its
CPU time, the scratch files in the output folder (hidden, .raw) and the WAV
files and JSON lines written so far. Writes that curve as CSV, then checks:

  - every call the generator made was written exactly once (by the JSON lines
    where mervox has --json-lines, else by the WAV files' names);
  - each call was written soon after it ended: by the capture time its end
    + --write-lag s (calls without BYE, closed by idle time: + --idle s more);
  - memory and scratch space are flat: their peak over the last quarter of
    capture time (and mervox's VmHWM at the end) is at most the peak over the
    first quarter plus --margin-share and --margin-mb.

Exits 1 naming each check that failed, 2 on wrong use. --table writes the
curve per capture hour as a Markdown table (doc/performance.md).

  measure_long_run.py --generator build/dev/tests/cli/pcap/mervox_long_traffic \\
      --mervox build/dev/tools/mervox/mervox --work /tmp/week --remove-written \\
      --speech-share 0.1 --table /tmp/week/table.md
"""
import argparse
import csv
import json
import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
import time

MB = 1024 * 1024
MARKER = ".measure_long_run"  # marks a work folder this script made, which --fresh may empty


def parse_args():
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--generator", required=True, help="the mervox_long_traffic program")
    p.add_argument("--mervox", required=True, help="the mervox command")
    p.add_argument("--work", required=True, help="folder for the outputs (calls/), list, curve and logs")
    p.add_argument("--fresh", action="store_true", help="empty a work folder of an earlier run first")
    for name, default in (("hours", "168"), ("calls", "100000"), ("call-seconds", "60-600"), ("max-open", "300"),
                          ("seed", "1"), ("unsignalled", "0.1"), ("bye-lost", "0.1"), ("speech-share", "1")):
        p.add_argument("--" + name, default=default, help="for the generator (%(default)s)")
    p.add_argument("--generator-args", default="", help="more generator options, one string")
    p.add_argument("--mervox-args", default="", help="more options for mervox pcap, one string")
    p.add_argument("--interval", type=float, default=0.25, help="seconds between samples (%(default)s)")
    p.add_argument("--wall-slack", type=float, default=2,
                   help="wall seconds a call may take after the capture passed its due time (%(default)s)")
    p.add_argument("--write-lag", type=float, default=120,
                   help="capture seconds after a call's end by which it must be written (%(default)s)")
    p.add_argument("--idle", type=float, default=300,
                   help="capture seconds without packets after which a call without BYE is over (%(default)s)")
    p.add_argument("--margin-share", type=float, default=0.2, help="flatness margin, share of the first quarter's peak")
    p.add_argument("--margin-mb", type=float, default=16, help="flatness margin, MB added")
    p.add_argument("--remove-written", action="store_true",
                   help="delete each WAV file once seen (a week of calls is about 1 TB of WAV)")
    p.add_argument("--timeout", type=float, default=0, help="wall seconds before giving up (0: none)")
    p.add_argument("--csv", help="the curve (WORK/curve.csv)")
    p.add_argument("--table", help="the curve per capture hour, Markdown ('-': standard output)")
    return p.parse_args()


# --- Matching the recorder's output against the generator's list -----------

def generated_keys(call):
    """The keys that identify a call of the generator's list (a dict of its columns)."""
    if call["signalled"] == "1":
        return {("call_id", call["call_id"]), ("users", call["from_user"], call["to_user"])}
    return {("media", *sorted((call["caller_media"], call["callee_media"])))}


def output_keys(record):
    """The keys of one written call: a JSON line's object, or a WAV file's name.

    Its "call_id"; from its file name ("file", or "output" as in `--json`'s
    calls) the SIP users (PREFIX-START-FROM-TO.wav) or, without SIP, the two
    RTP addresses (PREFIX-START-10.1.2.3_4000-10.5.6.7_8000.wav). Adapt here
    when the recorder's JSON lines say it otherwise."""
    keys = set()
    name = record
    if isinstance(record, dict):
        if record.get("call_id"):
            keys.add(("call_id", record["call_id"]))
        name = record.get("file") or record.get("output") or record.get("path") or ""
    name = os.path.basename(str(name))
    users = re.search(r"-([ab]\d+)-([ab]\d+)(?:-\d+)?\.wav$", name)
    if users:
        keys.add(("users", users.group(1), users.group(2)))
    media = re.search(r"(\d+\.\d+\.\d+\.\d+)_(\d+)-(\d+\.\d+\.\d+\.\d+)_(\d+)(?:-\d+)?\.wav$", name)
    if media:
        pair = sorted((media.group(1) + ":" + media.group(2), media.group(3) + ":" + media.group(4)))
        keys.add(("media", *pair))
    return keys


def match(calls, outputs):
    """outputs: (record, capture seconds the capture had got to at least when
    it was written). Returns per call those times of its outputs, and the
    outputs that match no call."""
    owner = {}
    for i, call in enumerate(calls):
        for key in generated_keys(call):
            owner[key] = i
    written = [[] for _ in calls]
    unmatched = []
    for record, seen in outputs:
        hits = {owner[k] for k in output_keys(record) if k in owner}
        if len(hits) == 1:
            written[hits.pop()].append(seen)
        else:
            unmatched.append(record)
    return written, unmatched


# --- Sampling ----------------------------------------------------------------

def read_progress(path):
    """The generator's progress line: capture seconds, packets, bytes, calls closed, calls open."""
    try:
        with open(path) as f:
            fields = f.read().split()
        return [int(v) for v in fields[:5]] if len(fields) >= 5 else None
    except (OSError, ValueError):
        return None


def process_memory(pid):
    """(VmRSS, VmHWM) in kB and CPU seconds, or None once the process is gone."""
    try:
        with open("/proc/%d/status" % pid) as f:
            status = dict(line.split(":", 1) for line in f if ":" in line)
        with open("/proc/%d/stat" % pid) as f:
            stat = f.read().rsplit(")", 1)[1].split()
        cpu = (int(stat[11]) + int(stat[12])) / os.sysconf("SC_CLK_TCK")
        return int(status["VmRSS"].split()[0]), int(status["VmHWM"].split()[0]), cpu
    except (OSError, KeyError, ValueError, IndexError):
        return None


class OutputWatch:
    """What mervox has written into its output folder so far."""

    def __init__(self, folder, json_lines, remove_written):
        self.folder, self.json_lines, self.remove = folder, json_lines, remove_written
        # Each output with the capture time of the sample before the one that
        # saw it first: when it was written, the capture had got at least that far.
        self.wavs = {}  # name -> capture seconds
        self.lines = []  # (object, (capture seconds, wall seconds))
        self.bad_lines = []
        self.offset, self.partial = 0, b""

    def scan(self, capture_seconds, wall_seconds):
        scratch_bytes = scratch_files = 0
        try:
            entries = list(os.scandir(self.folder))
        except OSError:
            entries = []
        for e in entries:
            try:
                if e.name.startswith(".") and e.name.endswith(".raw"):
                    scratch_bytes += e.stat().st_size
                    scratch_files += 1
                elif e.name.endswith(".wav") and not e.name.startswith("."):
                    if e.name not in self.wavs:
                        self.wavs[e.name] = (capture_seconds, wall_seconds)
                    if self.remove:
                        os.unlink(e.path)
            except OSError:
                pass  # removed or renamed meanwhile
        if self.json_lines:
            self.read_lines((capture_seconds, wall_seconds))
        return scratch_bytes, scratch_files

    def read_lines(self, capture_seconds):
        try:
            with open(self.json_lines, "rb") as f:
                f.seek(self.offset)
                data = f.read()
        except OSError:
            return
        self.offset += len(data)
        *complete, self.partial = (self.partial + data).split(b"\n")
        for line in complete:
            if not line.strip():
                continue
            try:
                self.lines.append((json.loads(line), capture_seconds))
            except ValueError:
                self.bad_lines.append(line[:200])


# --- Checks ------------------------------------------------------------------

def check_flat(name, rows, first_column, last_column, unit, length, args, final_peak=None):
    """The peak of first_column over the first quarter of capture time against
    that of last_column over the last quarter, and against final_peak. The
    last quarter ends where the generator's last calls begin to be cut short
    to end with the capture (the longest call before its end): those crowd
    together, more at once than anywhere else."""
    tail = float(args.call_seconds.split("-")[-1])
    first = [r[first_column] for r in rows if r["capture_s"] <= length / 4]
    last = [r[last_column] for r in rows if length * 3 / 4 - tail <= r["capture_s"] <= length - tail]
    if not first or not last:
        return ["%s: no samples in the first or last quarter of capture time" % name]
    first, last = max(first), max(last)
    limit = first * (1 + args.margin_share) + args.margin_mb * MB / unit
    print("%s: peak %.1f MB in the first quarter of capture time, %.1f MB in the last (limit %.1f MB)%s"
          % (name, first * unit / MB, last * unit / MB, limit * unit / MB,
             "" if final_peak is None else ", %.1f MB over the run" % (final_peak * unit / MB)))
    problems = []
    if last > limit:
        problems.append("%s grows: %.1f MB in the last quarter of capture time against %.1f MB in the first "
                        "(limit %.1f MB)" % (name, last * unit / MB, first * unit / MB, limit * unit / MB))
    if final_peak is not None and final_peak > limit:
        problems.append("%s: peak %.1f MB over the run against %.1f MB in the first quarter (limit %.1f MB)"
                        % (name, final_peak * unit / MB, first * unit / MB, limit * unit / MB))
    return problems


def check_calls(calls, written, unmatched, length, args, source, rows):
    problems = []
    missing = [c for c, w in zip(calls, written) if not w]
    twice = [c for c, w in zip(calls, written) if len(w) > 1]
    print("calls: %d made, %d written once, %d missing, %d written more than once, %d outputs matching no call (by %s)"
          % (len(calls), sum(len(w) == 1 for w in written), len(missing), len(twice), len(unmatched), source))
    if missing:
        problems.append("%d of %d calls not written (by %s), first: %s" % (
            len(missing), len(calls), source, ", ".join(c["index"] for c in missing[:5])))
    if twice:
        problems.append("%d calls written more than once, first: %s" % (
            len(twice), ", ".join(c["index"] for c in twice[:5])))
    if unmatched:
        problems.append("%d outputs match no call, first: %s" % (len(unmatched), unmatched[0]))
    # Late: not yet written when the capture was past its due time, nor
    # a moment of wall time later (a quiet stretch of capture passes in an
    # instant, faster than the recorder's own pipeline).
    late = []
    for c, w in zip(calls, written):
        due = float(c["end"]) + args.write_lag + (0 if c["bye"] == "1" else args.idle)
        if not w or due >= length:
            continue
        seen, seen_wall = min(w)
        due_wall = next((r["wall_s"] for r in rows if r["capture_s"] >= due), None)
        if seen > due and due_wall is not None and seen_wall > due_wall + args.wall_slack:
            late.append((seen - due, c, seen))
    if late:
        late.sort(key=lambda t: -t[0])
        lateness, c, seen = late[0]
        problems.append("%d calls written late (not as they end): call %s ended at %s s of capture time, due by %.0f s, "
                        "first seen written when the capture was at %.0f s"
                        % (len(late), c["index"], c["end"], seen - lateness, seen))
    return problems


# --- Output of the curve -----------------------------------------------------

COLUMNS = ["wall_s", "capture_s", "packets", "capture_bytes", "calls_closed", "calls_open", "rss_kb", "hwm_kb",
           "cpu_s", "scratch_bytes", "scratch_files", "wav_files", "json_lines"]


def hourly_table(rows, hours):
    out = ["| capture hour | wall s | calls open | WAV files | JSON lines | RSS MB (max) | VmHWM MB | "
           "scratch MB (max) | CPU s |", "|---:|---:|---:|---:|---:|---:|---:|---:|---:|"]
    for h in range(int(-(-hours // 1))):
        part = [r for r in rows if h * 3600 < r["capture_s"] <= (h + 1) * 3600] or \
               [r for r in rows if r["capture_s"] <= (h + 1) * 3600][-1:]
        if not part:
            continue
        end = part[-1]
        out.append("| %d | %.1f | %d | %d | %d | %.1f | %.1f | %.1f | %.1f |" % (
            h + 1, end["wall_s"], end["calls_open"], end["wav_files"], end["json_lines"],
            max(r["rss_kb"] for r in part) / 1024, end["hwm_kb"] / 1024,
            max(r["scratch_bytes"] for r in part) / MB, end["cpu_s"]))
    return "\n".join(out) + "\n"


def prepare_work(work, fresh):
    if os.path.isdir(work) and os.listdir(work):
        if not (fresh and os.path.exists(os.path.join(work, MARKER))):
            sys.exit("measure_long_run: %s is not empty (--fresh empties a work folder of an earlier run)" % work)
        shutil.rmtree(work)
    os.makedirs(os.path.join(work, "calls"))
    open(os.path.join(work, MARKER), "w").close()


def main():
    args = parse_args()
    work = os.path.abspath(args.work)
    prepare_work(work, args.fresh)
    out = os.path.join(work, "calls")
    length = float(args.hours) * 3600
    listing, progress = os.path.join(work, "calls.tsv"), os.path.join(work, "progress")

    help_text = subprocess.run([args.mervox, "pcap", "--help"], capture_output=True, text=True).stdout
    json_lines = os.path.join(out, "calls.jsonl") if "--json-lines" in help_text else None
    if not json_lines:
        print("NOTE: %s pcap has no --json-lines: calls are matched by their WAV files' names only" % args.mervox)

    generator = [args.generator, "--hours", args.hours, "--calls", args.calls, "--call-seconds", args.call_seconds,
                 "--max-open", args.max_open, "--seed", args.seed, "--unsignalled", args.unsignalled,
                 "--bye-lost", args.bye_lost, "--speech-share", args.speech_share, "--calls-out", listing,
                 "--progress", progress] + shlex.split(args.generator_args)
    recorder = [args.mervox, "pcap", "-", "-o", out + "/"] + (["--json-lines", json_lines] if json_lines else []) \
        + shlex.split(args.mervox_args)
    print("$ " + " ".join(map(shlex.quote, generator)) + " \\\n  | " + " ".join(map(shlex.quote, recorder)))
    sys.stdout.flush()

    with open(os.path.join(work, "generator.log"), "w") as glog, open(os.path.join(work, "mervox.log"), "w") as mlog:
        gen = subprocess.Popen(generator, stdout=subprocess.PIPE, stderr=glog)
        rec = subprocess.Popen(recorder, stdin=gen.stdout, stdout=mlog, stderr=subprocess.STDOUT)
        gen.stdout.close()
        watch = OutputWatch(out, json_lines, args.remove_written)
        rows, last_memory, start = [], (0, 0, 0.0), time.monotonic()
        timed_out = False
        while True:
            done = rec.poll() is not None
            prog = read_progress(progress) or [0, 0, 0, 0, 0]
            memory = process_memory(rec.pid)
            last_memory = memory or last_memory
            capture = float(prog[0]) if gen.poll() is None or prog[0] < length else length
            scratch, scratch_files = watch.scan(rows[-1]["capture_s"] if rows else 0.0,
                                                round(time.monotonic() - start, 3))
            rows.append(dict(zip(COLUMNS, [round(time.monotonic() - start, 3), capture, *prog[1:5], *last_memory,
                                           scratch, scratch_files, len(watch.wavs), len(watch.lines)])))
            if done:
                break
            if args.timeout and time.monotonic() - start > args.timeout:
                timed_out = True
                for p in (gen, rec):
                    p.send_signal(signal.SIGTERM)
            time.sleep(args.interval)
        gen_status, rec_status = gen.wait(), rec.wait()

    csv_path = args.csv or os.path.join(work, "curve.csv")
    with open(csv_path, "w", newline="") as f:
        w = csv.DictWriter(f, fieldnames=COLUMNS)
        w.writeheader()
        w.writerows(rows)
    if args.table:
        table = hourly_table(rows, float(args.hours))
        if args.table == "-":
            sys.stdout.write(table)
        else:
            with open(args.table, "w") as f:
                f.write(table)

    print("wall %.1f s, %d samples; curve in %s" % (rows[-1]["wall_s"], len(rows), csv_path))
    problems = []
    if timed_out:
        problems.append("gave up after %.0f s (--timeout)" % args.timeout)
    for name, status in (("mervox", rec_status), ("generator", gen_status)):
        if status != 0:
            with open(os.path.join(work, name + ".log"), errors="replace") as f:
                problems.append("%s exited with status %d:\n%s" % (name, status, f.read()[-1500:]))
    try:
        with open(listing) as f:
            calls = list(csv.DictReader((line for line in f if not line.startswith("#")), delimiter="\t"))
    except OSError as e:
        problems.append("no list of calls: %s" % e)
        calls = []
    if watch.bad_lines:
        problems.append("%d JSON lines do not parse, first: %r" % (len(watch.bad_lines), watch.bad_lines[0]))
    if json_lines:
        outputs, source = watch.lines, "JSON lines"
    else:
        outputs, source = list(watch.wavs.items()), "WAV file names (no --json-lines)"
    written, unmatched = match(calls, outputs)
    problems += check_calls(calls, written, unmatched, length, args, source, rows)
    # Memory: VmHWM at a sample is the true peak up to it, RSS samples may miss one.
    problems += check_flat("memory (RSS)", rows, "hwm_kb", "rss_kb", 1024, length, args, final_peak=last_memory[1])
    problems += check_flat("scratch files", rows, "scratch_bytes", "scratch_bytes", 1, length, args)
    if problems:
        print("FAILED:\n- " + "\n- ".join(problems))
        return 1
    print("PASSED: every call written once, as it ended; memory and scratch space flat")
    return 0


if __name__ == "__main__":
    sys.exit(main())
