#include "host/script.h"

#include <fstream>
#include <iostream>

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

const char* const ScriptSyntaxHelp =
    R"(Script syntax (one command per line; the whole script is checked before it runs):
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
line number and nothing runs.)";

bool ReadScriptLines(const std::string& path, std::vector<std::string>& lines) {
  std::ifstream file;
  if (path != "-") {
    file.open(path, std::ios::binary);
    if (!file) return false;
  }
  std::istream& in = path == "-" ? std::cin : file;
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return !in.bad();
}

bool RegisterHostAction(ScriptHostRecord& host, const HostAction& action) {
  if (action.name.empty()) return false;
  for (HostAction& a : host.actions) {
    if (a.name == action.name) {
      a = action;
      return true;
    }
  }
  host.actions.push_back(action);
  return true;
}

const HostAction* FindHostAction(const ScriptHostRecord& host, const std::string& name) {
  for (const HostAction& a : host.actions) {
    if (a.name == name) return &a;
  }
  return nullptr;
}

const std::string* FindHostVariable(const ScriptHostRecord& host, const std::string& name) {
  auto it = host.variables.find(name);
  return it != host.variables.end() ? &it->second : nullptr;
}

void PublishHostVariable(ScriptHostRecord& host, const std::string& name, const std::string& value) {
  if (host.showPublished) {
    std::fprintf(host.out, "published %s = %s\n", name.c_str(), value.c_str());
    std::fflush(host.out);
  }
  host.variables[name] = value;
}

void ReportScriptError(const ScriptHostRecord& host, int line, const std::string& message) {
  std::fflush(host.out);
  if (line > 0) {
    std::fprintf(stderr, "%s:%d: error: %s\n", host.source.c_str(), line, message.c_str());
  } else {
    std::fprintf(stderr, "%s: error: %s\n", host.program.c_str(), message.c_str());
  }
}

bool ParseScript(const ScriptHostRecord& host, const std::vector<std::string>& lines,
                 std::vector<ScriptCommand>& commands) {
  bool ok = true;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    ScriptCommand command;
    std::string error;
    const int lineNumber = static_cast<int>(i + 1);
    if (!ParseScriptLine(lines[i], lineNumber, command, error)) {
      ReportScriptError(host, lineNumber, error);
      ok = false;
    } else if (command.kind != CommandKind::Nothing) {
      commands.push_back(command);
    }
  }
  return ok;
}

bool CheckScriptActions(const ScriptHostRecord& host, const std::vector<ScriptCommand>& commands) {
  bool ok = true;
  for (const ScriptCommand& c : commands) {
    if (c.kind != CommandKind::Action) continue;
    const HostAction* action = FindHostAction(host, c.name);
    if (action == nullptr) {
      ReportScriptError(host, c.line, "unknown action or command '" + c.name + "'");
      ok = false;
    } else if (action->paramFlag != 0 && !c.hasText) {
      ReportScriptError(host, c.line, "action '" + c.name + "' needs a parameter");
      ok = false;
    }
  }
  return ok;
}

bool RunHostCommand(ScriptHostRecord& host, const ScriptCommand& c) {
  switch (c.kind) {
    case CommandKind::Nothing: return true;
    case CommandKind::SetVariable: host.variables[c.name] = c.text; return true;
    case CommandKind::Print:
      if (!c.name.empty()) {
        const std::string* value = FindHostVariable(host, c.name);
        if (value == nullptr) {
          std::fprintf(host.out, "%s is not set\n", c.name.c_str());
        } else {
          std::fprintf(host.out, "%s = %s\n", c.name.c_str(), value->c_str());
        }
      } else {
        if (host.variables.empty()) std::fprintf(host.out, "(no variables)\n");
        for (const auto& v : host.variables) std::fprintf(host.out, "%s = %s\n", v.first.c_str(), v.second.c_str());
      }
      return true;
    case CommandKind::ListActions:
      for (const HostAction& a : host.actions) {
        std::fprintf(host.out, "%d %s%s - %s\n", a.id, a.name.c_str(), a.paramFlag != 0 ? " <parameter>" : "",
                     a.description.c_str());
      }
      return true;
    case CommandKind::Wait:
    case CommandKind::Action: return false;
  }
  return false;
}
