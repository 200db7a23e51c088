#!/usr/bin/env python3
"""Seed conversations for the SMB reply targets (smb2_reply, smb1_reply).

Each seed is what fuzz/support/ScriptedPeer.h plays to our client: replies of
[flags][16-bit length][bytes], here a whole minimal but valid session (log-on
as a guest, a share, a folder listing, a file read, the share list, errors).

Usage: make-smb-seeds.py OUTDIR   (OUTDIR/smb2_reply/ and OUTDIR/smb1_reply/)
"""
import os
import struct
import sys

PATCH, UNSOLICITED, RAW, SIGN, SEAL = 1, 2, 4, 8, 16


def chunk(data, flags=PATCH):
    assert len(data) < 65536
    return bytes([flags]) + struct.pack('<H', len(data)) + data


def utf16(s):
    return s.encode('utf-16-le')


def der(tag, content):
    n = len(content)
    if n < 0x80:
        return bytes([tag, n]) + content
    if n <= 0xff:
        return bytes([tag, 0x81, n]) + content
    return bytes([tag, 0x82, n >> 8, n & 0xff]) + content


def ntlm_challenge():
    name = utf16('GROUP')
    info = b''
    for av_id, value in ((2, utf16('GROUP')), (1, utf16('SERVER')), (7, b'\x00' * 8)):
        info += struct.pack('<HH', av_id, len(value)) + value
    info += b'\x00\x00\x00\x00'
    head_len = 56
    msg = b'NTLMSSP\x00' + struct.pack('<I', 2)
    msg += struct.pack('<HHI', len(name), len(name), head_len)
    msg += struct.pack('<I', 0xE2898215)
    msg += bytes(range(1, 9)) + b'\x00' * 8
    msg += struct.pack('<HHI', len(info), len(info), head_len + len(name))
    msg += b'\x06\x01\xb1\x1d\x00\x00\x00\x0f'
    return msg + name + info


def spnego_challenge():
    oid = bytes([0x2b, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x02, 0x0a])
    return der(0xa1, der(0x30, der(0xa0, der(0x0a, b'\x01')) + der(0xa1, der(0x06, oid)) +
                         der(0xa2, der(0x04, ntlm_challenge()))))


def filetime():
    return struct.pack('<Q', 132000000000000000)


def directory_entries(names, with_next_last=False):
    out = b''
    for i, (name, attrs, size) in enumerate(names):
        n = utf16(name)
        entry = struct.pack('<II', 0, i) + filetime() * 4 + struct.pack('<QQII', size, size, attrs, len(n)) + n
        entry += b'\x00' * ((8 - len(entry) % 8) % 8)
        last = i == len(names) - 1
        if not last or with_next_last:
            entry = struct.pack('<I', len(entry)) + entry[4:]
        out += entry
    return out


ENTRIES = [('a.cbz', 0x20, 1000), ('sub', 0x10, 0), ('\u65e5\u672c.cbr', 0x20, 70000)]

# ---- SMB2 -------------------------------------------------------------


def smb2(command, body, status=0, tree=0, session=0x1000, credits=256, flags=1):
    h = b'\xfeSMB' + struct.pack('<HHIHHIIQIIQ', 64, 1, status, command, credits, flags, 0, 0, 0, tree, session)
    h += b'\x00' * 16
    return h + body


def smb2_error(command, status, tree=0):
    return smb2(command, struct.pack('<HBBI', 9, 0, 0, 0) + b'\x00', status=status, tree=tree)


def negotiate2(dialect, security=1, contexts=b'', count=0, caps=0x7):
    body = struct.pack('<HHHH', 65, security, dialect, count) + b'\x11' * 16
    body += struct.pack('<IIII', caps if dialect != 0x0202 else 0, 65536, 65536, 65536)
    body += filetime() + filetime()
    ctx_offset = 128 if contexts else 0
    body += struct.pack('<HHI', 128, 0, ctx_offset)
    assert len(body) == 64
    return smb2(0, body + contexts if contexts else body + b'\x00', session=0)


