#pragma once

#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/runtime/signal.h"
#include "ui/gtk/chatrenderer.h"
#include "ui/gtk/chatthemefolders.h"

namespace vexalo {

// A conversation in a WebKit view, drawn by a chat theme. Lines are rendered here and reach
// the page as HTML made from escaped text; a script of ours, run in its own world, inserts
// them. The page runs no script of its own, loads nothing from the network and never
// navigates: a clicked link goes to the link handler (the desktop's default program).
class ChatView : public SlotHost {
 public:
  // The script world our scripts run in; the page's own (empty) world never sees them.
  static constexpr const char* kWorld = "vexalo";

  explicit ChatView(ChatThemeFolders folders);
  ~ChatView() override;
  ChatView(const ChatView&) = delete;
  ChatView& operator=(const ChatView&) = delete;

  GtkWidget* widget() const { return GTK_WIDGET(view_); }
  WebKitWebView* web_view() const { return view_; }

  // Chooses the theme (falling back to the default, then the built-in one) and rebuilds the
  // page with every line shown so far.
  void SetTheme(const std::string& name);
  void AddMessage(const ChatSender& sender, const std::string& text, std::time_t time,
                  bool outgoing);
  void AddStatus(const std::string& text, std::time_t time);
  // The conversation's font: face name and pixel height.
  void SetFont(const std::string& face, int pixels);
  // Writes the page and its style sheet to "vexalo-src.html" and "vexalo-src.css" in a new
  // private temporary folder and opens the page's file in the text editor.
  void ViewSource();

  // Where clicked links go; by default the desktop's program for the address (GIO).
  void SetLinkHandler(std::function<void(const std::string&)> handler);

  bool ready() const { return state_ == State::kReady; }
  size_t queued() const { return queued_.size(); }
  const ChatTheme& theme() const { return renderer_->theme(); }
  // Lines waiting for the page have all reached it (page ready, nothing queued or in flight).
  bool idle() const { return ready() && queued_.empty() && !in_flight_; }
  // How long the page took to insert the last batch of lines (diagnostics, benchmarks).
  double last_insert_ms() const { return last_insert_ms_; }
  // After each batch of lines reached the page.
  Signal<> SignalInserted;

 private:
  enum class State { kLoading, kReady };
  // One line as given, so that a new theme can draw the conversation again.
  struct Line {
    bool status = false;
    ChatSender sender;
    std::string text;
    std::time_t time = 0;
    bool outgoing = false;
  };

  void BuildPage();
  void Render(const Line& line);
  void ScheduleFlush();
  void Flush();
  void ApplyFont();
  void OnLoadChanged(WebKitLoadEvent event);
  bool OnDecidePolicy(WebKitPolicyDecision* decision, WebKitPolicyDecisionType type);
  void OpenLink(const std::string& uri);
  static void OnFlushDone(GObject* view, GAsyncResult* result, gpointer self);
  static void OnSourceDone(GObject* view, GAsyncResult* result, gpointer self);

  ChatThemeFolders folders_;
  std::unique_ptr<ChatRenderer> renderer_;
  WebKitWebView* view_;
  GCancellable* cancellable_;
  State state_ = State::kLoading;
  bool expecting_load_ = false;
  std::vector<Line> lines_;
  std::vector<ChatInsertion> queued_;
  bool in_flight_ = false;
  double last_insert_ms_ = 0;
  guint idle_ = 0;
  std::string font_face_;
  int font_pixels_ = 0;
  std::function<void(const std::string&)> link_handler_;
};

}  // namespace vexalo
