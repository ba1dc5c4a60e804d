// What our command-line programs do with their command line beyond QCommandLineParser: a
// usage error told the same way by each, and the arguments as the bytes they were given
// (Qt decodes them to QStrings, which cannot hold a file name that is not valid in the
// locale).
//
// Thread: the program's main thread.
#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>
#include <map>
#include <string>
#include <vector>

// A positional argument as the help lists it.
struct TPositionalHelp {
  QString name, description;
};

// Sets Parser up for a program (Description, --help, --version, Options, Positional) and
// parses the command line, where --help and --version show their text and end the program.
// Returns the usage error, empty when the line parsed. Not QCommandLineParser::process(): it
// ends the program with status 1 on an unknown option.
QString ParseProgramLine(QCommandLineParser& parser, const char* description,
                         const QList<QCommandLineOption>& options,
                         const std::vector<TPositionalHelp>& positional);

// Writes "PROGRAM: ERROR", a blank line and the help text to standard error; returns 2, the
// exit status of a usage error.
int UsageError(const std::string& program, const QCommandLineParser& parser, const QString& error);

// The command line as the bytes it was given.
struct TRawArguments {
  std::vector<std::string> positional;
  std::map<std::string, std::string> values;  // an option's last value, by its long name
};

// Splits Argv the way QCommandLineParser does for options that have long names only:
// "--name value", "--name=value", "--" ending the options, "-" alone a positional argument.
TRawArguments SplitRaw(int argc, char** argv, const QList<QCommandLineOption>& options);

// The bytes of Decoded as given on the command line: Raw when it decodes to Decoded, else
// Decoded in the locale's encoding.
std::string ArgumentBytes(const std::string* raw, const QString& decoded);

// The positional arguments of Parser as bytes: Raw's where they match Parser's in number.
std::vector<std::string> PositionalBytes(const QCommandLineParser& parser,
                                         const TRawArguments& raw);

// The value of the option LongName as bytes, empty when it is not set.
std::string OptionBytes(const QCommandLineParser& parser, const TRawArguments& raw,
                        const std::string& longName);
