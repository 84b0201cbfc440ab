#!/usr/bin/env python3
"""Checks that the folders of src/ are layers: a file includes only headers of its own folder
and of folders in lower layers. Prints every include that goes up or sideways and exits 1 when
there is one; a folder of src/ that is not in LAYERS is an error too, so a new folder must be
given its place."""
import os
import re
import sys

# Bottom to top; folders on one line are side by side and may not include each other.
LAYERS = [
    ['platform'],     # every system call and #ifdef
    ['text'],         # lines in the three encodings, code pages, UTF-8, formatting, file writing
    ['i18n'],         # text lookup, language files, language choice
    ['versioninfo'],  # version texts recorded in the program file
    ['engine'],       # loading, scanning, decoding, the table, the writers, the job
    ['core'],         # identity, data folder, settings.ini, start-up without windows
    ['online'],       # web requests, update check, e-mail check
    ['widgets'],      # dialog wrapper, icons, small shared widgets
    ['windows'],      # every window of the program
    ['app', 'cli'],   # the two programs
]

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def main():
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'src')
    level = {folder: n for n, row in enumerate(LAYERS) for folder in row}
    problems = []
    for folder in sorted(os.listdir(root)):
        if not os.path.isdir(os.path.join(root, folder)):
            continue
        if folder not in level:
            problems.append(f'src/{folder}/: not a declared layer (add it to LAYERS in {sys.argv[0]})')
            continue
        for dirpath, _, files in os.walk(os.path.join(root, folder)):
            for name in sorted(files):
                if not name.endswith(('.h', '.cpp', '.in')):
                    continue
                path = os.path.join(dirpath, name)
                text = open(path, encoding='utf-8', errors='replace').read()
                for number, line in enumerate(text.splitlines(), 1):
                    match = INCLUDE.match(line)
                    if not match:
                        continue
                    target = match.group(1).split('/')[0]
                    if '/' not in match.group(1) or target == folder:
                        continue
                    where = f'{os.path.relpath(path, os.path.join(root, ".."))}:{number}'
                    if target not in level:
                        problems.append(f'{where}: includes "{match.group(1)}", which is in no layer')
                    elif level[target] >= level[folder]:
                        way = 'sideways' if level[target] == level[folder] else 'up'
                        problems.append(f'{where}: includes "{match.group(1)}" ({way}: {folder} may include only '
                                        f'folders below it)')
    for problem in problems:
        print(problem)
    print(f'layers: {len(problems)} include(s) going up or sideways')
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
