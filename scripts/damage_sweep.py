#!/usr/bin/env python3
"""Page-level damage sweep: damaged copies of real databases, each compacted, checked and dumped by jetdb.

    scripts/damage_sweep.py [--seed S] [--count N] [--hits H] [--jetdb PATH] [--kinds K,K,...] [--work DIR]
                            [SAMPLES...]
    scripts/damage_sweep.py --as-is [--jetdb PATH] [--work DIR] [SAMPLES...]

SAMPLES are .mdb files or folders searched for them (default: $JET_SAMPLES, else ../shared/jet-samples). Each round
takes one sample, damages it in one way (see KINDS), or in 1 to H ways with --hits, and runs `jetdb compact` on it,
then `jetdb dump` and `jetdb check`. A round is a problem when:
  - a command crashes, hangs (120 s) or a sanitizer reports anything;
  - the damaged source changed;
  - a refused compaction left a file behind;
  - a compacted result fails `check --strict`;
  - the damaged source dumps without an error but the result dumps to other rows.
The last rule is the one about lost data: whatever the engine accepts it must carry whole.

--as-is runs every sample once as it stands, under the same rules, and prints a line for each: its size before and
after, or why it was refused (a file of a later Access is refused by design). It is the way to try the engine on a
folder of databases of one's own: each is copied into the work folder first, and only the copy is read.

Use the sanitizer build (the default jetdb, `cmake --build --preset sanitize --target jetdb`). Not part of CI: run it
by hand after changing a decoder or the compaction, with new seeds; fuzz.sh covers single pages and small files, this
covers whole real files. Damaged files that show a problem are kept in the work folder (under build/ by default);
turn each into a regression test that builds the bad bytes in code, then delete it: sample-derived files never go
into the repository. Status 0 when no round showed a problem.
"""
import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
KINDS = ('truncate', 'zero', 'copy', 'swap', 'type', 'header', 'tdef', 'index', 'data', 'append', 'fill', 'page0')
SANITIZER_MARKS = (b'ERROR: AddressSanitizer', b'runtime error:', b'ERROR: LeakSanitizer', b'terminate called')
TIMEOUT = 120


def page_size(data):
    # Byte 0x14 holds the version: 0 is Jet 3, with 2 KB pages; later versions use 4 KB pages.
    return 2048 if len(data) > 0x14 and data[0x14] == 0 else 4096


def damage(rng, data, kind):
    """Returns a damaged copy of data. Only 'page0' touches the header page, unless the file is no longer than it."""
    ps = page_size(data)
    pages = len(data) // ps
    d = bytearray(data)
    if pages == 0:  # shorter than a page (a stub, or a pointer a version-control system left): change what is there
        if kind == 'append' or not d:
            d += bytes(rng.randrange(256) for _ in range(rng.randint(1, 3) * ps))
        else:
            for _ in range(rng.randint(1, 4)):
                d[rng.randrange(len(d))] ^= 1 << rng.randrange(8)
        return bytes(d)

    def any_page():
        return rng.randrange(1, pages) if pages > 1 else 0

    def page_of(types):
        candidates = [p for p in range(1, pages) if d[p * ps] in types]
        return rng.choice(candidates) if candidates else any_page()

    def span(p):
        return slice(p * ps, (p + 1) * ps)

    if kind == 'truncate':  # at a page boundary or anywhere past page 0
        if len(d) > ps:
            del d[rng.choice([rng.randrange(ps, len(d)), max(1, any_page()) * ps]):]
    elif kind == 'zero':
        d[span(any_page())] = bytes(ps)
    elif kind == 'copy':
        a, b = any_page(), any_page()
        d[span(b)] = d[span(a)]
    elif kind == 'swap':
        a, b = any_page(), any_page()
        d[span(a)], d[span(b)] = bytes(d[span(b)]), bytes(d[span(a)])
    elif kind == 'type':  # the page type byte
        d[any_page() * ps] = rng.choice([0, 1, 2, 3, 4, 5, rng.randrange(256)])
    elif kind == 'header':  # the page header of any page
        p = any_page()
        for _ in range(rng.randint(1, 4)):
            d[p * ps + rng.randrange(0, 32)] = rng.randrange(256)
    elif kind in ('tdef', 'index', 'data'):  # bytes of a table definition, an index page or a data page
        p = page_of({'tdef': {2}, 'index': {3, 4}, 'data': {1}}[kind])
        for _ in range(rng.randint(1, 16)):
            at = p * ps + rng.randrange(0, ps)
            d[at] = rng.choice([rng.randrange(256), 0, 0xFF, d[at] ^ (1 << rng.randrange(8))])
    elif kind == 'append':  # pages of noise past the end
        d += bytes(rng.randrange(256) for _ in range(rng.randint(1, 3) * ps))
    elif kind == 'fill':  # a run of one byte value inside a page
        p, v, off, n = any_page(), rng.choice([0xFF, 0x01, 0x80]), rng.randrange(0, ps), rng.randint(2, 64)
        n = min(n, ps - off)
        d[p * ps + off:p * ps + off + n] = bytes([v]) * n
    elif kind == 'page0':  # the header page, its masked area included
        for _ in range(rng.randint(1, 6)):
            at = rng.choice([rng.randrange(0, min(0x100, len(d))), rng.randrange(0, min(ps, len(d)))])
            d[at] = rng.choice([rng.randrange(256), 0, 0xFF, d[at] ^ (1 << rng.randrange(8))])
    else:
        raise ValueError(kind)
    return bytes(d)


