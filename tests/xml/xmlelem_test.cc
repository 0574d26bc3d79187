#include "xml/xmlelem.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "xml/xmlwriter.h"

namespace vexalo {
namespace {

const XmlName kA("u", "a");
const XmlName kB("u", "b");
const XmlName kC("v", "c");
const XmlName kX("", "x");
const XmlName kY("", "y");

std::string Print(const XmlElem& elem) { return XmlWriter::ToString(elem); }

// Texts of all text children, to see how many there are.
std::vector<std::string> TextChildren(const XmlElem& elem) {
  std::vector<std::string> texts;
  for (const XmlNode* node = elem.FirstNode(); node != nullptr; node = node->NextNode()) {
    if (node->IsTextNode()) texts.push_back(node->ToText()->Text());
  }
  return texts;
}

TEST(XmlElemTest, MissingAttributeReadsEmptyButHasAttributeTellsItApart) {
  XmlElem elem(kA);
  elem.SetAttribute(kX, "");
  EXPECT_EQ(elem.GetAttribute(kX), "");
  EXPECT_EQ(elem.GetAttribute(kY), "");
  EXPECT_TRUE(elem.HasAttribute(kX));
  EXPECT_FALSE(elem.HasAttribute(kY));
}

TEST(XmlElemTest, SetReplacesTheFirstOfItsNameAppendKeepsDuplicatesRemoveTakesTheFirst) {
  XmlElem elem(kA);
  elem.SetAttribute(kX, "1");
  elem.SetAttribute(kY, "2");
  elem.SetAttribute(kX, "3");  // replaces in place, order kept
  std::vector<std::string> order;
  for (const XmlAttribute* attr = elem.FirstAttribute(); attr; attr = attr->NextAttribute()) {
    order.push_back(attr->Name().LocalName() + "=" + attr->Value());
  }
  EXPECT_EQ(order, (std::vector<std::string>{"x=3", "y=2"}));

  elem.AppendAttribute(kX, "4");
  EXPECT_EQ(elem.GetAttribute(kX), "3");
  elem.RemoveAttribute(kX);
  EXPECT_EQ(elem.GetAttribute(kX), "4");
  // Removing the last attribute must leave appending working (the tail pointer moves back).
  elem.RemoveAttribute(kX);
  elem.AppendAttribute(kX, "5");
  elem.RemoveAttribute(kY);
  elem.RemoveAttribute(kY);  // absent: nothing happens
  order.clear();
  for (const XmlAttribute* attr = elem.FirstAttribute(); attr; attr = attr->NextAttribute()) {
    order.push_back(attr->Name().LocalName() + "=" + attr->Value());
  }
  EXPECT_EQ(order, (std::vector<std::string>{"x=5"}));
  elem.RemoveAttribute(kX);
  EXPECT_EQ(elem.FirstAttribute(), nullptr);
  elem.AppendAttribute(kY, "6");
  EXPECT_EQ(elem.GetAttribute(kY), "6");
}

TEST(XmlElemTest, OnlyTextNeedsExactlyOneTextChild) {
  struct Case {
    const char* xml;
    const char* only_text;
  } cases[] = {
      {"<a>x<b/></a>", ""}, {"<a>x</a>", "x"},    {"<a/>", ""},
      {"<a><b/></a>", ""},  {"<a><b/>x</a>", ""},
  };
  for (const Case& c : cases) {
    std::unique_ptr<XmlElem> elem = XmlElem::ParseFromString(c.xml);
    ASSERT_NE(elem, nullptr) << c.xml;
    EXPECT_EQ(elem->OnlyText(), c.only_text) << c.xml;
  }
}

TEST(XmlElemTest, ChildTextReadsTheFirstMatchingChild) {
  std::unique_ptr<XmlElem> elem =
      XmlElem::ParseFromString("<a xmlns='u'><b>one</b><b>two</b><c xmlns='v'>x<d/></c></a>");
  ASSERT_NE(elem, nullptr);
  EXPECT_EQ(elem->ChildText(kB), "one");
  EXPECT_EQ(elem->ChildText(kC), "");  // mixed content
  EXPECT_EQ(elem->ChildText(kX), "");  // no such child
}

TEST(XmlElemTest, TextEditingMergesAndReplaces) {
  XmlElem elem(kA);
  elem.AppendText("");
  EXPECT_EQ(elem.FirstNode(), nullptr);
  elem.AppendText("a");
  elem.AppendText("a");
  EXPECT_EQ(TextChildren(elem), (std::vector<std::string>{"aa"}));
  elem.AppendRawText("bc", 0);
  elem.AppendRawText("bc", 1);
  EXPECT_EQ(elem.OnlyText(), "aab");

  elem.AppendChild(std::make_unique<XmlElem>(kB));
  elem.AppendText("z");
  EXPECT_EQ(TextChildren(elem), (std::vector<std::string>{"aab", "z"}));

  elem.ReplaceText("only");
  EXPECT_EQ(elem.OnlyText(), "only");
  EXPECT_EQ(elem.FirstNode(), elem.LastNode());
  elem.ReplaceText("again");  // the single text child is reused
  EXPECT_EQ(elem.OnlyText(), "again");

  elem.AppendChild(std::make_unique<XmlElem>(kB));
  elem.ReplaceText("");
  EXPECT_EQ(elem.FirstNode(), nullptr);
  elem.AppendText("after");  // the list is usable after being emptied
  EXPECT_EQ(elem.OnlyText(), "after");
}

TEST(XmlElemTest, FindersSkipTextAndMatchByNameOrNamespace) {
  std::unique_ptr<XmlElem> elem =
      XmlElem::ParseFromString("<a xmlns='u'>t<b n='1'/>t<c xmlns='v'/><b n='2'/>t<b n='3'/></a>");
  ASSERT_NE(elem, nullptr);
  XmlElem* first = elem->FirstChildElement();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->GetAttribute(XmlName("", "n")), "1");
  EXPECT_EQ(first->NextSiblingElement()->Name(), kC);
  EXPECT_EQ(elem->FindChild(kB), first);
  XmlElem* second = first->FindNextSibling(kB);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->GetAttribute(XmlName("", "n")), "2");
  XmlElem* third = second->FindNextSibling(kB);
  ASSERT_NE(third, nullptr);
  EXPECT_EQ(third->FindNextSibling(kB), nullptr);
  EXPECT_EQ(third->NextSiblingElement(), nullptr);
  EXPECT_EQ(elem->FindChildInNamespace("v")->Name(), kC);
  EXPECT_EQ(elem->FindChildInNamespace("w"), nullptr);
  EXPECT_EQ(elem->FindChild(kX), nullptr);

