// Link label decisions: kind of address, active state and the opened target.
#include "app/core/URLLinks.h"

#include <gtest/gtest.h>

namespace tavra {
namespace {

TEST(UrlLabel, AutomaticKindFromTheAddress) {
  EXPECT_EQ(EffectiveUrlLabelType(TUrlLabelType::ultAUTO, "info@tavra.cz"), TUrlLabelType::ultMAIL);
  EXPECT_EQ(EffectiveUrlLabelType(TUrlLabelType::ultAUTO, "www.tavra.cz/a@b"),
            TUrlLabelType::ultHTML);
  EXPECT_EQ(EffectiveUrlLabelType(TUrlLabelType::ultAUTO, "http://x/@y"), TUrlLabelType::ultHTML);
  EXPECT_EQ(EffectiveUrlLabelType(TUrlLabelType::ultAUTO, "tavra.cz"), TUrlLabelType::ultHTML);
  EXPECT_EQ(EffectiveUrlLabelType(TUrlLabelType::ultAUTO, ""), TUrlLabelType::ultHTML);
  EXPECT_EQ(EffectiveUrlLabelType(TUrlLabelType::ultHTML, "info@tavra.cz"), TUrlLabelType::ultHTML);
  EXPECT_EQ(EffectiveUrlLabelType(TUrlLabelType::ultMAIL, "www.x"), TUrlLabelType::ultMAIL);
}

TEST(UrlLabel, ActiveOnlyWithAddressAndAnOpenerForItsKind) {
  EXPECT_TRUE(UrlLabelIsActiveLink(TUrlLabelType::ultHTML, "x", true, false));
  EXPECT_FALSE(UrlLabelIsActiveLink(TUrlLabelType::ultHTML, "x", false, true));
  EXPECT_TRUE(UrlLabelIsActiveLink(TUrlLabelType::ultMAIL, "a@b", false, true));
  EXPECT_FALSE(UrlLabelIsActiveLink(TUrlLabelType::ultMAIL, "a@b", true, false));
  EXPECT_FALSE(UrlLabelIsActiveLink(TUrlLabelType::ultHTML, "", true, true));
}

TEST(UrlLabel, SchemeIsAddedOnlyWhenMissing) {
  EXPECT_EQ(UrlLabelTarget(TUrlLabelType::ultHTML, "www.tavra.cz"), "http://www.tavra.cz");
  EXPECT_EQ(UrlLabelTarget(TUrlLabelType::ultHTML, "HTTP://www.tavra.cz"), "HTTP://www.tavra.cz");
  // The old rule turned this into "http://https://x".
  EXPECT_EQ(UrlLabelTarget(TUrlLabelType::ultHTML, "https://x"), "https://x");
  EXPECT_EQ(UrlLabelTarget(TUrlLabelType::ultHTML, "ftp://x"), "ftp://x");
  EXPECT_EQ(UrlLabelTarget(TUrlLabelType::ultHTML, "tavra.cz:8080/a"), "http://tavra.cz:8080/a");
  EXPECT_EQ(UrlLabelTarget(TUrlLabelType::ultMAIL, "info@tavra.cz"), "mailto:info@tavra.cz");
  EXPECT_EQ(UrlLabelTarget(TUrlLabelType::ultMAIL, "MailTo:info@tavra.cz"), "MailTo:info@tavra.cz");
}

}  // namespace
}  // namespace tavra
