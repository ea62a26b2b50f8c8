#include "cli/event_log.h"
#include "cli/report.h"

EventKind eventKindOf(const ScanResult& r) {
  if (r.openErrors + r.readErrors > 0) return EventKind::Errors;
  switch (r.stoppedBy) {
    case StopReason::None:
    case StopReason::User:
    case StopReason::ErrorList: return EventKind::Incomplete;
    case StopReason::Checked:
    case StopReason::Errors:
    case StopReason::Time:
    case StopReason::Cycles: break;
  }
  return EventKind::Clean;
}

std::string composeEventText(const ScanResult& r, std::string_view errorList) {
  std::string text = composeSummaryLine(r);
  if (eventKindOf(r) == EventKind::Errors && !errorList.empty()) {
    text += "; error list: ";
    text += errorList;
  }
  return text;
}
