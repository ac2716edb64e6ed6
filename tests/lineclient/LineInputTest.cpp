// Standard input of LineClient.exe on its way to the session: cut into lines, and handed over
// with one wake-up at a time.
#include <gtest/gtest.h>

#include "fakes/FakePlatform.h"
#include "lineclient/LineSession.h"

namespace {

using Lines = std::vector<String>;

TEST(LineInput, EveryWayOfCuttingTheBytesGivesTheSameLines) {
  struct Case {
    const char* What;
    String Input;
    Lines Expected;
    String Rest;  // the unterminated end
  };
  const Case cases[] = {
      {"CR LF and bare LF", "a\r\nb\nc\r\n", {"a", "b", "c"}, ""}, {"an unterminated end", "a\nlast", {"a"}, "last"},
      {"empty lines stay", "\n\r\n\n", {"", "", ""}, ""},          {"a lone CR is data", "a\rb\n\r", {"a\rb"}, "\r"},
      {"only the CR before LF goes", "a\r\r\n", {"a\r"}, ""},      {"nothing", "", {}, ""},
  };
  for (const Case& c : cases) {
    // Whole, then cut at every position, then a byte at a time.
    for (size_t cut = 0; cut <= c.Input.size() + 1; ++cut) {
      SCOPED_TRACE(String(c.What) + ", cut at " + std::to_string(cut));
      TLineInput input;
      auto feed = [&](const String& part) { input.PushBytes(part.data(), part.size()); };
      if (cut <= c.Input.size()) {
        feed(c.Input.substr(0, cut));
        feed(c.Input.substr(cut));
      } else {
        for (char ch : c.Input) feed(String(1, ch));
      }
      Lines got;
      EXPECT_FALSE(input.Take(got));
      EXPECT_EQ(got, c.Expected);
      // The end makes the unterminated rest a line of its own.
      input.End();
      got.clear();
      EXPECT_TRUE(input.Take(got));
      EXPECT_EQ(got, c.Rest.empty() ? Lines{} : Lines{c.Rest});
    }
  }
}

TEST(LineInput, OneWakeUpAtATimeAndNoneOnceDetached) {
  TFakePlatform platform;
  int wakeUps = 0;
  auto window = platform.CreateMessageWindow([&](TMessage& m) { wakeUps += m.Msg == WM_LINE_INPUT; });
  TLineInput input;
  input.Push("early");  // before anyone listens: kept, no post
  platform.ProcessMessages();
  EXPECT_EQ(wakeUps, 0);

  input.Attach(window->Handle(), WM_LINE_INPUT);  // what came before is announced at once
  input.Push("a");
  input.Push("b");
  platform.ProcessMessages();
  EXPECT_EQ(wakeUps, 1);
  Lines lines;
  EXPECT_FALSE(input.Take(lines));
  EXPECT_EQ(lines, (Lines{"early", "a", "b"}));

  input.Push("c");
  input.End();
  platform.ProcessMessages();
  EXPECT_EQ(wakeUps, 2);
  lines.clear();
  EXPECT_TRUE(input.Take(lines));
  EXPECT_EQ(lines, (Lines{"c"}));

  input.Detach();
  input.Push("late");
  platform.ProcessMessages();
  EXPECT_EQ(wakeUps, 2);
}

TEST(LineInput, AWakeUpTheSystemRefusedIsTriedAgainWithTheNextLine) {
  TFakePlatform platform;
  int wakeUps = 0;
  auto window = platform.CreateMessageWindow([&](TMessage& m) { wakeUps += m.Msg == WM_LINE_INPUT; });
  TLineInput input;
  input.Attach(window->Handle(), WM_LINE_INPUT);
  platform.RefusedPost = WM_LINE_INPUT;
  input.Push("a");
  platform.RefusedPost = 0;
  input.Push("b");
  platform.ProcessMessages();
  EXPECT_EQ(wakeUps, 1);
  Lines lines;
  input.Take(lines);
  EXPECT_EQ(lines, (Lines{"a", "b"}));
}

}  // namespace
