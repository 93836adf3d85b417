#!/usr/bin/env python3
"""An independent reading of docs/sealed-format.md: Python's BLAKE2b and the
cryptography package's Argon2id, ChaCha20 and ChaCha20-Poly1305, no Veilmark
code. It recomputes the document's test vector and fails when any value
differs from the one the C++ known-answer test pins."""
import hashlib
import sys

try:
    from cryptography.hazmat.primitives.ciphers import Cipher, algorithms
    from cryptography.hazmat.primitives.ciphers.aead import ChaCha20Poly1305
    from cryptography.hazmat.primitives.kdf.argon2 import Argon2id
except ImportError:
    print("skipped: the cryptography package (44 or later, for Argon2id) is not installed")
    sys.exit(77)

PASSWORD = b"Veilmark"
SALT = bytes(range(16))
ELEMENTS = 4096
# The non-zero AC coefficients of tests/fixtures/sealed/vector.jpg.
JPEG_ELEMENTS = 2134
EXPECTED = {
    "salt positions": [775, 4024, 1332, 3724, 1254, 1434, 560, 1388],
    "master key": "ff0348f4fb13c03b3fb7e8b073599493ee41f14ecc4c2133b2d7d057c5ed7a05",
    "header positions": [1339, 2178, 1219, 3560, 712, 2166, 4064, 2837],
    "first header bits": "01101111010000011010010100111010",
    "jpeg salt positions": [404, 2096, 694, 1940, 654, 748, 294, 725],
}


def keystream_words(key):
    encryptor = Cipher(algorithms.ChaCha20(key, b"\0" * 16), mode=None).encryptor()
    while True:
        block = encryptor.update(b"\0" * 4096)
        for at in range(0, len(block), 8):
            yield int.from_bytes(block[at:at + 8], "little")


def below(words, bound):
    product = next(words) * bound
    low = product & (2**64 - 1)
    if low < bound:
        threshold = (2**64 - bound) % bound
        while low < threshold:
            product = next(words) * bound
            low = product & (2**64 - 1)
    return product >> 64


def subkey(master, number):
    return hashlib.blake2b(b"", digest_size=32, key=master, salt=number.to_bytes(8, "little") + b"\0" * 8,
                           person=b"VMsealed" + b"\0" * 8).digest()


def main():
    moved = {}
    positions = []

    def draw(words, count, elements=ELEMENTS):
        for _ in range(count):
            j = len(positions)
            other = j + below(words, elements - j)
            here, there = moved.get(j, j), moved.get(other, other)
            moved[j], moved[other] = there, here
            positions.append(moved[j])

    salt_key = hashlib.blake2b(PASSWORD, digest_size=32, key=b"Veilmark sealed salt positions 1").digest()
    draw(keystream_words(salt_key), 128)
    master = Argon2id(salt=SALT, length=32, iterations=3, lanes=1, memory_cost=65536).derive(PASSWORD)
    draw(keystream_words(subkey(master, 1)), 192)
    header = (2).to_bytes(4, "little") + bytes([0, 0, 0, 0])  # "Hi": two bytes of text
    sealed_header = ChaCha20Poly1305(subkey(master, 2)).encrypt(b"\0" * 12, header, None)
    bits = "".join(f"{byte:08b}" for byte in sealed_header)
    got = {
        "salt positions": positions[:8],
        "master key": master.hex(),
        "header positions": positions[128:136],
        "first header bits": bits[:32],
    }
    moved.clear()
    positions.clear()
    draw(keystream_words(salt_key), 8, JPEG_ELEMENTS)
    got["jpeg salt positions"] = positions[:8]
    failed = False
    for name, value in got.items():
        print(f"{name}: {value}")
        if value != EXPECTED[name]:
            print(f"  differs from {EXPECTED[name]}")
            failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
