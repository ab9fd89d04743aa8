"""A certificate authority made for one test with openssl, the server certificates it signs,
and its trust by the host (and so by Wine, which reads the host's store) for a `with`
block only: added with update-ca-certificates and removed again when the block ends.
"""
import contextlib
import os
import shutil
import subprocess
import tempfile

OPENSSL = "/usr/bin/openssl"
LOCAL_CERTIFICATES = "/usr/local/share/ca-certificates"


def _openssl(*args):
    subprocess.run([OPENSSL, *args], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)


class TestCa:
    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="test-ca-")
        self.certificate = os.path.join(self.dir, "ca.pem")
        self.key = os.path.join(self.dir, "ca.key")
        self._serial = 0
        _openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                 f"/CN=Installer Test CA {os.getpid()}", "-addext", "basicConstraints=critical,CA:TRUE", "-addext",
                 "keyUsage=critical,keyCertSign,cRLSign", "-keyout", self.key, "-out", self.certificate)

    def issue(self, dns_name, self_signed=False):
        """(certificate, key) files of a server called `dns_name`, signed by this authority
        (or by itself when `self_signed`: a certificate nobody trusts)."""
        self._serial += 1
        base = os.path.join(self.dir, f"server{self._serial}")
        with open(base + ".ext", "w") as f:
            f.write(f"subjectAltName=DNS:{dns_name}\nextendedKeyUsage=serverAuth\n")
        _openssl("req", "-newkey", "rsa:2048", "-nodes", "-subj", f"/CN={dns_name}", "-keyout", base + ".key", "-out",
                 base + ".csr")
        if self_signed:
            _openssl("x509", "-req", "-in", base + ".csr", "-signkey", base + ".key", "-days", "2", "-extfile",
                     base + ".ext", "-out", base + ".pem")
        else:
            _openssl("x509", "-req", "-in", base + ".csr", "-CA", self.certificate, "-CAkey", self.key, "-set_serial",
                     str(1000 + self._serial), "-days", "2", "-extfile", base + ".ext", "-out", base + ".pem")
        return base + ".pem", base + ".key"

    @contextlib.contextmanager
    def trusted_by_host(self):
        """The host trusts this authority inside the block; the store is as before after it."""
        name = os.path.join(LOCAL_CERTIFICATES, f"installer-test-ca-{os.getpid()}-{id(self)}.crt")
        os.makedirs(LOCAL_CERTIFICATES, exist_ok=True)
        shutil.copyfile(self.certificate, name)
        try:
            subprocess.run(["update-ca-certificates"], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           timeout=120)
            yield
        finally:
            os.remove(name)
            subprocess.run(["update-ca-certificates"], stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=300)

    def cleanup(self):
        shutil.rmtree(self.dir, ignore_errors=True)
