#!/usr/bin/python3
"""Latency of speech-dispatcher output modules through their own protocol.

Drives a module as the server does (INIT, server audio, SET, then SPEAK of
a short sentence, again and again) and times, from the moment SPEAK is
written, the first 705 audio block and the 702 END event; also the first
block from the moment the module answered 200 OK SPEAKING, which leaves out
the two round trips of the protocol that every module pays alike. Prints
`KEY VALUE` lines (medians and p90 in milliseconds) for bench/run.sh.

    sd_module_latency.py NAME MODULE [CONFIG] [--runs N] [--text TEXT]
                         [--language LANG]
"""

import argparse
import os
import statistics
import subprocess
import time


def read_until(stream, predicate):
    """Lines of the module's output up to the first one that matches."""
    while True:
        line = stream.readline()
        if not line:
            raise RuntimeError("the module ended its output")
        if predicate(line):
            return line


def command(module, text, last):
    module.stdin.write(text.encode())
    module.stdin.flush()
    line = read_until(module.stdout, lambda l: l.startswith(last) or l[:1] in b"34")
    if not line.startswith(last):
        raise RuntimeError("module answered %r" % line)


def measure(args):
    argv = [args.module] + ([args.config] if args.config else [])
    module = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL)
    try:
        command(module, "INIT\n", b"299 OK")
        command(module, "AUDIO\naudio_output_method=server\n.\n", b"203 OK")
        command(module, "SET\nrate=0\npitch=0\nvolume=100\nlanguage=%s\n"
                        "synthesis_voice=NULL\n.\n" % args.language, b"203 OK")
        first, end, own = [], [], []
        for run in range(args.runs + 1):
            start = time.perf_counter()
            command(module, "SPEAK\n", b"202 OK")
            command(module, args.text + "\n.\n", b"200 OK")
            speaking = time.perf_counter()
            read_until(module.stdout, lambda l: l.startswith(b"705-"))
            got_audio = time.perf_counter()
            read_until(module.stdout, lambda l: l.startswith(b"702 END"))
            ended = time.perf_counter()
            if run > 0:  # the first message warms caches up
                first.append((got_audio - start) * 1000)
                end.append((ended - start) * 1000)
                own.append((got_audio - speaking) * 1000)
        module.stdin.write(b"QUIT\n")
        module.stdin.flush()
        module.wait(10)
    finally:
        if module.poll() is None:
            module.kill()
            module.wait()
    return first, end, own


def p90(values):
    return sorted(values)[int(0.9 * (len(values) - 1))]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("name")
    parser.add_argument("module")
    parser.add_argument("config", nargs="?")
    parser.add_argument("--runs", type=int, default=30)
    parser.add_argument("--text", default="今天天气很好，我们一起去公园散步。")
    parser.add_argument("--language", default="zh")
    args = parser.parse_args()
    first, end, own = measure(args)
    for key, values in (("first_block", first), ("end", end),
                        ("speaking_to_first_block", own)):
        print("sd.%s.%s_ms %.3f" % (args.name, key, statistics.median(values)))
        print("sd.%s.%s_p90_ms %.3f" % (args.name, key, p90(values)))


if __name__ == "__main__":
    main()