def contexts311(gmac=False):
    preauth = struct.pack('<HHI', 1, 38, 0) + struct.pack('<HHH', 1, 32, 1) + b'\x22' * 32
    preauth += b'\x00' * ((8 - len(preauth) % 8) % 8)
    signing = struct.pack('<HHI', 8, 4, 0) + struct.pack('<HH', 1, 2 if gmac else 1)
    return preauth + signing


def session2(status, flags, token):
    body = struct.pack('<HHHH', 9, flags, 72, len(token)) + token
    return smb2(1, body, status=status)


def tree2(tree_id, share_flags=0):
    return smb2(3, struct.pack('<HBBIII', 16, 1, 0, share_flags, 0, 0x1F01FF), tree=tree_id)


def create2(tree_id, size, attrs, fid):
    body = struct.pack('<HBBI', 89, 0, 0, 1) + filetime() * 4 + struct.pack('<QQII', size, size, attrs, 0)
    body += struct.pack('<QQII', fid, fid + 100, 0, 0)
    return smb2(5, body, tree=tree_id)


def close2(tree_id):
    return smb2(6, struct.pack('<HHI', 60, 0, 0) + b'\x00' * 56, tree=tree_id)


def query2(tree_id, data):
    return smb2(14, struct.pack('<HHI', 9, 72, len(data)) + data, tree=tree_id)


def read2(tree_id, data, status=0):
    return smb2(8, struct.pack('<HBBIII', 17, 80, 0, len(data), 0, 0) + data, status=status, tree=tree_id)


def ioctl2(tree_id, out, status=0):
    body = struct.pack('<HHI', 49, 0, 0x0011C017) + b'\x00' * 16
    body += struct.pack('<IIIIII', 112, 0, 112, len(out), 0, 0)
    return smb2(11, body + out, status=status, tree=tree_id)


def rpc_bind_ack():
    body = struct.pack('<HHI', 4280, 4280, 0x1234) + struct.pack('<H', 13) + b'\\PIPE\\srvsvc\x00'
    body += b'\x00' * ((4 - (len(body) + 16) % 4) % 4)
    body += struct.pack('<BBH', 1, 0, 0) + struct.pack('<HH', 0, 0) + b'\x04\x5d\x88\x8a\xeb\x1c\xc9\x11\x9f\xe8\x08\x00\x2b\x10\x48\x60' + struct.pack('<I', 2)
    return struct.pack('<BBBBIHHI', 5, 0, 12, 3, 0x10, 16 + len(body), 0, 1) + body


