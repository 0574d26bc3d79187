#include "ui/gtk/chathtml.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vexalo {
namespace {

std::string Body(const std::string& text) {
  const std::string html = ChatHtml::Message(text);
  const std::string open = "<bdi class='text'>";
  EXPECT_EQ(html.rfind(open, 0), 0u);
  return html.substr(open.size(), html.size() - open.size() - 6);
}

TEST(ChatHtml, HostileTextStaysText) {
  struct Case {
    std::string text, html;
  };
  const std::vector<Case> cases = {
      {"<script>alert(1)</script>", "&lt;script&gt;alert(1)&lt;/script&gt;"},
      {"<img src=x onerror=\"alert(1)\">", "&lt;img src=x onerror=&quot;alert(1)&quot;&gt;"},
      {"<style>body{display:none}</style>", "&lt;style&gt;body{display:none}&lt;/style&gt;"},
      {"</bdi></div><div id='insert'>", "&lt;/bdi&gt;&lt;/div&gt;&lt;div id=&#39;insert&#39;&gt;"},
      {"javascript:alert(1)", "javascript:alert(1)"},
      {"a & b", "a &amp; b"},
      {"two\nlines", "two<br>lines"},
      {"bell\a and nul-free\x1b[31m", "bell and nul-free[31m"},
      {"bad \xff\xfe utf8", "bad \xef\xbf\xbd\xef\xbf\xbd utf8"},
      {"%sender% %message%", "%sender% %message%"},
  };
  for (const auto& c : cases) EXPECT_EQ(Body(c.text), c.html) << c.text;
}

TEST(ChatHtml, LinksOnlyForWebMailAndXmppAddresses) {
  struct Case {
    std::string text, html;
  };
  const std::vector<Case> cases = {
      {"see https://example.org/a?b=1&c=2.", "see <a href=\"https://example.org/a?b=1&amp;c=2\">"
                                             "https://example.org/a?b=1&amp;c=2</a>."},
      {"www.example.org", "<a href=\"http://www.example.org\">www.example.org</a>"},
      {"mailto:a@b.c", "<a href=\"mailto:a@b.c\">mailto:a@b.c</a>"},
      {"http://x/\"onmouseover=alert(1)", "<a href=\"http://x/\">http://x/</a>&quot;onmouseover=alert(1)"},
      {"http://x/'><script>", "<a href=\"http://x/\">http://x/</a>&#39;&gt;&lt;script&gt;"},
      {"javascript:alert('http://x')", "javascript:alert(&#39;<a href=\"http://x\">http://x</a>&#39;)"},
      {"xhttp://x", "xhttp://x"},
      {"http://", "http://"},
      {"data:text/html,<b>", "data:text/html,&lt;b&gt;"},
  };
  for (const auto& c : cases) EXPECT_EQ(Body(c.text), c.html) << c.text;
}

TEST(ChatHtml, OpenableLinks) {
  for (const char* uri : {"https://a", "HTTP://a", "mailto:a@b", "xmpp:a@b"}) {
    EXPECT_TRUE(ChatHtml::IsOpenableLink(uri)) << uri;
  }
  for (const char* uri : {"javascript:alert(1)", "file:///etc/passwd", "data:,x", "about:blank",
                          " http://a", ""}) {
    EXPECT_FALSE(ChatHtml::IsOpenableLink(uri)) << uri;
  }
}

TEST(ChatHtml, DirectionOverridesStayInsideTheirIsolate) {
  const std::string html = ChatHtml::Message("\xe2\x80\xae" "evil");  // U+202E
  EXPECT_EQ(html, "<bdi class='text'>\xe2\x80\xae" "evil</bdi>");
  EXPECT_EQ(ChatHtml::Name("<b>Bob</b>"), "<bdi>&lt;b&gt;Bob&lt;/b&gt;</bdi>");
}

}  // namespace
}  // namespace vexalo
