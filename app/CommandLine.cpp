#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <cmath>

namespace {
CommandLine Failure(const QString &message)
{
    CommandLine cl;
    cl.mode = CommandLine::Mode::Error;
    cl.text = QStringLiteral("ryv_demo: ") + message;
    return cl;
}
// The options QApplication takes itself, with one or two dashes.
QStringList WithoutQtOptions(const QStringList &arguments)
{
    static const QStringList withValue = {
        QStringLiteral("platform"), QStringLiteral("platformpluginpath"), QStringLiteral("platformtheme"),
        QStringLiteral("plugin"),   QStringLiteral("qwindowgeometry"),    QStringLiteral("geometry"),
        QStringLiteral("qwindowtitle"), QStringLiteral("title"),          QStringLiteral("qwindowicon"),
        QStringLiteral("icon"),     QStringLiteral("style"),              QStringLiteral("stylesheet"),
        QStringLiteral("session"),  QStringLiteral("display"),            QStringLiteral("name"),
        QStringLiteral("visual"),   QStringLiteral("ncols")};
    static const QStringList flags = {QStringLiteral("reverse"), QStringLiteral("widgetcount"),
                                      QStringLiteral("nograb"),  QStringLiteral("dograb"),
                                      QStringLiteral("sync"),    QStringLiteral("cmap")};
    QStringList out = arguments.mid(0, 1); // the program
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &a = arguments[i];
        if (a == QLatin1String("--")) {
            out.append(arguments.mid(i));
            break;
        }
        QString name = a.startsWith(QLatin1String("--")) ? a.mid(2) : a.startsWith(QLatin1Char('-')) ? a.mid(1) : QString();
        const bool inlineValue = name.contains(QLatin1Char('='));
        name = name.section(QLatin1Char('='), 0, 0);
        if (flags.contains(name) && !inlineValue)
            continue;
        if (withValue.contains(name)) {
            if (!inlineValue)
                ++i; // its value
            continue;
        }
        out.append(a);
    }
    return out;
}
// Qt's number conversions pass over white space around the digits.
bool HasSpace(const QString &v)
{
    for (QChar ch : v)
        if (ch.isSpace())
            return true;
    return false;
}
} // namespace

