#!/usr/bin/env python3
"""Signs the shipped installer the way a release is signed, with a throwaway certificate
made here, and checks the signature with `osslsigncode verify`.

The build directory (default build/win32) is configured with the Authenticode build
settings, the installer is linked and signed by the build itself, the signature is
verified against the throwaway certificate, and the settings are cleared again so that
the next build of that directory is unsigned, as before. Exit status 0 when verified.
"""
import os
import secrets
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
EXE = os.path.join("src", "app", "online_installer.exe")


def run(*args, **kwargs):
    print("+", " ".join(args), flush=True)
    return subprocess.run(list(args), check=True, timeout=1200, **kwargs)


def make_certificate(folder):
    """A self-signed code-signing certificate and its PKCS#12 file with a password file."""
    os.makedirs(folder, exist_ok=True)
    key, cert = os.path.join(folder, "throwaway_key.pem"), os.path.join(folder, "throwaway_cert.pem")
    p12, password = os.path.join(folder, "throwaway.p12"), os.path.join(folder, "throwaway.pass")
    run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert, "-days", "2",
        "-subj", "/CN=Throwaway test publisher", "-addext", "extendedKeyUsage=codeSigning",
        "-addext", "keyUsage=critical,digitalSignature", stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(password, "w", encoding="ascii") as f:
        f.write(secrets.token_hex(16))
    run("openssl", "pkcs12", "-export", "-inkey", key, "-in", cert, "-out", p12, "-passout", f"file:{password}")
    return cert, p12, password


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "win32"))
    if not os.path.isfile(os.path.join(build, "CMakeCache.txt")):
        print(f"{build} is not configured: build the win32 preset first", file=sys.stderr)
        return 2
    cert, p12, password = make_certificate(os.path.join(build, "throwaway-signing"))
    exe = os.path.join(build, EXE)
    try:
        run("cmake", "-S", ROOT, "-B", build, f"-DINSTALLER_SIGN_PKCS12={p12}",
            f"-DINSTALLER_SIGN_PASSWORD_FILE={password}", stdout=subprocess.DEVNULL)
        run("cmake", "--build", build, "-j", "2", "--target", "online_installer")
        result = subprocess.run(["osslsigncode", "verify", "-in", exe, "-CAfile", cert], capture_output=True,
                                text=True, timeout=120)
        print(result.stdout[-2000:])
        if result.returncode != 0 or "Signature verification: ok" not in result.stdout:
            print(result.stderr, file=sys.stderr)
            print("the signed installer does not verify", file=sys.stderr)
            return 1
        # The signature must be over this very file: one changed byte breaks it.
        with open(exe, "rb") as f:
            data = bytearray(f.read())
        data[len(data) // 2] ^= 1
        tampered = exe + ".tampered"
        with open(tampered, "wb") as f:
            f.write(data)
        broken = subprocess.run(["osslsigncode", "verify", "-in", tampered, "-CAfile", cert], capture_output=True,
                                text=True, timeout=120)
        os.remove(tampered)
        if broken.returncode == 0:
            print("a changed byte still verifies", file=sys.stderr)
            return 1
        print("OK: the build signed", exe, "and osslsigncode verifies it")
        return 0
    finally:
        # The throwaway certificate never signs a later build of this directory.
        run("cmake", "-S", ROOT, "-B", build, "-DINSTALLER_SIGN_PKCS12=", "-DINSTALLER_SIGN_PASSWORD_FILE=",
            stdout=subprocess.DEVNULL)


if __name__ == "__main__":
    sys.exit(main())
