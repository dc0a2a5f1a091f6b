#!/usr/bin/env bash
# The benchmark command (not part of the test command). Builds kxextract and the engine's
# micro-benchmarks natively, gathers at least 64 MB of this machine's real files (man pages as
# text, headers, programs, libraries), zips them at level 9 with Info-ZIP zip without a
# password (payload-plain.zip), under the built-in payload password (payload.zip) and under an
# ASCII password (payload-ascii.zip, for 7zz, which refuses the 0xA9 byte on its command
# line), then times alternating runs of
#   kxextract -t           against  unzip -qq -t  and  7zz t      (payload-plain.zip)
#   kxextract -t           against  unzip -qq -t -P PASSWORD      (payload.zip)
#   kxextract -t -P ASCII  against  7zz t -pASCII                 (payload-ascii.zip)
#   kxextract -d OUT       against  unzip -qq -j -o -P PASSWORD -d OUT
# and prints the medians of wall and processor time, the ratios against their targets, the
# peak heap of a kxextract run (valgrind massif), and the inflate decoder's speed against
# zlib's on the same stream.
#   scripts/bench.sh   (KX_BENCH_RUNS=5, KX_BENCH_BUILD=build, KX_BENCH_DIR=build/bench-data,
#                       KX_BENCH_OUT=/dev/shm/kx-bench-$USER where /dev/shm is, else KX_BENCH_DIR)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KX_BENCH_BUILD:-$root/build}
data=${KX_BENCH_DIR:-$build/bench-data}
runs=${KX_BENCH_RUNS:-5}
password=$(printf 'Trademark\xa9 1990-1996 Quillon Data Works, Ltd')
ascii=KarvexBench1996

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKX_SANITIZE=OFF >/dev/null
cmake --build "$build" -j"${KX_JOBS:-2}" --target kxextract >/dev/null
cmake --build "$build" -j"${KX_JOBS:-2}" --target engine_bench >/dev/null 2>&1 || true
kx=$build/kxextract

mkdir -p "$data"
if [ ! -f "$data/payload.zip" ] || [ ! -f "$data/payload-ascii.zip" ] ||
  [ ! -f "$data/payload-plain.zip" ]; then
  echo "bench: gathering the corpus in $data/corpus"
  rm -rf "$data/corpus"
  mkdir -p "$data/corpus"
  python3 - "$data/corpus" <<'PY'
import glob, gzip, os, sys
out = sys.argv[1]
MB = 1 << 20
# Quotas per kind; a kind that runs short leaves its share to the libraries at the end.
kinds = [("man", 16 * MB, sorted(glob.glob("/usr/share/man/man*/*.gz"))),
         ("inc", 16 * MB, sorted(p for p in glob.glob("/usr/include/**/*.h", recursive=True))),
         ("bin", 16 * MB, sorted(glob.glob("/usr/bin/*"))),
         ("lib", 18 * MB, sorted(glob.glob("/usr/lib/x86_64-linux-gnu/*.so*")))]
total, debt = 0, 0
for kind, quota, paths in kinds:
    quota += debt
    got = 0
    for path in paths:
        if got >= quota:
            break
        if not os.path.isfile(path) or os.path.islink(path):
            continue
        try:
            data = gzip.open(path).read() if kind == "man" else open(path, "rb").read()
        except OSError:
            continue
        if not data or len(data) > 8 * MB:
            continue
        name = kind + "_" + path.strip("/").replace("/", "_")
        if kind == "man":
            name = name[:-3] + ".txt"
        name = name[-120:]
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
        got += len(data)
    debt = max(0, quota - got)
    total += got
    print(f"bench: {kind}: {got / MB:.1f} MB")
print(f"bench: corpus {total / MB:.1f} MB")
if total < 64 * MB:
    sys.exit("bench: fewer than 64 MB of files found")
PY
  rm -f "$data/payload.zip" "$data/payload-ascii.zip" "$data/payload-plain.zip"
  (cd "$data/corpus" && ls | zip -q -9 -X -@ "$data/payload-plain.zip")
  (cd "$data/corpus" && ls | zip -q -9 -X -P "$password" -@ "$data/payload.zip")
  (cd "$data/corpus" && ls | zip -q -9 -X -P "$ascii" -@ "$data/payload-ascii.zip")
fi
corpus_mb=$(du -sm --apparent-size "$data/corpus" | cut -f1)
files=$(ls "$data/corpus" | wc -l)
echo "bench: $files files, $corpus_mb MB; payload.zip $(($(stat -c %s "$data/payload.zip") >> 20)) MB"

# The extracted files go to memory where the machine has a tmpfs: creating thousands of files
# on a disk file system costs both programs the same and can outweigh the work compared
# (about 140 us a file on this machine's ext4), hiding the difference between them.
out=${KX_BENCH_OUT:-}
if [ -z "$out" ]; then
  out=$data
  [ -d /dev/shm ] && [ -w /dev/shm ] && out=/dev/shm/kx-bench-${USER:-$(id -u)}
fi
echo "bench: extracting into $out"
out_kx=$out/out-kxextract
out_unzip=$out/out-unzip
declare -A times cpu
# run LABEL COMMAND...: one timed run; its wall time is appended to times[LABEL] and its
# processor time (user and system) to cpu[LABEL], which other load on the machine disturbs less.
run() {
  local label=$1 measured wall processor status
  shift
  measured=$(python3 - "$@" <<'PY'
import resource, subprocess, sys, time
start = time.perf_counter()
status = subprocess.run(sys.argv[1:], stdout=sys.stderr).returncode
wall = time.perf_counter() - start
usage = resource.getrusage(resource.RUSAGE_CHILDREN)
print(f"{wall:.4f} {usage.ru_utime + usage.ru_stime:.4f} {status}")
PY
  )
  read -r wall processor status <<<"$measured"
  [ "$status" = 0 ] || { echo "bench: $label failed" >&2; exit 1; }
  times[$label]+="$wall "
  cpu[$label]+="$processor "
}
fresh() { rm -rf "$1" && mkdir -p "$1"; }

