// Spectrum interchange: conversion between the program's own spectrum
// formats and the ones other analysers and analysis programs exchange.
//
// Formats, chosen by the extension of a path:
//   ".txt" (exactly, as the program's read and save commands decide)
//          the program's text format;
//   ".spe" IAEA SPE ASCII when the file starts with a "$KEYWORD:" line, the
//          program's binary format otherwise (as the window saves .spe);
//          written, it is IAEA SPE;
//   ".n42" ANSI N42.42-2011 XML;
//   ".csv" "channel,counts", or "channel,energy_keV,counts" when an energy
//          calibration is known;
//   anything else: the program's binary format.
// The last three extensions are taken in any letter case.
//
// The program's own formats hold 1024, 4096 or 16384 signed 32-bit counts
// and nothing else; SPE, N42 and CSV hold 1 to 65536 channels and the facts
// of the measurement they state (times, start, energy calibration). A reader
// either fills counts (and facts) and returns true, or returns false with
// problem set to one line that names the place (line, element) and what is
// wrong there. Writers turn counts and facts into the bytes of a file and
// state no fact that is unknown.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

struct SettingsRecord;

using SpectrumCounts = std::vector<int32_t>;

enum class SpectrumFormat { Text, Binary, Spe, N42, Csv };

SpectrumFormat SpectrumFormatOfPath(const QString &path);
// The format of a file about to be read: for ".spe", IAEA SPE when the file
// starts with a "$KEYWORD:" line and the program's binary format otherwise.
SpectrumFormat SpectrumFormatOfFile(const QString &path, QByteArrayView content);
// Whether content starts with an IAEA SPE keyword line ("$SPEC_ID:", ...).
bool StartsWithSpeKeyword(QByteArrayView content);

// 1024, 4096 or 16384: the lengths of the program's own formats.
bool IsSpectrumChannelCount(size_t channels);
// The lengths SPE, N42 and CSV keep.
inline constexpr size_t MaxInterchangeChannels = 65536;
// The program's length a spectrum of n channels is padded to; 0 when it has
// more than 16384.
size_t ProgramChannelCount(size_t n);

// Energy in keV of channel c: Offset + Gain * c + Quadratic * c^2 + Cubic * c^3.
struct EnergyCalibration {
    bool Known = false;
    double Offset = 0;
    double Gain = 0;
    double Quadratic = 0;
    double Cubic = 0;
    bool Linear() const { return Quadratic == 0 && Cubic == 0; }
    double At(double c) const { return Offset + c * (Gain + c * (Quadratic + c * Cubic)); }
};
// A calibration from polynomial coefficients a0 a1 [a2 [a3 [0 ...]]];
// unknown when there are fewer than two, a later one is not zero, or the
// gain is not positive.
EnergyCalibration CalibrationFromCoefficients(const std::vector<double> &coefficients);

// The straight line through the settings' two calibration points; unknown
// unless the right point lies right of and above the left one.
EnergyCalibration CalibrationFromSettings(const SettingsRecord &r);

// What is known of a measurement besides its counts; empty = unknown.
struct SpectrumFacts {
    std::optional<double> RealTime; // seconds
    std::optional<double> LiveTime; // seconds
    QDateTime Start;                // start of the exposure; invalid = unknown
    EnergyCalibration Calibration;
};

// What a written file says besides the counts.
struct SpectrumWriteInfo : SpectrumFacts {
    QString Title;      // SPE $SPEC_ID:, N42 remark
    // N42 instrument model and software version, one word each; empty =
    // unknown (a converted spectrum's instrument is not this program).
    QString Instrument, InstrumentVersion;
};

// The fact an N42 file needs and info lacks, as the name of the option that
// supplies it ("--real-time SECONDS", "--start YYYY-MM-DDThh:mm:ss"); empty
// when info has what N42 needs.
QString N42MissingFact(const SpectrumFacts &info);

bool ReadTextCounts(const QByteArray &file, SpectrumCounts &counts, QString &problem);
bool ReadBinaryCounts(const QByteArray &file, SpectrumCounts &counts, QString &problem);
bool ReadSpeCounts(const QByteArray &file, SpectrumCounts &counts, QString &problem,
                   SpectrumFacts *facts = nullptr);
bool ReadN42Counts(const QByteArray &file, SpectrumCounts &counts, QString &problem,
                   SpectrumFacts *facts = nullptr);
bool ReadCsvCounts(const QByteArray &file, SpectrumCounts &counts, QString &problem,
                   SpectrumFacts *facts = nullptr);
bool ReadSpectrumCounts(SpectrumFormat format, const QByteArray &file, SpectrumCounts &counts,
                        QString &problem, SpectrumFacts *facts = nullptr);

// One spectrum of a file that may hold several (N42).
struct SpectrumEntry {
    int Index = 0; // 1, 2, ... in the order of the file
    QString Measurement, Id, Detector;
    QString Class; // foreground, background, calibration, intrinsic activity
    size_t Channels = 0;
    SpectrumFacts Facts;
};
// The spectrum wanted (1, 2, ...; 0 = the first foreground one) of an N42
// file, 2011 or 2006 edition; list, when given, receives every spectrum.
// With wanted -1 and list given only the list is wanted: a file without a
// foreground spectrum is no error then.
bool ReadN42Spectra(const QByteArray &file, int wanted, SpectrumCounts &counts, SpectrumFacts *facts,
                    std::vector<SpectrumEntry> *list, QString &problem);

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
// The facts the input states are written to out; given supplies those it
// does not state (the command line's times and start). The calibration of
// the settings file at settingsPath serves an input without one; an empty
// path means RYV_travok.CFG in the current folder when there is one (no
// calibration otherwise). An N42 out without a real time and start is
// refused, naming the option that supplies them. A spectrum shorter than
// the program's formats hold is padded with zeros, and note says so.
// Returns 0 on success. On any problem returns 2
// with errorLine set to one line naming the file, the place and the
// problem; out is then neither created nor changed (it is written through a
// temporary file, checked write by write and brought to the disk, then
// renamed over out). Files that are not regular files (a FIFO, a device)
// are refused without being opened for I/O.
int ConvertSpectrumFile(const QString &in, const QString &out, const QString &settingsPath,
                        QString &errorLine);
// spectrum: which of a file's spectra (1, 2, ... as ListSpectrumFile
// numbers them); 0 = the first foreground one.
int ConvertSpectrumFile(const QString &in, const QString &out, const QString &settingsPath,
                        const SpectrumFacts &given, QString &errorLine, QString *note = nullptr,
                        int spectrum = 0);
// One line per spectrum of the file in: index, measurement and spectrum ids,
// detector, class, channels, real and live time ("-" where unknown).
// Returns 0, or 2 with errorLine set as ConvertSpectrumFile sets it.
int ListSpectrumFile(const QString &in, QString &listing, QString &errorLine);

// xs:duration text of seconds ("PT12.5S") and back; false when text is not
// a duration of days, hours, minutes and seconds.
QString DurationText(double seconds);
bool ParseDuration(QStringView text, double &seconds);

// The whole of the regular file at path, at most MaxInterchangeFileBytes;
// false with why set to what went wrong.
bool ReadSpectrumFileBytes(const QString &path, QByteArray &bytes, QString &why);
// Replaces the file at path with data as the converter writes its output
// (a temporary file renamed over it, a write-protected file kept); false
// with why set to what went wrong, path then unchanged.
bool ReplaceSpectrumFile(const QString &path, const QByteArray &data, QString &why);

// Largest input file the converter reads.
inline constexpr qint64 MaxInterchangeFileBytes = 64LL * 1024 * 1024;
