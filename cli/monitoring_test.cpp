// The --prometheus text and file, the clean-cycle rule and the event texts,
// from made-up results; promtool, where it is installed, checks the text.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "cli/event_log.h"
#include "cli/live_result.h"
#include "cli/options.h"
#include "cli/prometheus.h"
#include "common/test_support.h"

namespace {

ScanMetrics healthyScan() {
  ScanMetrics m;
  m.root = "/srv/nas/";
  m.result.checkedBytes = 34854020;
  m.result.filesChecked = 4228;
  m.result.elapsedMilliseconds = 3004;
  m.result.stoppedBy = StopReason::Time;
  m.startedAtMs = 1796833892774;
  m.endedAtMs = 1796833895778;
  m.exitCode = 0;
  return m;
}

ScanMetrics failingScan() {
  ScanMetrics m;
  m.root = "D:\\photos\\";
  m.everyFile = true;
  m.result.checkedBytes = 48318382080;
  m.result.filesChecked = 91422;
  m.result.openErrors = 2100;
  m.result.readErrors = 6342;
  m.result.slowReadsCounted = true;
  m.result.slowReads = 17;
  m.result.elapsedMilliseconds = 4108050;
  m.result.stoppedBy = StopReason::Cycles;
  m.result.cyclesCompleted = 1;
  m.result.coveredFiles = 91422;
  m.result.indexedFiles = 91422;
  m.startedAtMs = 1796829800000;
  m.endedAtMs = 1796833908050;
  m.exitCode = 1;
  m.lastCleanCycleMs = 1796224000005;
  return m;
}

#ifndef _WIN32
// What promtool says of the text, and its exit code.
std::string promtoolVerdict(const std::string& text) {
  ScopedTempDir dir;
  writeTestFile("metrics.prom", text);
  FILE* p = popen("promtool check metrics < metrics.prom 2>&1; echo \"exit $?\"", "r");
  if (p == nullptr) return "cannot run promtool";
  std::string out;
  char buffer[512];
  while (fgets(buffer, sizeof buffer, p) != nullptr) out += buffer;
  pclose(p);
  return out;
}

bool havePromtool() { return std::system("command -v promtool >/dev/null 2>&1") == 0; }
#endif

}  // namespace

TEST(Metrics, AHealthyScanAfterItsEnd) {
  EXPECT_EQ(composeMetrics(healthyScan()),
            "# HELP readsweeper_scan_running Whether a scan is running: 1 during a scan, 0 after it.\n"
            "# TYPE readsweeper_scan_running gauge\n"
            "readsweeper_scan_running{root=\"/srv/nas/\"} 0\n"
            "# HELP readsweeper_checked_bytes Bytes read by the current or last scan.\n"
            "# TYPE readsweeper_checked_bytes gauge\n"
            "readsweeper_checked_bytes{root=\"/srv/nas/\"} 34854020\n"
            "# HELP readsweeper_files_checked Files checked by the current or last scan.\n"
            "# TYPE readsweeper_files_checked gauge\n"
            "readsweeper_files_checked{root=\"/srv/nas/\"} 4228\n"
            "# HELP readsweeper_opening_errors Opening errors of the current or last scan: files that could not be "
            "opened.\n"
            "# TYPE readsweeper_opening_errors gauge\n"
            "readsweeper_opening_errors{root=\"/srv/nas/\"} 0\n"
            "# HELP readsweeper_reading_errors Reading errors of the current or last scan: failed positionings, "
            "failed and short reads.\n"
            "# TYPE readsweeper_reading_errors gauge\n"
            "readsweeper_reading_errors{root=\"/srv/nas/\"} 0\n"
            "# HELP readsweeper_last_scan_start_timestamp_seconds When the current or last scan started, in "
            "seconds since the Unix epoch.\n"
            "# TYPE readsweeper_last_scan_start_timestamp_seconds gauge\n"
            "readsweeper_last_scan_start_timestamp_seconds{root=\"/srv/nas/\"} 1796833892.774\n"
            "# HELP readsweeper_last_scan_end_timestamp_seconds When the last scan ended, in seconds since the Unix "
            "epoch.\n"
            "# TYPE readsweeper_last_scan_end_timestamp_seconds gauge\n"
            "readsweeper_last_scan_end_timestamp_seconds{root=\"/srv/nas/\"} 1796833895.778\n"
            "# HELP readsweeper_last_scan_duration_seconds How long the current or last scan has run.\n"
            "# TYPE readsweeper_last_scan_duration_seconds gauge\n"
            "readsweeper_last_scan_duration_seconds{root=\"/srv/nas/\"} 3.004\n"
            "# HELP readsweeper_last_scan_exit_code The exit code of the last scan: 0 no error, 1 errors found, 3 "
            "folder not listable, 4 error list failed, 130 interrupted.\n"
            "# TYPE readsweeper_last_scan_exit_code gauge\n"
            "readsweeper_last_scan_exit_code{root=\"/srv/nas/\"} 0\n"
            "# HELP readsweeper_build_info The program's version, in the label version; always 1.\n"
            "# TYPE readsweeper_build_info gauge\n"
            "readsweeper_build_info{root=\"/srv/nas/\",version=\"0.03.4\"} 1\n");
}

