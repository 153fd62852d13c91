#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into tests/fuzz/corpus/.

corpus/settings: settings files (152-byte records, some with trailing bytes
                 that the settings target lays over the data memory).
corpus/text, corpus/binary: two configuration bytes (layout, input; see
                 ConfigFromPrefix in FuzzProperties.h) followed by a spectrum
                 file.
corpus/spe, corpus/n42, corpus/csv: whole IAEA SPE, N42 (2011 and 2006)
and CSV files, sound and broken.

Run it again after changing it; the files are committed.
"""
import math
import os
import shutil
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")

# --------------------------------------------------------------------------
# Settings record: field name -> (offset, struct format)
FIELDS = {
    "ExposurePreset": (0, "<3d"),
    "VertScale": (24, "<i"),
    "ViewFirst": (28, "<i"),
    "ActionInput": (32, "<H"),
    "ViewWidth": (34, "<H"),
    "ShowHints": (36, "<B"),
    "HistogramMode": (37, "<B"),
    "Reserved26": (38, "<2B"),
    "Marker": (40, "<2i"),
    "LeftPeakFrom": (48, "<i"),
    "LeftPeakTo": (52, "<i"),
    "RightPeakFrom": (56, "<i"),
    "RightPeakTo": (60, "<i"),
    "LeftPeakEnergy": (64, "<d"),
    "RightPeakEnergy": (72, "<d"),
    "LeftPeakCentroid": (80, "<d"),
    "RightPeakCentroid": (88, "<d"),
    "InputCount": (96, "<i"),
    "ChannelCount": (100, "<i"),
    "InterfaceKind": (104, "<i"),
    "ParallelConversion": (108, "<B"),
    "Reserved6D": (109, "<3B"),
    "Running": (112, "<3B"),
    "ActOnAllInputs": (115, "<B"),
    "Reserved74": (116, "<4B"),
    "StartTime": (120, "<3d"),
    "DigitalShift": (144, "<i"),
    "PulseShaping": (148, "<B"),
    "Reserved95": (149, "<3B"),
}

DEFAULTS = {
    "ExposurePreset": (0.9, 0.9, 0.9),
    "VertScale": 25,
    "ViewFirst": 0,
    "ActionInput": 1,
    "ViewWidth": 1024,
    "ShowHints": 1,
    "HistogramMode": 1,
    "Marker": (100, 900),
    "LeftPeakFrom": 10,
    "LeftPeakTo": 20,
    "RightPeakFrom": 1000,
    "RightPeakTo": 1010,
    "LeftPeakEnergy": 15.0,
    "RightPeakEnergy": 1005.0,
    "LeftPeakCentroid": 15.0,
    "RightPeakCentroid": 1005.0,
    "InputCount": 3,
    "ChannelCount": 1024,
    "InterfaceKind": 0,
    "ParallelConversion": 0,
    "Running": (0, 0, 0),
    "ActOnAllInputs": 1,
    "StartTime": (36000.1, 36000.1, 36000.1),
    "DigitalShift": 0,
    "PulseShaping": 0,
}


def record(**changes):
    buf = bytearray(152)
    values = dict(DEFAULTS)
    values.update(changes)
    for name, value in values.items():
        off, fmt = FIELDS[name]
        if not isinstance(value, (tuple, list)):
            value = (value,)
        struct.pack_into(fmt, buf, off, *value)
    return bytes(buf)


def peak_tail(n=96):
    """Bytes that, repeated over the memory, give counts with peaks."""
    out = bytearray()
    for i in range(n):
        out.append(int(10 + 200 * math.exp(-((i - n / 2) ** 2) / 50.0)) & 0xFF)
    return bytes(out)


NAN = float("nan")
INF = float("inf")

SETTINGS = {
    "defaults": record(),
    "defaults-with-peaks": record() + peak_tail(),
    "defaults-long-file": record() + bytes(48),
    "short-100-bytes": record()[:100],
    "empty": b"",
    "reserved-bytes-set": record(Reserved26=(1, 2), Reserved6D=(3, 4, 5), Reserved74=(6, 7, 8, 9),
                                 Reserved95=(10, 11, 12)),
    "running-2-an-hour-ago": record(Running=(0, 1, 0), StartTime=(36000.1, 45000.5, 36000.1)),
    "valid-16384-interface3": record(ChannelCount=16384, InterfaceKind=3, InputCount=1,
                                     ViewWidth=16384, Marker=(5000, 12000)) + peak_tail(200),
    "valid-4096-two-inputs": record(ChannelCount=4096, InputCount=2, ViewWidth=600,
                                    ViewFirst=3000, VertScale=1600, Marker=(3100, 3300)) + peak_tail(40),
    "valid-narrow-view": record(ViewWidth=200, ViewFirst=900, Marker=(950, 960)) + peak_tail(24),
    "input-count-0": record(InputCount=0),
    "input-count-7": record(InputCount=7),
    "input-count-negative": record(InputCount=-1),
    "channel-count-0": record(ChannelCount=0),
    "channel-count-2048": record(ChannelCount=2048),
    "channel-count-negative": record(ChannelCount=-5),
    "channel-count-huge": record(ChannelCount=100000, ViewWidth=60000),
    "interface-4": record(InterfaceKind=4),
    "interface-negative": record(InterfaceKind=-1),
    "action-input-0": record(ActionInput=0),
    "action-input-9": record(ActionInput=9),
    "running-bytes-2-255": record(Running=(2, 255, 1)),
    "vert-scale-0": record(VertScale=0),
    "vert-scale-negative": record(VertScale=-100),
    "vert-scale-10": record(VertScale=10),
    "vert-scale-190": record(VertScale=190),
    "vert-scale-1999": record(VertScale=1999),
    "vert-scale-max": record(VertScale=2147483647),
    "view-width-0": record(ViewWidth=0),
    "view-width-16": record(ViewWidth=16),
    "view-width-65535": record(ViewWidth=65535),
    "view-width-2000": record(ViewWidth=2000),
    "view-first-negative": record(ViewFirst=-1),
    "view-first-past-end": record(ViewFirst=5000, ViewWidth=512),
    "view-first-min": record(ViewFirst=-2147483648),
    "markers-negative": record(Marker=(-5, -2147483648)),
    "markers-past-end": record(Marker=(99999, 2147483647)),
    "markers-reversed": record(Marker=(1000, 10)) + peak_tail(),
    "markers-equal": record(Marker=(500, 500)),
    "calibration-regions-reversed": record(LeftPeakFrom=20, LeftPeakTo=10, RightPeakFrom=1010,
                                           RightPeakTo=1000),
    "calibration-regions-outside": record(LeftPeakFrom=-50, LeftPeakTo=20, RightPeakFrom=1000,
                                          RightPeakTo=5000) + peak_tail(),
    "doubles-nan-inf": record(ExposurePreset=(NAN, INF, -INF), StartTime=(NAN, 1.0, -INF),
                              LeftPeakEnergy=NAN, RightPeakCentroid=INF),
    "all-ff": b"\xff" * 152,
    "all-00": bytes(152),
}

# --------------------------------------------------------------------------
# Spectrum files
LAYOUTS = [(iface, inputs, ch) for iface in (0, 3) for inputs in (1, 2, 3)
           for ch in (1024, 4096, 16384)]


def prefix(iface, inputs, channels, input_no):
    ch = {1024: 0, 4096: 1, 16384: 2}[channels]
    layout = (9 if iface == 3 else 0) + (inputs - 1) * 3 + ch
    return bytes([layout, input_no - 1])


def spectrum(channels, salt=0):
    """Counts with a background, two peaks and the special values."""
    out = []
    for c in range(channels):
        v = 20 + (c * 7 + salt) % 13
        v += int(5000 * math.exp(-((c - channels * 0.3) ** 2) / 200.0))
        v += int(900 * math.exp(-((c - channels * 0.7) ** 2) / 80.0))
        out.append(v)
    specials = [-1, -2147483648, 2147483647, 0, 4294967295 - 2 ** 32, 1234]
    for i, s in enumerate(specials):
        out[3 + i] = s
    return out


def text_line(c, v, end=b"\r\n"):
    return b"%6d  %12d" % (c, v) + end


def text_file(counts, end=b"\r\n"):
    return b"".join(text_line(c, v, end) for c, v in enumerate(counts))


def binary_file(counts):
    return b"".join(struct.pack("<i", v) for v in counts)


def main():
    if os.path.isdir(CORPUS):
        shutil.rmtree(CORPUS)
    for sub in ("settings", "text", "binary", "spe", "n42", "csv"):
        os.makedirs(os.path.join(CORPUS, sub))

    def put(sub, name, data):
        with open(os.path.join(CORPUS, sub, name), "wb") as f:
            f.write(data)

    for name, data in SETTINGS.items():
        put("settings", name, data)

    # Whole files of every layout: all 1024-channel layouts, a few of the
    # larger ones (they are big and slow to mutate).
    for iface, inputs, ch in LAYOUTS:
        if ch == 1024 or (iface, inputs, ch) in ((0, 1, 4096), (3, 2, 4096), (0, 1, 16384)):
            for input_no in sorted({1, inputs}):
                tag = "if%d-in%d-ch%d-input%d" % (iface, inputs, ch, input_no)
                counts = spectrum(ch, salt=input_no)
                put("text", tag, prefix(iface, inputs, ch, input_no) + text_file(counts))
                put("binary", tag, prefix(iface, inputs, ch, input_no) + binary_file(counts))
    # Overlapping layouts with a small file: the fuzzer extends them.
    for iface, inputs, ch in ((0, 3, 16384), (3, 3, 16384), (0, 2, 4096)):
        counts = spectrum(64, salt=5)
        tag = "if%d-in%d-ch%d-short" % (iface, inputs, ch)
        put("text", tag, prefix(iface, inputs, ch, inputs) + text_file(counts))
        put("binary", tag, prefix(iface, inputs, ch, inputs) + binary_file(counts))

    p = prefix(0, 3, 1024, 2)
    base = spectrum(1024, salt=9)
    small = spectrum(40, salt=3)

    # Text edge cases.
    put("text", "lf-only-lines", p + text_file(small, end=b"\n"))
    put("text", "ctrl-z-after-20-lines", p + text_file(small[:20]) + b"\x1a" + text_file(small[20:]))
    put("text", "ctrl-z-inside-count", p + text_file(small[:5]) + b"     5       12\x1a34\r\n")
    hexes = [b"$FF", b"$ffffffff", b"x1F", b"X1f", b"0x7FFFFFFF", b"0XFFFFFFFF", b"$80000000",
             b"0x", b"$", b"$100000000", b"-$5", b"0x-1"]
    put("text", "hex-forms", p + b"".join(b"%6d  %12s\r\n" % (c, h) for c, h in enumerate(hexes)))
    put("text", "left-aligned-count", p + text_file(small[:3]) + b"     3  1234        \r\n")
    put("text", "short-lines", p + b"".join(b"%6d  %d\r\n" % (c, v) for c, v in enumerate(small)))
    put("text", "count-from-column-8", p + text_file(small[:2]) + b"     2 98765\r\n" + text_file(small[3:]))
    put("text", "signs-and-limits", p + b"".join(
        b"%6d  %12s\r\n" % (c, s) for c, s in enumerate(
            [b"+5", b"-0", b"-2147483648", b"2147483647", b"+2147483647", b"000000000042",
             b"2147483648", b"+-5", b"- 5", b"5 "])))
    put("text", "cr-only-lines", p + text_file(small, end=b"\r"))
    put("text", "long-lines", p + b"".join(text_line(c, v, b"  trailing junk\r\n") for c, v in enumerate(small)))
    put("text", "tab-and-letters", p + text_file(small[:4]) + b"     4  \t   12\r\n     5  12a\r\n")
    put("text", "empty-file", p)
    put("text", "crlf-empty-lines", p + b"\r\n" * 30)
    put("text", "1024-file-read-as-4096", prefix(0, 1, 4096, 1) + text_file(base))
    put("text", "4096-file-read-as-1024", prefix(0, 1, 1024, 1) + text_file(spectrum(4096, salt=2)))
    put("text", "no-final-line-end", p + text_file(base)[:-2])

    # Binary edge cases.
    put("binary", "short-file-250-records", p + binary_file(small * 7)[:1000])
    put("binary", "cut-record", p + binary_file(small)[:1001 % 160])
    put("binary", "empty-file", p)
    put("binary", "three-bytes", p + b"\x01\x02\x03")
    put("binary", "longer-than-channel-count", p + binary_file(base) + b"surplus!")
    put("binary", "all-ff", p + b"\xff" * 4096)

    # IAEA SPE.
    for name, data in spe_seeds().items():
        put("spe", name, data)
    for name, data in n42_seeds().items():
        put("n42", name, data)
    for name, data in csv_seeds().items():
        put("csv", name, data)


def spe_file(counts, per_line=1, end=b"\r\n", first=0, last=None, calibration=True, head=b""):
    last = len(counts) - 1 if last is None else last
    out = head + b"$SPEC_ID:" + end + b"seed" + end + b"$DATE_MEA:" + end + b"03/14/2024 09:26:53" + end
    out += b"$MEAS_TIM:" + end + b"598 600" + end + b"$DATA:" + end + b"%d %d" % (first, last) + end
    for i in range(0, len(counts), per_line):
        out += b" ".join(b"%8d" % v for v in counts[i:i + per_line]) + end
    if calibration:
        out += b"$ENER_FIT:" + end + b"0.5 1.25" + end + b"$MCA_CAL:" + end + b"2" + end + b"0.5 1.25 keV" + end
    return out


def spe_seeds():
    c1k = spectrum(1024, salt=11)
    sparse = [v % 10 for v in spectrum(16384, salt=4)]
    return {
        "maestro-1024": spe_file(c1k, head=b""),
        "eight-per-line-4096": spe_file(spectrum(4096, salt=12), per_line=8),
        "lf-no-calibration-1024": spe_file(c1k, end=b"\n", calibration=False),
        "dense-16384": b"$DATA:\n0 16383\n" + b"\n".join(b"%d" % v for v in sparse) + b"\n",
        "bom-and-blank-lines": b"\xef\xbb\xbf\r\n" + spe_file(c1k).replace(b"$DATA:", b"\r\n$DATA:"),
        "range-0-999": spe_file(c1k[:1000]),
        "first-channel-5": spe_file(c1k, first=5, last=1028),
        "too-few-counts": spe_file(c1k[:1020], last=1023),
        "too-many-counts": spe_file(c1k + [1, 2], last=1023),
        "second-data": spe_file(c1k) + b"$DATA:\r\n0 1023\r\n",
        "no-data": b"$SPEC_ID:\r\nnothing\r\n$MEAS_TIM:\r\n1 1\r\n",
        "count-overflow": spe_file(c1k[:10] + [2 ** 31] + c1k[11:]),
        "garbage-before-keyword": b"hello\r\n" + spe_file(c1k),
        "range-missing": b"$DATA:\r\n$ENER_FIT:\r\n0 1\r\n",
        "range-huge": b"$DATA:\n0 2147483647\n1 2 3\n",
        "decimal-count": spe_file(c1k).replace(b"      23\r\n", b"    23.5\r\n", 1),
    }


N42_HEAD = (b'<?xml version="1.0" encoding="UTF-8"?>\n'
            b'<RadInstrumentData xmlns="http://physics.nist.gov/N42/2011/N42" n42DocUUID="0">\n'
            b'<RadInstrumentDataCreatorName>seed</RadInstrumentDataCreatorName>\n'
            b'<EnergyCalibration id="ec"><CoefficientValues>0.5 1.25 0</CoefficientValues></EnergyCalibration>\n')


def n42_measurement(channel_data, code=None, spectra=1):
    attr = b' compressionCode="%s"' % code if code else b""
    spectrum_xml = (b'<Spectrum id="s" energyCalibrationReference="ec">\n<LiveTimeDuration>PT598S</LiveTimeDuration>\n'
                    b'<ChannelData%s>%s</ChannelData>\n</Spectrum>\n' % (attr, channel_data))
    return (b'<RadMeasurement id="m">\n<MeasurementClassCode>Foreground</MeasurementClassCode>\n'
            b'<StartDateTime>2024-03-14T09:26:53Z</StartDateTime>\n<RealTimeDuration>PT600S</RealTimeDuration>\n'
            + spectrum_xml * spectra + b'</RadMeasurement>\n')


def n42_file(body):
    return N42_HEAD + body + b"</RadInstrumentData>\n"


def counted_zeroes(counts):
    out, zeros = [], 0
    for v in counts + [None]:
        if v == 0:
            zeros += 1
            continue
        if zeros:
            out += [b"0", b"%d" % zeros]
            zeros = 0
        if v is not None:
            out.append(b"%d" % v)
    return b" ".join(out)


N42_2006 = b"""<?xml version="1.0"?>
<N42InstrumentData xmlns="http://physics.nist.gov/Standards/N42/2006/N42">
<Measurement UUID="m-1">
  <Spectrum ID="bg" Detector="NaI" CalibrationIDs="en">
    <SourceType>Background</SourceType><StartTime>2009-05-01T10:00:00</StartTime>
    <RealTime>PT60S</RealTime><LiveTime>PT59.5S</LiveTime>
    <ChannelData>1 2 3 4</ChannelData>
  </Spectrum>
  <Calibration Type="Energy" ID="en"><Equation Model="Polynomial"><Coefficients>0 3</Coefficients></Equation></Calibration>
  <Spectrum ID="fg" Detector="NaI">
    <SourceType>Item</SourceType><StartTime>2009-05-01T10:01:00</StartTime>
    <RealTime>PT1M30S</RealTime><LiveTime>PT88S</LiveTime>
    <Calibration Type="Energy"><Equation><Coefficients>1 2 0.001</Coefficients></Equation></Calibration>
    <ChannelData Compression="CountedZeroes">5 0 3 6</ChannelData>
  </Spectrum>
