#include "frame/messages.h"

#include "platform/platform.h"

namespace frostcap::messages {
namespace {

std::u16string wrap(std::u16string_view opening, std::u16string_view detail) {
  std::u16string text;
  text.reserve(opening.size() + 2 + detail.size() + 1);
  text.append(opening).append(u" (").append(detail).push_back(u')');
  return text;
}

}  // namespace

std::u16string initVssFailed(Status status) {
  return wrap(u"{FATAL_PREFIX}{ERR_INIT_VSS}", formatStatus(status));
}

std::u16string takeSnapshotFailed(std::u16string_view detail) {
  return wrap(u"{FATAL_PREFIX}{ERR_TAKE_SNAPSHOT}", detail);
}

std::u16string catalogueFailed(std::u16string_view detail) {
  return wrap(u"{WARNING_PREFIX}", detail);
}

std::u16string fileSetFailed(std::u16string_view detail) {
  return wrap(u"{WARNING_PREFIX}{ERR_FILE_SET}", detail);
}

std::u16string exceptionDetail(std::string_view what) {
  return u"{FATAL_PREFIX}: " + platform::utf8ToWide(what);
}

std::u16string noComponent(std::u16string_view logicalPath, std::u16string_view componentName) {
  std::u16string detail = u"Path=";
  detail.append(logicalPath).append(u" Name=").append(componentName);
  return wrap(u"{FATAL_PREFIX}{ERR_NO_COMPONENT}", detail);
}

std::u16string callFailed(std::u16string_view label, Status status) {
  std::u16string text(label);
  text += u": ";
  text += formatStatus(status);
  return text;
}

std::u16string writerFailed(std::u16string_view writerName, Status status) {
  std::u16string label(label::kGetWriterStatus);
  label.append(u"(").append(writerName).append(u")");
  return callFailed(label, status);
}

namespace {

std::u16string componentMessage(std::u16string_view token, std::u16string_view componentName,
                                std::u16string_view tail) {
  std::u16string text(token);
  text.append(u": (").append(componentName).append(u"): ").append(tail);
  return text;
}

}  // namespace

std::u16string componentServiceFailure(std::u16string_view componentName, Status status) {
  return componentMessage(u"{ERR_COMPONENT_VSS}", componentName, formatStatus(status));
}

std::u16string componentApplicationFailure(std::u16string_view componentName, Status status) {
  return componentMessage(u"{ERR_COMPONENT_APP}", componentName, formatStatus(status));
}

std::u16string componentCustomFailure(std::u16string_view componentName,
                                      std::u16string_view applicationMessage) {
  return componentMessage(u"{ERR_COMPONENT_CUST}", componentName, applicationMessage);
}

}  // namespace frostcap::messages
