#include "ui/gtk/chatview.h"

#include <glib/gstdio.h>

#include <cstdlib>
#include <utility>

#include "base/runtime/logging.h"
#include "ui/gtk/chathtml.h"
#include "ui/gtk/chatpage.h"

namespace vexalo {
namespace {

// Inserts lines: a new block goes at the end of "content" (the old "insert" element goes),
// a continuation takes the place of the "insert" element. The view follows new lines only
// when the reader was at the bottom and has no text selected.
// Inserts lines: a new block goes at the end of "content" (the old "insert" element goes),
// a continuation takes the place of the "insert" element. The view follows new lines only
// while the reader is at the bottom with no text selected; that is noted when the reader
// scrolls, and the view scrolls once per frame, so an insertion never waits for a layout.
constexpr const char* kInsertScript = R"JS(
const content = document.getElementById('content');
if (!content) return false;
const started = performance.now();
const html = JSON.parse(lines);
const root = document.scrollingElement || document.documentElement;
if (!globalThis.vexaloFollow) {
  globalThis.vexaloFollow = { atBottom: true, frame: 0 };
  window.addEventListener('scroll', () => {
    if (globalThis.vexaloFollow.frame) return;  // our own scrolling
    globalThis.vexaloFollow.atBottom = root.scrollTop + root.clientHeight >= root.scrollHeight - 8;
  }, { passive: true });
}
const follow = globalThis.vexaloFollow;
for (let i = 0; i < html.length; i++) {
  const insert = document.getElementById('insert');
  if (blocks[i] === '1' || !insert) {
    if (insert) insert.remove();
    content.insertAdjacentHTML('beforeend', html[i]);
  } else {
    insert.insertAdjacentHTML('afterend', html[i]);
    insert.remove();
  }
}
const selection = window.getSelection();
if (follow.atBottom && (!selection || selection.isCollapsed) && !follow.frame) {
  follow.frame = requestAnimationFrame(() => {
    root.scrollTop = root.scrollHeight;
    // The scroll event of this change comes after this frame.
    requestAnimationFrame(() => { follow.frame = 0; });
  });
}
return performance.now() - started;
)JS";

constexpr const char* kStyleScript = R"JS(
let style = document.getElementById('vexalo-theme');
if (!style) {
  style = document.createElement('style');
  style.id = 'vexalo-theme';
  document.head.appendChild(style);
}
style.textContent = css;
return true;
)JS";

constexpr const char* kFontScript = R"JS(
const content = document.getElementById('content');
if (!content) return false;
content.style.font = pixels + 'px "' + face.replace(/["\\]/g, '\\$&') + '"';
return true;
)JS";

constexpr const char* kSourceScript = R"JS(
const style = document.getElementById('vexalo-theme');
return [document.documentElement.outerHTML, style ? style.textContent : ''];
)JS";

GVariant* Arguments(std::initializer_list<std::pair<const char*, GVariant*>> values) {
  GVariantBuilder builder;
  g_variant_builder_init(&builder, G_VARIANT_TYPE_VARDICT);
  for (const auto& [name, value] : values) g_variant_builder_add(&builder, "{sv}", name, value);
  return g_variant_builder_end(&builder);
}

// The text as a JSON string literal.
void AppendJsonString(const std::string& text, std::string* out) {
  static constexpr char kHex[] = "0123456789abcdef";
  out->reserve(out->size() + text.size() + 2);
  *out += '"';
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      *out += '\\';
      *out += c;
    } else if (byte < 0x20) {
      *out += "\\u00";
      *out += kHex[byte >> 4];
      *out += kHex[byte & 15];
    } else {
      *out += c;
    }
  }
  *out += '"';
}

bool WriteFile(const std::string& path, const std::string& text) {
  return g_file_set_contents_full(path.c_str(), text.data(), static_cast<gssize>(text.size()),
                                  G_FILE_SET_CONTENTS_CONSISTENT, 0600, nullptr);
}

}  // namespace