CommandLine ParseCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Front end of a multichannel pulse-height analyser. Without --simulate, --memory or --audio no board is "
        "read."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Print this help and exit."));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Print the version and exit."));
    const QCommandLineOption settings(QStringLiteral("settings"),
                                      QStringLiteral("The settings file (default: RYV_travok.CFG in the start folder)."),
                                      QStringLiteral("PATH"));
    const QCommandLineOption simulate(
        QStringLiteral("simulate"),
        QStringLiteral("Simulated detector, --simulate=SOURCE: am241, cs137, co60, k40, mix (default) "
                       "or a spectrum file giving the probability of each channel."));
    const QCommandLineOption rate(QStringLiteral("rate"),
                                  QStringLiteral("Mean pulses per second per running input, 1 to 1000000 "
                                                 "(default 2000); with --simulate."),
                                  QStringLiteral("CPS"));
    const QCommandLineOption seed(QStringLiteral("seed"),
                                  QStringLiteral("Seed of the simulation (default: from the clock); with --simulate."),
                                  QStringLiteral("N"));
    const QCommandLineOption shield(QStringLiteral("shield"),
                                    QStringLiteral("The simulated detector sits in a lead castle: Pb X-rays near "
                                                   "75 keV and a stronger backscatter bump; with --simulate and a "
                                                   "built-in source."));
    const QCommandLineOption memory(QStringLiteral("memory"),
                                    QStringLiteral("The 64 KiB data memory is a shared mapping of the file PATH "
                                                   "(created with zeros when missing)."),
                                    QStringLiteral("PATH"));
    const QCommandLineOption convert(QStringLiteral("convert"),
                                     QStringLiteral("--convert IN OUT: convert the spectrum file IN into OUT, each "
                                                    "format by its extension: .txt, .spe (IAEA SPE), .n42 (ANSI "
                                                    "N42.42), .csv, anything else binary; a .spe that does not "
                                                    "start with a $KEYWORD: line is read as binary. Times, start and "
                                                    "energy calibration stated by IN are kept; the settings file's "
                                                    "calibration serves an IN without one."));
    const QCommandLineOption realTime(QStringLiteral("real-time"),
                                      QStringLiteral("With --convert: the real time of a measurement whose file does "
                                                     "not state it."),
                                      QStringLiteral("SECONDS"));
    const QCommandLineOption liveTime(QStringLiteral("live-time"),
                                      QStringLiteral("With --convert: the live time of a measurement whose file does "
                                                     "not state it."),
                                      QStringLiteral("SECONDS"));
    const QCommandLineOption start(QStringLiteral("start"),
                                   QStringLiteral("With --convert: the local start of a measurement whose file does "
                                                  "not state it."),
                                   QStringLiteral("YYYY-MM-DDThh:mm:ss"));
    const QCommandLineOption spectrum(QStringLiteral("spectrum"),
                                      QStringLiteral("With --convert: which spectrum of IN, by its number in --list "
                                                     "(default: the first foreground one)."),
                                      QStringLiteral("N"));
    const QCommandLineOption list(QStringLiteral("list"),
                                  QStringLiteral("Print one line per spectrum of the file: number, measurement, "
                                                 "spectrum, detector, class, channels, real and live time."),
                                  QStringLiteral("FILE"));
    const QCommandLineOption audio(
        QStringLiteral("audio"),
        QStringLiteral("A detector on a sound card, --audio=PCM: the pulses of an ALSA capture device (default "
                       "'default'; hw:1,0, plughw:... or any name ALSA knows), left channel input 1, right "
                       "channel input 2; --audio=FILE: the same from a recording (WAV, FLAC), played in real time."));
    const QCommandLineOption audioRate(QStringLiteral("audio-rate"),
                                       QStringLiteral("Samples per second of the capture (default: the highest of "
                                                      "192000, 96000, 48000, 44100 the device takes); with --audio=PCM."),
                                       QStringLiteral("HZ"));
    const QCommandLineOption polarity(QStringLiteral("polarity"),
                                      QStringLiteral("Pulse polarity: auto (default, from the first pulses), positive "
                                                     "or negative; with --audio."),
                                      QStringLiteral("auto|positive|negative"));
    const QCommandLineOption threshold(QStringLiteral("threshold"),
                                       QStringLiteral("Trigger threshold in percent of full scale, 0.05 to 50 "
                                                      "(default 1); with --audio."),
                                       QStringLiteral("PERCENT"));
    const QList<QCommandLineOption> all = {help,     version,  settings, simulate, rate,     seed,      shield,
                                           memory,   convert,  realTime, liveTime, start,    spectrum,  list,
                                           audio,    audioRate, polarity, threshold};
    parser.addOptions(all);

    // QCommandLineParser has no optional values: --simulate=SOURCE is taken
    // apart here. Qt's own options (-platform, -style, ...) are left to
    // QApplication, which sees the whole command line.
    QStringList args = WithoutQtOptions(arguments);
    QString source;
    bool sourceGiven = false;
    QString audioName;
    bool audioNameGiven = false;
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--"))
            break;
        if (args[i].startsWith(QLatin1String("--simulate="))) {
            source = args[i].mid(11);
            sourceGiven = true;
            args[i] = QStringLiteral("--simulate");
        } else if (args[i].startsWith(QLatin1String("--audio="))) {
            audioName = args[i].mid(8);
            audioNameGiven = true;
            args[i] = QStringLiteral("--audio");
        }
    }
    if (args.isEmpty())
        args.append(QStringLiteral("ryv_demo"));
    if (!parser.parse(args))
        return Failure(parser.errorText());
    // An option given twice is a mistake, not a choice of the last one.
    const QStringList given = parser.optionNames();
    for (const QCommandLineOption &o : all) {
        qsizetype times = 0;
        for (const QString &name : o.names())
            times += given.count(name);
        if (times > 1)
            return Failure(QStringLiteral("--%1: given more than once.").arg(o.names().constLast()));
    }

    CommandLine cl;
    if (parser.isSet(help)) {
        cl.mode = CommandLine::Mode::Help;
        cl.text = parser.helpText().replace(QLatin1String("<executable_name>"), QLatin1String("ryv_demo"));
        return cl;
    }
    if (parser.isSet(version)) {
        cl.mode = CommandLine::Mode::Version;
        cl.text = QStringLiteral("ryv_demo " RYV_VERSION "\n");
        return cl;
    }
    if (parser.isSet(convert)) {
        for (const QCommandLineOption *o :
             {&simulate, &rate, &seed, &shield, &memory, &list, &audio, &audioRate, &polarity, &threshold})
            if (parser.isSet(*o))
                return Failure(QStringLiteral("--convert: not with --%1.").arg(o->names().constFirst()));
        const QStringList files = parser.positionalArguments();
        if (files.size() != 2)
            return Failure(QStringLiteral("--convert: give the input file and the output file (--convert IN OUT)."));
        cl.mode = CommandLine::Mode::Convert;
        cl.convertIn = files[0];
        cl.convertOut = files[1];
        cl.settingsPath = parser.value(settings);
        if (parser.isSet(settings) && cl.settingsPath.isEmpty())
            return Failure(QStringLiteral("--settings: the path is empty."));
        for (auto [o, seconds] : {std::pair(&realTime, &cl.realTime), std::pair(&liveTime, &cl.liveTime)}) {
            if (!parser.isSet(*o))
                continue;
            bool ok = false;
            const QString v = parser.value(*o);
            const double t = v.toDouble(&ok);
            if (!ok || HasSpace(v) || !std::isfinite(t) || t < 0 || (o == &realTime && t == 0))
                return Failure(QStringLiteral("--%1: '%2' is not a number of seconds%3.")
                                   .arg(o->names().constFirst(), v,
                                        o == &realTime ? QStringLiteral(" above 0") : QStringLiteral(" from 0")));
            *seconds = t;
        }
        if (cl.realTime >= 0 && cl.liveTime > cl.realTime)
            return Failure(QStringLiteral("--live-time: longer than --real-time."));
        if (parser.isSet(spectrum)) {
            bool ok = false;
            const QString v = parser.value(spectrum);
            cl.spectrum = v.toInt(&ok);
            if (!ok || HasSpace(v) || v.startsWith(QLatin1Char('+')) || cl.spectrum < 1)
                return Failure(QStringLiteral("--spectrum: '%1' is not a spectrum number from 1.").arg(v));
        }
        if (parser.isSet(start)) {
            const QString v = parser.value(start);
            cl.start = QDateTime::fromString(v, QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
            if (!cl.start.isValid())
                return Failure(QStringLiteral("--start: '%1' is not a date and time YYYY-MM-DDThh:mm:ss.").arg(v));
        }
        return cl;
    }
    for (const QCommandLineOption *o : {&realTime, &liveTime, &start, &spectrum})
        if (parser.isSet(*o))
            return Failure(QStringLiteral("--%1: only with --convert.").arg(o->names().constFirst()));
    if (parser.isSet(list)) {
        for (const QCommandLineOption *o :
             {&simulate, &rate, &seed, &shield, &memory, &settings, &audio, &audioRate, &polarity, &threshold})
            if (parser.isSet(*o))
                return Failure(QStringLiteral("--list: not with --%1.").arg(o->names().constFirst()));
        if (!parser.positionalArguments().isEmpty())
            return Failure(QStringLiteral("unexpected argument '%1'.").arg(parser.positionalArguments().first()));
        cl.mode = CommandLine::Mode::List;
        cl.listFile = parser.value(list);
        if (cl.listFile.isEmpty())
            return Failure(QStringLiteral("--list: the path is empty."));
        return cl;
    }
    if (!parser.positionalArguments().isEmpty())
        return Failure(QStringLiteral("unexpected argument '%1'.").arg(parser.positionalArguments().first()));

    if (parser.isSet(settings)) {
        cl.settingsPath = parser.value(settings);
        if (cl.settingsPath.isEmpty())
            return Failure(QStringLiteral("--settings: the path is empty."));
    }
    if (parser.isSet(memory)) {
        cl.memoryPath = parser.value(memory);
        if (cl.memoryPath.isEmpty())
            return Failure(QStringLiteral("--memory: the path is empty."));
    }
    cl.simulate = parser.isSet(simulate);
    if (sourceGiven) {
        if (source.isEmpty())
            return Failure(QStringLiteral("--simulate: the source is empty."));
        cl.source = source;
    }
    if (parser.isSet(rate)) {
        if (!cl.simulate)
            return Failure(QStringLiteral("--rate: only with --simulate."));
        bool ok = false;
        const double r = parser.value(rate).toDouble(&ok);
        if (!ok || HasSpace(parser.value(rate)) || !std::isfinite(r) || r < MinRate || r > MaxRate)
            return Failure(QStringLiteral("--rate: '%1' is not a number from 1 to 1000000.").arg(parser.value(rate)));
        cl.rate = r;
    }
    if (parser.isSet(shield)) {
        if (!cl.simulate)
            return Failure(QStringLiteral("--shield: only with --simulate."));
        cl.shield = true;
    }
    if (parser.isSet(seed)) {
        if (!cl.simulate)
            return Failure(QStringLiteral("--seed: only with --simulate."));
        bool ok = false;
        const QString v = parser.value(seed);
        const qulonglong s = v.toULongLong(&ok);
        if (!ok || v.startsWith(QLatin1Char('+')) || HasSpace(v))
            return Failure(QStringLiteral("--seed: '%1' is not a whole number from 0 to 18446744073709551615.").arg(v));
        cl.seedGiven = true;
        cl.seed = s;
    }
    cl.audio = parser.isSet(audio);
    if (cl.audio && cl.simulate)
        return Failure(QStringLiteral("--audio: not with --simulate."));
    if (audioNameGiven) {
        if (audioName.isEmpty())
            return Failure(QStringLiteral("--audio: the device or file is empty."));
        cl.audioName = audioName;
    }
    for (const QCommandLineOption *o : {&audioRate, &polarity, &threshold})
        if (parser.isSet(*o) && !cl.audio)
            return Failure(QStringLiteral("--%1: only with --audio.").arg(o->names().constFirst()));
    if (parser.isSet(audioRate)) {
        bool ok = false;
        const QString v = parser.value(audioRate);
        const int r = v.toInt(&ok);
        if (!ok || v.startsWith(QLatin1Char('+')) || HasSpace(v) || r < 8000 || r > 768000)
            return Failure(QStringLiteral("--audio-rate: '%1' is not a whole number from 8000 to 768000.").arg(v));
        cl.audioRate = r;
    }
    if (parser.isSet(polarity)) {
        const QString v = parser.value(polarity);
        if (v == QLatin1String("auto"))
            cl.polarity = 0;
        else if (v == QLatin1String("positive"))
            cl.polarity = 1;
        else if (v == QLatin1String("negative"))
            cl.polarity = -1;
        else
            return Failure(QStringLiteral("--polarity: '%1' is not auto, positive or negative.").arg(v));
    }
    if (parser.isSet(threshold)) {
        bool ok = false;
        const double t = parser.value(threshold).toDouble(&ok);
        if (!ok || HasSpace(parser.value(threshold)) || !std::isfinite(t) || t < 0.05 || t > 50)
            return Failure(
                QStringLiteral("--threshold: '%1' is not a number from 0.05 to 50.").arg(parser.value(threshold)));
        cl.threshold = t;
    }
    return cl;
}
