#include "platform/window.h"
#include "scan/engine.h"
#include "scan/scan.h"

Text composeSettingsSummary(const Settings& s) {
  Text summary;
  if (!s.showSetup) return summary;
  summary.append("settings: ");
  if (s.scanAllFiles) summary.append("scan all files, ");
  if (s.checkEveryFile) summary.append("every file, ");
  if (s.readPastCache) summary.append("past cache, ");
  if (s.parallelReads != 1) {
    summary.appendInt(s.parallelReads);
    summary.append(" readers, ");
  }
  if (s.readRateLimit > 0) {
    summary.append("at most ");
    if (s.showFullFileSize) {
      summary.appendInt(s.readRateLimit);
      summary.append("B");
    } else {
      summary += formatFileSize(s.readRateLimit);
    }
    summary.append("/s, ");
  }
  if (s.backgroundPriority) summary.append("background, ");
  if (s.readWholeFiles) {
    summary.append("whole files in ");
    summary.appendInt(wholeFileBlockSize(s));
    summary.append("-byte blocks, ");
  }
  if (s.slowReadLimit > 0) {
    summary.append("slow read over ");
    summary.appendInt(s.slowReadLimit);
    summary.append(" ms, ");
  }
  if (s.repeatRead > 1) {
    summary.appendInt(s.repeatRead);
    summary.append("x repeat read, ");
  }
  if (s.bytesToReadAtOnce > 0) {
    summary.appendInt(s.bytesToReadAtOnce);
    summary.append(" bytes at once, ");
  }
  if (s.stopAfterErrors > 0) {
    summary.append("stop after ");
    summary.appendInt(s.stopAfterErrors);
    summary.append(" error bytes, ");
  }
  if (s.stopAfterCycles > 0) {
    summary.append("stop after ");
    summary.appendInt(s.stopAfterCycles);
    summary.append(" cycles, ");
  }
  if (s.stopAfterSeconds > 0) {
    summary.append("stop after ");
    summary.appendInt(s.stopAfterSeconds);
    summary.append(" s, ");
  }
  if (s.stopAfterChecked > 0) {
    summary.append("check ");
    if (s.showFullFileSize) {
      summary.appendInt(s.stopAfterChecked);
      summary.append("B");
    } else {
      summary += formatFileSize(s.stopAfterChecked);
    }
  }
  // A summary ending in a ", " separator keeps only its space.
  if (summary.size() >= 2 && summary[summary.size() - 2] == ',') summary.erase(summary.size() - 2);
  return summary;
}

void refreshSettingsLine(const Settings& s) {
  setControlText(Control::SettingsLine, composeSettingsSummary(s));
}

Text versionText() {
  Text version("version ");
  version.appendInt(0);
  version.append(".0");
  version.appendInt(3);
  version.append(".");
  version.appendInt(4);
  return version;
}