</Measurement>
</N42InstrumentData>
"""


def csv_seeds():
    c = spectrum(1001, salt=31)
    rows = lambda fmt, sep=b",": b"".join(fmt(ch, v, sep) for ch, v in enumerate(c))
    return {
        "channel-counts": b"channel,counts\r\n" + rows(lambda ch, v, s: b"%d%s%d\r\n" % (ch, s, v)),
        "energy-data-semicolon": b"# exported\nEnergy; Data\n" + rows(
            lambda ch, v, s: b"%g%s%d\n" % (2 + 0.5 * ch, s, v), b";"),
        "no-header-tab": rows(lambda ch, v, s: b"%d%s%g%s%d\n" % (ch, s, 1.5 * ch, s, v), b"\t"),
        "counts-only-spaces": b"  ".join(b"%d\n" % v for v in c),
        "counts-first": b"Counts,Channel\n" + rows(lambda ch, v, s: b"%d%s%d\n" % (v, s, ch)),
        "doubles": b"channel,counts\n0,5.0000000001\n1,7e2\n2,3.5\n",
        "wrong-channel": b"channel,counts\n0,1\n2,2\n",
        "ragged": b"channel,energy,counts\n0,1,2\n1,2\n",
        "no-counts-column": b"name,value\n0,1\n",
        "empty": b"",
    }


def n42_seeds():
    c1k = spectrum(1024, salt=21)
    plain = b" ".join(b"%d" % v for v in c1k)
    gappy = [v if c % 5 == 0 or 300 < c < 320 else 0 for c, v in enumerate(spectrum(4096, salt=22))]
    return {
        "plain-1024": n42_file(n42_measurement(plain)),
        "plain-none-code-1024": n42_file(n42_measurement(plain, b"None")),
        "counted-zeroes-4096": n42_file(n42_measurement(counted_zeroes(gappy), b"CountedZeroes")),
        "counted-zeroes-doubles": n42_file(n42_measurement(b"0 100 5.0 7E0 0 921 3", b"CountedZeroes")),
        "counted-zeroes-missing-count": n42_file(n42_measurement(b"0 1023 5 0", b"CountedZeroes")),
        "counted-zeroes-huge-run": n42_file(n42_measurement(b"0 2147483647", b"CountedZeroes")),
        "unknown-compression": n42_file(n42_measurement(plain, b"Zip")),
        "two-measurements": n42_file(n42_measurement(plain) * 2),
        "two-channel-data-sets": n42_file(n42_measurement(plain, spectra=2)),
        "no-channel-data": n42_file(b"<RadMeasurement><Spectrum/></RadMeasurement>"),
        "no-measurement": n42_file(b""),
        "truncated": n42_file(n42_measurement(plain))[:700],
        "child-in-channel-data": n42_file(n42_measurement(b"1 2 <b>3</b>")),
        "fraction": n42_file(n42_measurement(plain.replace(b" ", b".5 ", 1))),
        "internal-entity": b'<?xml version="1.0"?>\n<!DOCTYPE RadInstrumentData [<!ENTITY z "0 0 0 0 0 0 0 0">]>\n'
                           + n42_file(n42_measurement(b"&z; " * 128))[len(b'<?xml version="1.0" encoding="UTF-8"?>\n'):],
        "prefixed-namespace": n42_file(n42_measurement(plain)).replace(b"<", b"<n:").replace(b"<n:/", b"</n:")
                              .replace(b"<n:?xml", b"<?xml").replace(b'xmlns="', b'xmlns:n="'),
        "other-root": b"<Spectra><Measurement/></Spectra>",
        "edition-2006-two-spectra": N42_2006,
        "undeclared-prefix": n42_file(b"<DHS:Ext DHS:a='1'>x</DHS:Ext>" + n42_measurement(plain)),
        "draft-compression": n42_file(n42_measurement(b"0 100 5 7 0 921 3").replace(
            b"<ChannelData>", b'<ChannelData Compression="CountedZeroes">')),
        "background-only": n42_file(n42_measurement(plain).replace(b"Foreground", b"Background")),
        "empty": b"",
    }


if __name__ == "__main__":
    main()
