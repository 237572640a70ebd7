#!/usr/bin/env python3
"""Hostile movie files through every command-line tool.

Each kind of damaged file is made here (ffmpeg, then atoms edited in place) and given to each
tool in a child process under an address-space limit. Every run must end with its expected
status, within the time limit, with a peak resident size under PEAK_MB, and with a message that
names what it must. Usage: hostile_files.py BUILD_DIR WORK_DIR
"""
import os
import resource
import shutil
import struct
import subprocess
import sys
import time

BUILD, WORK = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
AS_LIMIT = 3 << 30  # address space: FFmpeg's threads reserve much more than they touch
PEAK_MB = 300
SECONDS = 30
TOOLS = ["movie-info", "movie-frame", "movie-export", "movie-render", "movie-flatten",
         "vantrel-make"]
tool = {t: os.path.join(BUILD, "tools", t, t) for t in TOOLS}

# ---- atoms ----------------------------------------------------------------------------------

CONTAINERS = {b"moov", b"trak", b"mdia", b"minf", b"stbl", b"edts", b"dinf"}


def parse(b, lo=0, hi=None):
    hi = len(b) if hi is None else hi
    out = []
    while lo + 8 <= hi:
        size, kind = struct.unpack_from(">I4s", b, lo)
        if size < 8 or lo + size > hi:
            break
        body = parse(b, lo + 8, lo + size) if kind in CONTAINERS else bytearray(b[lo + 8:lo + size])
        out.append([kind, body])
        lo += size
    return out


def ser(nodes):
    out = b""
    for kind, body in nodes:
        data = ser(body) if isinstance(body, list) else bytes(body)
        out += struct.pack(">I4s", 8 + len(data), kind) + data
    return out


def child(node, *path):
    for kind in path:
        node = next(n for n in node[1] if n[0] == kind)
    return node


def tracks(top, handler=None):
    moov = next(n for n in top if n[0] == b"moov")
    return [t for t in moov[1] if t[0] == b"trak" and
            (handler is None or child(t, b"mdia", b"hdlr")[1][8:12] == handler)]


def edit(path, change):
    top = parse(open(path, "rb").read())
    change(top)
    open(path, "wb").write(ser(top))


def ffmpeg(out, *args):
    subprocess.run(["ffmpeg", "-nostdin", "-y", "-loglevel", "error", *args, out], check=True)
    return out


# ---- the hostile kinds ----------------------------------------------------------------------


def sound_gap(src, out):
    """The first sound sample lasts 2^31 - 1 units (a buffer that size was 16 GB)."""
    shutil.copy(src, out)

    def change(top):
        stts = child(tracks(top, b"soun")[0], b"mdia", b"minf", b"stbl", b"stts")
        n = struct.unpack_from(">I", stts[1], 4)[0]
        runs = [struct.unpack_from(">II", stts[1], 8 + 8 * i) for i in range(n)]
        total = sum(c for c, _ in runs)
        stts[1] = struct.pack(">IIIIII", 0, 2, 1, 0x7FFFFFFF, total - 1, runs[0][1])

    edit(out, change)
    return out


def wide_effects(src, out, count):
    """`count` effect tracks of 8192 x 8192 scaled into a 64 x 64 box (each kept its picture)."""
    shutil.copy(src, out)

    def change(top):
        moov = next(n for n in top if n[0] == b"moov")
        fx = tracks(top)[-1]
        for i in range(count):
            t = [b"trak", parse(ser(fx[1]))] if i else fx
            tkhd = child(t, b"tkhd")[1]
            struct.pack_into(">I", tkhd, 12, 100 + i)
            struct.pack_into(">iiiii", tkhd, 40, 0x10000 >> 7, 0, 0, 0, 0x10000 >> 7)
            struct.pack_into(">II", tkhd, 76, 8192 << 16, 8192 << 16)
            if i:
                moov[1].append(t)
        struct.pack_into(">I", child(moov, b"mvhd")[1], 96, 100 + count)

    edit(out, change)
    return out