echo "bench: $runs alternating runs of each command"
for ((i = 1; i <= runs; i++)); do
  run kx_t_plain "$kx" -t "$data/payload-plain.zip"
  run unzip_t_plain unzip -qq -t "$data/payload-plain.zip"
  run 7zz_t_plain 7zz t -bso0 -bsp0 "$data/payload-plain.zip"
  run kx_t "$kx" -t "$data/payload.zip"
  run unzip_t unzip -qq -t -P "$password" "$data/payload.zip"
  run kx_t_ascii "$kx" -t -P "$ascii" "$data/payload-ascii.zip"
  run 7zz_t 7zz t -bso0 -bsp0 -p"$ascii" "$data/payload-ascii.zip"
  fresh "$out_kx"
  run kx_d "$kx" -d "$out_kx" "$data/payload.zip"
  fresh "$out_unzip"
  run unzip_d unzip -qq -j -o -P "$password" -d "$out_unzip" "$data/payload.zip"
done
# Same bytes and the same modification times, or the timings mean nothing.
diff -r "$out_kx" "$out_unzip" >/dev/null || { echo "bench: outputs differ" >&2; exit 1; }
(cd "$out_kx" && find . -type f -printf '%P %T@\n' | sort) >"$data/times-kx"
(cd "$out_unzip" && find . -type f -printf '%P %T@\n' | sort) >"$data/times-unzip"
cmp -s "$data/times-kx" "$data/times-unzip" || { echo "bench: time stamps differ" >&2; exit 1; }
[ "$out" = "$data" ] || rm -rf "$out"

labels=(kx_t_plain unzip_t_plain 7zz_t_plain kx_t unzip_t kx_t_ascii 7zz_t kx_d unzip_d)
python3 - "${#labels[@]}" $(for l in "${labels[@]}"; do echo "${times[$l]// /,}"; done) \
  $(for l in "${labels[@]}"; do echo "${cpu[$l]// /,}"; done) <<'PY'
import statistics, sys
labels = ["kxextract -t (plain zip)", "unzip -qq -t (plain zip)", "7zz t (plain zip)",
          "kxextract -t", "unzip -qq -t -P PW", "kxextract -t -P ASCII (ascii zip)",
          "7zz t -pASCII (ascii zip)", "kxextract -d OUT", "unzip -qq -j -o -P PW -d OUT"]
n = int(sys.argv[1])
def medians(args):
    return [statistics.median(float(t) for t in a.strip(",").split(",")) for a in args]
wall, proc = medians(sys.argv[2:2 + n]), medians(sys.argv[2 + n:2 + 2 * n])
print(f"  {'command':36s} {'wall s':>8s} {'cpu s':>8s}   (medians; wall runs)")
for label, w, p, runs in zip(labels, wall, proc, sys.argv[2:2 + n]):
    print(f"  {label:36s} {w:8.3f} {p:8.3f}   {runs.strip(',').replace(',', ' ')}")
def ratio(a, b, limit):
    rw, rp = wall[a] / wall[b], proc[a] / proc[b]
    verdict = lambda r: "ok" if r <= limit else "MISSED"
    print(f"  {labels[a]} / {labels[b]}: wall {rw:.3f} {verdict(rw)}, cpu {rp:.3f} "
          f"{verdict(rp)} (target <= {limit})")
ratio(0, 1, 0.45)
ratio(0, 2, 0.6)
ratio(3, 4, 0.45)
ratio(5, 6, 1)
ratio(7, 8, 0.5)
PY

if command -v valgrind >/dev/null; then
  massif=$data/massif.out
  valgrind -q --tool=massif --massif-out-file="$massif" "$kx" -t "$data/payload.zip"
  peak=$(grep -E '^mem_heap(_extra)?_B=' "$massif" | paste - - | tr '=\t' '  ' |
    awk '{ v = $2 + $4; if (v > max) max = v } END { print max }')
  verdict=ok
  [ "$peak" -lt 262144 ] || verdict=MISSED
  echo "  peak heap of kxextract -t (massif, with allocator overhead): $peak bytes ($((peak / 1024)) KiB; target < 256 KiB) $verdict"
fi

if [ -x "$build/bench/engine_bench" ]; then
  echo "bench: micro-benchmarks"
  "$build/bench/engine_bench" --benchmark_min_time=0.5 | tee "$data/micro.txt"
  # Bytes per second of processor time, so that other load on the machine counts less.
  python3 - "$data/micro.txt" <<'PY'
import re, sys
speed = {}
for line in open(sys.argv[1]):
    m = re.match(r"(BM_\w+)\s.*bytes_per_second=([\d.]+)([kMG]?)/s", line)
    if m:
        speed[m.group(1)] = float(m.group(2)) * {"": 1, "k": 1e3, "M": 1e6, "G": 1e9}[m.group(3)]
ours, zlib = speed.get("BM_InflateEntry"), speed.get("BM_ZlibInflate")
if ours and zlib:
    r = ours / zlib
    print(f"  inflate (with CRC-32) / zlib inflate (without): {r:.3f} (target >= 1) {'ok' if r >= 1 else 'MISSED'}")
PY
fi
