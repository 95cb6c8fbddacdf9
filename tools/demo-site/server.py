#!/usr/bin/env python3
"""A demo of the two outside parties Quillmoor talks to, on 127.0.0.1 only.

The video site: a home page, a few video pages with the markers the program reads, and
/get_video answering with real Flash Video files (made once with ffmpeg from test sources, with
a tone). The maker's server: /quillmoor_version.xml announcing a version, and
/download/ffmpeg.zip serving the converter archive the build packs.

    server.py --data DIR [--port N] [--archive ZIP] [--version V] [--port-file F] [--log F]

Prints "ready 127.0.0.1:PORT" once the videos exist and it listens.
"""

import argparse
import hashlib
import html
import http.server
import os
import subprocess
import sys
import tempfile
import urllib.parse

# id, title, seconds, picture source, tone in Hz, views
VIDEOS = [
    ("hB4r_0uRd7w", "Harbour at Dawn", 12, "testsrc2=size=320x240:rate=25", 440, "12,408"),
    ("bNj0-d4y40x", "Learning the Banjo, Day 40", 30, "smptebars=size=320x240:rate=25", 660, "3,991"),
    ("c4t5_4nd_D9", "Cats & Dogs, Part 2", 6, "testsrc=size=320x240:rate=25", 330, "88,120"),
    ("n1ghtTr41nC", "Night Train: To the Coast?", 60, "gradients=size=320x240:rate=25:speed=0.02", 220, "640"),
]
SECRET = b"quillmoor demo site"

PAGE_STYLE = """
  body { font-family: DejaVu Sans, sans-serif; margin: 0; background: #f9f9f9; color: #222; }
  header { background: #fff; border-bottom: 1px solid #ddd; padding: 12px 20px; display: flex;
           align-items: center; gap: 16px; }
  .logo { font-weight: bold; font-size: 22px; color: #c62828; text-decoration: none; }
  input { flex: 1; max-width: 420px; padding: 6px 8px; border: 1px solid #ccc; }
  main { padding: 20px; }
  .grid { display: grid; grid-template-columns: repeat(4, 220px); gap: 18px; }
  .clip { background: #fff; border: 1px solid #e2e2e2; }
  .clip img { width: 220px; height: 124px; object-fit: cover; display: block; }
  .clip p { margin: 6px 8px; font-size: 13px; }
  .meta { color: #777; }
  .player { position: relative; width: 400px; height: 225px; background: #000; }
  .player img { width: 400px; height: 225px; object-fit: cover; opacity: 0.8; }
  .player span { position: absolute; left: 0; top: 0; width: 400px; height: 225px; display: flex;
                 align-items: center; justify-content: center; color: #fff; font-size: 64px; }
  .watch { display: flex; gap: 28px; }
  .related a { display: block; margin: 0 0 10px 0; font-size: 13px; }
  .watch h2 { margin: 10px 0 4px 0; font-size: 20px; }
  .watch p { margin: 4px 0; }
  .hint { color: #555; font-size: 13px; max-width: 400px; }
"""


def token_of(video_id):
    return hashlib.sha256(SECRET + video_id.encode()).hexdigest()[:13]


def make_videos(folder):
    """Writes each video and its picture once; later starts use them as they are."""
    os.makedirs(folder, exist_ok=True)
    for video_id, _title, seconds, picture, tone, _views in VIDEOS:
        flv = os.path.join(folder, video_id + ".flv")
        if not os.path.exists(flv):
            # A name of this run's own: two servers starting at once each write their own.
            handle, part = tempfile.mkstemp(prefix=video_id + ".", suffix=".part", dir=folder)
            os.close(handle)
            subprocess.run(
                ["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y",
                 "-f", "lavfi", "-i", picture,
                 "-f", "lavfi", "-i", f"sine=frequency={tone}:sample_rate=22050",
                 "-t", str(seconds), "-c:v", "flv1", "-q:v", "5", "-c:a", "libmp3lame",
                 "-b:a", "64k", "-f", "flv", part],
                check=True)
            os.replace(part, flv)
        thumb = os.path.join(folder, video_id + ".jpg")
        if not os.path.exists(thumb):
            handle, part = tempfile.mkstemp(prefix=video_id + ".", suffix=".part", dir=folder)
            os.close(handle)
            subprocess.run(
                ["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-ss",
                 str(min(2, seconds - 1)), "-i", flv, "-frames:v", "1", "-f", "image2", part],
                check=True)
            os.replace(part, thumb)


def duration_text(seconds):
    return f"{seconds // 60}:{seconds % 60:02d}"


def home_page():
    cards = "\n".join(
        f'<div class="clip"><a href="/watch?v={video_id}" tabindex="-1"><img src="/thumb/{video_id}.jpg" alt=""></a>'
        f'<p><a href="/watch?v={video_id}">{html.escape(title)}</a></p>'
        f'<p class="meta">{duration_text(seconds)} &middot; {views} views</p></div>'
        for video_id, title, seconds, _p, _t, views in VIDEOS)
    return f"""<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>YouTube - Broadcast Yourself.</title>
<style>{PAGE_STYLE}</style></head>
<body><header><a class="logo" href="/" tabindex="-1">Video Site</a><input placeholder="Search" tabindex="-1"></header>
<main><div class="grid">
{cards}
</div></main></body></html>"""


