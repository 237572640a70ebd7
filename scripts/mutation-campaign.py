#!/usr/bin/env python3
"""A mutation campaign over the command-line tools (long; not part of the test suite).

Small movies of several kinds are made with ffmpeg and vantrel-make, damaged at random (flipped
bits, random and saturated bytes, overwritten runs, truncation, inserted bytes, plausible sizes
and counts in 32-bit fields) and given to a random tool, each run in a child under an
address-space limit and a time limit. Counted: crashes (death by a signal or an abort status),
runs whose peak resident size passed 1 GB, and runs that passed the time limit (apart from
movies whose file declares them longer than ten minutes, counted on their own). The inputs of
every such run are kept in OUT/keep for replaying.

  scripts/mutation-campaign.py BUILD_DIR OUT_DIR [--runs 3000] [--jobs 2] [--seed S] [--timeout 20]
"""
import argparse
import concurrent.futures
import os
import random
import resource
import shutil
import subprocess
import time

LIMIT_AS = 4 << 30
BIG_MB = 1024
LONG_SECONDS = 600  # a movie declared longer than this may take longer than the limit


def ffmpeg(out, *args):
    subprocess.run(["ffmpeg", "-nostdin", "-y", "-loglevel", "error", *args, out], check=True)
    return out


def seeds(build, folder):
    os.makedirs(folder, exist_ok=True)
    p = lambda n: os.path.join(folder, n)
    src = lambda size, rate, d: ["-f", "lavfi", "-i", f"testsrc2=size={size}:rate={rate}:duration={d}"]
    snd = ["-f", "lavfi", "-i", "sine=frequency=440:duration=1"]
    out = [
        ffmpeg(p("h264_aac.mov"), *src("160x120", 25, 1), *snd, "-c:v", "libx264", "-bf", "2",
               "-g", "5", "-pix_fmt", "yuv420p", "-c:a", "aac"),
        ffmpeg(p("mjpeg_pcm.mov"), *src("97x61", 15, 1), *snd, "-c:v", "mjpeg", "-c:a",
               "pcm_s16le", "-movflags", "+faststart"),
        ffmpeg(p("qtrle.mov"), *src("80x60", 24000 / 1001, 0.5), "-c:v", "qtrle"),
        ffmpeg(p("raw.mov"), *src("8x6", 10, 0.5), "-c:v", "rawvideo", "-pix_fmt", "rgb24"),
        ffmpeg(p("h264.mp4"), *src("64x48", 30, 1), "-c:v", "libx264", "-pix_fmt", "yuv420p"),
    ]
    make = os.path.join(build, "tools", "vantrel-make", "vantrel-make")
    for mode, name in (("--copy", "effect_copy.mov"), ("--refer", "effect_refer.mov")):
        subprocess.run([make, "--effect", "dslv", mode, out[0], out[2], "-o", p(name)],
                       check=True, stderr=subprocess.DEVNULL)
        out.append(p(name))
    subprocess.run([make, "--effect", "clou", "-o", p("effect_none.mov")], check=True)
    out.append(p("effect_none.mov"))
    return out


def mutate(b, rng):
    b = bytearray(b)
    for _ in range(1 + rng.randrange(6)):
        if not b:
            break
        at = rng.randrange(len(b))
        kind = rng.randrange(8)
        if kind == 0:
            b[at] ^= 1 << rng.randrange(8)
        elif kind == 1:
            b[at] = rng.randrange(256)
        elif kind == 2:
            b[at] = rng.choice((0, 255))
        elif kind == 3:
            n = min(len(b) - at, 1 + rng.randrange(64))
            b[at:at + n] = bytes(rng.randrange(256) for _ in range(n))
        elif kind == 4:
            del b[at:]
        elif kind == 5:
            b.insert(at, rng.randrange(256))
        else:
            v = rng.randrange(80) if rng.random() < 0.5 else rng.randrange(1 << 32)
            b[at:at + 4] = v.to_bytes(4, "big")[:len(b) - at]
    return bytes(b)


def commands(build, f, out):
    t = lambda n: os.path.join(build, "tools", n, n)
    return [
        [t("movie-info"), f],
        [t("movie-frame"), f, "--time", "0.3", "-o", out + ".png"],
        [t("movie-export"), f, out + ".mp4"],
        [t("movie-export"), f, out + ".pngs", "--codec", "png"],
        [t("movie-export"), f, out + ".mov", "--codec", "prores"],
        [t("movie-render"), f, "--null"],
        [t("movie-flatten"), f, out + "-flat.mov"],
        [t("vantrel-make"), "--effect", "blur", "--copy", f, "-o", out + "-made.mov"],
    ]


