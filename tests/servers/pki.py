#!/usr/bin/env python3
"""Scratch certificate authority for the local HTTPS test servers.

Usage: pki.py DIR [--force]

Writes into DIR, with the `openssl` command only:

  ca.pem, ca.key            the test CA ("Corvane Test CA"); point clients at ca.pem
  server.key                the one key shared by every server certificate below
  valid.pem                 localhost, 127.0.0.1 and ::1; serverAuth; valid now
  expired.pem               same names, but valid only during 2020
  wrongname.pem             other.example only (no localhost, no IP address)
  badusage.pem              localhost and 127.0.0.1, but key usage nonRepudiation
                            and extended key usage clientAuth only
  untrusted.pem             localhost and 127.0.0.1, signed by a second CA
  untrusted-ca.pem/.key     that second CA, which is deliberately not in ca.pem
  pki.json                  recipe version and the file names (the cache stamp)

The run is idempotent: when pki.json names the current recipe, every file is
present and the CA and valid certificate stay valid for at least a week more,
nothing is regenerated. Otherwise (or with --force) everything is made afresh.
"""

import argparse
import datetime
import json
import os
import secrets
import shutil
import subprocess
import sys
import tempfile

RECIPE_VERSION = 1

# Leaf certificates: file name -> (subject CN, subjectAltName, extension
# section, issuing CA, validity). Validity None means "from yesterday for
# 825 days"; a pair of datetimes gives explicit dates.
PAST_START = datetime.datetime(2020, 1, 1, tzinfo=datetime.timezone.utc)
PAST_END = datetime.datetime(2020, 12, 31, tzinfo=datetime.timezone.utc)
LOCAL_NAMES = "DNS:localhost,IP:127.0.0.1,IP:::1"
LEAVES = {
    "valid.pem": ("localhost", LOCAL_NAMES, "ext_server", "ca", None),
    "expired.pem": ("localhost", LOCAL_NAMES, "ext_server", "ca", (PAST_START, PAST_END)),
    "wrongname.pem": ("other.example", "DNS:other.example", "ext_server", "ca", None),
    "badusage.pem": ("localhost", LOCAL_NAMES, "ext_badusage", "ca", None),
    "untrusted.pem": ("localhost", LOCAL_NAMES, "ext_server", "untrusted-ca", None),
}
CAS = {"ca": "Corvane Test CA", "untrusted-ca": "Corvane Untrusted Test CA"}

# One configuration for every openssl call, so that the system's openssl.cnf
# (which may add its own default extensions) never takes part.
OPENSSL_CNF = """\
[ req ]
distinguished_name = dn
prompt = no
[ dn ]
CN = placeholder

[ ca ]
default_ca = scratch
[ scratch ]
dir = {work}
database = $dir/index.txt
new_certs_dir = $dir/newcerts
serial = $dir/serial
default_md = sha256
policy = policy_any
unique_subject = no
email_in_dn = no
copy_extensions = none
[ policy_any ]
commonName = supplied

[ ext_ca ]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash

[ ext_server ]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature,keyEncipherment
extendedKeyUsage = serverAuth
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
subjectAltName = $ENV::CORVANE_SAN

[ ext_badusage ]
basicConstraints = critical,CA:FALSE
keyUsage = critical,nonRepudiation
extendedKeyUsage = clientAuth
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
subjectAltName = $ENV::CORVANE_SAN
"""