// The samples alone: the HELP and TYPE lines are those above.
TEST(Metrics, AFailingEveryFileScanAfterItsEnd) {
  std::string text = composeMetrics(failingScan());
  std::string samples;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (text[at] != '#') samples += text.substr(at, end + 1 - at);
    at = end + 1;
  }
  const std::string root = "{root=\"D:\\\\photos\\\\\"}";
  EXPECT_EQ(samples, "readsweeper_scan_running" + root + " 0\n"
                     "readsweeper_checked_bytes" + root + " 48318382080\n"
                     "readsweeper_files_checked" + root + " 91422\n"
                     "readsweeper_opening_errors" + root + " 2100\n"
                     "readsweeper_reading_errors" + root + " 6342\n"
                     "readsweeper_slow_reads" + root + " 17\n"
                     "readsweeper_cycles_completed" + root + " 1\n"
                     "readsweeper_cycle_covered_files" + root + " 91422\n"
                     "readsweeper_cycle_indexed_files" + root + " 91422\n"
                     "readsweeper_last_scan_start_timestamp_seconds" + root + " 1796829800.000\n"
                     "readsweeper_last_scan_end_timestamp_seconds" + root + " 1796833908.050\n"
                     "readsweeper_last_scan_duration_seconds" + root + " 4108.050\n"
                     "readsweeper_last_scan_exit_code" + root + " 1\n"
                     "readsweeper_last_clean_cycle_timestamp_seconds" + root + " 1796224000.005\n"
                     "readsweeper_build_info{root=\"D:\\\\photos\\\\\",version=\"0.03.4\"} 1\n");
  EXPECT_NE(text.find("# HELP readsweeper_cycles_completed "), std::string::npos);
  EXPECT_NE(text.find("# TYPE readsweeper_slow_reads gauge\n"), std::string::npos);
  EXPECT_NE(text.find("# TYPE readsweeper_last_clean_cycle_timestamp_seconds gauge\n"), std::string::npos);
}

// During the scan there is no end, no exit code yet.
TEST(Metrics, ARunningScanHasNoEndAndNoExitCode) {
  ScanMetrics m = healthyScan();
  m.running = true;
  std::string text = composeMetrics(m);
  EXPECT_NE(text.find("readsweeper_scan_running{root=\"/srv/nas/\"} 1\n"), std::string::npos);
  EXPECT_NE(text.find("readsweeper_last_scan_duration_seconds{root=\"/srv/nas/\"} 3.004\n"), std::string::npos);
  EXPECT_EQ(text.find("readsweeper_last_scan_end_timestamp_seconds"), std::string::npos);
  EXPECT_EQ(text.find("readsweeper_last_scan_exit_code"), std::string::npos);
}

TEST(Metrics, LabelValuesAreEscaped) {
  const struct {
    std::string bytes;
    std::string label;
  } cases[] = {
      {"plain/", "\"plain/\""},
      {"say \"hi\"/", "\"say \\\"hi\\\"/\""},
      {"C:\\data\\", "\"C:\\\\data\\\\\""},
      {"two\nlines/", "\"two\\nlines/\""},
      {"tab\tand\rcr/", "\"tab\tand\rcr/\""},
      {"\xe6\x97\xa5\xe6\x9c\xac/", "\"\xe6\x97\xa5\xe6\x9c\xac/\""},
      {"latin\xe9/", "\"latin\xef\xbf\xbd/\""},
      {"cut\xe6\x97", "\"cut\xef\xbf\xbd\xef\xbf\xbd\""},
  };
  for (const auto& c : cases) {
    std::string out;
    appendLabelValue(&out, c.bytes);
    EXPECT_EQ(out, c.label) << c.bytes;
  }
}

