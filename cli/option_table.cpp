#include "option_table.h"

#include "anaglyph_methods.h"
#include "output_format.h"
#include "pair_job.h"
#include "picture_file.h"

#include <QStringList>

#include <array>

namespace duoptica {

namespace {

using namespace Qt::Literals::StringLiterals;

// Where a help line's text starts, after "  --option VALUE  ", and how wide help lines run.
constexpr qsizetype kHelpColumn = 22;
constexpr qsizetype kHelpWidth = 96;

struct LayoutName {
    QLatin1StringView name;
    StereoLayout layout;
    QLatin1StringView help;
};

constexpr std::array kLayouts{
    LayoutName{"pair"_L1, StereoLayout::Pair,
               "two files, LEFT and RIGHT (the default for two inputs)"_L1},
    LayoutName{"parallel"_L1, StereoLayout::Parallel,
               "side by side, the left half is the left eye"_L1},
    LayoutName{"cross"_L1, StereoLayout::Cross,
               "side by side, the left half is the right eye (the default for .jps)"_L1},
    LayoutName{"over-under"_L1, StereoLayout::OverUnder,
               "one above the other, the top half is the left eye"_L1},
};

QList<NamedValue> outputValues() {
    QList<NamedValue> values;
    for (const StereoOutputName &output : stereoOutputNames())
        values.append({output.name, output.help});
    return values;
}

// Every format a batch's --format takes, the one a batch writes by default so marked.
QList<NamedValue> formatValues() {
    QList<NamedValue> values;
    for (const OutputFormat &format : outputFormats()) {
        const bool byDefault = format.file == PairSettings{}.format &&
                               format.holds == FormatHolds::Picture && !format.impliedOutput;
        values.append({format.name, byDefault ? u"(the default)"_s : QString()});
    }
    return values;
}

QList<NamedValue> autoValue() {
    return {{u"auto"_s, {}}};
}

constexpr std::array kOptions{
    OptionRow{.name = "mode"_L1,
              .valueName = "MODE"_L1,
              .help = "one of the modes above; dubois-red-cyan is the default, normal gives\n"
                      "the window's average"_L1,
              .once = true,
              .values = modeValues},
    OptionRow{.name = "layout"_L1,
              .valueName = "LAYOUT"_L1,
              .help = "one of the layouts above"_L1,
              .once = true,
              .values = layoutValues},
    OptionRow{.name = "batch"_L1}, // told with the inputs it takes
    OptionRow{.name = "swap"_L1,
              .help = "exchange the left and the right eye once read, for any input"_L1},
    OptionRow{.name = "quality"_L1,
              .valueName = "N"_L1,
              .help = "JPEG and HEIC quality from {min} to {max}, 90 by default (HEIC: 75); PNG\n"
                      "and BMP are lossless"_L1,
              .range = NumberRange{1, 100, "a whole number"_L1},
              .once = true},
    OptionRow{.name = "format"_L1,
              .valueName = "FORMAT"_L1,
              .help = "the batch's output format:"_L1,
              .once = true,
              .values = formatValues,
              .listValues = ValuesShown::Inline},
    OptionRow{.name = "shard"_L1,
              .valueName = "K/N"_L1,
              .help = "only the pairs whose position in the sorted pair list is K modulo N\n"
                      "(0 <= K < N), so that N runs share a batch, e.g. on a cluster\n"
                      "--shard auto[/N]\tK and N from a Slurm job array (SLURM_ARRAY_TASK_ID, "
                      "_MIN, _STEP,\n"
                      "_COUNT) or a Kubernetes Indexed Job (JOB_COMPLETION_INDEX, with N\n"
                      "from auto/N or DUOPTICA_SHARD_COUNT)"_L1,
              .once = true,
              .values = autoValue},
    OptionRow{.name = "pair-names"_L1,
              .valueName = "L,R"_L1,
              .help = "in a batch, also pair NAME<L>.ext with NAME<R>.ext, any case: e.g. _0,_1\n"
                      "as MPO splitters write, or l,r for HNI_0021l.jpg and HNI_0021r.jpg"_L1,
              .once = true},
    OptionRow{.name = "skip-existing"_L1,
              .help = "leave a pair whose output (both files of --to pair) is already there\n"
                      "(outputs are only ever complete), for one pair too; a rerun of a batch\n"
                      "finishes what a killed run left"_L1},
    OptionRow{.name = "report"_L1,
              .valueName = "FILE"_L1,
              .help = "one JSON line for each pair as it finishes, and a summary line;\n"
                      "appended to, so reruns keep what earlier runs told"_L1,
              .once = true,
              .file = true},
    OptionRow{.name = "jobs"_L1,
              .valueName = "N"_L1,
              .help = "use N threads; by default the CPUs the affinity and a cgroup quota give"_L1,
              .range = NumberRange{1, 1024, "one whole number"_L1},
              .once = true},
    OptionRow{.name = "align"_L1,
              .help = "align the right picture onto the left one first: its rotation, scale\n"
                      "and vertical offset are corrected, the horizontal disparity (the depth)\n"
                      "is kept, and both are cropped to what they share. One line on stderr\n"
                      "tells what was done; a pair that cannot be aligned is refused."_L1},
    OptionRow{.name = "window"_L1,
              .valueName = "auto|N"_L1,
              .help = "auto shifts the right picture so that the nearest 2 % of its textured\n"
                      "patches, each matched along its row, sit at the screen (after --align,\n"
                      "or on the pair as it is without it); N shifts it N pixels to the right\n"
                      "(pushing the scene back into the screen; negative N brings it\n"
                      "forward); both eyes are cropped to what they share"_L1,
              .once = true,
              .values = autoValue},
    OptionRow{.name = "verbose"_L1,
              .help = "with --align: a second line tells how the matching went"_L1},
    OptionRow{.name = "match-colors"_L1,
              .help = "bring the right eye's colours to the left eye's, after --align: a tone\n"
                      "curve per channel, from the two eyes' histograms over the area both\n"
                      "show. One line on stderr tells what the curves did."_L1},
    OptionRow{.name = "resize"_L1,
              .valueName = "WxH|W"_L1,
              .help = "size each eye (not the combined or packed picture) before the eyes are\n"
                      "combined or packed: as large as fits in W x H, or W wide, the aspect\n"
                      "kept; shrunk by area averaging, enlarged by Lanczos"_L1,
              .once = true},
    OptionRow{.name = "max-size"_L1,
              .valueName = "N"_L1,
              .help = "size each eye so that its longer side is at most N; never enlarges"_L1,
              .range = NumberRange{1, kLargestSide, "a whole number of pixels"_L1},
              .once = true},
    OptionRow{.name = "fit"_L1,
              .valueName = "WxH"_L1,
              .help = "a frame of exactly W x H for a 3D TV or projector (1920x1080, 3840x2160):\n"
                      "the anaglyph or the packed eyes scaled to fit, the aspect kept, and\n"
                      "centred on black; not for --to mpo, jps, pair or wiggle"_L1,
              .once = true},
    OptionRow{.name = "to"_L1,
              .valueName = "FORMAT"_L1,
              .help = "what to write (anaglyph, the default, combines by --mode):"_L1,
              .once = true,
              .values = outputValues,
              .listValues = ValuesShown::Listed,
              .helpAfterValues =
                  "--swap, --align and --window apply before the eyes are packed.\n"
                  "Two upright JPEG eyes, or an MPO's, into an MPO (or an MPO into a pair\n"
                  "of .jpg files) are copied losslessly; --align and --window (which move\n"
                  "and crop the pixels) and a turning EXIF orientation force a new encoding."_L1},
    OptionRow{.name = "wiggle-ms"_L1,
              .valueName = "N"_L1,
              .help = "each frame's time in a wiggle animation, 150 by default"_L1,
              .range = NumberRange{20, 10000, "a whole number of milliseconds"_L1},
              .once = true},
    OptionRow{.name = "max-megapixels"_L1,
              .valueName = "N"_L1,
              .help = "refuse a picture of more than N million pixels ({min} to {max}, 100 by\n"
                      "default), which bounds the memory of a pair (see docs/performance.md)"_L1,
              .range = NumberRange{1, int(kMaxPicturePixels / 1'000'000), "a whole number"_L1},
              .once = true},
    OptionRow{.name = "help"_L1, .help = "show this text"_L1, .shortName = "h"_L1},
    OptionRow{.name = "version"_L1, .help = "show the version"_L1},
    // For the shell completion: what follows each option (see completionWords()).
    OptionRow{.name = "completion-words"_L1},
};

const OptionRow &rowNamed(QLatin1StringView name) {
    for (const OptionRow &row : kOptions)
        if (row.name == name)
            return row;
    qFatal("duoptica-combine has no option --%s", name.data());
}

QString withRange(const OptionRow &row, QString text) {
    if (row.range)
        text.replace(u"{min}"_s, QString::number(row.range->min))
            .replace(u"{max}"_s, QString::number(row.range->max));
    return text;
}

// A row's help lines, a line holding a tab starting a row of its own.
QString helpRows(const QString &term, const QString &help) {
    QString rows;
    QString currentTerm = term;
    QStringList lines;
    for (const QString &line : help.split(u'\n')) {
        if (line.contains(u'\t')) {
            rows += helpRow(currentTerm, lines.join(u'\n'));
            currentTerm = line.section(u'\t', 0, 0);
            lines = {line.section(u'\t', 1)};
        } else {
            lines << line;
        }
    }
    return rows + helpRow(currentTerm, lines.join(u'\n'));
}

// "a, b (note) or c", from the help column on, broken into lines the help's width allows.
QString inlineValues(const QString &lead, const QList<NamedValue> &values) {
    QStringList names;
    for (const NamedValue &value : values)
        names << (value.help.isEmpty() ? value.name : value.name + u' ' + value.help);
    return wrapped(lead + u' ' + joinedWithOr(names));
}

QString optionHelp(const OptionRow &row) {
    QString term =
        (row.shortName.isEmpty() ? QString() : u'-' + row.shortName + u", "_s) + u"--"_s + row.name;
    if (!row.valueName.isEmpty())
        term += u' ' + row.valueName;
    QString help = withRange(row, row.help);
    if (row.listValues == ValuesShown::Inline)
        help = inlineValues(help, row.values());
    QString text = helpRows(term, help);
    if (row.listValues != ValuesShown::Listed)
        return text;
    for (const NamedValue &value : row.values())
        if (!value.help.isEmpty())
            text += helpRow(u"  "_s + value.name, value.help);
    return text + helpRow({}, row.helpAfterValues);
}

} // namespace

QList<NamedValue> layoutValues() {
    QList<NamedValue> values;
    for (const LayoutName &layout : kLayouts)
        values.append({layout.name, layout.help});
    return values;
}

std::optional<StereoLayout> layoutNamed(const QString &name) {
    for (const LayoutName &layout : kLayouts)
        if (name.compare(layout.name, Qt::CaseInsensitive) == 0)
            return layout.layout;
    return std::nullopt;
}

QList<NamedValue> modeValues() {
    QList<NamedValue> values;
    for (const MethodName &method : kMethodNames)
        values.append({QString::fromLatin1(method.name), QString::fromLatin1(method.description)});
    return values;
}

std::span<const OptionRow> optionTable() {
    return kOptions;
}

QString joinedWithOr(QStringList names) {
    const QString last = names.takeLast();
    return names.isEmpty() ? last : names.join(u", "_s) + u" or "_s + last;
}

QString helpRow(const QString &term, const QString &text) {
    QString row = term.isEmpty() ? QString() : u"  "_s + term;
    const QStringList lines = text.split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i == 0 && !row.isEmpty() && row.size() <= kHelpColumn - 2) {
            row = row.leftJustified(kHelpColumn);
        } else {
            if (!row.isEmpty())
                row += u'\n';
            row += QString(kHelpColumn, u' ');
        }
        row += lines[i];
    }
    return row + u'\n';
}

