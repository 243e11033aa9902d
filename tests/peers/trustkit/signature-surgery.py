#!/usr/bin/env python3
"""Byte-level edits of signed test files that no signing tool makes.

  merge A.p7 B.p7 OUT.p7   signer infos and certificates of B added to A (same content)
  damage IN OUT            last byte of the message changed (the last signer's signature value)
  graft SRC.p7 DST.p7 OUT  SRC's signer's unauthenticated attributes (its timestamp) put on DST's signer
  embed PE SIG OUT         SIG put into PE's certificate table (PE unsigned)
  tamper PE                one byte of the DOS stub's text changed
  tstinfo P7 OUT           the TSTInfo inside the signer's RFC 3161 timestamp token
  retoken P7 TOKEN OUT     the signer's unauthenticated attributes replaced by TOKEN as its timestamp
"""
import struct
import sys


def read_tlv(b, i):
    tag = b[i]
    i += 1
    n = b[i]
    i += 1
    if n & 0x80:
        k = n & 0x7F
        n = int.from_bytes(b[i:i + k], 'big')
        i += k
    return tag, i, i + n  # tag, content start, content end


def children(b, start, end):
    out = []
    i = start
    while i < end:
        tag, s, e = read_tlv(b, i)
        out.append((tag, i, s, e))
        i = e
    return out


def enc(tag, content):
    n = len(content)
    if n < 0x80:
        head = bytes([tag, n])
    else:
        lb = n.to_bytes((n.bit_length() + 7) // 8, 'big')
        head = bytes([tag, 0x80 | len(lb)]) + lb
    return head + content


def signed_data(b):
    _, s, e = read_tlv(b, 0)                  # ContentInfo
    oid, ctx = children(b, s, e)[:2]
    _, s2, e2 = read_tlv(b, ctx[2])            # SignedData
    return children(b, s2, e2)


def merge(a_path, b_path, out_path):
    a = open(a_path, 'rb').read()
    b = open(b_path, 'rb').read()
    fa = signed_data(a)
    fb = signed_data(b)
    def field(msg, fields, tag):
        return [msg[f[1]:f[3]] for f in fields if f[0] == tag]
    def inner(msg, fields, tag):
        return [(msg, f) for f in fields if f[0] == tag]
    certs = []
    for msg, fields in ((a, fa), (b, fb)):
        for m, f in inner(msg, fields, 0xA0):
            for c in children(m, f[2], f[3]):
                der = m[c[1]:c[3]]
                if der not in certs:
                    certs.append(der)
    signers = b''
    for msg, fields in ((a, fa), (b, fb)):
        f = fields[-1]
        signers += msg[f[2]:f[3]]
    parts = [a[fa[0][1]:fa[0][3]], a[fa[1][1]:fa[1][3]], a[fa[2][1]:fa[2][3]],
             enc(0xA0, b''.join(certs)), enc(0x31, signers)]
    sd = enc(0x30, b''.join(parts))
    _, s, e = read_tlv(a, 0)
    oid = children(a, s, e)[0]
    ci = enc(0x30, a[oid[1]:oid[3]] + enc(0xA0, sd))
    open(out_path, 'wb').write(ci)


def rebuild(msg, fields, signer_infos):
    parts = [msg[f[1]:f[3]] for f in fields[:-1]] + [enc(0x31, signer_infos)]
    sd = enc(0x30, b''.join(parts))
    _, s, e = read_tlv(msg, 0)
    oid = children(msg, s, e)[0]
    return enc(0x30, msg[oid[1]:oid[3]] + enc(0xA0, sd))


def graft(src_path, dst_path, out_path):
    src = open(src_path, 'rb').read()
    dst = open(dst_path, 'rb').read()
    fs = signed_data(src)
    fd = signed_data(dst)
    src_signer = children(src, fs[-1][2], fs[-1][3])[0]
    unauth = children(src, src_signer[2], src_signer[3])[-1]
    assert src[unauth[1]] == 0xA1
    dst_signer = children(dst, fd[-1][2], fd[-1][3])[0]
    body = dst[dst_signer[2]:dst_signer[3]] + src[unauth[1]:unauth[3]]
    open(out_path, 'wb').write(rebuild(dst, fd, enc(0x30, body)))


def damage(in_path, out_path):
    b = bytearray(open(in_path, 'rb').read())
    _, _, end = read_tlv(b, 0)   # extracted signatures may carry padding after the message
    b = b[:end]
    b[-1] ^= 0x5A
    open(out_path, 'wb').write(bytes(b))


def embed(pe_path, sig_path, out_path):
    pe = bytearray(open(pe_path, 'rb').read())
    sig = open(sig_path, 'rb').read()
    pe_off = struct.unpack_from('<I', pe, 0x3C)[0]
    opt = pe_off + 24
    magic = struct.unpack_from('<H', pe, opt)[0]
    security_entry = opt + (112 if magic == 0x20B else 96) + 4 * 8
    while len(pe) % 8:
        pe.append(0)
    padded = sig + b'\0' * (-(8 + len(sig)) % 8)
    entry = struct.pack('<IHH', 8 + len(padded), 0x0200, 0x0002) + padded
    struct.pack_into('<II', pe, security_entry, len(pe), len(entry))
    pe += entry
    open(out_path, 'wb').write(bytes(pe))


def tamper(pe_path):
    b = bytearray(open(pe_path, 'rb').read())
    b[b.find(b'This program cannot')] ^= 0x20
    open(pe_path, 'wb').write(bytes(b))


RFC3161_OID = bytes.fromhex('060a2b0601040182370303 01'.replace(' ', ''))


def tstinfo(p7_path, out_path):
    b = open(p7_path, 'rb').read()
    fields = signed_data(b)
    signer = children(b, fields[-1][2], fields[-1][3])[0]
    unauth = children(b, signer[2], signer[3])[-1]
    assert b[unauth[1]] == 0xA1
    attr = children(b, unauth[2], unauth[3])[0]
    oid, values = children(b, attr[2], attr[3])[:2]
    assert b[oid[1]:oid[3]] == RFC3161_OID
    token = children(b, values[2], values[3])[0]
    tok = b[token[1]:token[3]]
    encap = signed_data(tok)[2]                     # encapContentInfo
    explicit = children(tok, encap[2], encap[3])[1]  # [0] EXPLICIT
    octets = children(tok, explicit[2], explicit[3])[0]
    open(out_path, 'wb').write(tok[octets[2]:octets[3]])


def retoken(p7_path, token_path, out_path):
    b = open(p7_path, 'rb').read()
    token = open(token_path, 'rb').read()
    _, _, end = read_tlv(token, 0)
    token = token[:end]
    fields = signed_data(b)
    signer = children(b, fields[-1][2], fields[-1][3])[0]
    kept = [c for c in children(b, signer[2], signer[3]) if b[c[1]] != 0xA1]
    body = b''.join(b[c[1]:c[3]] for c in kept)
    body += enc(0xA1, enc(0x30, RFC3161_OID + enc(0x31, token)))
    open(out_path, 'wb').write(rebuild(b, fields, enc(0x30, body)))


if __name__ == '__main__':
    cmd, args = sys.argv[1], sys.argv[2:]
    {'merge': merge, 'graft': graft, 'damage': damage, 'embed': embed, 'tamper': tamper,
     'tstinfo': tstinfo, 'retoken': retoken}[cmd](*args)
