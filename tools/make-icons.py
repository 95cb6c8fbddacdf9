#!/usr/bin/env python3
"""Writes the toolbar images, the program icon and the Download List icon as SVG into
res/icons/. Every toolbar image comes twice: normal (slate) and hot (blue), drawn on a 32-unit
grid with strokes thick enough to stay crisp at 16 pixels."""

import pathlib

OUT = pathlib.Path(__file__).resolve().parent.parent / "res" / "icons"
NORMAL = {"ink": "#37474f", "accent": "#e53935", "fill": "#eceff1"}
HOT = {"ink": "#1565c0", "accent": "#e53935", "fill": "#e3f2fd"}

# Each drawing uses {ink}, {accent} and {fill}.
DRAWINGS = {
    "newtab": """
  <path d="M3 11h26v17H3z" fill="{fill}" stroke="{ink}" stroke-width="2.5" stroke-linejoin="round"/>
  <path d="M3 11V6h11l2 5" fill="none" stroke="{ink}" stroke-width="2.5" stroke-linejoin="round"/>
  <path d="M16 14v11M10.5 19.5h11" stroke="{accent}" stroke-width="3" stroke-linecap="round"/>""",
    "download": """
  <path d="M16 3v17" stroke="{ink}" stroke-width="3.5" stroke-linecap="round"/>
  <path d="M8 13l8 8 8-8" fill="none" stroke="{ink}" stroke-width="3.5" stroke-linecap="round" stroke-linejoin="round"/>
  <path d="M4 23v5h24v-5" fill="none" stroke="{accent}" stroke-width="3" stroke-linecap="round" stroke-linejoin="round"/>""",
    "back": """
  <circle cx="16" cy="16" r="13" fill="{fill}" stroke="{ink}" stroke-width="2.5"/>
  <path d="M23 16H10M15 10l-6 6 6 6" fill="none" stroke="{ink}" stroke-width="3" stroke-linecap="round" stroke-linejoin="round"/>""",
    "forward": """
  <circle cx="16" cy="16" r="13" fill="{fill}" stroke="{ink}" stroke-width="2.5"/>
  <path d="M9 16h13M17 10l6 6-6 6" fill="none" stroke="{ink}" stroke-width="3" stroke-linecap="round" stroke-linejoin="round"/>""",
    "stop": """
  <path d="M11 3h10l8 8v10l-8 8H11l-8-8V11z" fill="{accent}" stroke="{ink}" stroke-width="2" stroke-linejoin="round"/>
  <path d="M11.5 11.5l9 9M20.5 11.5l-9 9" stroke="#ffffff" stroke-width="3.5" stroke-linecap="round"/>""",
    "refresh": """
  <path d="M26 16a10 10 0 1 1-3-7.1" fill="none" stroke="{ink}" stroke-width="3.5" stroke-linecap="round"/>
  <path d="M27 3v8h-8" fill="none" stroke="{ink}" stroke-width="3.5" stroke-linecap="round" stroke-linejoin="round"/>""",
    "about": """
  <circle cx="16" cy="16" r="13" fill="{fill}" stroke="{ink}" stroke-width="2.5"/>
  <circle cx="16" cy="9.5" r="2.3" fill="{ink}"/>
  <path d="M16 14.5V24" stroke="{ink}" stroke-width="3.5" stroke-linecap="round"/>""",
}

PROGRAM = """
  <rect x="2" y="4" width="28" height="24" rx="5" fill="#c62828"/>
  <path d="M13 10v12l10-6z" fill="#ffffff"/>"""

PANE = """
  <rect x="3" y="4" width="26" height="24" rx="3" fill="#eceff1" stroke="#37474f" stroke-width="2.5"/>
  <path d="M8 11h16M8 16h16M8 21h10" stroke="#37474f" stroke-width="2.5" stroke-linecap="round"/>
  <path d="M24 18v8M20.5 22.5L24 26l3.5-3.5" fill="none" stroke="#1e88e5" stroke-width="2.5" stroke-linecap="round" stroke-linejoin="round"/>"""


def svg(body: str) -> str:
    return ('<svg xmlns="http://www.w3.org/2000/svg" width="32" height="32" viewBox="0 0 32 32">'
            + body + "\n</svg>\n")


def main() -> None:
    OUT.mkdir(parents=True, exist_ok=True)
    for name, drawing in DRAWINGS.items():
        (OUT / f"{name}.svg").write_text(svg(drawing.format(**NORMAL)))
        (OUT / f"{name}-hot.svg").write_text(svg(drawing.format(**HOT)))
    (OUT / "quillmoor.svg").write_text(svg(PROGRAM))
    (OUT / "downloadlist.svg").write_text(svg(PANE))


if __name__ == "__main__":
    main()
