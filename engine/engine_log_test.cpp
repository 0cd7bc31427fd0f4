#include "engine/engine_log.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/debug_channel.h"
#include "platform/environment.h"
#include "platform/process.h"
#include "platform/text.h"
#include "tools/test_support.h"

namespace {

using tools::CLogCapture;

TEST(DebugLogTest, PrefixesTheLocalTimeAndAddsNoLineEnd) {
  CLogCapture log;
  DebugLog("NN_Stop in --> id: %d", 7);
  DebugLog("quit\n");
  std::vector<std::string> lines = log.Lines();
  ASSERT_EQ(lines.size(), 2u);
  const std::regex prefix(R"(^(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d)\t\t)");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(lines[0], m, prefix)) << lines[0];
  EXPECT_GE(std::stoi(m[1]), 1);
  EXPECT_LE(std::stoi(m[1]), 12);
  EXPECT_LE(std::stoi(m[3]), 23);
  EXPECT_EQ(m.suffix().str(), "NN_Stop in --> id: 7");
  ASSERT_TRUE(std::regex_search(lines[1], m, prefix));
  EXPECT_EQ(m.suffix().str(), "quit\n");
}

TEST(DebugLogTest, CutsAnOverlongMessageAt1023Characters) {
  CLogCapture log;
  const std::string longText(5000, 'm');
  DebugLog("%s", longText.c_str());
  ASSERT_EQ(log.Messages().size(), 1u);
  EXPECT_EQ(log.Messages()[0], std::string(1023, 'm'));
}

TEST(DebugLogTest, AFileOrStreamGetsEveryRecordOnALineOfItsOwn) {
  const std::string path = tools::TestFolder() + "/engine.log";
  platform::SetEnvironmentVariable(platform::kDebugLogVariable, path);
  DebugLog("NN_nn in --> id: %d", 3);
  DebugLog("quit\n");
  DebugLog("%s", "");
  platform::UnsetEnvironmentVariable(platform::kDebugLogVariable);
  const std::string text = tools::ReadWholeFile(path);
  const std::regex record(R"(\d\d-\d\d \d\d:\d\d:\d\d\t\t)");
  const std::vector<std::string> parts = {"NN_nn in --> id: 3\n", "quit\n", "\n"};
  std::string rest = text;
  for (const std::string& part : parts) {
    std::smatch m;
    ASSERT_TRUE(std::regex_search(rest, m, record)) << text;
    EXPECT_EQ(m.position(0), 0) << text;
    ASSERT_EQ(m.suffix().str().substr(0, part.size()), part) << text;
    rest = m.suffix().str().substr(part.size());
  }
  EXPECT_EQ(rest, "");
}

class RunLogTest : public ::testing::Test {
 protected:
  void SetUp() override { tools::DeleteRunLog(); }
};

TEST_F(RunLogTest, WritesOneTickNamedSectionPerNote) {
  EXPECT_EQ(AppendRunLog(u"/home/p/Games/Client"), 1);
  platform::Sleep(20);
  AppendRunLog(u"CreateDirectory fail");
  platform::Sleep(20);
  AppendRunLog(u"");
  std::vector<tools::RunLogNote> notes = tools::ReadRunLog();
  ASSERT_EQ(notes.size(), 3u);
  const std::string expected = "[" + notes[0].section + "]\nlog=/home/p/Games/Client\n[" +
                               notes[1].section + "]\nlog=CreateDirectory fail\n[" +
                               notes[2].section + "]\nlog=\n";
  EXPECT_EQ(tools::ReadWholeFile("qarnAutoLog.log"), expected);
  for (const auto& note : notes) {
    EXPECT_TRUE(std::regex_match(note.section, std::regex("[1-9][0-9]*|0"))) << note.section;
  }
  EXPECT_LT(std::stoull(notes[0].section), std::stoull(notes[1].section));
}

TEST_F(RunLogTest, KeepsWideTextAsUtf8) {
  AppendRunLog(u"超时：3次");
  EXPECT_EQ(tools::RunLogTexts(), std::vector<std::string>{"超时：3次"});
}

TEST(RunLogSectionTest, TheTickUnlessALaterSectionWasTaken) {
  EXPECT_EQ(RunLogSection(5000, -1), 5000u);
  // A machine up for more than 24.8 days: ticks above 2^31 are still ticks.
  EXPECT_EQ(RunLogSection(3000000000u, -1), 3000000000u);
  EXPECT_EQ(RunLogSection(3000000001u, 3000000000u), 3000000001u);
  EXPECT_EQ(RunLogSection(3000000000u, 3000000000u), 3000000001u);
  EXPECT_EQ(RunLogSection(3000000000u, 3000000005u), 3000000006u);
  // Across the wrap of the tick count the new tick is ahead.
  EXPECT_EQ(RunLogSection(10, 0xFFFFFFF0u), 10u);
}

TEST_F(RunLogTest, NotesOfOneTickAreAllKeptInOrder) {
  for (int i = 0; i < 200; ++i) AppendRunLog(platform::Utf8ToUtf16("n" + std::to_string(i)));
  std::vector<tools::RunLogNote> notes = tools::ReadRunLog();
  ASSERT_EQ(notes.size(), 200u);
  EXPECT_EQ(notes.back().text, "n199");
  std::set<std::string> sections;
  int previous = -1;
  for (const auto& note : notes) {
    EXPECT_TRUE(sections.insert(note.section).second) << "section twice: " << note.section;
    int i = std::stoi(note.text.substr(1));
    EXPECT_GT(i, previous);
    previous = i;
  }
}

// A note is "<tag>-<i>" and 64 dots; anything else in the file is damage.
void ExpectWholeNotes(const std::string& text, size_t* pNotes) {
  const std::regex header(R"(\[[0-9]+\])");
  const std::regex entry(R"(log=[a-z0-9]+-[0-9]+\.{64})");
  std::set<std::string> sections;
  size_t pos = 0, nNotes = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    ASSERT_NE(end, std::string::npos) << "unterminated line at " << pos;
    std::string line = text.substr(pos, end - pos);
    if (nNotes == sections.size()) {
      ASSERT_TRUE(std::regex_match(line, header)) << line;
      EXPECT_TRUE(sections.insert(line).second) << "section twice: " << line;
    } else {
      ASSERT_TRUE(std::regex_match(line, entry)) << line;
      ++nNotes;
    }
    pos = end + 1;
  }
  EXPECT_EQ(nNotes, sections.size());
  *pNotes = nNotes;
}

TEST_F(RunLogTest, ThreadsAndProcessesWritingAtOnceNeverTearANote) {
  std::vector<platform::ProcessId> children;
  for (const char* tag : {"pa", "pb"}) {
    children.push_back(platform::StartProcess(RUNLOG_WRITER, {RUNLOG_WRITER, tag, "60"}, ""));
    ASSERT_NE(children.back(), platform::kInvalidProcess);
  }
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 60; ++i) {
        std::string note = "t" + std::to_string(t) + "-" + std::to_string(i) + std::string(64, '.');
        AppendRunLog(platform::Utf8ToUtf16(note));
        platform::Sleep(1);
      }
    });
  }
  for (auto& t : threads) t.join();
  for (platform::ProcessId pid : children) EXPECT_EQ(platform::WaitProcess(pid), 0);

  size_t nNotes = 0;
  ExpectWholeNotes(tools::ReadWholeFile("qarnAutoLog.log"), &nNotes);
  // A process never replaces its own notes; two processes meeting in one
  // tick still may.
  EXPECT_GE(nNotes, 240u);
}

}  // namespace