  XmlElem text_only(kA);
  text_only.AppendText("t");
  EXPECT_EQ(text_only.FirstChildElement(), nullptr);
}

TEST(XmlElemTest, DepthFormsExtendTheLastAddedElementAndRefuseMissingOnes) {
  XmlElem iq(kA);
  iq.AppendChild(std::make_unique<XmlElem>(kB));
  EXPECT_TRUE(iq.AppendChild(std::make_unique<XmlElem>(kC), 1));
  EXPECT_TRUE(iq.AppendAttribute(kX, "1", 1));
  EXPECT_TRUE(iq.AppendAttribute(kY, "2", 2));
  EXPECT_TRUE(iq.AppendText("hi", 2));
  EXPECT_EQ(Print(iq),
            "<u:a xmlns:u=\"u\"><u:b x=\"1\"><v:c y=\"2\" xmlns:v=\"v\">hi</v:c></u:b></u:a>");

  // Past the bottom, or through a text child: refused, and nothing changes.
  EXPECT_FALSE(iq.AppendText("x", 3));
  iq.FindChild(kB)->AppendText("tail");
  EXPECT_FALSE(iq.AppendAttribute(kX, "1", 2));
  EXPECT_FALSE(iq.AppendChild(std::make_unique<XmlElem>(kC), 2));
  XmlElem empty(kA);
  EXPECT_FALSE(empty.AppendText("x", 1));
}

TEST(XmlElemTest, NullChildIsIgnoredAndAppendReturnsTheElement) {
  XmlElem elem(kA);
  elem.AppendChild(std::unique_ptr<XmlNode>());
  EXPECT_EQ(elem.FirstNode(), nullptr);
  XmlElem* child = elem.AppendChild(std::make_unique<XmlElem>(kB));
  EXPECT_EQ(child, elem.FirstNode());
  EXPECT_EQ(child->Name(), kB);
}

TEST(XmlElemTest, DeclareNamespaceAddsTheDefaultDeclaration) {
  XmlElem plain(kA);
  EXPECT_FALSE(plain.HasAttribute(kQnXmlns));
  XmlElem declared(kA, true);
  EXPECT_EQ(declared.GetAttribute(kQnXmlns), "u");
}

TEST(XmlElemTest, CopyIsDeepAndIndependent) {
  std::unique_ptr<XmlElem> source =
      XmlElem::ParseFromString("<a xmlns='u' x='1'>t1<b y='2'>t2</b>t3<c xmlns='v'/></a>");
  ASSERT_NE(source, nullptr);
  const std::string before = Print(*source);
  XmlElem copy(*source);
  EXPECT_EQ(Print(copy), before);

  copy.SetAttribute(kX, "changed");
  copy.FindChild(kB)->SetAttribute(kY, "changed");
  copy.FindChild(kB)->ReplaceText("changed");
  copy.AppendChild(std::make_unique<XmlElem>(kB));
  copy.FindChild(kC)->AppendText("changed");
  EXPECT_EQ(Print(*source), before);

  source.reset();  // the copy holds nothing of the source
  EXPECT_EQ(copy.FindChild(kB)->OnlyText(), "changed");
}

TEST(XmlElemTest, LongSiblingListIsFreedWithoutDeepRecursion) {
  // A recursive destructor over siblings would overflow the stack here.
  auto elem = std::make_unique<XmlElem>(kA);
  for (int i = 0; i < 1'000'000; ++i) elem->AppendChild(std::make_unique<XmlElem>(kB));
  XmlElem copy(*elem);
  elem.reset();
  EXPECT_NE(copy.FirstChildElement(), nullptr);
}

}  // namespace
}  // namespace vexalo
