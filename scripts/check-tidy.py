#!/usr/bin/env python3
"""Runs clang-tidy (the checks of .clang-tidy) over every source file of src/ that the build
folder compiles, two files at a time, and exits 1 on any finding.

    scripts/check-tidy.py [BUILD_DIR]     (default: build)

The build compiles with GCC's precompiled headers, which clang cannot read: the commands are
given to clang-tidy with each precompiled header's source included as a plain header instead."""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile


def main():
    repo = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(repo, 'build'))
    database = os.path.join(build, 'compile_commands.json')
    if not os.path.exists(database):
        print(f'check-tidy: no {database}; configure the build first')
        return 2
    tidy = shutil.which('clang-tidy-14') or shutil.which('clang-tidy')
    runner = shutil.which('run-clang-tidy-14') or shutil.which('run-clang-tidy')
    if not tidy or not runner:
        print('check-tidy: clang-tidy is not installed (scripts/install-deps.sh installs it)')
        return 2
    source_root = os.path.join(repo, 'src') + os.sep
    with tempfile.TemporaryDirectory() as work:
        entries = []
        for entry in json.load(open(database, encoding='utf-8')):
            if not entry['file'].startswith(source_root) or '_autogen' in entry['file']:
                continue
            command = entry['command']
            for header in set(re.findall(r'-include (\S+/cmake_pch\.hxx)', command)):
                plain = os.path.join(work, f'pch{abs(hash(header))}.h')
                shutil.copyfile(header, plain)
                command = command.replace(header, plain)
            command = command.replace('-Winvalid-pch', '')
            entries.append(dict(entry, command=command))
        with open(os.path.join(work, 'compile_commands.json'), 'w', encoding='utf-8') as out:
            json.dump(entries, out)
        files = sorted({entry['file'] for entry in entries})
        result = subprocess.run([runner, '-quiet', '-clang-tidy-binary', tidy, '-p', work, '-j', '2'] + files,
                                cwd=repo, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    output = re.sub(r'\x1b\[[0-9;]*m', '', result.stdout)  # the runner asks for colours
    findings = [line for line in output.splitlines() if re.search(r': (warning|error): ', line)]
    for line in findings:
        print(line)
    print(f'check-tidy: {len(files)} files, {len(findings)} finding(s)')
    return 1 if findings or result.returncode != 0 else 0


if __name__ == '__main__':
    sys.exit(main())
