// The command line, parsed before any window exists: one parse into a plain
// record, then main dispatches on its mode.
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <cstdint>

struct CommandLine {
    enum class Mode {
        Run,     // start the program
        Help,    // print text, exit 0
        Version, // print text, exit 0
        Convert, // convert convertIn into convertOut, no window
        List,    // list the spectra of listFile, no window
        Error    // print text on stderr, exit 2
    };
    Mode mode = Mode::Run;
    QString text;

    QString settingsPath; // empty: the settings file in the start folder
    bool simulate = false;
    QString source = QStringLiteral("mix"); // a built-in source or a spectrum file
    double rate = 2000;                     // pulses per second per running input
    bool seedGiven = false;
    uint64_t seed = 0;
    bool shield = false; // the simulated detector in a lead castle
    QString memoryPath; // empty: the data memory is the program's own
    bool audio = false;                         // a detector on a sound card
    QString audioName = QStringLiteral("default"); // an ALSA PCM or a sound file
    int audioRate = 0;                          // 0: the highest the device accepts
    int polarity = 0;                           // 0 auto, 1 positive, -1 negative
    double threshold = 1;                       // percent of full scale
    QString convertIn, convertOut;
    // Facts of the measurement for a converted input that does not state
    // them: seconds (negative = not given) and the start (invalid = not given).
    double realTime = -1;
    double liveTime = -1;
    QDateTime start;
    int spectrum = 0; // of convertIn, 1, 2, ...; 0 = the first foreground one
    QString listFile;
};

// The simulated board's data memory, kept beside the settings file unless
// --memory names another file.
inline constexpr const char *SimulatedMemoryFileName = "RYV_memory.DAT";

inline constexpr double MinRate = 1;
inline constexpr double MaxRate = 1000000;

// arguments as QCoreApplication::arguments() gives them (program first).
CommandLine ParseCommandLine(const QStringList &arguments);
