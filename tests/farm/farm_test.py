#!/usr/bin/env python3
"""Batches and chunked exports through GNU parallel, as a user runs them.

Usage: farm_test.py BUILD_DIR SOURCE_DIR WORK_DIR. Fixtures are made here with ffmpeg.
"""
import array
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import time
import unittest

BUILD, SOURCE, WORK = (os.path.abspath(a) for a in sys.argv[1:4])
TOOL = {t: os.path.join(BUILD, "tools", t, t) for t in ("vantrel-make", "movie-export", "movie-info")}
FARM = os.path.join(SOURCE, "scripts", "farm-export.sh")


def run(args, cwd=WORK, env=None, check=True):
    r = subprocess.run(args, cwd=cwd, env=env, capture_output=True, text=True)
    if check and r.returncode != 0:
        raise AssertionError(f"{args} failed ({r.returncode}): {r.stderr}")
    return r


def ffmpeg(out, *args):
    run(["ffmpeg", "-v", "error", "-y", *args, out])
    return out


def probe(path, entries):
    r = run(["ffprobe", "-v", "error", "-of", "json", "-show_entries", entries, path])
    assert r.stderr == "", r.stderr
    return json.loads(r.stdout)


def decode_errors(path):
    return run(["ffmpeg", "-v", "error", "-i", path, "-f", "null", "-"], check=False).stderr


def psnr(a, b):
    r = run(["ffmpeg", "-i", a, "-i", b, "-lavfi", "[0:v][1:v]psnr", "-f", "null", "-"])
    return float(re.search(r"average:([0-9.]+|inf)", r.stderr).group(1))


def pcm(path):
    r = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-vn", "-f", "s16le", "-"],
                       capture_output=True, check=True)
    return array.array("h", r.stdout)


def farm_export(movie, out, *export_options, chunks=4):
    env = dict(os.environ, MOVIE_EXPORT=TOOL["movie-export"], CHUNKS=str(chunks))
    return run([FARM, movie, out, "-j2", "--", *export_options], env=env)


def export(movie, out, *options):
    return run([TOOL["movie-export"], movie, out, *options])


def folder_frames(folder):
    names = sorted(os.listdir(folder))
    frames = []
    for n in names:
        with open(os.path.join(folder, n), "rb") as f:
            frames.append(f.read())
    return names, frames