def smb2_session(dialect=0x0302, contexts=b'', count=0, file_data=b'PK' * 500, guest=1, security=1, caps=0x7,
                 logon=PATCH, after=PATCH):
    """A whole session; `logon` flags the final log-on reply, `after` every
    reply after it (the fuzz target signs or seals those flagged so with the
    session key of its fixed random numbers)."""
    tree = 7
    s = chunk(negotiate2(dialect, security=security, contexts=contexts, count=count, caps=caps))
    s += chunk(session2(0xC0000016, 0, spnego_challenge()))
    s += chunk(session2(0, guest, der(0xa1, der(0x30, der(0xa0, der(0x0a, b'\x00'))))), logon)

    def later(data):
        return chunk(data, after)
    s += later(tree2(tree))
    s += later(create2(tree, 0, 0x10, 1))
    s += later(query2(tree, directory_entries(ENTRIES)))
    s += later(smb2_error(14, 0x80000006, tree))
    s += later(close2(tree))
    s += later(create2(tree, len(file_data), 0x20, 2))
    reads = -(-200000 // 65536)
    s += later(read2(tree, file_data))
    for _ in range(reads - 1):
        s += later(smb2_error(8, 0xC0000011, tree))
    s += later(close2(tree))
    s += later(create2(tree, 0, 0x80, 3))
    s += later(ioctl2(tree, rpc_bind_ack(), status=0x80000005))
    s += later(read2(tree, b'\x00' * 24))
    s += later(close2(tree))
    s += later(smb2(4, struct.pack('<HH', 4, 0), tree=tree))
    return s


def smb2_seeds():
    yield 'session_302', smb2_session()
    yield 'session_202', smb2_session(dialect=0x0202)
    yield 'session_311', smb2_session(dialect=0x0311, contexts=contexts311(), count=2)
    yield 'session_311_gmac', smb2_session(dialect=0x0311, contexts=contexts311(True), count=2)
    # A named user's session, signed (signing required), and sealed (the
    # server asks for encryption; its log-on reply signed).
    yield 'session_302_signed', smb2_session(guest=0, security=3, logon=PATCH | SIGN, after=PATCH | SIGN)
    yield 'session_302_sealed', smb2_session(guest=4, caps=0x47, logon=PATCH | SIGN, after=PATCH | SEAL)
    yield 'logon_refused', chunk(negotiate2(0x0302)) + chunk(session2(0xC0000016, 0, spnego_challenge())) + \
        chunk(smb2_error(1, 0xC000006D))
    yield 'share_missing', smb2_session()[:0] + chunk(negotiate2(0x0210)) + \
        chunk(session2(0xC0000016, 0, spnego_challenge())) + chunk(session2(0, 1, b'')) + \
        chunk(smb2_error(3, 0xC00000CC))
    # An interim answer before the real one, and a credit-starved server.
    yield 'pending', chunk(negotiate2(0x0302)) + chunk(smb2(0, b'\x09\x00' + b'\x00' * 7, status=0x103, flags=3)) + \
        chunk(session2(0xC0000016, 0, spnego_challenge()), UNSOLICITED)
    yield 'encrypted_share', chunk(negotiate2(0x0302)) + chunk(session2(0xC0000016, 0, spnego_challenge())) + \
        chunk(session2(0, 1, b'')) + chunk(tree2(9, 0x8000)) + chunk(smb2(4, struct.pack('<HH', 4, 0), tree=9))

# ---- SMB1 -------------------------------------------------------------


def smb1(command, words, data, status=0, tid=0, uid=0x64, mid=0):
    h = b'\xffSMB' + bytes([command]) + struct.pack('<IBHH', status, 0x98, 0xC853, 0) + b'\x00' * 8
    h += struct.pack('<HHHHH', 0, tid, 0xFEFF, uid, mid)
    return h + bytes([len(words) // 2]) + words + struct.pack('<H', len(data)) + data


def negotiate1(extended=True):
    caps = 0x8000F3FD if extended else 0x0000F3FD
    words = struct.pack('<HBHHIIII', 0, 3, 50, 1, 16644, 65536, 0x55, caps) + filetime() + struct.pack('<h', 0)
    if extended:
        words += b'\x00'
        data = b'\x33' * 16
    else:
        words += b'\x08'
        data = bytes(range(11, 19)) + utf16('GROUP\x00') + utf16('SERVER\x00')
    assert len(words) == 34
    return smb1(0x72, words, data)


def session1(status, blob, action=1):
    words = struct.pack('<BBHHH', 0xFF, 0, 0, action, len(blob))
    data = blob + (b'\x00' if len(blob) % 2 == 0 else b'') + utf16('Unix\x00') + utf16('Samba\x00')
    return smb1(0x73, words, data, status=status)


def tree1(tid, service):
    return smb1(0x75, struct.pack('<BBHH', 0xFF, 0, 0, 1), service + b'\x00', tid=tid)


def trans1(command, tid, params, data, status=0, total=None):
    # Parameters and data start 4-aligned after the 55-byte fixed part.
    p_off = 56
    d_off = p_off + len(params)
    d_off += (4 - d_off % 4) % 4
    tp, td = total if total else (len(params), len(data))
    words = struct.pack('<HHHHHHHHHBB', tp, td, 0, len(params), p_off, 0, len(data), d_off, 0, 0, 0)
    body = b'\x00' + params + b'\x00' * (d_off - p_off - len(params)) + data
    return smb1(command, words, body, status=status, tid=tid)


def rap_shares():
    shares = [('books', 0, 'Comics here'), ('IPC$', 3, 'IPC'), ('\xe9t\xe9', 0, '')]
    fixed, strings = b'', b''
    base = 20 * len(shares)
    for name, kind, comment in shares:
        raw = name.encode('latin-1')
        ptr = base + len(strings) if comment else 0
        fixed += raw + b'\x00' * (14 - len(raw)) + struct.pack('<HI', kind, ptr)
        if comment:
            strings += comment.encode() + b'\x00'
    params = struct.pack('<HHHH', 0, 0, len(shares), len(shares))
    return params, fixed + strings


def create1(tid, fid, size, is_dir=0):
    words = struct.pack('<BBHBHI', 0xFF, 0, 0, 0, fid, 1) + filetime() * 4
    words += struct.pack('<IQQHHB', 0x20, size, size, 0, 0, is_dir)
    assert len(words) == 68
    return smb1(0xA2, words, b'', tid=tid)


def read1(tid, data, status=0):
    words = struct.pack('<BBHHHHHH', 0xFF, 0, 0, 0xFFFF, 0, 0, len(data) & 0xFFFF, 0)
    words += struct.pack('<H', len(data) >> 16) + b'\x00' * 8
    # Data right after the byte count (and one pad byte).
    off = 32 + 1 + len(words) + 2 + 1
    words = words[:12] + struct.pack('<H', off) + words[14:]
    return smb1(0x2E, words, b'\x00' + data, status=status, tid=tid)


def smb1_session(options, file_data=b'Rar!' * 250):
    s = b''
    if options & 2:
        s += chunk(b'\x82\x00\x00\x00', RAW)
    extended = not (options & 1)
    s += chunk(negotiate1(extended))
    if extended:
        s += chunk(session1(0xC0000016, spnego_challenge(), action=0))
        s += chunk(session1(0, b''))
    else:
        s += chunk(smb1(0x73, struct.pack('<BBHH', 0xFF, 0, 0, 1), utf16('\x00Unix\x00Samba\x00GROUP\x00')))
    # The share list over IPC$.
    s += chunk(tree1(1, b'IPC'))
    params, data = rap_shares()
    s += chunk(trans1(0x25, 1, params, data))
    s += chunk(smb1(0x71, b'', b'', tid=1))
    # A folder search in two parts, a file read, close.
    s += chunk(tree1(2, b'A:'))
    s += chunk(trans1(0x32, 2, struct.pack('<HHHHH', 5, 2, 0, 0, 0), directory_entries(ENTRIES[:2])))
    s += chunk(trans1(0x32, 2, struct.pack('<HHHH', 1, 1, 0, 0), directory_entries(ENTRIES[2:])))
    s += chunk(create1(2, 0x4001, len(file_data)))
    s += chunk(read1(2, file_data))
    s += chunk(smb1(0x04, b'', b'', tid=2))
    s += chunk(smb1(0x71, b'', b'', tid=2))
    s += chunk(smb1(0x74, struct.pack('<BBH', 0xFF, 0, 0), b''))
    return bytes([options]) + s


def smb1_seeds():
    yield 'extended', smb1_session(0)
    yield 'plain', smb1_session(1)
    yield 'netbios', smb1_session(2)
    yield 'netbios_plain', smb1_session(3)
    yield 'logon_refused', bytes([0]) + chunk(negotiate1()) + \
        chunk(session1(0xC0000016, spnego_challenge(), action=0)) + chunk(smb1(0x73, b'', b'', status=0xC000006D))
    yield 'no_such_share', bytes([1]) + chunk(negotiate1(False)) + chunk(session1(0, b'')) + \
        chunk(smb1(0x75, b'', b'', status=0xC00000CC))
    yield 'netbios_refused', bytes([2]) + chunk(b'\x83\x00\x00\x01\x80', RAW)


def main():
    out = sys.argv[1]
    for target, seeds in (('smb2_reply', smb2_seeds()), ('smb1_reply', smb1_seeds())):
        os.makedirs(os.path.join(out, target), exist_ok=True)
        for name, data in seeds:
            with open(os.path.join(out, target, name), 'wb') as f:
                f.write(data)


if __name__ == '__main__':
    main()