def watch_page(video):
    video_id, title, seconds, _picture, _tone, views = video
    related = "\n".join(
        f'<a href="/watch?v={other[0]}">{html.escape(other[1])}</a>' for other in VIDEOS if other is not video)
    return f"""<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>YouTube - {html.escape(title)}</title>
<style>{PAGE_STYLE}</style></head>
<body><header><a class="logo" href="/">Video Site</a><input placeholder="Search" tabindex="-1"></header>
<main class="watch"><div>
<div class="player"><img src="/thumb/{video_id}.jpg" alt=""><span>&#9654;</span></div>
<h2>{html.escape(title)}</h2>
<p class="meta">{duration_text(seconds)} &middot; {views} views</p>
<p class="hint">Press Ctrl+D (File &gt; Download Video...) to save this video.</p>
</div><div class="related"><h3>Related videos</h3>
{related}
</div></main>
<script>var swfArgs = {{"video_id": "{video_id}", "l": "{seconds}", "sk": "demo", "t": "{token_of(video_id)}", "hl": "en"}};</script>
</body></html>"""


def maker_page(heading, text):
    return f"""<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Norvane</title><style>{PAGE_STYLE}</style></head>
<body><header><span class="logo">Norvane</span></header><main><h2>{heading}</h2><p>{text}</p></main></body></html>"""


class DemoHandler(http.server.BaseHTTPRequestHandler):
    server_version = "DemoSite/1.0"
    protocol_version = "HTTP/1.1"

    def log_message(self, format, *args):
        if self.server.log:
            self.server.log.write("%s %s\n" % (self.log_date_time_string(), format % args))
            self.server.log.flush()

    def send_bytes(self, status, content_type, body):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def send_file(self, content_type, path):
        size = os.path.getsize(path)
        self.send_response(200)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(size))
        self.end_headers()
        if self.command == "HEAD":
            return
        with open(path, "rb") as source:
            while True:
                block = source.read(256 * 1024)
                if not block:
                    break
                self.wfile.write(block)

    def not_found(self):
        self.send_bytes(404, "text/html; charset=utf-8",
                        maker_page("Not found", html.escape(self.path)).encode())

    def do_HEAD(self):
        self.do_GET()

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query)
        videos = {video[0]: video for video in VIDEOS}
        data = self.server.data
        if url.path == "/":
            self.send_bytes(200, "text/html; charset=utf-8", home_page().encode())
        elif url.path == "/watch" and query.get("v", [""])[0] in videos:
            self.send_bytes(200, "text/html; charset=utf-8", watch_page(videos[query["v"][0]]).encode())
        elif url.path.startswith("/thumb/") and url.path[7:-4] in videos:
            self.send_file("image/jpeg", os.path.join(data, url.path[7:-4] + ".jpg"))
        elif url.path == "/get_video":
            video_id = query.get("video_id", [""])[0]
            if video_id in videos and query.get("t", [""])[0] == token_of(video_id):
                self.send_file("video/x-flv", os.path.join(data, video_id + ".flv"))
            else:
                self.send_bytes(403, "text/plain", b"wrong video or token\n")
        elif url.path == "/quillmoor_version.xml":
            document = ('<?xml version="1.0" encoding="utf-8"?>\n<Versions><QuillmoorYouTube>%s'
                        '</QuillmoorYouTube></Versions>\n' % html.escape(self.server.version))
            self.send_bytes(200, "text/xml; charset=utf-8", document.encode())
        elif url.path == "/download/ffmpeg.zip" and self.server.archive and os.path.exists(self.server.archive):
            self.send_file("application/zip", self.server.archive)
        elif url.path in ("/download", "/download/"):
            self.send_bytes(200, "text/html; charset=utf-8",
                            maker_page("Download Quillmoor", "You have the latest version.").encode())
        else:
            self.not_found()


def project_version(source_root):
    with open(os.path.join(source_root, "CMakeLists.txt")) as cmake:
        for line in cmake:
            if line.startswith("project(") and " VERSION " in line:
                return line.split(" VERSION ")[1].split()[0]
    return "0.0.0.0"


def main():
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--data", required=True, help="folder for the made videos")
    parser.add_argument("--port", type=int, default=0, help="0 picks a free port")
    parser.add_argument("--archive", help="the converter archive to serve")
    parser.add_argument("--version", default=project_version(root), help="version to announce")
    parser.add_argument("--port-file", help="also write host:port here")
    parser.add_argument("--log", help="append each request here")
    options = parser.parse_args()

    make_videos(options.data)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", options.port), DemoHandler)
    server.daemon_threads = True
    server.data = options.data
    server.archive = options.archive
    server.version = options.version
    server.log = open(options.log, "a") if options.log else None
    address = "127.0.0.1:%d" % server.server_address[1]
    if options.port_file:
        with open(options.port_file + ".part", "w") as out:
            out.write(address + "\n")
        os.replace(options.port_file + ".part", options.port_file)
    print("ready " + address, flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    sys.exit(main())
