#!/usr/bin/env python3
"""Reads the target graph of a fresh configure (cmake --graphviz) and fails on a
cycle among our targets, on a toolkit library that reaches the key store, NSS,
Qt, the font and picture readers (HarfBuzz, libpng, libjpeg), the HTTP transport or
curl, and on a fuzz target that reaches the key store, NSS, the HTTP transport or curl.

usage: check_library_graph.py CMAKE SOURCE_DIR [-DOPTION=VALUE ...]
"""
import re
import subprocess
import sys
import tempfile

TOOLKIT = ["tavra_common", "tavra_asn1", "tavra_crypto", "tavra_pki", "tavra_pdf"]


def read_graph(cmake, source, options, folder):
    dot = folder + "/targets.dot"
    subprocess.run([cmake, "-S", source, "-B", folder + "/tree", "--graphviz=" + dot] + options,
                   check=True, stdout=subprocess.DEVNULL)
    labels, edges = {}, {}
    with open(dot) as f:
        for line in f:
            node = re.match(r'\s*"(node\d+)"\s*\[\s*label\s*=\s*"([^"]*)"', line)
            if node:
                labels[node.group(1)] = node.group(2)
                continue
            edge = re.match(r'\s*"(node\d+)"\s*->\s*"(node\d+)"', line)
            # Test discovery makes each test program name itself; that is no cycle.
            if edge and edge.group(1) != edge.group(2):
                edges.setdefault(edge.group(1), set()).add(edge.group(2))
    graph = {name: set() for name in labels.values()}
    for a, targets in edges.items():
        graph[labels[a]].update(labels[b] for b in targets)
    return graph


def find_cycle(graph):
    state, stack = {}, []

    def visit(node):
        state[node] = "open"
        stack.append(node)
        for nxt in sorted(graph[node]):
            if state.get(nxt) == "open":
                return stack[stack.index(nxt):] + [nxt]
            if nxt not in state:
                found = visit(nxt)
                if found:
                    return found
        stack.pop()
        state[node] = "done"
        return None

    for node in sorted(graph):
        if node not in state:
            found = visit(node)
            if found:
                return found
    return None


def reached(graph, start):
    seen, todo = set(), [start]
    while todo:
        for nxt in graph[todo.pop()]:
            if nxt not in seen:
                seen.add(nxt)
                todo.append(nxt)
    return seen


def is_nss(name):
    return name == "tavra_keystore" or re.search(r"nss|nspr", name, re.IGNORECASE) is not None


def is_media(name):
    # The font and picture readers: only the programs link them.
    return name == "tavra_media" or re.search(r"harfbuzz|png|jpeg", name, re.IGNORECASE) is not None


def is_http(name):
    return name == "tavra_http" or re.search(r"curl", name, re.IGNORECASE) is not None


def main():
    cmake, source, options = sys.argv[1], sys.argv[2], sys.argv[3:]
    with tempfile.TemporaryDirectory() as folder:
        graph = read_graph(cmake, source, options, folder)
    faults = []
    missing = [t for t in TOOLKIT + ["tavra_keystore", "tavra_media", "tavra_http"] if t not in graph]
    if missing:
        faults.append("targets not in the graph: " + ", ".join(missing))
    cycle = find_cycle(graph)
    if cycle:
        faults.append("cycle: " + " -> ".join(cycle))
    for target in TOOLKIT:
        if target in graph:
            bad = sorted(n for n in reached(graph, target)
                         if is_nss(n) or is_media(n) or is_http(n) or n.startswith("Qt"))
            if bad:
                faults.append(target + " reaches " + ", ".join(bad))
    for target in sorted(t for t in graph if t.startswith("fuzz_")):
        bad = sorted(n for n in reached(graph, target) if is_nss(n) or is_http(n))
        if bad:
            faults.append(target + " reaches " + ", ".join(bad))
    for fault in faults:
        print(fault)
    if not faults:
        print("%d targets, no cycle, toolkit and fuzz targets free of the key store and of HTTP"
              % len(graph))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
