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
    # Read in turn as byte, word and double-word streams, then as narrow and
    # as wide strings.
    'stream_reader': {
        'streams': stream(b'ab') + stream(bytes([1, 2, 3, 4, 0xA0, 0xB0]))
                   + stream(bytes([1, 2, 3, 4, 0xCA, 0xFE, 0xBA, 0xBE])),
        'empty': dword(0) * 3,
        'several': stream(b'') + stream(b'\x00\x01') + stream(bytes(range(40))) + stream(b'\x00\x01\x02'),
        'string_ab': hstring('ab'),
        'strings': hstring('') + hstring(None) + hstring('Gain') + hstring('\xe9t\xe9'),
        'strings_narrowed': hstring('x?\xe9') + hstring(None) + hstring(''),
    },
    'param_reader': {
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
SEEDS['param_reader'].update({'list_' + name: data for name, data in LISTS.items()})


def byte(v):
    return bytes([v & 0xFF])


def word(v):
    return struct.pack('>H', v & 0xFFFF)


def qword(v):
    return struct.pack('>Q', v & 0xFFFFFFFFFFFFFFFF)


def timeval(usec, sec):
    """Seconds first, then the microseconds with the RELATIVE bit."""
    return dword(sec) + dword(usec)


def event(etype, size, body, attachments=(), level=3, error=0, evid=0x1234, flags=0x8):
    """attachments: (level, selector, list bytes) in list order."""
    out = byte(etype) + byte(level) + byte(error) + dword(size) + dword(evid)
    out += timeval(0x80000010, 2) + dword(flags)
    for alevel, selector, lst in attachments:
        out += byte(alevel) + byte(selector) + lst
    return out + byte(0) + body


def data_body(payload, aux1=0x1122334455667788, aux2=7, options=0x08, aux3=9, queue_op=1, repeat=3):
    return (qword(aux1) + qword(aux2) + byte(options) + byte(aux3) + byte(queue_op) + word(repeat)
            + timeval(0x80001000, 0) + stream(payload))


def items_body(count, items):
    """items: (kind, value) pairs."""
    out = dword(count)
    for kind, v in items:
        out += byte(kind) + (dword(v) if kind == 0 else qword(v))
    return out


ATTACHED = ((4, 1, plist(GAIN, MODE, TERMINATOR)), (3, 0, plist(RATE, ID, TERMINATOR)))
SEEDS['event_reader'] = {
    'data0': event(0, 5, data_body(b'hello')),
    'data1_attached': event(1, 3, data_body(b'abc'), ATTACHED),
    'data2_empty': event(2, 0, data_body(b''), ((5, 0, plist(TERMINATOR)),)),
    'items_status': event(3, 12, items_body(1, [(0, 0x80000003)])),
    'items_mixed': event(3, 44, items_body(3, [(1, 1 << 40), (0, 5), (2, 0xFFFFFFFFFFFFFFFF)]), ATTACHED),
    'items_none': event(3, 0, items_body(0, [])),
    # Claimed areas far beyond the bytes: refused before they are allocated.
    'items_claim_1gib': event(3, 0x3FFFFFFF, items_body(0, [])),
    'data_claim_1gib': event(1, 0x3FFFFFFF, data_body(b'abc')),
    'interval': event(4, 0, timeval(0x80000200, 3)),
    'interval_wide_text': event(4, 0, timeval(0x80000200, 3), ((9, 1, plist(WIDE, EMPTY, TERMINATOR)),)),
}


def level_record(level, lst):
    return byte(level) + lst


def description(count, entries):
    """entries, top down: (level, list, status, name)."""
    out = byte(count)
    for level, lst, status, name in entries:
        out += level_record(level, lst) + dword(status) + hstring(name)
    return out


SEEDS['level_reader'] = {
    'level_full': level_record(2, plist(GAIN, MODE, ID, TERMINATOR)),
    'level_changed_only': level_record(2, plist(TERMINATOR)),
    'description': description(3, [(2, plist(GAIN, TERMINATOR), 1, 'Layer'),
                                    (1, plist(RATE, WIDE, TERMINATOR), 1, 'Caf\xe9'),
                                    (0, plist(TERMINATOR), 0x40000001, 'VOQ_ZERA')]),
    'description_unnamed': description(1, [(5, plist(EMPTY, TERMINATOR), 0, None)]),
}

SEEDS['stats_reader'] = {
    'counters': b''.join(dword(0x01010101 * (i + 1)) for i in range(12)) + word(10) + word(4) + word(90) + word(40),
    'saturated': dword(0xFFFFFFFF) * 12 + word(0xFFFF) * 4,
}



def link_batch(sequence, ack, events):
    """A link's batch message: events are (width, wire form) pairs."""
    out = b'B' + dword(sequence) + dword(ack) + word(len(events))
    return out + b''.join(byte(width) + wire for width, wire in events)


# Only the batch is written here; the other seeds of the link's messages
# were taken from the writers.
SEEDS['link_receive'] = {
    'batch': link_batch(7, 2, [(0, event(0, 5, data_body(b'hello'))),
                               (1, event(2, 1, data_body(b'x'), ((4, 1, plist(WIDE, TERMINATOR)),))),
                               (0, event(4, 0, timeval(0x80000200, 3)))]),
}

for target, seeds in SEEDS.items():
    folder = os.path.join(HERE, 'corpus', target)
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), 'wb') as f:
            f.write(data)
