// The options of duoptica-combine, declared once: the parser, its "given more than once" and range
// checks, the Options block of --help and the shell completion's word lists are all made from
// one table. What an option's value means, and the rules between options, stay with the code
// that reads them.
#pragma once

#include "pair_job.h"

#include <QCommandLineParser>
#include <QLatin1StringView>
#include <QList>
#include <QString>

#include <optional>
#include <span>

namespace duoptica {

// A value an option takes by name, with its line for --help (empty: named in the option's own
// help, not listed).
struct NamedValue {
    QString name;
    QString help;
};

// The whole numbers an option takes, and how its refusal calls them ("a whole number of pixels").
struct NumberRange {
    int min;
    int max;
    QLatin1StringView says;
};

// How --help shows the values an option takes by name: not at all (listed elsewhere, or
// obvious), one a row under the option's help, or named in a sentence at the end of its help.
enum class ValuesShown { No, Listed, Inline };

// What the tool writes without --mode and --to: an anaglyph for common red-cyan glasses. The
// window's own default (normal) is --mode normal.
inline constexpr AnaglyphMethod kDefaultMode = AnaglyphMethod::DuboisRedCyan;

// The largest side of an eye --resize and --max-size take, in pixels.
inline constexpr int kLargestSide = 30000;

struct OptionRow {
    QLatin1StringView name;        // as --NAME
    QLatin1StringView valueName{}; // as --help shows it; empty: a switch
    // Lines for --help, '\n' apart; "{min}" and "{max}" stand for the range's ends, and a line
    // holding a tab is a row of its own ("--shard auto[/N]\t..."). Empty: not in the Options
    // block (--batch is told with the inputs; --completion-words serves the completion only).
    QLatin1StringView help{};
    std::optional<NumberRange> range{};      // the value is a whole number within it
    bool once = false;                       // refused when given more than once
    bool file = false;                       // its value is a file's name (for the completion)
    QList<NamedValue> (*values)() = nullptr; // the values it takes by name, if any
    ValuesShown listValues = ValuesShown::No;
    QLatin1StringView helpAfterValues{}; // lines after the listed values
    QLatin1StringView shortName{};       // -h
};

// Every option, in the order --help lists them.
std::span<const OptionRow> optionTable();

// The layouts --layout takes, in the order --help lists them.
QList<NamedValue> layoutValues();
// The layout --layout names, in any case; none for an unknown name.
std::optional<StereoLayout> layoutNamed(const QString &name);
// The modes --mode takes, from the engine's list.
QList<NamedValue> modeValues();

// The command line read by Qt's parser, built from the table.
class DeclaredOptions {
public:
    DeclaredOptions();

    // Empty when every option is known and has its value; else the parser's complaint.
    QString parse(const QStringList &arguments);
    // Empty when no once-only option is given twice and every number is in its range.
    QString refusal() const;

    bool isSet(QLatin1StringView name) const;
    QString value(QLatin1StringView name) const;
    // The value of a ranged option, checked by refusal().
    int number(QLatin1StringView name) const;
    QStringList positionalArguments() const { return m_parser.positionalArguments(); }

private:
    QCommandLineParser m_parser;
};

// "a, b or c".
QString joinedWithOr(QStringList names);

// One row of --help: TERM at two spaces, then TEXT's lines from the help column on.
QString helpRow(const QString &term, const QString &text);
// TEXT as lines from the help column on, broken at spaces before the help's width.
QString wrapped(const QString &text);

// The Options block of --help, heading and all.
QString optionsHelp();

// One line per option that takes a value: "--NAME KIND [WORD...]", KIND words (the values it
// takes by name), file or value (anything); for the shell completion.
QString completionWords();

} // namespace duoptica