#ifndef _WIN32
TEST(Metrics, PromtoolAcceptsTheText) {
  if (!havePromtool()) GTEST_SKIP() << "promtool is not installed";
  ScanMetrics awkward = failingScan();
  awkward.root = "we\\ird \"name\"\nwith a line feed\xff/";
  ScanMetrics running = healthyScan();
  running.running = true;
  for (const ScanMetrics& m : {healthyScan(), failingScan(), awkward, running}) {
    EXPECT_EQ(promtoolVerdict(composeMetrics(m)), "exit 0\n") << composeMetrics(m);
  }
  // The check can fail: a sample without its value is refused.
  EXPECT_NE(promtoolVerdict(composeMetrics(healthyScan()) + "readsweeper_broken{root=\"x\"}\n"), "exit 0\n");
}
#endif

TEST(Metrics, TheLastCleanCycleIsReadBackForItsOwnRootOnly) {
  ScanMetrics m = failingScan();
  std::string text = composeMetrics(m);
  EXPECT_EQ(lastCleanCycleIn(text, m.root), 1796224000005);
  EXPECT_EQ(lastCleanCycleIn(text, "D:\\other\\"), 0);
  EXPECT_EQ(lastCleanCycleIn(composeMetrics(healthyScan()), "/srv/nas/"), 0);
  // A root whose label needs escaping, and one that ends like another.
  m.root = "a \"b\"\n/";
  EXPECT_EQ(lastCleanCycleIn(composeMetrics(m), m.root), 1796224000005);
  m.root = "x/photos\\";
  EXPECT_EQ(lastCleanCycleIn(composeMetrics(m), "photos\\"), 0);
  // Fewer decimals, none, and text that is no number.
  const std::string name = "readsweeper_last_clean_cycle_timestamp_seconds{root=\"r/\"} ";
  EXPECT_EQ(lastCleanCycleIn(name + "12.5\n", "r/"), 12500);
  EXPECT_EQ(lastCleanCycleIn(name + "12\n", "r/"), 12000);
  EXPECT_EQ(lastCleanCycleIn(name + "NaN\n", "r/"), 0);
  EXPECT_EQ(lastCleanCycleIn(name + "1e9\n", "r/"), 0);
  EXPECT_EQ(lastCleanCycleIn("# " + name + "12\n", "r/"), 0);
}

TEST(MetricsFile, ReplacesTheFileWholeAndLeavesItAsItWasOnFailure) {
  ScopedTempDir dir;
  ASSERT_EQ(writeMetricsFile("out.prom", "first\n"), 0);
  EXPECT_EQ(readTestFile("out.prom"), "first\n");
  ASSERT_EQ(writeMetricsFile("out.prom", "second, longer\n"), 0);
  EXPECT_EQ(readTestFile("out.prom"), "second, longer\n");
  ASSERT_EQ(writeMetricsFile("out.prom", "3\n"), 0);
  EXPECT_EQ(readTestFile("out.prom"), "3\n");
  EXPECT_NE(writeMetricsFile("missing/out.prom", "x\n"), 0);
  // The new file cannot be made: the old one stays.
  std::filesystem::create_directory("out.prom.tmp");
  EXPECT_NE(writeMetricsFile("out.prom", "lost\n"), 0);
  EXPECT_EQ(readTestFile("out.prom"), "3\n");
}

TEST(MetricsFile, TheLastCleanCycleOfAnEarlierFile) {
  ScopedTempDir dir;
  EXPECT_EQ(readLastCleanCycle("none.prom", "D:\\photos\\"), 0);
  writeTestFile("earlier.prom", composeMetrics(failingScan()));
  EXPECT_EQ(readLastCleanCycle("earlier.prom", "D:\\photos\\"), 1796224000005);
  EXPECT_EQ(readLastCleanCycle("earlier.prom", "D:\\"), 0);
}

