"""Certificates for local TLS servers, made with the openssl command: a
certificate authority of one's own and server certificates it issues (or
that sign themselves), for the demo and the tests."""

import collections
import os
import subprocess

# A server's certificate file with its chain (chain), the certificate alone (leaf), its key.
Issued = collections.namedtuple("Issued", "chain leaf key")


def _openssl(*args):
    subprocess.run(["openssl", *args], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


class Authority:
    """A certificate authority kept in `directory` (ca.pem, ca.key), made there the first time."""

    def __init__(self, directory, name="KT_EMailer Test CA"):
        os.makedirs(directory, exist_ok=True)
        self.directory = directory
        self.certificate = os.path.join(directory, "ca.pem")
        self.key = os.path.join(directory, "ca.key")
        if not os.path.exists(self.certificate):
            _openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", self.key, "-out", self.certificate,
                     "-days", "3650", "-subj", "/CN=" + name, "-addext", "basicConstraints=critical,CA:TRUE",
                     "-addext", "keyUsage=critical,keyCertSign,cRLSign")

    def issue(self, stem, name="localhost", days=30, extensions=()):
        """A server certificate for `name`; days=-1 makes one that has expired. `extensions`: more lines for
        openssl's extension file."""
        base = os.path.join(self.directory, stem)
        extension_file = base + ".ext"
        with open(extension_file, "w") as f:
            f.write("subjectAltName=DNS:%s\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n" % name)
            f.write("".join(line + "\n" for line in extensions))
        _openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", base + ".key", "-out", base + ".csr",
                 "-subj", "/CN=" + name)
        _openssl("x509", "-req", "-in", base + ".csr", "-CA", self.certificate, "-CAkey", self.key,
                 "-set_serial", str(int.from_bytes(os.urandom(8), "big")), "-days", str(days),
                 "-extfile", extension_file, "-out", base + ".leaf.pem")
        with open(base + ".pem", "w") as chain:
            for part in (base + ".leaf.pem", self.certificate):
                with open(part) as certificate:
                    chain.write(certificate.read())
        return Issued(base + ".pem", base + ".leaf.pem", base + ".key")


def self_signed(directory, stem, name="localhost"):
    """A server certificate for `name` that signs itself."""
    base = os.path.join(directory, stem)
    _openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", base + ".key", "-out", base + ".pem",
             "-days", "30", "-subj", "/CN=" + name, "-addext", "subjectAltName=DNS:" + name)
    return Issued(base + ".pem", base + ".pem", base + ".key")
