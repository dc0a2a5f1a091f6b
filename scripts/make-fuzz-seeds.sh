#!/usr/bin/env bash
# Generates the seed corpora of the fuzz targets into OUTDIR, one folder per target, from
# archives that Info-ZIP zip makes here and now (stored, deflated at several levels, encrypted
# with the built-in payload password, written to a pipe, with folders, empty files and a
# comment). Nothing large is committed: the corpora are rebuilt whenever they are needed.
#   scripts/make-fuzz-seeds.sh OUTDIR
set -euo pipefail
out=${1:?usage: make-fuzz-seeds.sh OUTDIR}
mkdir -p "$out"
out=$(cd "$out" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
password=$(printf 'Trademark\xa9 1990-1996 Quillon Data Works, Ltd')

# Small files of every kind the engine meets: text, binary, repetitive, empty, a folder.
src=$work/src
mkdir -p "$src/sub"
python3 - "$src" <<'PY'
import os, random, sys
src = sys.argv[1]
rnd = random.Random(1996)
words = b"setup archive window stream inflate karvex entry folder".split()
with open(os.path.join(src, "readme.txt"), "wb") as f:
    f.write(b" ".join(rnd.choice(words) for _ in range(300)) + b"\n")
with open(os.path.join(src, "random.bin"), "wb") as f:
    f.write(bytes(rnd.randrange(256) for _ in range(700)))
with open(os.path.join(src, "runs.dat"), "wb") as f:
    f.write(b"a" * 600 + b"ab" * 300 + bytes(range(256)))
open(os.path.join(src, "empty.txt"), "wb").close()
with open(os.path.join(src, "sub", "notes.txt"), "wb") as f:
    f.write(b"kept below the output folder\n" * 20)
PY

zips=$work/zips
mkdir -p "$zips"
(
  cd "$src"
  zip -q -X -0 "$zips/stored.zip" readme.txt random.bin empty.txt
  zip -q -X -1 "$zips/deflate1.zip" readme.txt runs.dat
  zip -q -X -6 "$zips/deflate6.zip" readme.txt random.bin runs.dat
  zip -q -X -9 "$zips/deflate9.zip" runs.dat readme.txt
  zip -q -X -9 -r "$zips/folders.zip" sub empty.txt
  zip -q -X -9 -P "$password" "$zips/encrypted.zip" readme.txt runs.dat
  zip -q -X -0 -P "$password" "$zips/encrypted-stored.zip" random.bin empty.txt
  zip -q -X -6 -P secret "$zips/other-password.zip" readme.txt
  zip -q -X -6 "$zips/comment.zip" runs.dat
  echo "an archive comment" | zip -q -z "$zips/comment.zip"
  # Written to a pipe, entries carry data descriptors.
  zip -q -X -6 - readme.txt runs.dat | cat >"$zips/streamed.zip"
  zip -q -X -6 -P "$password" - readme.txt | cat >"$zips/streamed-encrypted.zip"
)

python3 - "$zips" "$out" "$src" "$password" <<'PY'
import os, struct, sys, zlib
zips, out, src, password = sys.argv[1], sys.argv[2], sys.argv[3], os.fsencode(sys.argv[4])

def put(target, name, data):
    folder = os.path.join(out, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)

archives = {name: open(os.path.join(zips, name), "rb").read() for name in sorted(os.listdir(zips))}
for name, data in archives.items():
    put("fuzz_engine_test_mode", name, data)
    put("fuzz_engine_extract", name, data)

# Raw Deflate streams: the data of every deflated, unencrypted entry that zip wrote, found by
# walking the local headers, and a few streams from zlib's other strategies.
def local_entries(data):
    at = 0
    while data[at:at + 4] == b"PK\x03\x04":
        flags, method = struct.unpack_from("<HH", data, at + 6)
        size, = struct.unpack_from("<I", data, at + 18)
        n, m = struct.unpack_from("<HH", data, at + 26)
        start = at + 30 + n + m
        yield data[at + 30:at + 30 + n], flags, method, data[start:start + size]
        at = start + size + (16 if flags & 8 else 0)

for name, data in archives.items():
    for entry, flags, method, body in local_entries(data):
        if method == 8 and not flags & 1 and body:
            put("fuzz_inflate", name + "-" + entry.decode().replace("/", "_"), body)
plain = open(os.path.join(src, "readme.txt"), "rb").read() + open(os.path.join(src, "runs.dat"), "rb").read()
for label, level, strategy in [("stored", 0, zlib.Z_DEFAULT_STRATEGY), ("fixed", 6, zlib.Z_FIXED),
                               ("huffman", 6, zlib.Z_HUFFMAN_ONLY), ("rle", 6, zlib.Z_RLE),
                               ("filtered", 9, zlib.Z_FILTERED)]:
    c = zlib.compressobj(level, zlib.DEFLATED, -15, 8, strategy)
    put("fuzz_inflate", "zlib-" + label, c.compress(plain) + c.flush())
put("fuzz_inflate", "empty-final-stored", b"\x01\x00\x00\xff\xff")

# A dynamic block whose first code length is a repeat (16): the decoder repeats length 0
# where zlib refuses the block. Behind a stored block and behind a fixed block, so that the
# refused block starts on and off a byte boundary.
class Bits:
    def __init__(self): self.bits = []
    def put(self, value, n):   # fields: least significant bit first
        self.bits += [(value >> i) & 1 for i in range(n)]
    def code(self, value, n):  # Huffman codes: most significant bit first
        self.bits += [(value >> i) & 1 for i in reversed(range(n))]
    def data(self):
        return bytes(sum(b << j for j, b in enumerate(self.bits[i:i + 8]))
                     for i in range(0, len(self.bits), 8))

def repeat_first_block(w):
    w.put(1, 1); w.put(2, 2); w.put(0, 5); w.put(0, 5); w.put(15, 4)
    lengths = {16: 2, 0: 2, 8: 2, 1: 2}  # code-length codes 00, 01, 10, 11 for 0, 1, 8, 16
    for symbol in [16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15]:
        w.put(lengths.get(symbol, 0), 3)
    codes = {0: 0, 1: 1, 8: 2, 16: 3}
    w.code(codes[16], 2); w.put(0, 2)  # three lengths 0 by repeating "the previous"
    for symbol in [0] * 62 + [1] + [0] * 190 + [1] + [1]:  # 'A' and end of block, 1 bit each
        w.code(codes[symbol], 2)
    w.code(0, 1); w.code(1, 1)  # 'A', end of block

w = Bits(); repeat_first_block(w)
put("fuzz_inflate", "repeat-first", w.data())
w = Bits(); w.put(0, 1); w.put(0, 2); w.put(0, 5); w.put(1, 16); w.put(0xFFFE, 16); w.put(ord("x"), 8)
repeat_first_block(w)
put("fuzz_inflate", "stored-then-repeat-first", w.data())
w = Bits(); w.put(0, 1); w.put(1, 2); w.code(0x30 + ord("y"), 8); w.code(0, 7)
repeat_first_block(w)
put("fuzz_inflate", "fixed-then-repeat-first", w.data())

PY
for target in "$out"/*; do
  echo "make-fuzz-seeds: $(ls "$target" | wc -l) seeds for $(basename "$target")"
done
