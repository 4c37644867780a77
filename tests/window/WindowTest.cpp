// The window layer: a handler that throws is reported in a box and the message falls through to
// the default handling, for windows and dialogs alike.
#include "window/Window.h"

#include <gmock/gmock.h>

#include <new>
#include <stdexcept>

#include "tests/support/WinTestSupport.h"

using ::testing::HasSubstr;

namespace {

const UINT kThrowStd = WM_APP + 10;
const UINT kThrowOther = WM_APP + 11;
const UINT kFine = WM_APP + 12;

// Throws for two messages, handles a third.
template <class Base>
class Throwing : public Base {
 public:
  bool HandleMessage(UINT message, WPARAM, LPARAM, LRESULT* result) override {
    if (message == kThrowStd) throw std::runtime_error("disk went away");
    if (message == kThrowOther) throw 42;
    if (message == kFine) {
      *result = 7;
      return true;
    }
    return false;
  }
};

class ThrowingWindow : public Throwing<Window> {};
class ThrowingDialog : public Throwing<Dialog> {};

HWND CreateThrowingWindow(ThrowingWindow& window) {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = Window::WindowProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "tagwhirl.test.Throwing";
  RegisterClassA(&windowClass);
  return CreateWindowA("tagwhirl.test.Throwing", "", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                       nullptr, GetModuleHandleA(nullptr), &window);
}

// An empty dialog template, built in memory.
HWND CreateThrowingDialog(ThrowingDialog& dialog) {
  static DLGTEMPLATE empty[4] = {};
  empty[0].style = WS_POPUP;
  return CreateDialogIndirectParamA(GetModuleHandleA(nullptr), empty, nullptr, Dialog::DialogProc,
                                    reinterpret_cast<LPARAM>(&dialog));
}

TEST(WindowLayer, AThrowingHandlerIsReportedAndFallsThrough) {
  ThrowingWindow window;
  ThrowingDialog dialog;
  HWND windows[] = {CreateThrowingWindow(window), CreateThrowingDialog(dialog)};
  for (HWND hwnd : windows) {
    ASSERT_TRUE(hwnd);
    struct {
      UINT message;
      const char* reason;
    } const cases[] = {{kThrowStd, "disk went away"}, {kThrowOther, "原因は不明です。"}};
    for (const auto& test : cases) {
      std::vector<SeenBox> boxes;
      {
        BoxWatcher watcher;
        // The default handling answers 0 to a private message.
        EXPECT_EQ(0, SendMessageA(hwnd, test.message, 0, 0));
        boxes = watcher.boxes();
      }
      ASSERT_EQ(1u, boxes.size());
      EXPECT_EQ("エラー", boxes[0].caption);
      EXPECT_THAT(boxes[0].text, HasSubstr(test.reason));
      EXPECT_EQ(nullptr, boxes[0].owner);
    }
    // A handler that does not throw shows nothing.
    BoxWatcher watcher;
    EXPECT_EQ(7, SendMessageA(hwnd, kFine, 0, 0));
    EXPECT_TRUE(watcher.boxes().empty());
    DestroyWindow(hwnd);
  }
}

}  // namespace
