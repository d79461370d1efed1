#include "doctor.h"

#include <vector>

#include "messages.h"
#include "session.h"

namespace frostcap::cli {

Check volumeTrial(const Api& api, const std::string& volume, bool raw) {
  Check check{"volume trial"};
  Session session(api, false);
  if (!session.valid()) {
    check.verdict = Verdict::kProblem;
    check.finding = "the library could not create a snapshot handle";
    return check;
  }
  session.addVolume(volume);
  const bool made = session.prepare() == 0 && session.takeSnapshot() == 0;
  const std::vector<std::string> mountPaths = session.mountPaths();
  std::string messages;
  for (const std::string& message : session.messages()) {
    messages += (messages.empty() ? "" : "; ") + (raw ? message : renderMessage(message));
  }
  session.free(0);
  if (made) {
    check.verdict = Verdict::kOk;
    check.finding = "a shadow copy of " + volume + " was made" +
                    (mountPaths.empty() ? "" : " (" + mountPaths.front() + ")") +
                    " and released at once" + (messages.empty() ? "" : "; " + messages);
  } else {
    check.verdict = Verdict::kProblem;
    check.finding = "no shadow copy of " + volume + " could be made: " + messages;
    check.advice = "docs/messages.md says what to do about each message";
  }
  return check;
}

const char* verdictName(Verdict verdict) {
  switch (verdict) {
    case Verdict::kOk:
      return "ok";
    case Verdict::kProblem:
      return "problem";
    case Verdict::kCannotTell:
      break;
  }
  return "cannot tell";
}

std::string checkLine(const Check& check) {
  std::string line = verdictName(check.verdict);
  line.resize(13, ' ');
  line += check.name + ": " + check.finding;
  if (!check.advice.empty()) line += " -> " + check.advice;
  return line;
}

}  // namespace frostcap::cli
