// The chat view in a real display (run under tests/scripts/with-xvfb.sh): lines land in the
// right blocks, hostile text stays text and runs nothing, links leave the view, the view
// follows new lines only from the bottom. The page's DOM is read with WebKit's own
// JavaScript evaluation, in the page's world.
#include <glib/gstdio.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <cstdlib>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "ui/gtk/chatview.h"

namespace vexalo {
namespace {

constexpr std::time_t kTime = 1772600767;

bool Until(const std::function<bool()>& done, int timeout_ms = 15000) {
  const gint64 deadline = g_get_monotonic_time() + timeout_ms * 1000;
  while (!done()) {
    if (g_get_monotonic_time() > deadline) return false;
    g_main_context_iteration(nullptr, FALSE);
    g_usleep(1000);
  }
  return true;
}

// Runs `script` in the page's own world and returns its result as text ("" on error).
std::string Evaluate(WebKitWebView* view, const std::string& script) {
  struct Result {
    bool done = false;
    std::string text;
  } result;
  webkit_web_view_evaluate_javascript(
      view, script.c_str(), -1, nullptr, nullptr, nullptr,
      +[](GObject* object, GAsyncResult* async, gpointer data) {
        auto* out = static_cast<Result*>(data);
        GError* error = nullptr;
        JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(object),
                                                                     async, &error);
        if (value != nullptr) {
          gchar* text = jsc_value_to_string(value);
          out->text = text != nullptr ? text : "";
          g_free(text);
          g_object_unref(value);
        } else {
          out->text = std::string("error: ") + (error != nullptr ? error->message : "");
          g_clear_error(&error);
        }
        out->done = true;
      },
      &result);
  EXPECT_TRUE(Until([&] { return result.done; })) << script;
  return result.text;
}

class ChatViewDisplay : public ::testing::Test {
 protected:
  void SetUp() override {
    themes_ = g_dir_make_tmp("vexalo-view-XXXXXX", nullptr);
    window_ = gtk_window_new();
    gtk_window_set_default_size(GTK_WINDOW(window_), 480, 400);
    view_ = std::make_unique<ChatView>(ChatThemeFolders({themes_}, themes_ + "/user"));
    view_->SetLinkHandler([this](const std::string& uri) { opened_.push_back(uri); });
    gtk_window_set_child(GTK_WINDOW(window_), view_->widget());
    gtk_window_present(GTK_WINDOW(window_));
  }
  void TearDown() override {
    gtk_window_set_child(GTK_WINDOW(window_), nullptr);
    view_.reset();
    gtk_window_destroy(GTK_WINDOW(window_));
    const std::string command = "rm -rf '" + themes_ + "'";
    ASSERT_EQ(system(command.c_str()), 0);
  }

  void WaitIdle() { ASSERT_TRUE(Until([this] { return view_->idle(); })); }
  std::string Js(const std::string& script) { return Evaluate(view_->web_view(), script); }
  void Incoming(const std::string& text) { view_->AddMessage({"Bob", "", 1}, text, kTime, false); }
  void Outgoing(const std::string& text) { view_->AddMessage({"Me", "", 0}, text, kTime, true); }

  void WriteTheme(const std::string& name, const std::string& file, const std::string& text) {
    const std::string path = themes_ + "/" + name + "/Contents/Resources/" + file;
    gchar* dir = g_path_get_dirname(path.c_str());
    g_mkdir_with_parents(dir, 0700);
    g_free(dir);
    ASSERT_TRUE(g_file_set_contents(path.c_str(), text.c_str(), -1, nullptr));
  }

