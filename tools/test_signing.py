"""Signs manifests with the test key pair of tests/keys, through openssl (never through the
launcher's own code), for the end-to-end scenarios and the benchmarks. Not for releases."""
import base64
import os
import subprocess

TEST_SIGNING_KEY = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "keys", "update-test.pem")
P256_NUMBER_SIZE = 32


def sign_manifest(document):
    """`document` followed by its signature comment "<!-- KvoSignature: BASE64 -->"."""
    der = subprocess.run(["openssl", "dgst", "-sha256", "-sign", TEST_SIGNING_KEY], input=document,
                         capture_output=True, check=True).stdout
    # SEQUENCE { INTEGER r, INTEGER s }, each integer big-endian, possibly with a leading zero.
    numbers, at = [], 2 + (der[1] & 0x7F if der[1] & 0x80 else 0)
    for _ in range(2):
        length = der[at + 1]
        numbers.append(int.from_bytes(der[at + 2:at + 2 + length], "big").to_bytes(P256_NUMBER_SIZE, "big"))
        at += 2 + length
    return document + b"<!-- KvoSignature: " + base64.b64encode(b"".join(numbers)) + b" -->\r\n"
