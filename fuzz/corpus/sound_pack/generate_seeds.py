#!/usr/bin/env python3
# Writes the seed files of the sound pack fuzzer: tiny WAVE, AIFF and AIFF-C files of each
# sample encoding the loader reads, and a few with unusual chunks. Rerun only to change them.
import os
import struct

here = os.path.dirname(os.path.abspath(__file__))


def chunk(cid, body, little):
    size = struct.pack('<I' if little else '>I', len(body))
    return cid + size + body + (b'\0' if len(body) % 2 else b'')


def riff(*chunks):
    body = b'WAVE' + b''.join(chunks)
    return b'RIFF' + struct.pack('<I', len(body)) + body


def fmt(tag, channels, rate, bits, extra=b''):
    block = channels * ((bits + 7) // 8)
    return chunk(b'fmt ', struct.pack('<HHIIHH', tag, channels, rate, rate * block, block, bits) + extra, True)


def extensible(sub, channels, rate, bits):
    guid = struct.pack('<H', sub) + bytes([0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71])
    return fmt(0xFFFE, channels, rate, bits, struct.pack('<HHI', 22, bits, 3) + guid)


def extended(rate):
    exponent, mantissa = 16383 + 31, rate << 32
    while not mantissa & (1 << 63):
        mantissa <<= 1
        exponent -= 1
    return struct.pack('>HQ', exponent, mantissa)


def form(kind, *chunks):
    body = kind + b''.join(chunks)
    return b'FORM' + struct.pack('>I', len(body)) + body


def comm(channels, bits, rate, compression=None):
    body = struct.pack('>HIH', channels, 0, bits) + extended(rate)
    if compression:
        body += compression + b'\0\0'
    return chunk(b'COMM', body, False)


def ssnd(frames, offset=0):
    return chunk(b'SSND', struct.pack('>II', offset, 0) + b'\0' * offset + frames, False)


tone = [0, 9000, 16000, 9000, 0, -9000, -16000, -9000]
le16 = struct.pack('<8h', *tone)
be16 = struct.pack('>8h', *tone)
seeds = {
    'wave8.wav': riff(fmt(1, 1, 8000, 8), chunk(b'data', bytes(128 + v // 256 for v in tone), True)),
    'wave16.wav': riff(fmt(1, 2, 44100, 16), chunk(b'LIST', b'INFOodd', True), chunk(b'data', le16, True)),
    'wave24.wav': riff(fmt(1, 1, 48000, 24), chunk(b'data', b''.join(struct.pack('<i', v << 8)[1:] for v in tone), True)),
    'wave32.wav': riff(fmt(1, 1, 48000, 32), chunk(b'data', struct.pack('<8i', *(v << 16 for v in tone)), True)),
    'float.wav': riff(fmt(3, 1, 44100, 32), chunk(b'data', struct.pack('<8f', *(v / 32768 for v in tone)), True)),
    'double.wav': riff(fmt(3, 1, 44100, 64), chunk(b'data', struct.pack('<8d', *(v / 32768 for v in tone)), True)),
    'extensible24.wav': riff(extensible(1, 2, 44100, 24), chunk(b'data', b''.join(struct.pack('<i', v << 8)[1:] for v in tone), True)),
    'aiff8.aiff': form(b'AIFF', comm(1, 8, 22050), ssnd(bytes((v >> 8) & 0xFF for v in tone))),
    'aiff16.aiff': form(b'AIFF', comm(2, 16, 44100), ssnd(be16, offset=4)),
    'none.aifc': form(b'AIFC', comm(1, 16, 44100, b'NONE'), ssnd(be16)),
    'sowt.aifc': form(b'AIFC', comm(1, 16, 44100, b'sowt'), ssnd(le16)),
    'fl32.aifc': form(b'AIFC', comm(1, 32, 44100, b'fl32'), ssnd(struct.pack('>8f', *(v / 32768 for v in tone)))),
    'ulaw.aifc': form(b'AIFC', comm(1, 16, 8000, b'ulaw'), ssnd(be16)),
}
for name, data in seeds.items():
    with open(os.path.join(here, name), 'wb') as f:
        f.write(data)
