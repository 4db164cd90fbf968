#!/usr/bin/env python3
"""Writes a pack-file game and its patch, as engines write them, for bench/run_delta_bench.

  delta_game.py v1 DIR SCALE       version 1: two pack files of assets (index at the end) and
                                   300 loose files; SCALE 1.0 is 2 x 256 MiB of packs
  delta_game.py v2 DIR SCALE NEW   version 2 in DIR (a copy of version 1): per pack 1.5 % of the
                                   assets replaced, 0.5 % inserted, 0.5 % deleted, the index
                                   rewritten; four loose files changed. The content new in the
                                   patch goes to the file NEW (its gzip size is the floor).
"""
import random
import struct
import sys
from pathlib import Path


def asset(rng, size):
    # Half noise, half structure: textures and meshes compress about this well.
    noise = rng.randbytes(size // 2)
    words = b"mesh vertex uv normal bone weight material shader "
    text = (words * (size // len(words) + 1))[: size - len(noise)]
    return noise + text


def assets_of(seed, total):
    rng = random.Random(seed)
    out, size = [], 0
    while size < total:
        a = asset(rng, rng.randint(16 << 10, 160 << 10))
        out.append(a)
        size += len(a)
    return out


def write_pack(path, assets):
    index, offset = [], 0
    with open(path, "wb") as f:
        for i, a in enumerate(assets):
            f.write(a)
            index.append(struct.pack("<IQI", i, offset, len(a)))
            offset += len(a)
        f.write(b"".join(index))
        f.write(struct.pack("<I", len(assets)))
    return b"".join(index)


def main():
    kind, root, scale = sys.argv[1], Path(sys.argv[2]), float(sys.argv[3])
    pack_bytes = int(256 * (1 << 20) * scale)
    game = root
    packs = []
    for n in range(2):
        packs.append(assets_of(100 + n, pack_bytes))
    loose_rng = random.Random(7)
    loose = [asset(loose_rng, loose_rng.randint(1 << 10, 64 << 10)) for _ in range(300)]
    if kind == "v1":
        for n, assets in enumerate(packs):
            (game / "paks").mkdir(parents=True, exist_ok=True)
            write_pack(game / "paks" / f"pak{n}.pak", assets)
        for i, data in enumerate(loose):
            d = game / "config" / f"d{i % 10}"
            d.mkdir(parents=True, exist_ok=True)
            (d / f"loose{i}.ini").write_bytes(data)
        return
    new = bytearray()
    rng = random.Random(4242)
    for n, assets in enumerate(packs):
        count = len(assets)
        for i in rng.sample(range(count), max(1, count * 15 // 1000)):
            assets[i] = asset(rng, len(assets[i]))
            new += assets[i]
        for i in sorted(rng.sample(range(count), max(1, count * 5 // 1000)), reverse=True):
            del assets[i]
        for _ in range(max(1, count * 5 // 1000)):
            a = asset(rng, rng.randint(16 << 10, 160 << 10))
            assets.insert(rng.randrange(len(assets)), a)
            new += a
        new += write_pack(game / "paks" / f"pak{n}.pak", assets)
    for i in (3, 77, 150, 299):
        data = asset(rng, len(loose[i]))
        (game / "config" / f"d{i % 10}" / f"loose{i}.ini").write_bytes(data)
        new += data
    Path(sys.argv[4]).write_bytes(bytes(new))


if __name__ == "__main__":
    main()