def openssl(args, env=None, cwd=None):
    """Runs one openssl command and raises with its output when it fails."""
    proc = subprocess.run(["openssl"] + args, env=env, cwd=cwd,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if proc.returncode != 0:
        raise RuntimeError("openssl %s failed:\n%s" % (" ".join(args), proc.stdout))
    return proc.stdout


def asn1_time(when):
    """Formats a datetime the way `openssl ca -startdate/-enddate` wants it."""
    return when.astimezone(datetime.timezone.utc).strftime("%Y%m%d%H%M%SZ")


def still_valid(pem, seconds):
    """True when the certificate in pem stays valid for the given seconds."""
    proc = subprocess.run(["openssl", "x509", "-noout", "-in", pem, "-checkend", str(seconds)],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return proc.returncode == 0


def is_current(directory):
    """True when directory already holds a complete, current set."""
    stamp = os.path.join(directory, "pki.json")
    try:
        with open(stamp) as f:
            info = json.load(f)
    except (OSError, ValueError):
        return False
    if info.get("version") != RECIPE_VERSION:
        return False
    for name in info.get("files", {}).values():
        if not os.path.isfile(os.path.join(directory, name)):
            return False
    week = 7 * 24 * 3600
    return (still_valid(os.path.join(directory, "ca.pem"), week)
            and still_valid(os.path.join(directory, "valid.pem"), week))


def generate(directory):
    """Makes both CAs, the shared server key and every leaf certificate."""
    os.makedirs(directory, exist_ok=True)
    work = tempfile.mkdtemp(prefix=".pki-work-", dir=directory)
    try:
        os.makedirs(os.path.join(work, "newcerts"))
        cnf = os.path.join(work, "openssl.cnf")
        with open(cnf, "w") as f:
            f.write(OPENSSL_CNF.format(work=work))
        env = dict(os.environ, OPENSSL_CONF=cnf, CORVANE_SAN="DNS:unused")

        def out(name):
            return os.path.join(work, name)

        def genkey(path):
            openssl(["genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048",
                     "-out", path], env=env)

        now = datetime.datetime.now(datetime.timezone.utc)
        for ca, cn in CAS.items():
            genkey(out(ca + ".key"))
            openssl(["req", "-config", cnf, "-x509", "-new", "-key", out(ca + ".key"),
                     "-subj", "/CN=" + cn, "-days", "3650", "-sha256",
                     "-extensions", "ext_ca", "-out", out(ca + ".pem")], env=env)
        genkey(out("server.key"))

        for name, (cn, san, section, ca, validity) in LEAVES.items():
            # A fresh database and serial per certificate: `openssl ca` keeps
            # state, and the scratch CA has no use for it between runs.
            with open(out("index.txt"), "w"):
                pass
            with open(out("serial"), "w") as f:
                f.write(secrets.token_hex(16) + "\n")
            csr = out(name + ".csr")
            openssl(["req", "-config", cnf, "-new", "-key", out("server.key"),
                     "-subj", "/CN=" + cn, "-out", csr], env=env)
            if validity is None:
                start, end = now - datetime.timedelta(days=1), now + datetime.timedelta(days=825)
            else:
                start, end = validity
            openssl(["ca", "-config", cnf, "-batch", "-notext",
                     "-cert", out(ca + ".pem"), "-keyfile", out(ca + ".key"),
                     "-extensions", section, "-in", csr, "-out", out(name),
                     "-startdate", asn1_time(start), "-enddate", asn1_time(end)],
                    env=dict(env, CORVANE_SAN=san))

        files = {"ca": "ca.pem", "ca_key": "ca.key", "key": "server.key",
                 "untrusted_ca": "untrusted-ca.pem", "untrusted_ca_key": "untrusted-ca.key"}
        for name in LEAVES:
            files[name[:-4]] = name
        for name in files.values():
            os.replace(out(name), os.path.join(directory, name))
        for key in ("ca.key", "untrusted-ca.key", "server.key"):
            os.chmod(os.path.join(directory, key), 0o600)
        with open(os.path.join(directory, "pki.json.tmp"), "w") as f:
            json.dump({"version": RECIPE_VERSION, "files": files}, f, indent=2)
        os.replace(os.path.join(directory, "pki.json.tmp"), os.path.join(directory, "pki.json"))
    finally:
        shutil.rmtree(work, ignore_errors=True)


def ensure(directory, force=False):
    """Makes the set unless a current one is already there; returns its file map."""
    directory = os.path.abspath(directory)
    if force or not is_current(directory):
        generate(directory)
    with open(os.path.join(directory, "pki.json")) as f:
        files = json.load(f)["files"]
    return {key: os.path.join(directory, name) for key, name in files.items()}


def main():
    parser = argparse.ArgumentParser(description="Make the scratch CA and server certificates.")
    parser.add_argument("dir")
    parser.add_argument("--force", action="store_true", help="regenerate even when current")
    args = parser.parse_args()
    try:
        files = ensure(args.dir, args.force)
    except RuntimeError as e:
        print(e, file=sys.stderr)
        return 1
    json.dump(files, sys.stdout, indent=2)
    print()
    return 0


if __name__ == "__main__":
    sys.exit(main())
