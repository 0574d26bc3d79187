// The chat view with a conversation of 10,000 messages, in a real display (run it with
// tests/scripts/with-xvfb.sh): time to open the view and render them all, the memory of the
// view (our process and WebKit's web process), and the time per appended message, each
// waited for until it is in the page, early and late in a longer run to show any growth.
#include <dirent.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "ui/gtk/chatview.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

void RunUntil(vexalo::ChatView* view) {
  while (!view->idle()) g_main_context_iteration(nullptr, TRUE);
}

long RssKb(const std::string& pid) {
  std::ifstream status("/proc/" + pid + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return 0;
}

// The web processes WebKit started for us: descendants of this process.
long WebProcessRssKb() {
  std::vector<std::pair<std::string, std::string>> parents;  // pid, parent
  std::vector<std::string> web;
  DIR* proc = opendir("/proc");
  while (dirent* entry = proc != nullptr ? readdir(proc) : nullptr) {
    if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
    std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
    std::string pid, name, state, parent;
    stat >> pid >> name >> state >> parent;
    parents.emplace_back(pid, parent);
    if (name.find("WebKitWebProces") != std::string::npos) web.push_back(pid);
  }
  if (proc != nullptr) closedir(proc);
  const std::string self = std::to_string(getpid());
  long total = 0;
  for (const auto& pid : web) {
    std::string at = pid;
    for (int depth = 0; depth < 8 && at != "1" && at != "0"; ++depth) {
      auto found = std::find_if(parents.begin(), parents.end(),
                                [&](const auto& entry) { return entry.first == at; });
      if (found == parents.end()) break;
      at = found->second;
      if (at == self) {
        total += RssKb(pid);
        break;
      }
    }
  }
  return total;
}

std::string Text(int i) {
  // Mixed lengths as in a real conversation, some with links.
  static const char* kTexts[] = {"ok", "see you at five then, the usual place?",
                                 "https://example.org/notes/" , "That is a longer message with "
                                 "a few sentences in it. It wraps over more than one line in a "
                                 "window of ordinary width, like many messages do."};
  return std::string(kTexts[i % 4]) + " #" + std::to_string(i);
}

}  // namespace

int main(int argc, char** argv) {
  const int messages = argc > 1 ? std::atoi(argv[1]) : 10000;
  const int appends = argc > 2 ? std::atoi(argv[2]) : 2000;
  if (!gtk_init_check()) {
    std::fprintf(stderr, "no display\n");
    return 77;
  }
  std::vector<std::string> roots;
  if (const char* dir = std::getenv("VEXALO_THEMES_DIR")) roots.push_back(dir);
  roots.push_back(VEXALO_THEMES_SOURCE);
  const long own_before = RssKb("self");

  GtkWidget* window = gtk_window_new();
  gtk_window_set_default_size(GTK_WINDOW(window), 520, 560);
  vexalo::ChatView view(vexalo::ChatThemeFolders(roots, ""));
  gtk_window_set_child(GTK_WINDOW(window), view.widget());
  gtk_window_present(GTK_WINDOW(window));

  // Open: theme, page and every line of the conversation in the page.
  const auto opened = Clock::now();
  view.SetTheme(argc > 3 ? argv[3] : "");
  const std::time_t now = std::time(nullptr);
  for (int i = 0; i < messages; ++i) {
    // Runs of one to three lines per side: blocks and continuations.
    const bool outgoing = (i / (1 + i % 3)) % 2 == 1;
    view.AddMessage({outgoing ? "Me" : "Bob", "", outgoing ? 0 : 1}, Text(i), now, outgoing);
  }
  RunUntil(&view);
  const double open_ms = Ms(Clock::now() - opened);
  std::printf("theme %s: %d messages opened and rendered in %.0f ms\n", view.theme().name().c_str(),
              messages, open_ms);
  // Let layout and painting settle before measuring memory.
  for (int i = 0; i < 50; ++i) g_main_context_iteration(nullptr, FALSE);
  const long web_kb = WebProcessRssKb();
  const long own_kb = RssKb("self") - own_before;
  std::printf("memory: web process %.1f MiB, our process +%.1f MiB (%.1f KiB per message all in)\n",
              web_kb / 1024.0, own_kb / 1024.0, (web_kb + own_kb) / double(messages));

  // Appending one message at a time, each waited for until it is in the page.
  std::vector<double> times;
  std::vector<double> in_page;
  times.reserve(appends);
  for (int i = 0; i < appends; ++i) {
    const auto start = Clock::now();
    view.AddMessage({"Bob", "", 1}, Text(messages + i), now, i % 5 == 0);
    RunUntil(&view);
    times.push_back(Ms(Clock::now() - start));
    in_page.push_back(view.last_insert_ms());
  }
  auto median = [](std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
  };
  const size_t slice = std::max<size_t>(1, times.size() / 10);
  const std::vector<double> first(times.begin(), times.begin() + slice);
  const std::vector<double> last(times.end() - slice, times.end());
  std::vector<double> sorted = times;
  std::sort(sorted.begin(), sorted.end());
  std::printf("append (%d more, each until in the page): median %.2f ms, p95 %.2f ms; "
              "first tenth median %.2f ms, last tenth median %.2f ms\n",
              appends, median(times), sorted[sorted.size() * 95 / 100], median(first),
              median(last));
  const std::vector<double> page_first(in_page.begin(), in_page.begin() + slice);
  const std::vector<double> page_last(in_page.end() - slice, in_page.end());
  std::printf("of which inside the page (DOM insertion): median %.3f ms; first tenth %.3f ms, "
              "last tenth %.3f ms\n", median(in_page), median(page_first), median(page_last));
  // A burst: lines added in one turn of the main loop go to the page in one call.
  const int burst = 500;
  const auto burst_start = Clock::now();
  for (int i = 0; i < burst; ++i) {
    view.AddMessage({"Bob", "", 1}, Text(i), now, i % 3 == 0);
  }
  RunUntil(&view);
  std::printf("burst of %d appended in one turn: %.3f ms per message until in the page\n", burst,
              Ms(Clock::now() - burst_start) / burst);
  gtk_window_destroy(GTK_WINDOW(window));
  return 0;
}