def declared_seconds(build, movie):
    """The movie's duration as movie-info reads it (0 when it cannot)."""
    info = os.path.join(build, "tools", "movie-info", "movie-info")
    try:
        import json
        j = json.loads(subprocess.run([info, movie], capture_output=True, timeout=20).stdout)
        return j["duration"] / j["timeScale"]
    except Exception:
        return 0


def one(build, work, keep, n, seed_files, base_seed, timeout):
    rng = random.Random(base_seed * 1_000_003 + n)
    seed = rng.choice(seed_files)
    run_dir = os.path.join(work, f"run{n}")
    os.makedirs(run_dir, exist_ok=True)
    name = os.path.join(run_dir, "in" + os.path.splitext(seed)[1])
    with open(seed, "rb") as s, open(name, "wb") as f:
        f.write(mutate(s.read(), rng))
    args = rng.choice(commands(build, name, os.path.join(run_dir, "out")))
    limit = lambda: resource.setrlimit(resource.RLIMIT_AS, (LIMIT_AS, LIMIT_AS))
    start = time.monotonic()
    p = subprocess.Popen(args, cwd=run_dir, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL, preexec_fn=limit)
    hung = False
    while True:
        pid, status, usage = os.wait4(p.pid, os.WNOHANG)
        if pid:
            break
        if time.monotonic() - start > timeout:
            hung = True
            p.kill()
            pid, status, usage = os.wait4(p.pid, 0)
            break
        time.sleep(0.02)
    p.returncode = 0
    code = os.waitstatus_to_exitcode(status)
    peak = usage.ru_maxrss / 1024
    crash = not hung and (code < 0 or code >= 128 or code not in (0, 1, 2))
    verdict = "hang" if hung else "crash" if crash else "big" if peak > BIG_MB else ""
    if hung and declared_seconds(build, name) > LONG_SECONDS:
        verdict = "long"  # a genuinely long movie (as its file declares it), not a hang
    if verdict:
        dest = os.path.join(keep, f"{verdict}-{n}-{os.path.basename(args[0])}")
        os.makedirs(dest, exist_ok=True)
        shutil.copy(name, dest)
        with open(os.path.join(dest, "command.txt"), "w") as f:
            f.write(" ".join(args) + f"\nstatus {code}, {peak:.0f} MB, "
                    f"{time.monotonic() - start:.1f} s\n")
    shutil.rmtree(run_dir, ignore_errors=True)
    return verdict, os.path.basename(args[0]), code, peak, time.monotonic() - start


def main():
    a = argparse.ArgumentParser()
    a.add_argument("build")
    a.add_argument("out")
    a.add_argument("--runs", type=int, default=3000)
    a.add_argument("--jobs", type=int, default=2)
    a.add_argument("--seed", type=int, default=random.SystemRandom().randrange(1 << 30))
    a.add_argument("--timeout", type=float, default=20)
    o = a.parse_args()
    build = os.path.abspath(o.build)
    work, keep = os.path.join(o.out, "work"), os.path.join(o.out, "keep")
    os.makedirs(work, exist_ok=True)
    os.makedirs(keep, exist_ok=True)
    files = seeds(build, os.path.join(o.out, "seeds"))
    print(f"campaign: {o.runs} runs, seed {o.seed}, {len(files)} seed movies", flush=True)
    counts = {"crash": 0, "big": 0, "hang": 0, "long": 0}
    by_status, peak_max, slowest = {}, 0.0, 0.0
    with concurrent.futures.ThreadPoolExecutor(o.jobs) as pool:
        runs = [pool.submit(one, build, work, keep, n, files, o.seed, o.timeout)
                for n in range(o.runs)]
        for i, r in enumerate(concurrent.futures.as_completed(runs)):
            verdict, tool, code, peak, seconds = r.result()
            by_status[code] = by_status.get(code, 0) + 1
            peak_max, slowest = max(peak_max, peak), max(slowest, seconds)
            if verdict:
                counts[verdict] += 1
                print(f"  {verdict}: {tool} status {code}, {peak:.0f} MB, {seconds:.1f} s",
                      flush=True)
            if (i + 1) % 250 == 0:
                print(f"  {i + 1} runs", flush=True)
    print(f"campaign: {o.runs} runs: {counts['crash']} crashes, {counts['big']} over {BIG_MB} MB, "
          f"{counts['hang']} over {o.timeout:g} s ({counts['long']} more were movies declared "
          f"longer than {LONG_SECONDS} s); statuses {dict(sorted(by_status.items()))}; "
          f"largest peak {peak_max:.0f} MB, slowest {slowest:.1f} s (seed {o.seed})")
    return 1 if counts["crash"] or counts["big"] or counts["hang"] else 0


if __name__ == "__main__":
    raise SystemExit(main())
