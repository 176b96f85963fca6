#!/usr/bin/env python3
"""Every link and picture of the manual leads to a file that is there, in the
source folder and in the build's copy (pictures lie in a subfolder)."""
import os, sys
from html.parser import HTMLParser
from urllib.parse import urlsplit, unquote

class Refs(HTMLParser):
    def __init__(self):
        super().__init__()
        self.refs = []
    def handle_starttag(self, tag, attrs):
        self.refs += [v for k, v in attrs if k in ("href", "src") and v]

bad = []
for folder in sys.argv[1:]:
    pages = [p for p in os.listdir(folder) if p.endswith(".html")]
    if "index.html" not in pages or "edit.html" not in pages:
        bad.append(f"{folder}: index.html or edit.html (opened by the program) is missing")
    for page in pages:
        parser = Refs()
        parser.feed(open(os.path.join(folder, page), encoding="utf-8").read())
        for ref in parser.refs:
            parts = urlsplit(ref)
            if parts.scheme or not parts.path:
                continue  # another site, or a place on the same page
            if not os.path.isfile(os.path.join(folder, unquote(parts.path))):
                bad.append(f"{folder}/{page}: {ref} does not exist")
print("\n".join(bad) or "every link and picture resolves")
sys.exit(1 if bad else 0)
