#!/usr/bin/env python3
"""Checks that the folders of src/ are layers: a file includes only headers of its own folder
and of folders in lower layers, whether it writes "folder/file.h" or <folder/file.h>. Then
compares each folder's CMake link list with what its files include: a folder links the library
of every folder it includes, and links no library of ours whose headers it never includes.
Prints every problem and exits 1 when there is one; a folder of src/ that is not in LAYERS is an
error too, so a new folder must be given its place."""
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

INCLUDE = re.compile(r'^\s*#\s*include\s+["<]([^">]+)[">]')
LINK = re.compile(r'target_link_libraries\s*\(([^)]*)\)', re.S)
# Libraries of ours that are not named after their folder.
LIBRARY_FOLDERS = {'tessaly_launcherprogress': 'platform', 'tessaly_cli': 'cli'}
# Libraries of ours that hold no folder's code (flags, generated data).
NOT_FOLDERS = {'tessaly_build_flags'}


def linked_folders(folder_path, folder, problems):
    """The folders whose libraries the folder's CMakeLists.txt links, other than its own."""
    cmake = os.path.join(folder_path, 'CMakeLists.txt')
    if not os.path.exists(cmake):
        return set()
    text = re.sub(r'#[^\n]*', '', open(cmake, encoding='utf-8').read())
    linked = set()
    for match in LINK.finditer(text):
        for word in match.group(1).split()[1:]:
            if not word.startswith('tessaly_') or word in NOT_FOLDERS:
                continue
            target = LIBRARY_FOLDERS.get(word, word[len('tessaly_'):])
            if target != folder:
                linked.add(target)
    return linked


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
        included = set()
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
                    if not os.path.isdir(os.path.join(root, target)):
                        continue  # a library's or Qt's header (<QtCore/QString>, <xlsxwriter/...>)
                    included.add(target)
                    where = f'{os.path.relpath(path, os.path.join(root, ".."))}:{number}'
                    if target not in level:
                        problems.append(f'{where}: includes "{match.group(1)}", which is in no layer')
                    elif level[target] >= level[folder]:
                        way = 'sideways' if level[target] == level[folder] else 'up'
                        problems.append(f'{where}: includes "{match.group(1)}" ({way}: {folder} may include only '
                                        f'folders below it)')
        linked = linked_folders(os.path.join(root, folder), folder, problems)
        for target in sorted(included - linked):
            problems.append(f'src/{folder}/CMakeLists.txt: the folder includes {target}/ but does not link its library')
        for target in sorted(linked - included):
            problems.append(f'src/{folder}/CMakeLists.txt: links the library of {target}/ but includes none of its '
                            f'headers')
    for problem in problems:
        print(problem)
    print(f'layers: {len(problems)} problem(s): includes going up or sideways, link lists that differ from the includes')
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
