// A test host's get-variable and set-variable functions: they answer from a
// table of variables and record every call, with the bytes received.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

struct RecordingHostRecord {
  std::map<std::string, std::string> variables;                // what get-variable answers
  std::vector<std::string> asked;                              // names get-variable received
  std::vector<std::pair<std::string, std::string>> published;  // (name, value) set-variable received
  void Clear(std::map<std::string, std::string> vars = {}) {
    variables = std::move(vars);
    asked.clear();
    published.clear();
  }
};
inline RecordingHostRecord Recorder;

// Unknown names answer 0, as the host program does.
inline const char* __stdcall RecordingGet(const char* name) {
  std::string n = name != nullptr ? name : "<null block>";
  Recorder.asked.push_back(n);
  auto it = Recorder.variables.find(n);
  return it != Recorder.variables.end() ? it->second.c_str() : nullptr;
}

inline std::int32_t __stdcall RecordingSet(const char* name, const char* value) {
  Recorder.published.emplace_back(name != nullptr ? name : "<null block>", value != nullptr ? value : "<null block>");
  return 1;
}
