#include "host/script.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trim(const std::string& s) {
  std::size_t begin = 0;
  std::size_t end = s.size();
  while (begin < end && IsBlank(s[begin])) ++begin;
  while (end > begin && IsBlank(s[end - 1])) --end;
  return s.substr(begin, end - begin);
}

// The first word of text and, in rest, what follows it, trimmed.
std::string SplitWord(const std::string& text, std::string& rest) {
  std::size_t end = 0;
  while (end < text.size() && !IsBlank(text[end])) ++end;
  rest = Trim(text.substr(end));
  return text.substr(0, end);
}

bool ParseMillis(const std::string& text, std::uint32_t& millis) {
  if (text.empty() || text.size() > 10) return false;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (value > MaxWaitMillis) return false;
  millis = static_cast<std::uint32_t>(value);
  return true;
}

}  // namespace

bool ParseScriptLine(const std::string& rawLine, int lineNumber, ScriptCommand& command, std::string& error) {
  command = ScriptCommand{};
  command.line = lineNumber;
  std::string line = rawLine;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  line = Trim(line);
  if (line.empty() || line.front() == '#') return true;

  std::string rest;
  std::string word = SplitWord(line, rest);
  if (word == "set") {
    std::string value;
    command.name = SplitWord(rest, value);
    if (command.name.empty()) {
      error = "'set' needs a variable name";
      return false;
    }
    command.kind = CommandKind::SetVariable;
    command.text = value;
    return true;
  }
  if (word == "wait") {
    if (!ParseMillis(rest, command.millis)) {
      error = "'wait' needs a whole number of milliseconds from 0 to " + std::to_string(MaxWaitMillis);
      return false;
    }
    command.kind = CommandKind::Wait;
    return true;
  }
  if (word == "print") {
    std::string extra;
    command.name = SplitWord(rest, extra);
    if (!extra.empty()) {
      error = "'print' takes at most one variable name";
      return false;
    }
    command.kind = CommandKind::Print;
    return true;
  }
  if (word == "actions") {
    if (!rest.empty()) {
      error = "'actions' takes nothing after it";
      return false;
    }
    command.kind = CommandKind::ListActions;
    return true;
  }
  command.kind = CommandKind::Action;
  command.name = word;
  command.text = rest;
  command.hasText = !rest.empty();
  return true;
}

const char* const ScriptSyntaxHelp = R"(Script syntax (one command per line; the whole script is checked before it runs):
  # text                  a comment; blank lines are ignored too
  <Action> [parameter]    run a registered action by its exact name; the parameter
                          is the rest of the line: a number (440, 27.5, NaN) or a
                          host variable's name in brackets ([Freq]). Actions that
                          take a parameter must have one.
  set <Name> [value]      set a host variable; the value is the rest of the line
  wait <ms>               pause for 0 to 86400000 milliseconds
  print [<Name>]          print one variable as "Name = value", or all of them
  actions                 list the plug-in's registered actions
A line that names no registered action or is malformed is reported with its
line number and nothing runs. At the end of the script, or on an error, a
started tone generator is stopped (Kalvix_Stop) before the plug-in is unloaded.
Exit status: 0 success, 1 script error, 2 the plug-in or script could not be loaded.)";