ChatView::ChatView(ChatThemeFolders folders)
    : folders_(std::move(folders)), cancellable_(g_cancellable_new()) {
  // No cookies, caches or storage on disk; the page needs none.
  WebKitNetworkSession* session = webkit_network_session_new_ephemeral();
  view_ = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "network-session", session, nullptr));
  g_object_unref(session);
  g_object_ref_sink(view_);
  WebKitSettings* settings = webkit_web_view_get_settings(view_);
  // Script elements and event attributes never run; our own scripts still do.
  webkit_settings_set_enable_javascript_markup(settings, FALSE);
  webkit_settings_set_javascript_can_open_windows_automatically(settings, FALSE);
  webkit_settings_set_javascript_can_access_clipboard(settings, FALSE);
  webkit_settings_set_enable_developer_extras(settings, FALSE);
  webkit_settings_set_enable_html5_local_storage(settings, FALSE);
  webkit_settings_set_enable_html5_database(settings, FALSE);
  webkit_settings_set_enable_webaudio(settings, FALSE);
  webkit_settings_set_enable_webgl(settings, FALSE);
  webkit_settings_set_enable_media(settings, FALSE);
  webkit_settings_set_enable_back_forward_navigation_gestures(settings, FALSE);
  webkit_settings_set_allow_file_access_from_file_urls(settings, FALSE);
  webkit_settings_set_allow_universal_access_from_file_urls(settings, FALSE);
  // A page of text: no GPU needed, and none is there under a virtual display.
  webkit_settings_set_hardware_acceleration_policy(settings,
                                                   WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
  gtk_widget_set_vexpand(GTK_WIDGET(view_), TRUE);
  gtk_widget_set_hexpand(GTK_WIDGET(view_), TRUE);
  g_signal_connect(view_, "load-changed",
                   G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer self) {
                     static_cast<ChatView*>(self)->OnLoadChanged(event);
                   }),
                   this);
  g_signal_connect(view_, "decide-policy",
                   G_CALLBACK(+[](WebKitWebView*, WebKitPolicyDecision* decision,
                                  WebKitPolicyDecisionType type, gpointer self) -> gboolean {
                     return static_cast<ChatView*>(self)->OnDecidePolicy(decision, type);
                   }),
                   this);
  // Only copying and selecting: no reload, back, forward or inspect.
  g_signal_connect(view_, "context-menu",
                   G_CALLBACK(+[](WebKitWebView*, WebKitContextMenu* menu, WebKitHitTestResult*,
                                  gpointer) -> gboolean {
                     GList* items = g_list_copy(webkit_context_menu_get_items(menu));
                     for (GList* item = items; item != nullptr; item = item->next) {
                       auto* entry = static_cast<WebKitContextMenuItem*>(item->data);
                       const auto action = webkit_context_menu_item_get_stock_action(entry);
                       if (action != WEBKIT_CONTEXT_MENU_ACTION_COPY &&
                           action != WEBKIT_CONTEXT_MENU_ACTION_COPY_LINK_TO_CLIPBOARD &&
                           action != WEBKIT_CONTEXT_MENU_ACTION_SELECT_ALL) {
                         webkit_context_menu_remove(menu, entry);
                       }
                     }
                     g_list_free(items);
                     return webkit_context_menu_get_n_items(menu) == 0;
                   }),
                   nullptr);
  link_handler_ = [](const std::string& uri) {
    g_app_info_launch_default_for_uri_async(uri.c_str(), nullptr, nullptr, nullptr, nullptr);
  };
  renderer_ = std::make_unique<ChatRenderer>(ChatTheme(), std::array<std::string, 4>{});
}

ChatView::~ChatView() {
  if (idle_ != 0) g_source_remove(idle_);
  // Replies of scripts still running must not reach this object.
  g_cancellable_cancel(cancellable_);
  g_signal_handlers_disconnect_by_data(view_, this);
  g_object_unref(cancellable_);
  g_object_unref(view_);
}

void ChatView::SetLinkHandler(std::function<void(const std::string&)> handler) {
  link_handler_ = std::move(handler);
}

