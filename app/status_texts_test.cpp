// The status texts' way from the worker to the window, with the window's
// message and timer scripted: which text shows when, when the worker wakes
// the window, when the pacing starts and stops; and a worker and a window
// thread at full speed, under ThreadSanitizer in the native build.
#include "app/status_texts.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

// The window's side, as the hooks see it. A wake-up is pending from the
// worker's post until the window takes it; the timer runs between its start
// and its stop.
std::atomic<int> pendingWakeUps{0};
std::atomic<int> wakeUpsWhilePending{0};
bool timerRunning = false;
std::vector<std::string> shownNow;       // "control text", since the last look
std::string lastShown[3];                // by control: FileLine, CountersLine, MainWindow
std::vector<std::string> shownInOrder[3];
// A text the worker puts while the window stops the timer.
const char* putDuringStop = nullptr;

int indexOf(Control control) {
  switch (control) {
    case Control::FileLine: return 0;
    case Control::CountersLine: return 1;
    default: return 2;
  }
}

const char* nameOf(Control control) {
  switch (control) {
    case Control::FileLine: return "FileLine";
    case Control::CountersLine: return "CountersLine";
    default: return "MainWindow";
  }
}

}  // namespace

void postStatusTexts() {
  if (pendingWakeUps.fetch_add(1) != 0) ++wakeUpsWhilePending;
}

void startPacingTimer() { timerRunning = true; }

void stopPacingTimer() {
  timerRunning = false;
  if (putDuringStop != nullptr) {
    putStatusText(Control::FileLine, putDuringStop);
    putDuringStop = nullptr;
  }
}

void showStatusText(Control control, const char* text) {
  shownNow.push_back(std::string(nameOf(control)) + " " + text);
  lastShown[indexOf(control)] = text;
  shownInOrder[indexOf(control)].push_back(text);
}

