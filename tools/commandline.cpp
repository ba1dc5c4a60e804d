#include "commandline.h"

#include <QCoreApplication>
#include <iostream>

QString ParseProgramLine(QCommandLineParser& parser, const char* description,
                         const QList<QCommandLineOption>& options,
                         const std::vector<TPositionalHelp>& positional) {
  parser.setApplicationDescription(description);
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addOptions(options);
  for (const TPositionalHelp& p : positional) parser.addPositionalArgument(p.name, p.description);
  if (!parser.parse(QCoreApplication::arguments())) return parser.errorText();
  if (parser.isSet("help") || parser.isSet("help-all")) parser.showHelp(0);
  if (parser.isSet("version")) parser.showVersion();
  return {};
}

int UsageError(const std::string& program, const QCommandLineParser& parser, const QString& error) {
  std::cerr << program << ": " << error.toStdString() << "\n\n" << parser.helpText().toStdString();
  return 2;
}

TRawArguments SplitRaw(int argc, char** argv, const QList<QCommandLineOption>& options) {
  std::map<std::string, bool> takesValue;
  for (const QCommandLineOption& o : options)
    for (const QString& name : o.names()) takesValue[name.toStdString()] = !o.valueName().isEmpty();
  TRawArguments raw;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (optionsEnded || arg == "-" || arg.empty() || arg[0] != '-') {
      raw.positional.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg.compare(0, 2, "--") == 0) {
      const std::size_t eq = arg.find('=');
      const std::string name = arg.substr(2, eq == std::string::npos ? eq : eq - 2);
      if (eq != std::string::npos)
        raw.values[name] = arg.substr(eq + 1);
      else if (takesValue[name] && i + 1 < argc)
        raw.values[name] = argv[++i];
    }
  }
  return raw;
}

std::string ArgumentBytes(const std::string* raw, const QString& decoded) {
  if (raw && QString::fromLocal8Bit(raw->data(), static_cast<qsizetype>(raw->size())) == decoded)
    return *raw;
  return decoded.toLocal8Bit().toStdString();
}

std::vector<std::string> PositionalBytes(const QCommandLineParser& parser,
                                         const TRawArguments& raw) {
  const QStringList args = parser.positionalArguments();
  const bool rawMatches = raw.positional.size() == static_cast<std::size_t>(args.size());
  std::vector<std::string> bytes;
  for (qsizetype i = 0; i < args.size(); ++i)
    bytes.push_back(ArgumentBytes(
        rawMatches ? &raw.positional[static_cast<std::size_t>(i)] : nullptr, args[i]));
  return bytes;
}

std::string OptionBytes(const QCommandLineParser& parser, const TRawArguments& raw,
                        const std::string& longName) {
  const QString name = QString::fromStdString(longName);
  if (!parser.isSet(name)) return {};
  const auto given = raw.values.find(longName);
  return ArgumentBytes(given == raw.values.end() ? nullptr : &given->second, parser.value(name));
}
