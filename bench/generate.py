#!/usr/bin/env python3
"""Writes a password file of N users with real digests, and the peer's
equivalent file in its {SHA} format. Every user's password is "secret"."""

import base64
import hashlib
import random
import sys

ALPHABET = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"
PASSWORD = b"secret"


def salt(value):
    return base64.b64encode(bytes([value & 255, value >> 8, 0, 0])).decode()


def main():
    count, ours, peers = int(sys.argv[1]), sys.argv[2], sys.argv[3]
    rng = random.Random(count)
    sha = "{SHA}" + base64.b64encode(hashlib.sha1(PASSWORD).digest()).decode()
    with open(ours, "w", newline="\n") as out, open(peers, "w", newline="\n") as peer:
        for i in range(count):
            name = "user%07d" % i
            s = salt(rng.randrange(32768))
            digest = base64.b64encode(hashlib.md5(name.encode() + s.encode() + PASSWORD).digest())
            out.write("%s:%s:%s\n" % (name, s, digest.decode()))
            peer.write("%s:%s\n" % (name, sha))


if __name__ == "__main__":
    main()