def run(cmd):
    """(status, stdout, stderr, problem or None) of one jetdb command."""
    try:
        r = subprocess.run(cmd, capture_output=True, timeout=TIMEOUT)
    except subprocess.TimeoutExpired:
        return None, b'', b'', 'hangs'
    # jetdb's own statuses are small: 0, 1 for an error, 2 for bad usage. A signal or a sanitizer's exit is not.
    if r.returncode < 0 or r.returncode > 100 or any(m in r.stderr for m in SANITIZER_MARKS):
        tail = r.stderr[-600:].decode(errors='replace').strip()
        return r.returncode, r.stdout, r.stderr, 'crashes (status %d): %s' % (r.returncode, tail)
    return r.returncode, r.stdout, r.stderr, None


def one_round(jetdb, damaged, work):
    out_dir = work / 'out'
    shutil.rmtree(out_dir, ignore_errors=True)
    out_dir.mkdir()
    result = out_dir / 'compacted.mdb'
    before = damaged.read_bytes()
    problems = []

    status, _, refusal, p = run([jetdb, 'compact', str(damaged), str(result)])
    if p:
        problems.append('compact ' + p)
    compacted = status == 0
    said = refusal.decode(errors='replace').strip().splitlines()
    if status not in (0, None) and not p and os.listdir(out_dir):
        problems.append('refused but left %s' % os.listdir(out_dir))
    source_status, source_rows, _, p = run([jetdb, 'dump', str(damaged)])
    if p:
        problems.append('dump ' + p)
    _, _, _, p = run([jetdb, 'check', str(damaged)])
    if p:
        problems.append('check ' + p)
    if compacted:
        status, out, err, p = run([jetdb, 'check', '--strict', str(result)])
        if p or status != 0:
            problems.append('compacted but its check fails: ' + (p or (out + err).decode(errors='replace')[-400:]))
        status, rows, _, p = run([jetdb, 'dump', str(result)])
        if p or status != 0:
            problems.append('compacted but its dump fails: ' + (p or 'status %d' % status))
        elif source_status == 0 and rows != source_rows:
            problems.append('the compacted database holds other rows than the source')
    if damaged.read_bytes() != before:
        problems.append('the source changed')
    return compacted, source_status == 0, problems, said[-1] if said and not compacted else ''


