#!/usr/bin/env python3
"""Lists functions longer than LIMIT lines (default 80), signature included, in our C++ sources.

Usage: tools/long-functions.py [LIMIT]. Exits 1 when one is found. A function is a brace block whose head ends
in ')' (optionally const, override, noexcept or a trailing return type) directly inside a namespace, a class or
the file; lambdas and blocks inside functions count toward their function."""
import glob
import re
import sys

FOLDERS = ['app', 'base', 'cli', 'engine', 'feeds', 'front', 'gauges', 'instruments', 'panel', 'resources',
           'server', 'settings', 'sim', 'simlink', 'tests', 'tools', 'web']


def stripped(text):
    """The text with comments, string and character literals blanked, newlines kept."""
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith('//', i):
            j = text.find('\n', i)
            j = n if j < 0 else j
            out.append(' ' * (j - i))
            i = j
        elif text.startswith('/*', i):
            j = text.find('*/', i + 2)
            j = n if j < 0 else j + 2
            out.append(re.sub(r'[^\n]', ' ', text[i:j]))
            i = j
        elif text.startswith('R"', i):
            m = re.match(r'R"([^(]*)\(', text[i:])
            end = text.find(')' + m.group(1) + '"', i) + len(m.group(1)) + 2
            out.append(re.sub(r'[^\n]', ' ', text[i:end]))
            i = end
        elif c in '"\'':
            j = i + 1
            while j < n and text[j] != c:
                j += 2 if text[j] == '\\' else 1
            out.append(c + ' ' * (j - i - 1) + c)
            i = j + 1
        else:
            out.append(c)
            i += 1
    return ''.join(out)


HEAD = re.compile(r'\)\s*(const)?\s*(noexcept)?\s*(override|final)?\s*(->\s*[\w:<>,\s*&]+)?\s*$')
NOT_FUNCTION = re.compile(r'^\s*(if|for|while|switch|catch|else|do|return)\b'  # statements
                          r'|\[[^\]]*\]\s*\(.*\)\s*(mutable)?\s*$|=\s*\[')  # lambdas


def long_functions(path, limit):
    text = stripped(open(path, encoding='utf-8', errors='replace').read())
    found = []
    stack = []  # (kind, start offset of head, start line)
    last_boundary = 0
    for i, c in enumerate(text):
        if c == '{':
            head = text[last_boundary:i]
            in_function = any(kind == 'function' for kind, _, _ in stack)
            kind = 'block'
            if not in_function and HEAD.search(head) and not NOT_FUNCTION.search(head.strip().split('\n')[-1]):
                kind = 'function'
            head_start = last_boundary + len(head) - len(head.lstrip())
            stack.append((kind, head_start, text.count('\n', 0, head_start) + 1))
            last_boundary = i + 1
        elif c == '}':
            if stack:
                kind, start, line = stack.pop()
                if kind == 'function':
                    length = text.count('\n', start, i) + 1
                    if length > limit:
                        name = text[start:text.find('(', start)].split()[-1] if '(' in text[start:i] else '?'
                        found.append((length, path, line, name))
            last_boundary = i + 1
        elif c == ';':
            last_boundary = i + 1
    return found


def main():
    limit = int(sys.argv[1]) if len(sys.argv) > 1 else 80
    found = []
    for folder in FOLDERS:
        paths = glob.glob(folder + '/**/*.cpp', recursive=True) + glob.glob(folder + '/**/*.h', recursive=True)
        for path in sorted(paths):
            found += long_functions(path, limit)
    for length, path, line, name in sorted(found, reverse=True):
        print(f'{length:4d} lines  {path}:{line}  {name}')
    return 1 if found else 0


if __name__ == '__main__':
    sys.exit(main())
