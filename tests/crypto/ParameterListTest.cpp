// TOvRelativeDistinguishedName as a list: groups, tags, lookup and comparison.
#include "toolkit/asn1/CvRDN.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace corvane {
namespace {

const std::string kCN("\x55\x04\x03", 3);
const std::string kO("\x55\x04\x0A", 3);

TEST(ParameterList, AddAssignsNewGroupsAndDefaultTag) {
  TOvRelativeDistinguishedName rdn;
  EXPECT_EQ(rdn.Add(kCN, "Alice", 0x0C), 0);
  EXPECT_EQ(rdn.Add(kO, "Example"), 1);
  EXPECT_EQ(rdn.Count(), 2);
  EXPECT_EQ(rdn.Groups(0), 0);
  EXPECT_EQ(rdn.Groups(1), 1);
  EXPECT_EQ(rdn.Tags(0), 0x0C);
  EXPECT_EQ(rdn.Tags(1), 4);
  rdn.SetGroups(1, 7);
  EXPECT_EQ(rdn.Add(kO, "Second"), 2);
  EXPECT_EQ(rdn.Groups(2), 8);
}

TEST(ParameterList, SetCountGrowsAndShrinks) {
  TOvRelativeDistinguishedName rdn;
  rdn.Add(kCN, "a");
  rdn.SetCount(3);
  EXPECT_EQ(rdn.Count(), 3);
  EXPECT_EQ(rdn.Groups(2), 2);
  EXPECT_EQ(rdn.Tags(2), 4);
  EXPECT_EQ(rdn.Values(2), "");
  rdn.SetCount(1);
  EXPECT_EQ(rdn.Count(), 1);
  EXPECT_EQ(rdn.Values(0), "a");
  EXPECT_THROW(rdn.Values(1), std::out_of_range);
  EXPECT_THROW(rdn.Types(-1), std::out_of_range);
}

TEST(ParameterList, LookupByType) {
  TOvRelativeDistinguishedName rdn;
  rdn.Add(kCN, "first");
  rdn.Add(kO, "org");
  rdn.Add(kCN, "second");
  std::vector<std::string> values;
  rdn.GetValuesByType(kCN, values);
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(values[0], "first");
  EXPECT_EQ(values[1], "second");
  EXPECT_EQ(rdn.IndexOfType(kCN, 1), 2);
  EXPECT_EQ(rdn.IndexOfType("none"), -1);
  EXPECT_EQ(rdn.ValueByType(kO), "org");
  EXPECT_EQ(rdn.ValueByType("none", "dflt"), "dflt");
}

TEST(ParameterList, EqualsIgnoresOrderButNotTags) {
  TOvRelativeDistinguishedName a, b;
  a.Add(kCN, "Alice", 0x13);
  a.Add(kO, "Example", 0x13);
  b.Add(kO, "Example", 0x13);
  b.Add(kCN, "Alice", 0x13);
  EXPECT_TRUE(a.Equals(b));
  b.SetTags(1, 0x0C);
  EXPECT_FALSE(a.Equals(b));
  TOvRelativeDistinguishedName c;
  c.Assign(a);
  EXPECT_TRUE(c.Equals(a));
  c.Add(kCN, "Bob");
  EXPECT_FALSE(c.Equals(a));
  c.Clear();
  EXPECT_EQ(c.Count(), 0);
}

}  // namespace
}  // namespace corvane