void ChatView::SetTheme(const std::string& name) {
  std::array<std::string, 4> pictures;
  for (int colour = 0; colour < 4; ++colour) pictures[colour] = folders_.DefaultPicture(colour);
  renderer_ = std::make_unique<ChatRenderer>(ChatTheme::Choose(name, folders_), pictures);
  LOG(kInfo) << "ChatView::SetTheme - " << renderer_->theme().name();
  BuildPage();
}

void ChatView::BuildPage() {
  state_ = State::kLoading;
  queued_.clear();
  const std::string& folder = renderer_->theme().resources_folder();
  // The header goes in first as a new block, then the lines so far, drawn in the new theme.
  queued_.push_back({renderer_->Header(), true});
  for (const Line& line : lines_) Render(line);
  expecting_load_ = true;
  const std::string page = ChatPage::Build(folder);
  webkit_web_view_load_html(view_, page.c_str(), ChatPage::BaseUri(folder).c_str());
}

void ChatView::Render(const Line& line) {
  queued_.push_back(line.status ? renderer_->Status(line.text, line.time)
                                : renderer_->Message(line.sender, line.text, line.time,
                                                     line.outgoing));
}

void ChatView::AddMessage(const ChatSender& sender, const std::string& text, std::time_t time,
                          bool outgoing) {
  lines_.push_back({false, sender, text, time, outgoing});
  Render(lines_.back());
  ScheduleFlush();
}

void ChatView::AddStatus(const std::string& text, std::time_t time) {
  lines_.push_back({true, {}, text, time, false});
  Render(lines_.back());
  ScheduleFlush();
}

void ChatView::SetFont(const std::string& face, int pixels) {
  font_face_ = face;
  font_pixels_ = pixels;
  if (ready()) ApplyFont();
}

void ChatView::ApplyFont() {
  if (font_pixels_ <= 0 || font_face_.empty()) return;
  GVariant* arguments = Arguments({{"face", g_variant_new_string(font_face_.c_str())},
                                   {"pixels", g_variant_new_int32(font_pixels_)}});
  webkit_web_view_call_async_javascript_function(view_, kFontScript, -1, arguments, kWorld,
                                                 nullptr, cancellable_, nullptr, nullptr);
}

void ChatView::OnLoadChanged(WebKitLoadEvent event) {
  if (event == WEBKIT_LOAD_COMMITTED) expecting_load_ = false;
  if (event != WEBKIT_LOAD_FINISHED) return;
  state_ = State::kReady;
  const std::string& css = renderer_->theme().fragment(ChatTheme::kStyleSheet);
  GVariant* arguments = Arguments({{"css", g_variant_new_string(css.c_str())}});
  webkit_web_view_call_async_javascript_function(view_, kStyleScript, -1, arguments, kWorld,
                                                 nullptr, cancellable_, nullptr, nullptr);
  ApplyFont();
  Flush();
}

void ChatView::ScheduleFlush() {
  // Lines added in one turn of the main loop reach the page in one script call.
  if (idle_ != 0 || !ready()) return;
  idle_ = g_idle_add(
      +[](gpointer self) -> gboolean {
        auto* view = static_cast<ChatView*>(self);
        view->idle_ = 0;
        view->Flush();
        return G_SOURCE_REMOVE;
      },
      this);
}

void ChatView::Flush() {
  if (!ready() || in_flight_ || queued_.empty()) return;
  // WebKit passes no arrays to a script: the lines go as one JSON text, the kinds as '0'/'1'.
  std::string html = "[";
  std::string blocks;
  for (const ChatInsertion& insertion : queued_) {
    if (html.size() > 1) html += ',';
    AppendJsonString(insertion.html, &html);
    blocks += insertion.new_block ? '1' : '0';
  }
  html += ']';
  queued_.clear();
  in_flight_ = true;
  GVariant* arguments = Arguments({{"lines", g_variant_new_string(html.c_str())},
                                   {"blocks", g_variant_new_string(blocks.c_str())}});
  webkit_web_view_call_async_javascript_function(view_, kInsertScript, -1, arguments, kWorld,
                                                 nullptr, cancellable_, &ChatView::OnFlushDone,
                                                 this);
}

