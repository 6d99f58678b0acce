// Gathers the JSON files the benchmarks wrote into one Markdown page and one
// JSON file, with the machine they ran on.
//
//   bench_report --markdown FILE --json FILE [--commit HASH] [--command TEXT] RESULT.json...

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>

#include <cstdio>

#include <unistd.h>

namespace
{

QString cpuModel()
{
    QFile cpuinfo(QStringLiteral("/proc/cpuinfo"));
    if (cpuinfo.open(QIODevice::ReadOnly))
        for (const QByteArray &line : cpuinfo.readAll().split('\n'))
            if (line.startsWith("model name"))
                return QString::fromUtf8(line.mid(line.indexOf(':') + 1).trimmed());
    return QStringLiteral("unknown");
}

QString cell(const QJsonValue &value)
{
    if (value.isDouble())
        return QString::number(value.toDouble(), 'g', 8);
    return value.toVariant().toString().replace(QLatin1Char('|'), QStringLiteral("\\|"));
}

QString markdownTable(const QJsonObject &table)
{
    QString md = QStringLiteral("### %1\n\n").arg(table[QStringLiteral("title")].toString());
    QStringList columns;
    for (const QJsonValue &c : table[QStringLiteral("columns")].toArray())
        columns << cell(c);
    md += QStringLiteral("| %1 |\n|%2\n")
              .arg(columns.join(QStringLiteral(" | ")),
                   QStringLiteral("---|").repeated(qsizetype(columns.size())));
    for (const QJsonValue &row : table[QStringLiteral("rows")].toArray()) {
        QStringList cells;
        for (const QJsonValue &v : row.toArray())
            cells << cell(v);
        md += QStringLiteral("| %1 |\n").arg(cells.join(QStringLiteral(" | ")));
    }
    const QString note = table[QStringLiteral("note")].toString();
    if (!note.isEmpty())
        md += QStringLiteral("\n%1\n").arg(note);
    return md + QLatin1Char('\n');
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption markdown(QStringLiteral("markdown"), QStringLiteral("Page to write."),
                                      QStringLiteral("FILE"));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("JSON file to write."),
                                  QStringLiteral("FILE"));
    const QCommandLineOption commit(QStringLiteral("commit"), QStringLiteral("Source revision."),
                                    QStringLiteral("HASH"));
    const QCommandLineOption command(QStringLiteral("command"),
                                     QStringLiteral("The command that ran the benchmarks."),
                                     QStringLiteral("TEXT"));
    parser.addOptions({markdown, json, commit, command});
    parser.addPositionalArgument(QStringLiteral("results"),
                                 QStringLiteral("Benchmark JSON files."));
    parser.process(app);

    QJsonArray benches;
    bool quick = false;
    for (const QString &path : parser.positionalArguments()) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "bench_report: cannot read %s\n", qPrintable(path));
            return 1;
        }
        const QJsonObject bench = QJsonDocument::fromJson(file.readAll()).object();
        if (bench.isEmpty()) {
            std::fprintf(stderr, "bench_report: %s holds no results\n", qPrintable(path));
            return 1;
        }
        quick = quick || bench[QStringLiteral("mode")].toString() == QStringLiteral("quick");
        benches.append(bench);
    }

    const QString date = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    const long cores = sysconf(_SC_NPROCESSORS_ONLN);
    const QJsonObject machine{{"cpu", cpuModel()},
                              {"cores", qint64(cores)},
                              {"kernel", QSysInfo::kernelVersion()},
                              {"os", QSysInfo::prettyProductName()}};

    QString md = QStringLiteral("# Performance\n\n");
    if (quick)
        md += QStringLiteral(
            "**Quick run**: a few seconds per case, to check that the benchmarks run; these "
            "figures are not the viewer's measured performance. Run `scripts/bench` without "
            "`--quick` on a quiet machine for those.\n\n");
    md += QStringLiteral("Measured %1 on %2 (%3 cores), %4, kernel %5")
              .arg(date, machine[QStringLiteral("cpu")].toString())
              .arg(cores)
              .arg(machine[QStringLiteral("os")].toString(),
                   machine[QStringLiteral("kernel")].toString());
    if (parser.isSet(commit))
        md += QStringLiteral(", source %1").arg(parser.value(commit));
    md += QStringLiteral(".\n");
    if (parser.isSet(command))
        md += QStringLiteral("Command: `%1`.\n").arg(parser.value(command));
    md += QStringLiteral("Raw figures: `performance.json`.\n\n## Targets\n\n"
                         "| result | target | figures |\n|---|---|---|\n");
    for (const QJsonValue &bench : benches)
        for (const QJsonValue &t : bench[QStringLiteral("targets")].toArray())
            md += QStringLiteral("| %1 | %2 | %3 |\n")
                      .arg(cell(t[QStringLiteral("result")]), cell(t[QStringLiteral("target")]),
                           cell(t[QStringLiteral("figures")]));
    md += QStringLiteral(
        "\n## How they are measured\n\n"
        "- The viewer is the real window on Qt's offscreen platform, 1280x780, its platform "
        "services faked (on the box's network, a fresh save folder).\n"
        "- A replay server in the benchmark's process sends one frame of the simulator's sky per "
        "size (JPEG quality 85, 4:2:0), in distinct copies that carry their number in large "
        "black and white cells across the top; it sends as fast as the viewer takes them "
        "(\"max\") or at a fixed rate, skipping a frame only when the viewer has not taken the "
        "previous one in time, and notes when each frame's last byte went into its socket.\n"
        "- A frame is shown when the preview widget's paint has drawn it (its `painted` "
        "signal; the number is read back from the picture it holds). Latency runs from the last "
        "byte to that paint.\n"
        "- CPU is user + system time of the whole process (every thread of the viewer: "
        "network, decoding, painting, encoding) less the server's threads, per shown or "
        "written frame. ffmpeg's comes from wait4 on it, for the same stream from the same "
        "server; libjpeg-turbo's is the thread CPU of tjDecompress2 to full-size BGRX, "
        "measured before, between and after a size's two cases, the median of the three.\n"
        "- Recordings press the window's capture button in the chosen mode; written frames are "
        "the packets in the file, read back with libavformat.\n"
        "- Run everything with `scripts/bench` (about 25 minutes on two cores, on a quiet "
        "machine); `scripts/bench --quick` checks that it all works in a few minutes.\n");
    md += QStringLiteral("\n## Figures\n\n");
    for (const QJsonValue &bench : benches)
        for (const QJsonValue &table : bench[QStringLiteral("tables")].toArray())
            md += markdownTable(table.toObject());

    if (parser.isSet(markdown)) {
        QFile out(parser.value(markdown));
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(md.toUtf8()) < 0) {
            std::fprintf(stderr, "bench_report: cannot write %s\n",
                         qPrintable(parser.value(markdown)));
            return 1;
        }
    }
    if (parser.isSet(json)) {
        QFile out(parser.value(json));
        const QJsonObject all{{"date", date},
                              {"quick", quick},
                              {"machine", machine},
                              {"commit", parser.value(commit)},
                              {"benchmarks", benches}};
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            out.write(QJsonDocument(all).toJson()) < 0) {
            std::fprintf(stderr, "bench_report: cannot write %s\n", qPrintable(parser.value(json)));
            return 1;
        }
    }
    return 0;
}
