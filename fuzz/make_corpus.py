#!/usr/bin/env python3
"""Writes the seed corpora in fuzz/corpus/<target>/: small valid packets for
each reader, encoded here independently of the library (DWord lengths and
units in network order, tagless). Run from anywhere; it rewrites the seeds."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def dword(v):
    return struct.pack('>I', v & 0xFFFFFFFF)


def stream(data):
    return dword(len(data)) + data


def hstring(s):
    return dword(0) if s is None else stream(s.encode('latin-1') + b'\0')


def value(t, v):
    if t == 0:
        return hstring(v)
    if t in (1, 2):
        return dword(v)
    return struct.pack('>d', v)


def param(name, t, access=1, attr=0x11, flags=1, tag=0, v=0, text='', chain=()):
    """chain: (kind, from, to, tag) tuples."""
    if name is None:
        return dword(0) + bytes([t, flags])
    out = stream(name.encode('latin-1') + b'\0' + text.encode('latin-1') + b'\0')
    out += bytes([t, access & 0xFF, attr, flags, tag]) + value(t, v) + dword(len(chain))
    for kind, lo, hi, vtag in chain:
        out += bytes([kind]) + value(t, lo) + (value(t, hi) if kind == 1 else b'') + dword(vtag)
    return out


def plist(*records):
    return dword(len(records)) + b''.join(records)


TERMINATOR = param(None, 1, flags=3)
GAIN = param('Gain', 1, access=2, attr=0x11, v=5)
MODE = param('Mode', 0, text='how it runs', attr=0x31, v='fast',
             chain=((1, 'a', 'm', 1), (0, 'z', None, 2)))
RATE = param('Rate', 3, access=5, attr=0x00, v=-2.25, chain=((0, 0.5, None, 4), (1, 1.0, 9.5, 5)))
ID = param('Id', 2, access=200, attr=0x10, tag=7, v=0xFFFFFFFF, chain=((1, 1, 9, 3),))
EMPTY = param('Empty', 0, v=None)
WIDE = param('Caf\xe9', 0, v='na\xefve', text='\xb0C')

SEEDS = {
    'fuzz_byte_stream': {
        'ab': stream(b'ab'),
        'several': stream(b'') + stream(b'\x00\x01\x02') + stream(bytes(range(40))),
    },
    'fuzz_word_streams': {
        'words_dwords': dword(6) + bytes([1, 2, 3, 4, 0xA0, 0xB0]) + dword(8) + bytes([1, 2, 3, 4, 0xCA, 0xFE, 0xBA, 0xBE]),
        'empty': dword(0) + dword(0),
    },
    'fuzz_hstring': {
        'ab': hstring('ab'),
        'mixed': hstring('') + hstring(None) + hstring('Gain') + hstring('\xe9t\xe9'),
    },
    'fuzz_lstring': {
        'ab': hstring('ab'),
        'mixed': hstring('x?\xe9') + hstring(None) + hstring(''),
    },
    'fuzz_param': {
        'gain': GAIN,
        'mode': MODE,
        'rate_id': RATE + ID,
        'terminator': TERMINATOR,
        'wide_text': WIDE + EMPTY,
    },
}
LISTS = {
    'empty': plist(TERMINATOR),
    'gain': plist(GAIN, TERMINATOR),
    'mixed': plist(MODE, GAIN, ID, RATE, EMPTY, TERMINATOR),
    'latin1': plist(WIDE, param('', 1, flags=0)),
}
SEEDS['fuzz_param_list_a'] = LISTS
SEEDS['fuzz_param_list_w'] = LISTS

for target, seeds in SEEDS.items():
    folder = os.path.join(HERE, 'corpus', target)
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), 'wb') as f:
            f.write(data)