  std::string themes_;
  GtkWidget* window_ = nullptr;
  std::unique_ptr<ChatView> view_;
  std::vector<std::string> opened_;
};

TEST_F(ChatViewDisplay, LinesLandInTheirBlocksAndQueueWhileLoading) {
  view_->SetTheme("Classic");
  // Before the page has loaded: queued, then inserted in order.
  EXPECT_FALSE(view_->ready());
  Incoming("one");
  Incoming("two");
  Outgoing("three");
  view_->AddStatus("Bob is offline", kTime);
  view_->AddStatus("Bob is online", kTime);
  Incoming("four");
  WaitIdle();
  // Blocks in page order: the class of each top-level block and its lines.
  EXPECT_EQ(Js("Array.from(document.querySelectorAll('#content > div')).map(d => d.className + "
               "'[' + Array.from(d.querySelectorAll('.msg')).map(m => m.textContent).join('|') "
               "+ ']').join(' ')"),
            "chat[Bob: one|two] chat[Me: three] system[] system[] chat[Bob: four]");
  EXPECT_EQ(Js("document.querySelectorAll('#insert').length"), "1");
  EXPECT_EQ(Js("document.querySelectorAll('.system')[1].textContent"), "Bob is online");
}

TEST_F(ChatViewDisplay, ThemeWithOnlyTheRequiredFragments) {
  WriteTheme("Bare", "main.css", "DIV#insert { display: none; } .in { color: rgb(1, 2, 3); }");
  WriteTheme("Bare", "Status.html", "<p class='sys'>%message% at %time{%Y}%</p><div id='insert'></div>");
  WriteTheme("Bare", "Incoming/Content.html", "<div class='in'>%sender%: %message%<div id='insert'></div></div>");
  WriteTheme("Bare", "Outgoing/Content.html", "<div class='out'>%message%<div id='insert'></div></div>");
  view_->SetTheme("Bare");
  EXPECT_EQ(view_->theme().name(), "Bare");
  Incoming("a");
  Incoming("b");  // the "next" fragment repeats the first one, inside the block
  view_->AddStatus("note", kTime);
  WaitIdle();
  EXPECT_EQ(Js("document.querySelectorAll('#content > .in').length"), "1");
  EXPECT_EQ(Js("document.querySelectorAll('.in .in').length"), "1");
  EXPECT_EQ(Js("document.querySelector('.sys').textContent"), "note at 2026");
  // The theme's style sheet is applied.
  EXPECT_EQ(Js("getComputedStyle(document.querySelector('.in')).color"), "rgb(1, 2, 3)");
}

TEST_F(ChatViewDisplay, HostileMessagesRenderAsTextAndRunNothing) {
  view_->SetTheme("Classic");
  WaitIdle();
  // The canary: anything that runs page script would change the title or set a global.
  const std::string canary = "document.title = 'canary'; window.vexaloPwned = 0; 'set'";
  ASSERT_EQ(Js(canary), "set");
  const std::string long_line(100 * 1024, 'x');
  const std::vector<std::string> hostile = {
      "<script>window.vexaloPwned = 1; document.title = 'pwned'</script>",
      "<img src=x onerror=\"window.vexaloPwned = 2; document.title = 'pwned'\">",
      "<a href=\"javascript:window.vexaloPwned=3\">click</a>",
      "javascript:window.vexaloPwned=4",
      "</bdi></div><style>body { display: none !important }</style>",
      "<div style=\"position:fixed;top:0;left:0;width:100%;height:100%;background:red\">x</div>",
      "<iframe src=\"http://127.0.0.1:9/\"></iframe><svg onload=\"window.vexaloPwned=5\"></svg>",
      "\xe2\x80\xae" "gnp.exe",  // right-to-left override
      long_line,
      "%message% %sender% %time%",
  };
  for (const auto& text : hostile) Incoming(text);
  Outgoing("after");
  WaitIdle();
  EXPECT_EQ(Js("document.title + ' ' + window.vexaloPwned"), "canary 0");
  EXPECT_EQ(Js("document.querySelectorAll('#content script, #content img, #content style, "
               "#content iframe, #content svg, #content [style*=fixed], #content [onerror]').length"),
            "0");
  EXPECT_EQ(Js("Array.from(document.links).filter(a => !a.href.startsWith('http')).length"), "0");
  EXPECT_EQ(Js("getComputedStyle(document.body).display"), "block");
  // Every message's text is exactly what was sent.
  for (size_t i = 0; i < hostile.size(); ++i) {
    if (hostile[i].size() > 1000) continue;
    EXPECT_EQ(Js("document.querySelectorAll('.msg bdi.text')[" + std::to_string(i) + "].textContent"),
              hostile[i]);
  }
  EXPECT_EQ(Js("document.querySelectorAll('.msg bdi.text')[8].textContent.length"), "102400");
  // The override stays inside its isolate: the next message reads left to right as sent.
  EXPECT_EQ(Js("document.querySelectorAll('.msg bdi.text')[7].parentElement.tagName + ' ' + "
               "document.querySelectorAll('.msg bdi.text')[7].dir"),
            "DIV ");
  EXPECT_EQ(Js("document.querySelectorAll('.msg bdi.text')[10].textContent"), "after");
  // No element came from the network, and the page did not navigate.
  EXPECT_EQ(Js("performance.getEntriesByType('resource').filter(r => r.name.startsWith('http')).length"), "0");
  EXPECT_EQ(Js("location.protocol"), "file:");
}

TEST_F(ChatViewDisplay, LinksGoToTheDesktopAndTheViewStays) {
  view_->SetTheme("Classic");
  Incoming("see https://example.org/page?a=1&b=2 and www.example.com.");
  WaitIdle();
  EXPECT_EQ(Js("document.links.length"), "2");
  Js("document.links[0].click(); 'ok'");
  Js("document.links[1].click(); 'ok'");
  ASSERT_TRUE(Until([this] { return opened_.size() == 2; }));
  EXPECT_EQ(opened_[0], "https://example.org/page?a=1&b=2");
  EXPECT_EQ(opened_[1], "http://www.example.com/");
  // Still our page, with its lines.
  EXPECT_EQ(Js("location.protocol + ' ' + document.querySelectorAll('.msg').length"), "file: 1");
  // A navigation the page tries by itself is refused.
  Js("location.href = 'http://127.0.0.1:9/'; 'ok'");
  g_usleep(200 * 1000);
  Until([] { return false; }, 300);
  EXPECT_EQ(Js("location.protocol + ' ' + document.querySelectorAll('.msg').length"), "file: 1");
  EXPECT_EQ(opened_.size(), 2u);
}

TEST_F(ChatViewDisplay, FollowsNewLinesOnlyFromTheBottom) {
  view_->SetTheme("Classic");
  for (int i = 0; i < 200; ++i) Incoming("line " + std::to_string(i));
  WaitIdle();
  const std::string at_bottom =
      "(() => { const r = document.scrollingElement; "
      "return String(r.scrollTop + r.clientHeight >= r.scrollHeight - 8); })()";
  ASSERT_TRUE(Until([&] { return Js(at_bottom) == "true"; }, 5000));
  // The reader scrolls up: new lines do not move the view.
  Js("document.scrollingElement.scrollTop = 0; 'ok'");
  Outgoing("while reading");
  WaitIdle();
  EXPECT_EQ(Js("String(document.scrollingElement.scrollTop)"), "0");
  // Back at the bottom: the view follows again.
  Js("document.scrollingElement.scrollTop = document.scrollingElement.scrollHeight; 'ok'");
  Outgoing("at the bottom");
  WaitIdle();
  EXPECT_EQ(Js(at_bottom), "true");
}

TEST_F(ChatViewDisplay, FontAndThemeChangeKeepTheConversation) {
  view_->SetTheme("Classic");
  view_->SetFont("DejaVu Serif", 20);
  Incoming("hello");
  WaitIdle();
  ASSERT_TRUE(Until([this] {
    return Js("getComputedStyle(document.getElementById('content')).fontSize") == "20px";
  }));
  EXPECT_NE(Js("getComputedStyle(document.getElementById('content')).fontFamily").find("DejaVu Serif"),
            std::string::npos);
  // A new theme draws the conversation again (here: the built-in one, as the named one is
  // missing and no default is installed in this folder).
  view_->SetTheme("Missing");
  EXPECT_EQ(view_->theme().name(), "Classic");
  WaitIdle();
  EXPECT_EQ(Js("document.querySelectorAll('.msg').length"), "1");
}

}  // namespace
}  // namespace vexalo

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Listing the tests needs no display.
  if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  if (!gtk_init_check()) {
    fprintf(stderr, "no display: skipped\n");
    return 77;
  }
  return RUN_ALL_TESTS();
}