TEST(CleanCycles, OnlyACycleWithoutErrorsSinceTheLastBoundary) {
  CycleWatch watch;
  ScanResult r;
  auto at = [&](int64_t cycles, int64_t openErrors, int64_t readErrors) {
    r.cyclesCompleted = cycles;
    r.openErrors = openErrors;
    r.readErrors = readErrors;
    return cleanCycleCompleted(&watch, r);
  };
  EXPECT_FALSE(at(0, 0, 0));  // the first cycle under way
  EXPECT_TRUE(at(1, 0, 0));   // it ended clean
  EXPECT_FALSE(at(1, 0, 0));  // the same boundary again
  EXPECT_FALSE(at(1, 1, 0));  // an error in the second cycle...
  EXPECT_FALSE(at(2, 1, 0));  // ...which ends unclean
  EXPECT_FALSE(at(2, 1, 2));
  EXPECT_FALSE(at(3, 1, 3));  // a reading error in the third
  EXPECT_TRUE(at(4, 1, 3));   // the fourth is clean again
  EXPECT_FALSE(at(5, 2, 3));  // an error seen only at the boundary counts
}

TEST(Events, KindAndText) {
  ScanResult clean;
  clean.checkedBytes = 3000;
  clean.filesChecked = 3;
  clean.elapsedMilliseconds = 1500;
  clean.stoppedBy = StopReason::Cycles;
  EXPECT_EQ(eventKindOf(clean), EventKind::Clean);
  EXPECT_EQ(composeEventText(clean, "C:\\logs\\errors.csv"),
            "checked 3000 B, files checked 3, opening errors 0, reading errors 0, 1 s; stopped by the cycle limit");

  ScanResult failing = clean;
  failing.openErrors = 1;
  failing.readErrors = 2;
  EXPECT_EQ(eventKindOf(failing), EventKind::Errors);
  EXPECT_EQ(composeEventText(failing, "C:\\logs\\errors.csv"),
            "checked 3000 B, files checked 3, opening errors 1, reading errors 2, 1 s; stopped by the cycle limit; "
            "error list: C:\\logs\\errors.csv");
  EXPECT_EQ(composeEventText(failing, ""),
            "checked 3000 B, files checked 3, opening errors 1, reading errors 2, 1 s; stopped by the cycle limit");

  // Errors found outweigh an interrupt; without errors it is a warning.
  failing.stoppedBy = StopReason::User;
  EXPECT_EQ(eventKindOf(failing), EventKind::Errors);
  ScanResult interrupted = clean;
  interrupted.stoppedBy = StopReason::User;
  EXPECT_EQ(eventKindOf(interrupted), EventKind::Incomplete);
  EXPECT_EQ(composeEventText(interrupted, "C:\\logs\\errors.csv"),
            "checked 3000 B, files checked 3, opening errors 0, reading errors 0, 1 s; stopped by an interrupt");
  ScanResult listFailed = clean;
  listFailed.stoppedBy = StopReason::ErrorList;
  EXPECT_EQ(eventKindOf(listFailed), EventKind::Incomplete);
  for (StopReason rule : {StopReason::Checked, StopReason::Errors, StopReason::Time}) {
    clean.stoppedBy = rule;
    EXPECT_EQ(eventKindOf(clean), EventKind::Clean);
  }
}

TEST(MonitoringOptions, ParsedAndRefused) {
  CommandLine line;
  std::string problem;
  ASSERT_TRUE(parseCommandLine({"--prometheus", "/var/lib/x.prom", "--event-log", "share"}, &line, &problem));
  EXPECT_EQ(line.prometheusFile, "/var/lib/x.prom");
  EXPECT_TRUE(line.eventLog);
  EXPECT_FALSE(line.settingsGiven);
  ASSERT_TRUE(parseCommandLine({"--prometheus=a.prom", "share"}, &line, &problem));
  EXPECT_EQ(line.prometheusFile, "a.prom");
  ASSERT_TRUE(parseCommandLine({"--register-event-source"}, &line, &problem));
  EXPECT_TRUE(line.registerEventSource);

  EXPECT_FALSE(parseCommandLine({"share", "--prometheus"}, &line, &problem));
  EXPECT_EQ(problem, "--prometheus: needs a value");
  EXPECT_FALSE(parseCommandLine({"--prometheus=", "share"}, &line, &problem));
  EXPECT_EQ(problem, "--prometheus: needs a file name");
  EXPECT_FALSE(parseCommandLine({"--event-log=yes", "share"}, &line, &problem));
  EXPECT_EQ(problem, "--event-log: takes no value");
  EXPECT_FALSE(parseCommandLine({"--event-log"}, &line, &problem));
  EXPECT_EQ(problem, "no FOLDER given (see --help)");
}
