#!/usr/bin/python3
"""Renders the user guide (Markdown) to one HTML page for the release.

    render_guide.py GUIDE.md OUT.html --version VERSION

Pictures stay beside the page (screenshots/...), as in docs/.
"""
import argparse
import html

import markdown

PAGE = """<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>{title}</title>
<style>
body {{ font-family: sans-serif; max-width: 52em; margin: 2em auto; padding: 0 1em; line-height: 1.45; }}
img {{ display: block; margin: 0.5em 0 1em; border: 1px solid #ccc; }}
table {{ border-collapse: collapse; }}
th, td {{ border: 1px solid #ccc; padding: 0.3em 0.5em; vertical-align: top; text-align: left; }}
code {{ background: #f3f3f3; }}
</style>
</head>
<body>
{body}
<hr>
<p>QorUpgrade {version}</p>
</body>
</html>
"""


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("guide")
    parser.add_argument("out")
    parser.add_argument("--version", required=True)
    args = parser.parse_args()
    with open(args.guide, encoding="utf-8") as f:
        text = f.read()
    body = markdown.markdown(text, extensions=["tables"], output_format="html")
    title = text.splitlines()[0].lstrip("# ").strip()
    with open(args.out, "w", encoding="utf-8") as f:
        f.write(PAGE.format(title=html.escape(title), body=body, version=html.escape(args.version)))


if __name__ == "__main__":
    main()
