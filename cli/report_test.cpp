#include "cli/report.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <random>
#include <string>

namespace {

std::string jsonString(std::string_view bytes) {
  std::string out;
  appendJsonString(&out, bytes);
  return out;
}

ScanResult sample() {
  ScanResult r;
  r.checkedBytes = 5000000000;
  r.filesChecked = 1234;
  r.openErrors = 2;
  r.readErrors = 7;
  r.elapsedMilliseconds = 2005;
  r.stoppedBy = StopReason::Time;
  r.cyclesCompleted = 3;
  r.coveredFiles = 10;
  r.indexedFiles = 40;
  return r;
}

}  // namespace

TEST(JsonString, Escapes) {
  const struct {
    std::string bytes;
    std::string json;
  } cases[] = {
      {"", "\"\""},
      {"plain/path/", "\"plain/path/\""},
      {"quote\"back\\slash", "\"quote\\\"back\\\\slash\""},
      {"C:\\data\\", "\"C:\\\\data\\\\\""},
      {"line\nfeed\rtab\tbs\bff\f", "\"line\\nfeed\\rtab\\tbs\\bff\\f\""},
      {std::string("nul\0one\x01us\x1f", 11), "\"nul\\u0000one\\u0001us\\u001f\""},
      {"del\x7f", "\"del\x7f\""},
      {"\xc3\xa9t\xc3\xa9 \xe6\x97\xa5 \xf0\x9f\x98\x80", "\"\xc3\xa9t\xc3\xa9 \xe6\x97\xa5 \xf0\x9f\x98\x80\""},
      {"bad\xff", "\"bad\xef\xbf\xbd\""},
      {"latin\xe9", "\"latin\xef\xbf\xbd\""},                        // Windows-1252 é
      {"cut\xe6\x97", "\"cut\xef\xbf\xbd\xef\xbf\xbd\""},           // a character cut short
      {"long\xc0\xaf", "\"long\xef\xbf\xbd\xef\xbf\xbd\""},         // an overlong '/'
      {"surrogate\xed\xa0\x80", "\"surrogate\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\""},
      {"\x80lead", "\"\xef\xbf\xbdlead\""},
  };
  for (const auto& c : cases) EXPECT_EQ(jsonString(c.bytes), c.json) << c.bytes;
}

// Whatever the bytes, a JSON reader takes the string, and gives back the
// bytes themselves when they were UTF-8.
TEST(JsonString, AnyBytesMakeAValidString) {
  std::mt19937 draw(7);
  const std::string alphabet = "a\\\"\n\x01\x7f\xc3\xa9\xe6\x97\xa5\xf0\x9f\x98\x80\xff\x80\xed";
  for (int round = 0; round < 20000; ++round) {
    std::string bytes;
    std::size_t length = draw() % 12;
    for (std::size_t i = 0; i < length; ++i) bytes.push_back(alphabet[draw() % alphabet.size()]);
    std::string json = jsonString(bytes);
    nlohmann::json parsed = nlohmann::json::parse(json, nullptr, false);
    ASSERT_FALSE(parsed.is_discarded()) << json;
    ASSERT_TRUE(parsed.is_string()) << json;
    std::string back = parsed.get<std::string>();
    ASSERT_TRUE(isValidUtf8(back)) << json;
    if (isValidUtf8(bytes)) {
      ASSERT_EQ(back, bytes) << json;
    }
  }
}