class Fixture(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        os.makedirs(WORK, exist_ok=True)

    def setUp(self):
        self.dir = os.path.join(WORK, self.id().rsplit(".", 1)[-1])
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(self.dir)

    def path(self, name):
        return os.path.join(self.dir, name)

    def source(self, name, pattern, seconds, size="320x240", rate=30, tone=None):
        args = ["-f", "lavfi", "-i", f"{pattern}=size={size}:rate={rate}"]
        if tone:
            args += ["-f", "lavfi", "-i", f"sine=frequency={tone}:sample_rate=48000", "-c:a", "aac"]
        return ffmpeg(self.path(name), *args, "-t", str(seconds), "-c:v", "libx264", "-shortest")

    def make(self, out, effect, *sources):
        run([TOOL["vantrel-make"], "--effect", effect, *sources, "-o", self.path(out)])
        return self.path(out)


class Batches(Fixture):
    def jobs(self, text):
        with open(self.path("clips.csv"), "w") as f:
            f.write(text)
        return run([TOOL["vantrel-make"], "--jobs", "clips.csv"], cwd=self.dir, check=False)

    def tracks(self, movie):
        # Our reader and an independent one see the same tracks.
        ours = len(json.loads(run([TOOL["movie-info"], movie]).stdout)["tracks"])
        self.assertEqual(len(probe(movie, "stream=codec_type")["streams"]), ours, movie)
        return ours

    def test_batch_through_parallel_makes_good_jobs_and_names_the_bad_line(self):
        self.source("a.mov", "testsrc2", 1, "160x120", 15)
        self.source("b c.mov", "smptebars", 1, "160x120", 15)
        listing = self.jobs("a,b,effect,parameters,output\n"
                            ",,clou,fgdc=#ff8000,clouds.mov\n"
                            "a.mov,,blur,,blurred.mov\n"
                            "a.mov,,fmns,sden=40,noise.mov\n"
                            "a.mov,b c.mov,dslv,,\"dissolve, 1.mov\"\n"
                            "b c.mov,missing.mov,wipe,,bad.mov\n"
                            "b c.mov,a.mov,wipe,,wipe.mov\n")
        self.assertEqual(listing.returncode, 0, listing.stderr)
        r = subprocess.run(["parallel", "-j2"], input=listing.stdout, cwd=self.dir, text=True,
                           capture_output=True)
        self.assertEqual(r.returncode, 1, r.stderr)  # one job failed
        self.assertEqual(r.stderr.strip(), "vantrel-make: clips.csv:6: cannot read missing.mov")
        made = {"clouds.mov": 1, "blurred.mov": 2, "noise.mov": 2, "dissolve, 1.mov": 3,
                "wipe.mov": 3}
        for name, tracks in made.items():
            self.assertEqual(self.tracks(self.path(name)), tracks, name)
        self.assertFalse(os.path.exists(self.path("bad.mov")))

    def test_bad_lines_are_reported_by_number_and_the_others_listed(self):
        r = self.jobs("a.mov,,blur,,one.mov\n"
                      "a.mov,,blur,\"unclosed,two.mov\n"
                      "a.mov,,blur,two.mov\n"
                      ",b.mov,dslv,,three.mov\n"
                      "# a comment\n"
                      "a.mov,,blur,,\n"
                      "a.mov,,blur,'ksum=1,four.mov\n"
                      "\n"
                      ",,clou,,five.mov\n")
        self.assertEqual(r.returncode, 1)
        lines = [int(n) for n in re.findall(r"clips\.csv:(\d+):", r.stderr)]
        self.assertEqual(lines, [2, 3, 4, 6, 7])
        self.assertEqual([re.search(r"-o' '([^']*)'", c).group(1) for c in r.stdout.splitlines()],
                         ["one.mov", "five.mov"])

    def test_a_killed_job_leaves_no_output_and_a_rerun_completes_it(self):
        a = self.source("a.mov", "testsrc2", 30, "640x480")
        out, exported = self.path("fx.mov"), self.path("fx.mp4")
        job = [TOOL["vantrel-make"], "--skip-existing", "--effect", "fmns", a, "-o", out,
               "--export", exported]
        p = subprocess.Popen(job, stderr=subprocess.DEVNULL)
        while not os.path.exists(out) and p.poll() is None:  # the export has begun
            time.sleep(0.01)
        p.send_signal(signal.SIGKILL)
        p.wait()
        self.assertEqual(p.returncode, -signal.SIGKILL, "the job ended before it was killed")
        self.assertEqual(sorted(os.listdir(self.dir)), ["a.mov", "fx.mov"])
        # What a job killed while the movie was saved leaves goes with the next run here.
        stale = self.path(f".vantrel-make-{socket.gethostname()}-{p.pid}.mov")
        open(stale, "w").close()
        run(job)
        self.assertEqual(probe(exported, "stream=nb_frames")["streams"][0]["nb_frames"], "900")
        self.assertEqual(sorted(os.listdir(self.dir)), ["a.mov", "fx.mov", "fx.mp4"])


class ChunkedExport(Fixture):
    def test_four_chunks_through_parallel_equal_the_single_export(self):
        a = self.source("a.mov", "testsrc2", 20)
        b = self.source("b.mov", "mandelbrot", 20)
        movie = self.make("fx.mov", "dslv", a, b)
        single, joined = self.path("single.mp4"), self.path("joined.mp4")
        export(movie, single, "--crf", "10")
        farm_export(movie, joined, "--crf", "10")
        entries = "stream=nb_frames,r_frame_rate,duration"
        self.assertEqual(probe(joined, entries), probe(single, entries))
        self.assertEqual(probe(joined, "stream=nb_frames")["streams"][0]["nb_frames"], "600")
        self.assertEqual(decode_errors(joined), "")
        self.assertGreaterEqual(psnr(joined, single), 45)
        self.assertEqual(os.listdir(self.dir).count(".joined.mp4.chunks"), 0)

    def test_sound_is_mixed_once_across_the_joins(self):
        movie = self.source("tone.mov", "testsrc2", 6, tone=440)
        single, joined = self.path("single.mp4"), self.path("joined.mp4")
        export(movie, single)
        farm_export(movie, joined, chunks=3)
        self.assertEqual(probe(joined, "stream=codec_name,duration"),
                         probe(single, "stream=codec_name,duration"))
        a, b = pcm(single), pcm(joined)
        self.assertEqual(len(a), len(b))
        self.assertLessEqual(max(abs(x - y) for x, y in zip(a, b)), 2)

    def test_effects_draw_chunk_boundaries_as_one_render(self):
        clip = self.source("clip.mov", "testsrc2", 8, "160x120")
        for effect in ("fmns", "fire", "Baltan", "Vertigo"):
            with self.subTest(effect=effect):
                movie = self.make(effect + ".mov", effect, *([] if effect == "fire" else [clip]))
                one, chunks = self.path(effect + "-one"), []
                export(movie, one, "--codec", "png", "--from", "1", "--to", "7")
                for k in (1, 2, 3):
                    chunks.append(self.path(f"{effect}-{k}"))
                    export(movie, chunks[-1], "--codec", "png", "--from", "1", "--to", "7",
                           "--chunk", f"{k}/3")
                joined = self.path(effect + "-joined")
                run([TOOL["movie-export"], movie, "--join", joined, *chunks, "--from", "1",
                     "--to", "7"])
                names, frames = folder_frames(joined)
                self.assertEqual(len(names), 180)
                self.assertEqual((names, frames), folder_frames(one))

    def test_join_refuses_chunks_that_do_not_make_the_range(self):
        movie = self.source("m.mov", "testsrc2", 2, "160x120")
        other = self.source("o.mov", "testsrc2", 2, "320x240")
        chunks = [self.path(f"c{k}.mp4") for k in (1, 2, 3)]
        for k, c in enumerate(chunks, 1):
            export(movie, c, "--chunk", f"{k}/3")
        export(other, self.path("o1.mp4"), "--chunk", "1/3")
        for given in (chunks[:2], [chunks[0], chunks[2], chunks[1] + ".none"],
                      [self.path("o1.mp4")] + chunks[1:], chunks[:1] * 3):
            with self.subTest(given=[os.path.basename(c) for c in given]):
                r = run([TOOL["movie-export"], movie, "--join", self.path("out.mp4"), *given],
                        check=False)
                self.assertEqual(r.returncode, 1)
                self.assertIn("out.mp4", r.stderr)
                self.assertFalse(os.path.exists(self.path("out.mp4")))

    def test_a_refused_png_join_leaves_the_chunks_whole(self):
        movie = self.source("m.mov", "testsrc2", 1, "160x120")
        chunks = [self.path("c1"), self.path("c2")]
        for k, c in enumerate(chunks, 1):
            export(movie, c, "--codec", "png", "--chunk", f"{k}/2")
        r = run([TOOL["movie-export"], movie, "--join", self.path("out"), chunks[0], chunks[0]],
                check=False)
        self.assertEqual(r.returncode, 1, r.stderr)
        self.assertFalse(os.path.exists(self.path("out")))
        self.assertEqual(len(os.listdir(chunks[0])), 15)

    def test_chunk_arguments_outside_their_range_are_refused(self):
        movie = self.source("m.mov", "testsrc2", 0.2, "160x120")  # 6 frames
        for chunk, status in (("0/4", 2), ("5/4", 2), ("1/0", 2), ("x", 2), ("1/7", 2)):
            with self.subTest(chunk=chunk):
                r = run([TOOL["movie-export"], movie, self.path("c.mp4"), "--chunk", chunk],
                        check=False)
                self.assertEqual(r.returncode, status, r.stderr)
                self.assertFalse(os.path.exists(self.path("c.mp4")))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
