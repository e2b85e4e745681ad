#!/usr/bin/env python3
"""Runs lupdate over the program's sources and compares what it finds with
both committed catalogues: same contexts, same source texts, nothing missing,
nothing stale."""
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
from pathlib import Path


def messages(ts_path):
    root = ET.parse(ts_path).getroot()
    found = set()
    for context in root.iter('context'):
        name = context.findtext('name')
        for message in context.iter('message'):
            # The status bar's empty text goes through tr() too; newer
            # lupdates (Qt 6.11) record it, older ones skip it, and an empty
            # text needs no translation either way.
            if message.get('type') == 'obsolete' or not message.findtext('source'):
                continue
            translation = message.find('translation')
            if translation is not None and translation.get('type') in ('obsolete', 'vanished'):
                continue
            found.add((name, message.findtext('source')))
    return found


def main():
    lupdate, source_dir = sys.argv[1], Path(sys.argv[2])
    with tempfile.TemporaryDirectory() as tmp:
        scanned = Path(tmp) / 'scanned.ts'
        dirs = [str(source_dir / d) for d in ('app', 'window', 'meter', 'form')]
        subprocess.run([lupdate, '-silent', '-no-obsolete', '-locations', 'none', *dirs, '-ts', str(scanned)],
                       check=True)
        in_sources = messages(scanned)
    failed = False
    for catalogue in ('lang_en.ts', 'lang_zh.ts'):
        in_catalogue = messages(source_dir / 'resources' / catalogue)
        for ctx, src in sorted(in_sources - in_catalogue):
            print(f'{catalogue}: missing {ctx!r} {src!r}')
            failed = True
        for ctx, src in sorted(in_catalogue - in_sources):
            print(f'{catalogue}: not used by the sources {ctx!r} {src!r}')
            failed = True
    print(f'{len(in_sources)} messages found in the sources')
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