TEST(JsonResult, FieldsAndForm) {
  ScanResult r = sample();
  std::string json = composeJsonResult(r, "/srv/a\\b\n\xff/", false);
  ASSERT_EQ(json.back(), '\n');
  EXPECT_EQ(json.find('\n'), json.size() - 1) << "one line";
  nlohmann::json j = nlohmann::json::parse(json);
  EXPECT_EQ(j["version"], "0.03.4");
  EXPECT_EQ(j["root"], "/srv/a\\b\n\xef\xbf\xbd/");
  EXPECT_EQ(j["checked_bytes"], 5000000000);
  EXPECT_EQ(j["files_checked"], 1234);
  EXPECT_EQ(j["opening_errors"], 2);
  EXPECT_EQ(j["reading_errors"], 7);
  EXPECT_EQ(j["bytes_per_second"], 2493765586);  // 5e9 / 2.005, rounded
  EXPECT_EQ(j["stopped_by"], "time");
  EXPECT_NE(json.find("\"elapsed_seconds\":2.005,"), std::string::npos) << json;
  EXPECT_FALSE(j.contains("cycles_completed"));
  EXPECT_EQ(j["slow_reads"], 0);
  EXPECT_TRUE(j["read_ms_p50"].is_null()) << "times not kept";
  EXPECT_TRUE(j["read_ms_max"].is_null());
  EXPECT_EQ(j.size(), 13u);

  j = nlohmann::json::parse(composeJsonResult(r, "/", true));
  EXPECT_EQ(j["cycles_completed"], 3);
  EXPECT_EQ(j["covered_files"], 10);
  EXPECT_EQ(j["indexed_files"], 40);
  EXPECT_EQ(j["cycle"], 0);
  EXPECT_EQ(j["resumed"], false);
  EXPECT_EQ(j.size(), 18u);
  r.cycle = 12;
  r.resumed = true;
  j = nlohmann::json::parse(composeJsonResult(r, "/", true));
  EXPECT_EQ(j["cycle"], 12);
  EXPECT_EQ(j["resumed"], true);
}

// Read times go out as milliseconds with three decimals; slow reads are
// counted but change no exit code.
TEST(JsonResult, ReadTimesAndSlowReads) {
  ScanResult r;
  r.stoppedBy = StopReason::Checked;
  r.slowReadsCounted = true;
  r.slowReads = 4;
  r.readMicrosP50 = 7;
  r.readMicrosP99 = 123456;
  r.readMicrosMax = 3000000;
  std::string json = composeJsonResult(r, "/", false);
  EXPECT_NE(json.find("\"slow_reads\":4,\"read_ms_p50\":0.007,\"read_ms_p99\":123.456,\"read_ms_max\":3000.000"),
            std::string::npos)
      << json;
  EXPECT_EQ(exitCodeOf(r), kExitClean);
  EXPECT_NE(composeSummaryLine(r).find("reading errors 0, slow reads 4, 0 s;"), std::string::npos);
}

TEST(JsonResult, ElapsedSecondsHaveThreeDecimals) {
  const struct {
    int64_t ms;
    const char* text;
  } cases[] = {{0, "0.000"}, {7, "0.007"}, {70, "0.070"}, {999, "0.999"}, {1000, "1.000"}, {123456789, "123456.789"}};
  for (const auto& c : cases) {
    ScanResult r;
    r.elapsedMilliseconds = c.ms;
    r.stoppedBy = StopReason::Checked;
    std::string json = composeJsonResult(r, "/", false);
    EXPECT_NE(json.find("\"elapsed_seconds\":" + std::string(c.text) + ","), std::string::npos) << json;
  }
}

TEST(JsonResult, StopReasonsAndExitCodes) {
  const struct {
    StopReason reason;
    int64_t openErrors;
    int64_t readErrors;
    const char* name;
    int exitCode;
  } cases[] = {
      {StopReason::Checked, 0, 0, "checked", 0},
      {StopReason::Checked, 0, 1, "checked", 1},
      {StopReason::Time, 0, 0, "time", 0},
      {StopReason::Time, 1, 0, "time", 1},
      {StopReason::Cycles, 0, 0, "cycles", 0},
      {StopReason::Errors, 1, 3, "errors", 1},
      {StopReason::User, 0, 0, "interrupt", 130},
      {StopReason::User, 4, 4, "interrupt", 130},
  };
  for (const auto& c : cases) {
    ScanResult r;
    r.stoppedBy = c.reason;
    r.openErrors = c.openErrors;
    r.readErrors = c.readErrors;
    EXPECT_STREQ(stopReasonName(c.reason), c.name);
    EXPECT_EQ(exitCodeOf(r), c.exitCode) << c.name;
  }
}