def table_bomb(src, out, count, samples=0x200000):
    """`count` tracks of `samples` one-byte samples each, from a few bytes of tables each."""
    shutil.copy(src, out)

    def change(top):
        moov = next(n for n in top if n[0] == b"moov")
        video = tracks(top, b"vide")[0]
        moov[1] = [n for n in moov[1] if n[0] != b"trak"]
        for i in range(count):
            t = [b"trak", parse(ser(video[1]))]
            t[1] = [n for n in t[1] if n[0] != b"edts"]
            struct.pack_into(">I", child(t, b"tkhd")[1], 12, i + 1)
            stbl = child(t, b"mdia", b"minf", b"stbl")
            tables = {b"stts": struct.pack(">IIII", 0, 1, samples, 1),
                      b"stsc": struct.pack(">IIIII", 0, 1, 1, samples, 1),
                      b"stsz": struct.pack(">III", 0, 1, samples),
                      b"stco": struct.pack(">III", 0, 1, 8)}
            stbl[1] = [n for n in stbl[1] if n[0] not in tables and n[0] not in (b"stss", b"co64")]
            stbl[1] += [[k, bytearray(v)] for k, v in tables.items()]
            moov[1].append(t)

    edit(out, change)
    return out


def huge_picture(src, out):
    """A video track that claims 16384 x 16384 pixels (PNG export said "bad arguments")."""
    shutil.copy(src, out)

    def change(top):
        struct.pack_into(">II", child(tracks(top, b"vide")[0], b"tkhd")[1], 76, 16384 << 16,
                         16384 << 16)

    edit(out, change)
    return out


def cut(path, fraction):
    with open(path, "r+b") as f:
        f.truncate(int(os.path.getsize(path) * fraction))


# ---- running ----------------------------------------------------------------------------------


def run(args, cwd=WORK, wrap=()):
    """(status, seconds, peak MB, stderr) of one child under the address-space limit."""
    err_path = os.path.join(WORK, "stderr.txt")
    limit = lambda: resource.setrlimit(resource.RLIMIT_AS, (AS_LIMIT, AS_LIMIT))
    with open(err_path, "wb") as err:
        start = time.monotonic()
        p = subprocess.Popen([*wrap, *args], cwd=cwd, stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL, stderr=err, preexec_fn=limit)
        while True:
            pid, status, usage = os.wait4(p.pid, os.WNOHANG)
            if pid:
                break
            if time.monotonic() - start > SECONDS:
                p.kill()
                pid, status, usage = os.wait4(p.pid, 0)
                break
            time.sleep(0.02)
        p.returncode = 0  # reaped here
    return (os.waitstatus_to_exitcode(status), time.monotonic() - start, usage.ru_maxrss / 1024,
            open(err_path, encoding="utf-8", errors="replace").read())


def commands(path, out):
    return {
        "movie-info": [tool["movie-info"], path],
        "movie-frame": [tool["movie-frame"], path, "--time", "0.9", "-o", out + ".png"],
        "movie-export": [tool["movie-export"], path, out + ".mp4"],
        "movie-export png": [tool["movie-export"], path, out + "-pngs", "--codec", "png"],
        "movie-render": [tool["movie-render"], path, "--null"],
        "movie-flatten": [tool["movie-flatten"], path, out + ".mov"],
        "vantrel-make": [tool["vantrel-make"], "--effect", "blur", "--copy", path, "-o",
                         out + "-made.mov"],
    }


