#!/usr/bin/env python3
"""Runs one example against the local test servers, for CTest.

Reads the servers.env of each fixture the test joined (CORVANE_SERVERS_DIR,
CORVANE_FTP_SERVERS_DIR), expands $CORVANE_... names in the example's
arguments with those settings, removes the test's cookie file
(CORVANE_COOKIE_FILE), and runs the example in a fresh work directory.
Prints the example's output, and "run_example: FAILED" when it exits with a
status other than 0 (the test's FAIL_REGULAR_EXPRESSION).

    run_example.py --work DIR -- PROGRAM [ARG...]
"""
import argparse
import os
import re
import shlex
import shutil
import subprocess
import sys


def read_env(path):
    """The NAME=VALUE pairs of the `export NAME=VALUE` lines of a servers.env."""
    settings = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            words = shlex.split(line)
            if len(words) == 2 and words[0] == "export" and "=" in words[1]:
                name, value = words[1].split("=", 1)
                settings[name] = value
    return settings


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--work", required=True)
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command

    env = dict(os.environ)
    for var in ("CORVANE_SERVERS_DIR", "CORVANE_FTP_SERVERS_DIR"):
        if env.get(var):
            env.update(read_env(os.path.join(env[var], "servers.env")))
    # $NAME or ${NAME}; a name that is not set stays as it is.
    def expand(match):
        return env.get(match.group(1) or match.group(2), match.group(0))
    command = [re.sub(r"\$(?:(\w+)|\{(\w+)\})", expand, word) for word in command]

    # The test's own cookie file, emptied so that every run starts alike.
    if env.get("CORVANE_COOKIE_FILE"):
        for suffix in ("", "-journal", "-wal", "-shm"):
            try:
                os.remove(env["CORVANE_COOKIE_FILE"] + suffix)
            except FileNotFoundError:
                pass
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    print("run_example: " + shlex.join(command), flush=True)
    result = subprocess.run(command, cwd=args.work, env=env, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, timeout=100)
    sys.stdout.write(result.stdout.decode("utf-8", "replace"))
    if result.returncode != 0:
        print(f"run_example: FAILED with exit status {result.returncode}")
    return result.returncode


if __name__ == "__main__":
    sys.exit(main())