def as_is(jetdb, samples, work):
    """Every sample once, undamaged; status 1 when one of them shows a problem."""
    bad = refused = 0
    copy = work / 'sample.mdb'
    for sample in samples:
        shutil.copyfile(sample, copy)
        compacted, _, problems, refusal = one_round(jetdb, copy, work)
        if compacted:
            verdict = 'compacted %d -> %d bytes' % (copy.stat().st_size, (work / 'out/compacted.mdb').stat().st_size)
        else:
            refused += 1
            verdict = 'refused: ' + refusal.replace(str(copy), sample.name)
        if problems:
            bad += 1
            keep = work / ('problem%04d.mdb' % bad)
            shutil.copy(copy, keep)
            verdict += '; PROBLEM: %s; kept as %s' % ('; '.join(problems), keep)
        print('%s: %s' % (sample, verdict), flush=True)
    print('%d databases: %d compacted, %d refused, %d with a problem'
          % (len(samples), len(samples) - refused, refused, bad))
    if bad == 0:
        shutil.rmtree(work)
    return 1 if bad else 0


def samples_of(paths):
    found = []
    for p in map(Path, paths):
        # Files of older Windows programs are often named in capitals (NWIND.MDB).
        found += sorted(f for f in p.rglob('*') if f.suffix.lower() == '.mdb' and f.is_file()) if p.is_dir() else [p]
    return found


def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('--seed', type=int, default=1)
    ap.add_argument('--count', type=int, default=200)
    ap.add_argument('--hits', type=int, default=1, help='damages per round: 1 to H')
    ap.add_argument('--jetdb', default=str(ROOT / 'build/sanitize/tools/jetdb'))
    ap.add_argument('--kinds', default=','.join(KINDS), help='comma-separated, from: ' + ' '.join(KINDS))
    ap.add_argument('--work', default=str(ROOT / 'build'), help='where the work folder is made')
    ap.add_argument('--as-is', action='store_true', help='each sample once, undamaged')
    ap.add_argument('samples', nargs='*')
    args = ap.parse_args()

    kinds = args.kinds.split(',')
    for k in kinds:
        if k not in KINDS:
            ap.error('unknown kind %r' % k)
    default = os.environ.get('JET_SAMPLES', str(ROOT.parent / 'shared/jet-samples'))
    samples = samples_of(args.samples or [default])
    if not samples:
        print('damage_sweep: no .mdb files in %s' % ' '.join(args.samples or [default]), file=sys.stderr)
        return 2
    if not os.access(args.jetdb, os.X_OK):
        print('damage_sweep: no jetdb at %s (cmake --build --preset sanitize --target jetdb)' % args.jetdb,
              file=sys.stderr)
        return 2

    Path(args.work).mkdir(parents=True, exist_ok=True)
    work = Path(tempfile.mkdtemp(prefix='damage_sweep.', dir=args.work))
    if args.as_is:
        return as_is(args.jetdb, samples, work)
    rng = random.Random(args.seed)
    tally = {}
    bad = 0
    unread = 0  # compacted although the damaged source did not dump: not a fault, but worth a look
    for i in range(args.count):
        sample = rng.choice(samples)
        data = sample.read_bytes()
        done = []
        for _ in range(rng.randint(1, max(1, args.hits))):
            done.append(rng.choice(kinds))
            data = damage(rng, data, done[-1])
        kind = '+'.join(done)
        damaged = work / 'damaged.mdb'
        damaged.write_bytes(data)
        compacted, dumped, problems, _ = one_round(args.jetdb, damaged, work)
        if compacted and not dumped:
            unread += 1
        for k in set(done):  # a round of several damages counts under each of its kinds
            key = (k, 'compacted' if compacted else 'refused')
            tally[key] = tally.get(key, 0) + 1
        if problems:
            bad += 1
            keep = work / ('problem%04d.mdb' % i)
            shutil.copy(damaged, keep)
            print('round %d (%s of %s): %s; kept as %s' % (i, kind, sample.name, '; '.join(problems), keep),
                  flush=True)
    for kind in kinds:
        print('%-9s compacted %3d  refused %3d' % (kind, tally.get((kind, 'compacted'), 0),
                                                  tally.get((kind, 'refused'), 0)))
    print('%d rounds, seed %d: %d with a problem; %d compacted although dump refused the source'
          % (args.count, args.seed, bad, unread))
    if bad == 0:
        shutil.rmtree(work)
    return 1 if bad else 0


if __name__ == '__main__':
    sys.exit(main())