namespace {

// The window takes a pending wake-up: posted messages come before the
// timer's, as in a message queue.
void takeWakeUp() {
  pendingWakeUps.fetch_sub(1);
  showStatusTexts(StatusTextsEvent::Posted);
}

std::string joined(const std::vector<std::string>& texts) {
  std::string all;
  for (const std::string& t : texts) all += (all.empty() ? "" : " | ") + t;
  return all;
}

enum Action { Put, WakeUp, Tick, TickWhileAPutComes, Flush };

struct Step {
  const char* what;
  Action action;
  Control control;
  const char* text;
  // After the step:
  int pending;          // wake-ups posted and not taken
  bool timer;           // the pacing timer runs
  const char* shown;    // what the step showed
};

TEST(StatusTexts, ShownAfterAQuietSpellAndThenPaced) {
  const Control file = Control::FileLine, counters = Control::CountersLine, title = Control::MainWindow;
  const Step steps[] = {
      {"the first text wakes the window", Put, file, "a", 1, false, ""},
      {"later ones wake no one", Put, file, "b", 1, false, ""},
      {"", Put, counters, "c", 1, false, ""},
      {"the wake-up shows the newest of each, and the pacing starts", WakeUp, file, "", 0, true,
       "FileLine b | CountersLine c"},
      {"texts between two ticks wait for the next", Put, title, "t1", 0, true, ""},
      {"", Put, title, "t2", 0, true, ""},
      {"a tick shows the newest", Tick, file, "", 0, true, "MainWindow t2"},
      {"a tick with nothing new ends the pacing", Tick, file, "", 0, false, ""},
      {"the next text wakes the window again", Put, counters, "d", 1, false, ""},
      {"a flush shows what waits and leaves the pacing alone", Flush, file, "", 1, false, "CountersLine d"},
      {"the wake-up after it starts the pacing all the same", WakeUp, file, "", 0, true, ""},
      {"", Tick, file, "", 0, false, ""},
      {"", Put, file, "e", 1, false, ""},
      {"", WakeUp, file, "", 0, true, "FileLine e"},
      {"a text put while a tick ends the pacing is shown at once, and paced", TickWhileAPutComes, file, "f", 0,
       true, "FileLine f"},
      {"", Tick, file, "", 0, false, ""},
  };
  int number = 0;
  for (const Step& step : steps) {
    SCOPED_TRACE("step " + std::to_string(++number) + ": " + step.what);
    shownNow.clear();
    switch (step.action) {
      case Put: putStatusText(step.control, step.text); break;
      case WakeUp: takeWakeUp(); break;
      case Tick: showStatusTexts(StatusTextsEvent::Tick); break;
      case TickWhileAPutComes:
        putDuringStop = step.text;
        showStatusTexts(StatusTextsEvent::Tick);
        break;
      case Flush: showStatusTexts(StatusTextsEvent::Flush); break;
    }
    EXPECT_EQ(pendingWakeUps.load(), step.pending);
    EXPECT_EQ(timerRunning, step.timer);
    EXPECT_EQ(joined(shownNow), step.shown);
  }
  EXPECT_EQ(wakeUpsWhilePending.load(), 0);
}

// A text that shows which number it carries in every byte, so that a text
// torn between two puts shows.
std::string numbered(const char* kind, int n) {
  char head[32];
  std::snprintf(head, sizeof head, "%s %07d ", kind, n);
  return head + std::string(200, static_cast<char>('a' + n % 26));
}

bool whole(const std::string& text, const char* kind, int* n) {
  char parsed[16] = {};
  if (std::sscanf(text.c_str(), "%15s %d", parsed, n) != 2) return false;
  return text == numbered(kind, *n) && std::string(parsed) == kind;
}

// The worker puts as fast as it can; the window takes wake-ups and ticks as
// fast as it can. Every text shown is whole and newer than the one before,
// a wake-up is never posted while one is pending, and after the worker's
// flush the window shows the last text of each kind.
TEST(StatusTexts, AWorkerAndAWindowAtFullSpeed) {
  for (std::vector<std::string>& texts : shownInOrder) texts.clear();
  const int kTexts = 20000;
  std::atomic<bool> flushAsked{false}, flushDone{false}, workerDone{false};
  std::thread worker([&] {
    for (int n = 1; n <= kTexts; ++n) {
      putStatusText(Control::CountersLine, Text(numbered("counters", n)));
      if (n % 3 == 0) putStatusText(Control::FileLine, Text(numbered("file", n)));
      if (n % 10 == 0) putStatusText(Control::MainWindow, Text(numbered("title", n)));
    }
    // As the worker does before it gives the window back.
    flushAsked.store(true);
    while (!flushDone.load()) std::this_thread::yield();
    workerDone.store(true);
  });
  std::string shownAtFlush[3];
  // Once the worker is done, a few ticks end the pacing; a window that went
  // on showing texts would never stop.
  int turnsAfterTheWorker = 0;
  for (;;) {
    if (workerDone.load() && ++turnsAfterTheWorker > 1000) {
      ADD_FAILURE() << "the pacing did not end";
      break;
    }
    if (flushAsked.load() && !flushDone.load()) {
      showStatusTexts(StatusTextsEvent::Flush);
      for (int i = 0; i < 3; ++i) shownAtFlush[i] = lastShown[i];
      flushDone.store(true);
    } else if (pendingWakeUps.load() > 0) {
      takeWakeUp();
    } else if (timerRunning) {
      showStatusTexts(StatusTextsEvent::Tick);
    } else if (workerDone.load()) {
      break;
    } else {
      std::this_thread::yield();
    }
  }
  worker.join();

  EXPECT_EQ(shownAtFlush[0], numbered("file", kTexts - kTexts % 3));
  EXPECT_EQ(shownAtFlush[1], numbered("counters", kTexts));
  EXPECT_EQ(shownAtFlush[2], numbered("title", kTexts));
  EXPECT_EQ(wakeUpsWhilePending.load(), 0);
  EXPECT_EQ(pendingWakeUps.load(), 0);
  const char* kinds[] = {"file", "counters", "title"};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(kinds[i]);
    int previous = 0;
    for (const std::string& text : shownInOrder[i]) {
      int n = 0;
      ASSERT_TRUE(whole(text, kinds[i], &n)) << text.substr(0, 40);
      ASSERT_GT(n, previous);
      previous = n;
    }
    EXPECT_GE(shownInOrder[i].size(), 1u);
  }
}

}  // namespace
