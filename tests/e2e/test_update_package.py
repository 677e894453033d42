"""The package's check of its own file: any change to the sealed file is reported as
distortion before anything is written, while an Authenticode signature added after sealing
leaves the package working."""

import subprocess
import tempfile
from pathlib import Path

import harness
from update_support import (LANGUAGES, assert_boxes, assert_nothing_changed, assert_updated,
                            error, error_box, install_sample, package_copy, run_update)


def flip_byte(path, offset):
    with open(path, 'r+b') as f:
        f.seek(offset)
        value = f.read(1)[0]
        f.seek(offset)
        f.write(bytes([value ^ 0x01]))


def truncate(path, cut):
    size = path.stat().st_size
    with open(path, 'r+b') as f:
        f.truncate(size - cut)


def sign(env, unsigned, signed):
    """Signs a copy of the package with a certificate made for this test alone."""
    with tempfile.TemporaryDirectory(dir=env.tmp) as work:
        key, cert = Path(work) / 'key.pem', Path(work) / 'cert.pem'
        subprocess.run(['openssl', 'req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-days', '2',
                        '-subj', '/CN=Kestrane test publisher', '-keyout', str(key), '-out',
                        str(cert)], check=True, capture_output=True, timeout=60)
        subprocess.run(['osslsigncode', 'sign', '-certs', str(cert), '-key', str(key), '-n',
                        'Kestrane update', '-in', str(unsigned), '-out', str(signed)],
                       check=True, capture_output=True, timeout=120)


@harness.smoke
def test_a_package_changed_by_one_byte_reports_distortion_and_writes_nothing(env):
    # (where the byte is, its offset from a file size)
    rows = [('the stored seal', lambda size: 0x1C),
            ('DOS stub text', lambda size: 0x50),
            ('middle of the payload', lambda size: size // 2),
            ('last byte', lambda size: size - 1)]
    # The rows take turns with the interface language, so both are seen.
    for (where, offset), language in zip(rows, LANGUAGES * len(rows)):
        env.reset()
        folder = install_sample(env)
        copy = package_copy(env, 'changed.exe')
        flip_byte(copy, offset(copy.stat().st_size))
        r = run_update(env, exe=copy, language=language, answers=['ok'])
        assert_boxes(r, [error(error_box('distorted', language))])
        assert r.exit_code == 5, (where, language, r.exit_code)
        assert_nothing_changed(env, folder)


@harness.smoke
def test_a_package_signed_after_sealing_still_installs(env):
    folder = install_sample(env)
    copy = package_copy(env, 'unsigned.exe')
    signed = copy.with_name('signed.exe')
    sign(env, copy, signed)
    assert signed.stat().st_size > copy.stat().st_size
    r = run_update(env, exe=signed, args=['modest'])
    assert_boxes(r, [])
    assert r.exit_code == 0
    assert_updated(env, folder)


def test_a_signed_package_changed_or_truncated_reports_distortion(env):
    copy = package_copy(env, 'unsigned.exe')
    signed = copy.with_name('signed.exe')
    sign(env, copy, signed)
    signed_bytes = signed.read_bytes()  # reset() removes the copies
    # (what happens to the signed file)
    rows = [('one byte of the payload changed', lambda p: flip_byte(p, p.stat().st_size // 2)),
            ('eight bytes cut from the signature', lambda p: truncate(p, 8))]
    for what, change in rows:
        env.reset()
        folder = install_sample(env)
        damaged = package_copy(env, 'damaged.exe')
        damaged.write_bytes(signed_bytes)
        change(damaged)
        r = run_update(env, exe=damaged, language='en', answers=['ok'])
        assert_boxes(r, [error(error_box('distorted', 'en'))])
        assert r.exit_code == 5, (what, r.exit_code)
        assert_nothing_changed(env, folder)


def test_an_unsigned_package_cut_short_reports_distortion_or_is_not_loaded(env):
    # A cut that reaches into a section the loader maps makes Windows refuse the file (error
    # 193) before any check can run; a cut into the trailing debug data leaves it loadable,
    # and then the check must catch it. Either way nothing is written.
    for cut in (1, 4096, 64 * 1024):
        env.reset()
        folder = install_sample(env)
        copy = package_copy(env, 'truncated.exe')
        truncate(copy, cut)
        r = run_update(env, exe=copy, language='ru', answers=['ok'])
        if r.start_error is not None:
            assert r.start_error == 193 and r.boxes == [], (cut, r)
        else:
            assert_boxes(r, [error(error_box('distorted', 'ru'))])
            assert r.exit_code == 5, (cut, r.exit_code)
        assert_nothing_changed(env, folder)
