#!/usr/bin/env python3
"""Writes real samples of one untrusted input into a folder, as the seeds of its fuzz target:

    make_seeds.py pagetext|progress|version FOLDER [--data DIR] [--front PROGRAM]

pagetext: the demo site's pages as it serves them, and a page of the system's documentation.
progress: the console output of the system's ffmpeg converting a demo video, and, with --front,
that of the converter front (what the program reads) for some of the program's presets.
version: the demo maker's version document as served, its error pages, and documents that
announce a version in other shapes.
--data is where the demo site keeps the videos it makes once (default: a folder beside FOLDER).
"""

import argparse
import os
import subprocess
import sys
import tempfile
import urllib.error
import urllib.request

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SERVER = os.path.join(ROOT, "tools", "demo-site", "server.py")
sys.path.insert(0, os.path.dirname(SERVER))
import server as demo  # noqa: E402


def save(folder, name, data):
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


class DemoSite:
    """The demo site and maker's server, started for the duration of a with block."""

    def __init__(self, data, version=None):
        command = [sys.executable, SERVER, "--data", data]
        if version is not None:
            command += ["--version", version]
        self.process = subprocess.Popen(command, stdout=subprocess.PIPE, text=True)
        line = self.process.stdout.readline().split()
        if len(line) != 2 or line[0] != "ready":
            self.process.kill()
            raise SystemExit("the demo site did not start")
        self.address = "http://" + line[1]

    def get(self, path):
        try:
            with urllib.request.urlopen(self.address + path, timeout=60) as response:
                return response.read()
        except urllib.error.HTTPError as error:
            return error.read()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.process.terminate()
        self.process.wait()


def pagetext(folder, data):
    with DemoSite(data) as site:
        save(folder, "home.html", site.get("/"))
        for video in demo.VIDEOS:
            save(folder, "watch-%s.html" % video[0], site.get("/watch?v=" + video[0]))
        save(folder, "not-found.html", site.get("/watch?v=missing"))
    # A page written by other hands than ours; every Debian system has it.
    other = "/usr/share/doc/base-passwd/users-and-groups.html"
    if os.path.exists(other):
        with open(other, "rb") as f:
            save(folder, "users-and-groups.html", f.read())


# The program's presets as it passes them, with the target's extension, for the front; and
# today's spelling of two of them for the system's ffmpeg.
FRONT_PRESETS = [
    ("mp3", ".mp3", "-ar 48000 -ab 192 -ac 2"),
    ("iphone", ".mp4", "-vcodec mpeg4 -qscale 7 -s 480x320 -r 29 -b 900 -ar 44100 -ab 128 -ac 2"),
    ("cellphone", ".3gp", "-vcodec h263 -qscale 7 -s 176x144 -r 15 -b 30k -ar 8000 -ab 12.2k -ac 1"),
]
SYSTEM_PRESETS = [
    ("mp3", ".mp3", "-ar 48000 -b:a 192k -ac 2"),
    ("ipod", ".mov", "-s 320x240 -q:v 7 -r 24 -b:v 500k -ar 22050 -b:a 64k -ac 2"),
]


def console_output(program, source, arguments, target):
    run = subprocess.run([program, "-i", source, "-y"] + arguments.split() + [target],
                         stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    return run.stdout


def progress(folder, data, front):
    demo.make_videos(data)
    # The shortest and the longest video: few progress lines, and many.
    sources = [os.path.join(data, video[0] + ".flv") for video in (demo.VIDEOS[2], demo.VIDEOS[3])]
    with tempfile.TemporaryDirectory() as scratch:
        for source in sources:
            stem = os.path.basename(source)[:-4]
            for name, extension, arguments in SYSTEM_PRESETS:
                save(folder, "ffmpeg-%s-%s.txt" % (stem, name),
                     console_output("ffmpeg", source, arguments, os.path.join(scratch, "out" + extension)))
            if front:
                for name, extension, arguments in FRONT_PRESETS:
                    save(folder, "front-%s-%s.txt" % (stem, name),
                         console_output(front, source, arguments, os.path.join(scratch, "out" + extension)))
        # A converter that fails: an input that is not a video.
        broken = os.path.join(scratch, "broken.flv")
        save(scratch, "broken.flv", b"<html>not a video</html>")
        save(folder, "ffmpeg-broken.txt", console_output("ffmpeg", broken, "-ar 48000", os.path.join(scratch, "x.mp3")))


def version(folder, data):
    demo.make_videos(data)
    for announced in (None, "1.1.0.1", "1,2,0,0"):
        with DemoSite(data, announced) as site:
            save(folder, "demo-%s.xml" % (announced or "own"), site.get("/quillmoor_version.xml"))
            if announced is None:
                save(folder, "download-page.html", site.get("/download"))
                save(folder, "not-found.html", site.get("/nothing-here"))
    shapes = {
        "latin1.xml": b"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><Versions><Note>caf\xe9</Note>"
                      b"<QuillmoorYouTube>1.1.0.1</QuillmoorYouTube></Versions>",
        "root-is-version.xml": b"<QuillmoorYouTube>9.9.9.9</QuillmoorYouTube>",
        "deeper.xml": b"<r><p><QuillmoorYouTube>9.9</QuillmoorYouTube></p></r>",
        "cdata-and-entities.xml": b"<!DOCTYPE r [<!ENTITY v \"1.2\">]><r><QuillmoorYouTube>&v;<![CDATA[.3]]>"
                                  b"<!-- -->.4</QuillmoorYouTube></r>",
    }
    for name, document in shapes.items():
        save(folder, name, document)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("target", choices=["pagetext", "progress", "version"])
    parser.add_argument("folder")
    parser.add_argument("--data")
    parser.add_argument("--front")
    options = parser.parse_args()
    os.makedirs(options.folder, exist_ok=True)
    data = options.data or os.path.join(os.path.dirname(os.path.abspath(options.folder)), "demo-data")
    if options.target == "pagetext":
        pagetext(options.folder, data)
    elif options.target == "progress":
        progress(options.folder, data, options.front)
    else:
        version(options.folder, data)


if __name__ == "__main__":
    main()
