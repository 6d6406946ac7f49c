// The host's script language and the host's own records, shared by kqhost
// (which runs a script against the plug-in DLL) and kq-render (which renders
// it offline): parsing and checking a script, the registered actions, the
// host variables, and the commands that are the host's own. Portable: no
// platform header. Runs on the host's one thread.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
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
  int line = 0;          // 1-based line number in the script
  std::string name;      // action or variable name; empty for "print" alone
  std::string text;      // parameter text or variable value
  bool hasText = false;  // an action line with a parameter
  std::uint32_t millis = 0;
};

// The longest wait a script may ask for: one day, in milliseconds.
constexpr std::uint32_t MaxWaitMillis = 86400000u;

// Exit statuses of the programs that run scripts.
constexpr int ExitOk = 0;
constexpr int ExitScriptError = 1;  // malformed line, unknown action, action not handled
constexpr int ExitLoadError = 2;    // the script (or the plug-in) could not be loaded, or a bad command line

// Splits one script line (without its line break; a trailing CR is ignored)
// into a command. Returns false and sets error to a message without the line
// number when the line is malformed. Does not check that an action exists.
bool ParseScriptLine(const std::string& line, int lineNumber, ScriptCommand& command, std::string& error);

// Reads a script's lines from a file, or from standard input for "-".
// Returns false when it cannot be read.
bool ReadScriptLines(const std::string& path, std::vector<std::string>& lines);

// The script syntax, as printed by --help.
extern const char* const ScriptSyntaxHelp;

struct HostAction {
  std::int32_t id;
  std::string name;
  std::string description;
  std::int32_t paramFlag;
};

// The host's one record: what the plug-in registered, the variables, and
// where messages go.
struct ScriptHostRecord {
  std::string program;         // prefix of errors without a line, e.g. "kqhost"
  std::string source;          // the script's name in messages, or "<stdin>"
  std::FILE* out = stdout;     // print, actions, published variables
  bool showPublished = false;  // print "published Name = value" as each arrives
  std::vector<HostAction> actions;
  std::map<std::string, std::string> variables;
};

// Registers an action; a name registered again keeps its place and takes the
// newest registration. An empty name registers nothing and returns false.
bool RegisterHostAction(ScriptHostRecord& host, const HostAction& action);

// The registered action of that exact name, or nullptr.
const HostAction* FindHostAction(const ScriptHostRecord& host, const std::string& name);

// The variable's value, or nullptr when it is not set. The pointer stays
// valid until the variable is set again.
const std::string* FindHostVariable(const ScriptHostRecord& host, const std::string& name);

// A variable published by the plug-in: stored, and printed when asked for.
void PublishHostVariable(ScriptHostRecord& host, const std::string& name, const std::string& value);

// "<source>:<line>: error: <message>" on standard error, or
// "<program>: error: <message>" for line 0. Flushes `out` first.
void ReportScriptError(const ScriptHostRecord& host, int line, const std::string& message);

// Parses every line, reporting each malformed one. Blank lines and comments
// are dropped. Returns false when any line is malformed.
bool ParseScript(const ScriptHostRecord& host, const std::vector<std::string>& lines,
                 std::vector<ScriptCommand>& commands);

// Checks every action line against the registered actions: the name must
// exist and an action that takes a parameter must have one. Reports each
// bad line; returns false when there is one.
bool CheckScriptActions(const ScriptHostRecord& host, const std::vector<ScriptCommand>& commands);

// Runs the commands that are the host's own (Nothing, SetVariable, Print,
// ListActions). Returns false, doing nothing, for Wait and Action, which the
// program runs itself.
bool RunHostCommand(ScriptHostRecord& host, const ScriptCommand& command);
