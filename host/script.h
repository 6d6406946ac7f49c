// The host's script language: one command per line. Parsing only; the host
// program decides what a name means and runs the commands.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class CommandKind {
  Nothing,      // blank line or # comment
  Action,       // <ActionName> [parameter text]
  SetVariable,  // set <Name> [value]
  Wait,         // wait <milliseconds>
  Print,        // print [<Name>]
  ListActions,  // actions
};

struct ScriptCommand {
  CommandKind kind = CommandKind::Nothing;
  int line = 0;           // 1-based line number in the script
  std::string name;       // action or variable name; empty for "print" alone
  std::string text;       // parameter text or variable value
  bool hasText = false;   // an action line with a parameter
  std::uint32_t millis = 0;
};

// The longest wait a script may ask for: one day, in milliseconds.
constexpr std::uint32_t MaxWaitMillis = 86400000u;

// Splits one script line (without its line break; a trailing CR is ignored)
// into a command. Returns false and sets error to a message without the line
// number when the line is malformed. Does not check that an action exists.
bool ParseScriptLine(const std::string& line, int lineNumber, ScriptCommand& command, std::string& error);

// The script syntax, as printed by --help.
extern const char* const ScriptSyntaxHelp;
