// The pump on a real message queue of the test's thread.
#include "window/MessagePump.h"

#include <gmock/gmock.h>

#include <string>
#include <vector>

#include "window/ShellModule.h"

using ::testing::ElementsAre;

namespace {

std::vector<std::string> events;

void Record(const std::string& event) { events.push_back(event); }

std::string Hex(UINT message) {
  char text[16];
  wsprintfA(text, "%X", message);
  return text;
}

LRESULT CALLBACK RecordingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message >= WM_USER || message == WM_MOUSEMOVE || message == WM_NCMOUSEMOVE ||
      message == WM_PAINT || message == 0x0118) {
    Record("dispatch " + Hex(message));
    return 0;
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

// A message-only window that records what is dispatched to it.
class PumpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    events.clear();
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = RecordingProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "PumpTestWindow";
    RegisterClassA(&windowClass);
    window = CreateWindowA("PumpTestWindow", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
    ASSERT_TRUE(window);
    // Drain whatever the window's creation left in the queue.
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
  void TearDown() override { DestroyWindow(window); }

  HWND window = nullptr;
};

class RecordingHook : public PreDispatchHook {
 public:
  RecordingHook(std::string name, bool consumes) : name_(std::move(name)), consumes_(consumes) {}
  bool PreDispatch(MSG* message) override {
    if (message->message >= WM_USER) Record(name_ + " " + Hex(message->message));
    return consumes_ && message->message == WM_USER + 1;
  }

 private:
  std::string name_;
  bool consumes_;
};

void CALLBACK EndRun(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  Record("timer");
  PostQuitMessage(7);
}

// Posts one scripted message at its first idle step; counts every step.
class ScriptedIdle : public IdleHook {
 public:
  ScriptedIdle(HWND window, UINT message) : window_(window), message_(message) {}
  bool IdleStep() override {
    Record("idle");
    if (steps_++ == 0) {
      PostMessageA(window_, message_, 0, 0);
      // Ends the run a moment later, through a timer message (which re-arms idle work itself).
      SetTimer(nullptr, 0, 150, EndRun);
    }
    return true;
  }

 private:
  HWND window_;
  UINT message_;
  int steps_ = 0;
};

TEST_F(PumpTest, LastRegisteredHookIsAskedFirst) {
  MessagePump pump;
  RecordingHook first("first", false), second("second", false), third("third", false);
  pump.AddPreDispatchHook(&first);
  pump.AddPreDispatchHook(&second);
  pump.AddPreDispatchHook(&third);
  PostMessageA(window, WM_USER, 0, 0);
  PostQuitMessage(3);
  EXPECT_EQ(3, pump.RunPump());
  EXPECT_THAT(events, ElementsAre("third 400", "second 400", "first 400", "dispatch 400"));
}

TEST_F(PumpTest, ConsumingHookStopsTheOthersAndTheDispatch) {
  MessagePump pump;
  RecordingHook first("first", false), consumer("consumer", true), last("last", false);
  pump.AddPreDispatchHook(&first);
  pump.AddPreDispatchHook(&consumer);
  pump.AddPreDispatchHook(&last);
  PostMessageA(window, WM_USER + 1, 0, 0);
  PostMessageA(window, WM_USER + 2, 0, 0);
  PostQuitMessage(0);
  EXPECT_EQ(0, pump.RunPump());
  EXPECT_THAT(events, ElementsAre("last 401", "consumer 401", "last 402", "consumer 402",
                                  "first 402", "dispatch 402"));
}

TEST_F(PumpTest, QuitCodeIsReturned) {
  MessagePump pump;
  PostQuitMessage(1);
  EXPECT_EQ(1, pump.RunPump());
}

TEST_F(PumpTest, OrdinaryMessageReArmsIdleWork) {
  MessagePump pump;
  ScriptedIdle idle(window, WM_USER + 5);
  pump.AddIdleHook(&idle);
  EXPECT_EQ(7, pump.RunPump());
  EXPECT_THAT(events, ElementsAre("idle", "dispatch 405", "idle", "timer"));
}

class QuietMessage : public PumpTest, public ::testing::WithParamInterface<UINT> {};

TEST_P(QuietMessage, DoesNotReArmIdleWork) {
  MessagePump pump;
  ScriptedIdle idle(window, GetParam());
  pump.AddIdleHook(&idle);
  EXPECT_EQ(7, pump.RunPump());
  EXPECT_THAT(events, ElementsAre("idle", "dispatch " + Hex(GetParam()), "timer"));
}

INSTANTIATE_TEST_SUITE_P(MouseMovePaintCaretBlink, QuietMessage,
                         ::testing::Values(WM_MOUSEMOVE, WM_NCMOUSEMOVE, WM_PAINT, 0x0118u));

TEST_F(PumpTest, IdleHooksRunInRegistrationOrderOncePerEmptyQueue) {
  struct Named : IdleHook {
    Named(std::string n, HWND w) : name(std::move(n)), window(w) {}
    bool IdleStep() override {
      Record(name);
      if (name == "b" && ++steps == 1) PostMessageA(window, WM_USER + 9, 0, 0);
      if (name == "b" && steps == 2) PostQuitMessage(0);
      return true;
    }
    std::string name;
    HWND window;
    int steps = 0;
  };
  MessagePump pump;
  Named a("a", window), b("b", window);
  pump.AddIdleHook(&a);
  pump.AddIdleHook(&b);
  PostMessageA(window, WM_USER, 0, 0);
  pump.RunPump();
  // Messages already waiting come first; idle work follows each time the queue runs empty.
  EXPECT_THAT(events, ElementsAre("dispatch 400", "a", "b", "dispatch 409", "a", "b"));
}

struct OtherThread {
  ShellModule* module;
  MessagePump* seen;
  bool removed;
};

DWORD WINAPI LookFromOtherThread(void* context) {
  auto* other = static_cast<OtherThread*>(context);
  other->seen = other->module->GetMessagePump(GetCurrentThreadId());
  other->removed = other->module->RemoveMessagePump();
  return 0;
}

TEST(ShellModule, RegistryIsPerThreadAndKeepsOrder) {
  ShellModule module;
  module.Init(GetModuleHandleA(nullptr));
  MessagePump one, two;
  EXPECT_EQ(nullptr, module.GetMessagePump(GetCurrentThreadId()));
  EXPECT_FALSE(module.RemoveMessagePump());
  EXPECT_TRUE(module.AddMessagePump(&one));
  EXPECT_TRUE(module.AddMessagePump(&two));
  EXPECT_EQ(&one, module.GetMessagePump(GetCurrentThreadId()));

  OtherThread other = {&module, &one, true};
  HANDLE thread = CreateThread(nullptr, 0, LookFromOtherThread, &other, 0, nullptr);
  ASSERT_TRUE(thread);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  EXPECT_EQ(nullptr, other.seen);
  EXPECT_FALSE(other.removed);  // another thread cannot remove this thread's pumps

  EXPECT_TRUE(module.RemoveMessagePump());
  EXPECT_EQ(&two, module.GetMessagePump(GetCurrentThreadId()));
  EXPECT_TRUE(module.RemoveMessagePump());
  EXPECT_EQ(nullptr, module.GetMessagePump(GetCurrentThreadId()));
  module.Term();
}

}  // namespace