void ChatView::OnFlushDone(GObject* object, GAsyncResult* result, gpointer data) {
  GError* error = nullptr;
  JSCValue* value = webkit_web_view_call_async_javascript_function_finish(
      WEBKIT_WEB_VIEW(object), result, &error);
  if (error != nullptr && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
    g_error_free(error);
    return;  // the view is gone
  }
  auto* self = static_cast<ChatView*>(data);
  if (value != nullptr) {
    if (jsc_value_is_number(value)) self->last_insert_ms_ = jsc_value_to_double(value);
    g_object_unref(value);
  }
  if (error != nullptr) {
    LOG(kWarning) << "ChatView::OnFlushDone - " << error->message;
    g_error_free(error);
  }
  self->in_flight_ = false;
  self->SignalInserted();
  self->Flush();
}

bool ChatView::OnDecidePolicy(WebKitPolicyDecision* decision, WebKitPolicyDecisionType type) {
  if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) {
    webkit_policy_decision_use(decision);
    return true;
  }
  WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
      WEBKIT_NAVIGATION_POLICY_DECISION(decision));
  const auto navigation = webkit_navigation_action_get_navigation_type(action);
  // Our own page load is the only navigation the view makes.
  if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION && expecting_load_ &&
      navigation == WEBKIT_NAVIGATION_TYPE_OTHER) {
    webkit_policy_decision_use(decision);
    return true;
  }
  webkit_policy_decision_ignore(decision);
  if (navigation == WEBKIT_NAVIGATION_TYPE_LINK_CLICKED &&
      webkit_navigation_action_is_user_gesture(action)) {
    WebKitURIRequest* request = webkit_navigation_action_get_request(action);
    OpenLink(webkit_uri_request_get_uri(request));
  }
  return true;
}

void ChatView::OpenLink(const std::string& uri) {
  if (!ChatHtml::IsOpenableLink(uri)) {
    LOG(kInfo) << "ChatView::OpenLink - refused a link of another kind";
    return;
  }
  if (link_handler_) link_handler_(uri);
}

void ChatView::ViewSource() {
  webkit_web_view_call_async_javascript_function(view_, kSourceScript, -1, nullptr, kWorld,
                                                 nullptr, cancellable_, &ChatView::OnSourceDone,
                                                 this);
}

void ChatView::OnSourceDone(GObject* object, GAsyncResult* result, gpointer) {
  GError* error = nullptr;
  JSCValue* value = webkit_web_view_call_async_javascript_function_finish(
      WEBKIT_WEB_VIEW(object), result, &error);
  if (value == nullptr) {
    if (error != nullptr) g_error_free(error);
    return;
  }
  std::string page, css;
  if (jsc_value_is_array(value)) {
    JSCValue* first = jsc_value_object_get_property_at_index(value, 0);
    JSCValue* second = jsc_value_object_get_property_at_index(value, 1);
    gchar* a = jsc_value_to_string(first);
    gchar* b = jsc_value_to_string(second);
    page = a != nullptr ? a : "";
    css = b != nullptr ? b : "";
    g_free(a);
    g_free(b);
    g_object_unref(first);
    g_object_unref(second);
  }
  g_object_unref(value);
  // A folder of our own: a fixed name in the shared temporary folder could be someone's link.
  gchar* folder = g_dir_make_tmp("vexalo-src-XXXXXX", nullptr);
  if (folder == nullptr) return;
  const std::string html_path = std::string(folder) + "/vexalo-src.html";
  const std::string css_path = std::string(folder) + "/vexalo-src.css";
  g_free(folder);
  if (!WriteFile(html_path, page) || !WriteFile(css_path, css)) return;
  GAppInfo* editor = g_app_info_get_default_for_type("text/plain", FALSE);
  if (editor == nullptr) {
    LOG(kInfo) << "ChatView::ViewSource - no text editor; the page is in " << html_path;
    return;
  }
  GFile* file = g_file_new_for_path(html_path.c_str());
  GList files = {file, nullptr, nullptr};
  g_app_info_launch(editor, &files, nullptr, nullptr);
  g_object_unref(file);
  g_object_unref(editor);
}

}  // namespace vexalo