QString wrapped(const QString &text) {
    QString lines;
    qsizetype column = kHelpColumn;
    for (const QString &word : text.split(u' ', Qt::SkipEmptyParts)) {
        if (!lines.isEmpty()) {
            const bool fits = column + 1 + word.size() <= kHelpWidth;
            lines += fits ? u' ' : u'\n';
            column = fits ? column + 1 : kHelpColumn;
        }
        lines += word;
        column += word.size();
    }
    return lines;
}

DeclaredOptions::DeclaredOptions() {
    for (const OptionRow &row : kOptions) {
        QStringList names{row.name};
        if (!row.shortName.isEmpty())
            names.prepend(row.shortName);
        m_parser.addOption(QCommandLineOption(names, QString(), row.valueName));
    }
}

QString DeclaredOptions::parse(const QStringList &arguments) {
    return m_parser.parse(arguments) ? QString() : m_parser.errorText();
}

QString DeclaredOptions::refusal() const {
    for (const OptionRow &row : kOptions) {
        const QStringList values = m_parser.values(row.name);
        if (row.once && values.size() > 1)
            return u"--%1 given more than once"_s.arg(row.name);
        if (!row.range || values.isEmpty())
            continue;
        bool isNumber = false;
        const int number = values.last().toInt(&isNumber);
        if (!isNumber || number < row.range->min || number > row.range->max)
            return u"--%1 takes %2 from %3 to %4, not '%5'"_s.arg(row.name, row.range->says)
                .arg(row.range->min)
                .arg(row.range->max)
                .arg(values.last());
    }
    return {};
}

bool DeclaredOptions::isSet(QLatin1StringView name) const {
    return m_parser.isSet(rowNamed(name).name);
}

QString DeclaredOptions::value(QLatin1StringView name) const {
    return m_parser.value(rowNamed(name).name);
}

int DeclaredOptions::number(QLatin1StringView name) const {
    Q_ASSERT(rowNamed(name).range);
    return m_parser.value(name).toInt();
}

QString optionsHelp() {
    QString text = u"Options:\n"_s;
    for (const OptionRow &row : kOptions)
        if (!row.help.isEmpty())
            text += optionHelp(row);
    return text;
}

QString completionWords() {
    QString lines;
    for (const OptionRow &row : kOptions) {
        if (row.valueName.isEmpty() || row.help.isEmpty())
            continue;
        lines += u"--"_s + row.name;
        if (row.values) {
            lines += u" words"_s;
            for (const NamedValue &value : row.values())
                lines += u' ' + value.name;
        } else {
            lines += row.file ? u" file"_s : u" value"_s;
        }
        lines += u'\n';
    }
    return lines;
}

} // namespace duoptica