def main():
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    w = lambda name: os.path.join(WORK, name)
    lavfi = ["-f", "lavfi", "-i", "testsrc2=size=160x120:rate=25:duration=1", "-f", "lavfi",
             "-i", "sine=frequency=440:duration=1"]
    av = ffmpeg(w("av.mov"), *lavfi, "-c:v", "libx264", "-pix_fmt", "yuv420p", "-c:a", "aac")
    pcm = ffmpeg(w("pcm.mov"), *lavfi, "-s", "64x48", "-c:v", "mjpeg", "-c:a", "pcm_s16le",
                 "-movflags", "+faststart")
    raw = ffmpeg(w("raw.mov"), "-f", "lavfi", "-i", "testsrc2=size=64x48:rate=25:duration=0.04",
                 "-c:v", "rawvideo", "-pix_fmt", "rgb24")
    fx = w("fx.mov")
    assert run([tool["vantrel-make"], "--effect", "clou", "-o", fx])[0] == 0
    src = shutil.copy(pcm, w("src.mov"))
    ref = w("ref.mov")
    assert run([tool["vantrel-make"], "--effect", "blur", "--refer", src, "-o", ref])[0] == 0
    gone = w("gone.mov")
    shutil.copy(src, w("gone-src.mov"))
    assert run([tool["vantrel-make"], "--effect", "blur", "--refer", w("gone-src.mov"), "-o",
                gone])[0] == 0
    os.unlink(w("gone-src.mov"))
    cut(src, 0.3)
    short = shutil.copy(pcm, w("short.mov"))
    cut(short, 0.3)

    # kind: (file, expected status by tool (others 0), text stderr must hold when failing)
    missing = {"movie-frame": 1, "movie-export": 1, "movie-export png": 1, "movie-render": 1,
               "movie-flatten": 1, "vantrel-make": 1}
    kinds = {
        "sound gap (AAC)": (sound_gap(av, w("gap-aac.mov")), {}, None),
        "sound gap (PCM)": (sound_gap(pcm, w("gap-pcm.mov")), {}, None),
        "4 effects of 8192 square": (wide_effects(fx, w("wide4.mov"), 4), {}, None),
        "10 effects of 8192 square": (wide_effects(fx, w("wide10.mov"), 10), {}, None),
        "table bomb, 10 x 2 M samples": (table_bomb(raw, w("bomb.mov"), 10), missing,
                                         {"movie-flatten": "bomb.mov", None: "memory"}),
        "a 16384 square picture": (huge_picture(pcm, w("huge.mov")),
                                   {t: 1 for t in ("movie-frame", "movie-export",
                                                   "movie-export png", "movie-render")}, None),
        "effect of a truncated source": (ref, missing, "src.mov"),
        "effect of a deleted source": (gone, missing, "gone-src.mov"),
        "truncated movie": (short, missing, "short.mov"),
    }
    failures = []
    for k, (kind, (path, expected, names)) in enumerate(kinds.items()):
        for name, args in commands(path, w(f"out{k}")).items():
            want = expected.get(name, 0)
            status, seconds, peak, err = run(args)
            lines = [l for l in err.splitlines() if l and not l.startswith("frame ")]
            ok = status == want and peak <= PEAK_MB and seconds < SECONDS
            # A failure names the cause; vantrel-make's names the output it did not write.
            cause = names.get(name, names[None]) if isinstance(names, dict) else names
            cause = f"out{k}-made.mov" if name == "vantrel-make" else cause
            if ok and status != 0 and cause and not any(cause in l for l in lines):
                ok = False
            if ok and status != 0 and len(lines) == 0:
                ok = False  # a failure says why
            print(f"{'ok  ' if ok else 'FAIL'} {kind:30} {name:17} status {status:3} (want {want})"
                  f" {seconds:5.1f} s {peak:6.0f} MB  {lines[-1][:90] if lines else ''}")
            if not ok:
                failures.append((kind, name))

    # Saving onto a read-only file system ends at once with the output's name (it waited on an
    # alert for ever). A read-only tmpfs in a private mount namespace; a read-only folder when
    # namespaces are not allowed and we are not root.
    ro = w("ro")
    os.makedirs(ro)
    out = os.path.join(ro, "x.mov")
    make = [tool["vantrel-make"], "--effect", "clou", "-o", out]
    mount = ["unshare", "-rm", "sh", "-c", 'mount -t tmpfs -o ro,size=1m tmpfs "$0" && exec "$@"',
             ro]
    if subprocess.run([*mount, "true"], stderr=subprocess.DEVNULL).returncode == 0:
        how, result = "read-only tmpfs", run(make, wrap=mount)
    elif os.geteuid() != 0:
        os.chmod(ro, 0o555)
        how, result = "read-only folder", run(make)
    else:
        how, result = None, None
    if result:
        status, seconds, peak, err = result
        ok = status == 1 and seconds < 10 and out in err and ".vantrel-make-" not in err
        print(f"{'ok  ' if ok else 'FAIL'} vantrel-make onto a {how}: status {status}, "
              f"{seconds:.1f} s: {err.strip()[:120]}")
        if not ok:
            failures.append(("read-only", "vantrel-make"))
    else:
        print("skip vantrel-make onto a read-only file system: no namespace, and root writes")

    if failures:
        print(f"{len(failures)} runs failed")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
