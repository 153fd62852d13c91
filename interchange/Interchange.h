// Spectrum interchange: conversion between the program's own spectrum
// formats and the ones other analysers and analysis programs exchange.
//
// Formats, chosen by the extension of a path:
//   ".txt" (exactly, as the program's read and save commands decide)
//          the program's text format;
//   ".spe" IAEA SPE ASCII;
//   ".n42" ANSI N42.42-2011 XML;
//   ".csv" "channel,counts", or "channel,energy_keV,counts" when an energy
//          calibration is known;
//   anything else: the program's binary format.
// The last three extensions are taken in any letter case.
//
// Readers take counts only: a spectrum of 1024, 4096 or 16384 signed 32-bit
// counts. A reader either fills counts and returns true, or returns false
// with problem set to one line that names the place (line, element) and what
// is wrong there. Writers turn counts (and an optional energy calibration)
// into the bytes of a file.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QString>

#include <cstdint>
#include <vector>

struct SettingsRecord;

using SpectrumCounts = std::vector<int32_t>;

enum class SpectrumFormat { Text, Binary, Spe, N42, Csv };

SpectrumFormat SpectrumFormatOfPath(const QString &path);

// 1024, 4096 or 16384.
bool IsSpectrumChannelCount(size_t channels);

// Energy in keV of channel c: Offset + Gain * c.
struct EnergyCalibration {
    bool Known = false;
    double Offset = 0;
    double Gain = 0;
};

// The straight line through the settings' two calibration points; unknown
// unless the right point lies right of and above the left one.
EnergyCalibration CalibrationFromSettings(const SettingsRecord &r);

// What a written file says besides the counts.
struct SpectrumWriteInfo {
    EnergyCalibration Calibration;
    QString Title;          // SPE $SPEC_ID:, N42 remark
    QDateTime MeasuredAt;   // SPE $DATE_MEA:, N42 StartDateTime; invalid = now
};

bool ReadTextCounts(const QByteArray &file, SpectrumCounts &counts, QString &problem);
bool ReadBinaryCounts(const QByteArray &file, SpectrumCounts &counts, QString &problem);
bool ReadSpeCounts(const QByteArray &file, SpectrumCounts &counts, QString &problem);
bool ReadN42Counts(const QByteArray &file, SpectrumCounts &counts, QString &problem);
bool ReadCsvCounts(const QByteArray &file, SpectrumCounts &counts, QString &problem);
bool ReadSpectrumCounts(SpectrumFormat format, const QByteArray &file, SpectrumCounts &counts,
                        QString &problem);

QByteArray WriteTextCounts(const SpectrumCounts &counts);
QByteArray WriteBinaryCounts(const SpectrumCounts &counts);
QByteArray WriteSpeCounts(const SpectrumCounts &counts, const SpectrumWriteInfo &info);
QByteArray WriteN42Counts(const SpectrumCounts &counts, const SpectrumWriteInfo &info);
QByteArray WriteCsvCounts(const SpectrumCounts &counts, const EnergyCalibration &calibration);
QByteArray WriteSpectrumCounts(SpectrumFormat format, const SpectrumCounts &counts,
                               const SpectrumWriteInfo &info);

// A floating-point number in its shortest form that reads back exactly.
QByteArray ShortestDouble(double v);

// A file name as the file system holds it (bytes) and as text. Bytes that
// are not UTF-8 become the code units U+DC80..U+DCFF, which PathBytes turns
// back into those bytes, so that any name survives the trip through QString.
QString PathFromBytes(QByteArrayView bytes);
QByteArray PathBytes(const QString &path);

// Converts the spectrum file in into out, formats after their extensions.
// The calibration comes from the settings file at settingsPath; an empty
// path means RYV_travok.CFG in the current folder when there is one (no
// calibration otherwise). Returns 0 on success. On any problem returns 2
// with errorLine set to one line naming the file, the place and the
// problem; out is then neither created nor changed (it is written through a
// temporary file, checked write by write and brought to the disk, then
// renamed over out). Files that are not regular files (a FIFO, a device)
// are refused without being opened for I/O.
int ConvertSpectrumFile(const QString &in, const QString &out, const QString &settingsPath,
                        QString &errorLine);

// Largest input file the converter reads.
inline constexpr qint64 MaxInterchangeFileBytes = 64LL * 1024 * 1024;