TEST(SummaryLine, CountsAndTheReason) {
  EXPECT_EQ(composeSummaryLine(sample()),
            "checked 5000000000 B, files checked 1234, opening errors 2, reading errors 7, 2 s; "
            "stopped by the time limit");
  ScanResult r;
  r.stoppedBy = StopReason::User;
  EXPECT_EQ(composeSummaryLine(r),
            "checked 0 B, files checked 0, opening errors 0, reading errors 0, 0 s; stopped by an interrupt");
}

TEST(BytesPerSecond, RoundsAndNeverOverflows) {
  EXPECT_EQ(bytesPerSecond(0, 1000), 0);
  EXPECT_EQ(bytesPerSecond(1000, 0), 0);
  EXPECT_EQ(bytesPerSecond(1000, 1000), 1000);
  EXPECT_EQ(bytesPerSecond(1, 3), 333);
  EXPECT_EQ(bytesPerSecond(2, 3), 667);
  EXPECT_EQ(bytesPerSecond(int64_t{1} << 60, 1000), int64_t{1} << 60);
  EXPECT_EQ(bytesPerSecond(int64_t{1} << 60, 3), INT64_MAX);
  EXPECT_EQ(bytesPerSecond(INT64_MAX, 1), INT64_MAX);
}

TEST(StatusLine, JoinedCleanedAndCutToTheWidth) {
  const struct {
    const char* counters;
    const char* file;
    int columns;
    const char* line;
  } cases[] = {
      {"checked 5B", "\"/a\"", 80, "checked 5B  \"/a\""},
      {"", "\"/a\"", 80, "\"/a\""},
      {"checked 5B", "", 80, "checked 5B"},
      {"checked 5B", "\"/abcdef\"", 16, "checked 5B  \"/a"},
      {"checked 5B", "\"/a\"", 5, "chec"},
      {"checked 5B", "\"/a\"", 1, ""},
      {"checked 5B", "\"/a\"", 0, ""},
      {"c", "\"/new\nline\ttab\x1b[2J\"", 80, "c  \"/new?line?tab?[2J\""},
      {"c", "\"/bad\xff\xc2\x9b\x7f\"", 80, "c  \"/bad???\""},
      // Columns, not bytes, fill the width: an accented letter takes one,
      // an East Asian character or an emoji two, a combining mark none.
      {"c", "\"\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\"", 8, "c  \"\xc3\xa9\xc3\xa9\xc3\xa9"},
      {"c", "\"\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e\"", 9, "c  \"\xe6\x97\xa5\xe6\x9c\xac"},
      {"c", "\"\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e\"", 10, "c  \"\xe6\x97\xa5\xe6\x9c\xac"},
      {"c", "\"\xed\x95\x9c\xea\xb8\x80\xf0\x9f\x98\x80\"", 11, "c  \"\xed\x95\x9c\xea\xb8\x80\xf0\x9f\x98\x80"},
      {"c", "\"e\xcc\x81" "e\xcc\x81" "e\xcc\x81\"", 7, "c  \"e\xcc\x81" "e\xcc\x81"},
      {"c", "\"e\xcc\x81" "e\xcc\x81" "e\xcc\x81\"", 6, "c  \"e\xcc\x81"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(composeStatusLine(c.counters, c.file, c.columns), c.line) << c.file << " " << c.columns;
  }
  // What the blanks after a shorter line are counted in.
  EXPECT_EQ(terminalColumnsOf("\xe6\x97\xa5\xe6\x9c\xac x e\xcc\x81"), 8u);
}
