#include "lib/web_browser_error_page.h"

#include <gtest/gtest.h>

namespace orv {
namespace {

TEST(NavigationErrorPage, ShowsTheAddressAndTheReasonAsTextAndLinksTheAddressForRetry) {
  const QUrl address(QStringLiteral("http://127.0.0.1:9/site/a%2Fb?q=\"><script>alert(1)</script>&x=1"));
  const QString page = NavigationErrorPage(address, QStringLiteral("net::ERR_<b>REFUSED</b> & \"gone\""));

  EXPECT_FALSE(page.contains(QLatin1String("<script>")));
  EXPECT_FALSE(page.contains(QLatin1String("<b>")));
  EXPECT_TRUE(page.contains(QLatin1String("net::ERR_&lt;b&gt;REFUSED&lt;/b&gt; &amp; &quot;gone&quot;")));
  EXPECT_TRUE(page.contains(address.toString().toHtmlEscaped())) << address.toString().toStdString();
  // Retry loads exactly the address, which cannot leave its attribute.
  EXPECT_TRUE(page.contains(QStringLiteral("id=\"retry\" href=\"") +
                            QString::fromLatin1(address.toEncoded()).toHtmlEscaped() + QLatin1Char('"')))
      << page.toStdString();
}

TEST(NavigationErrorPage, OffersOptionsBesideRetryOnlyWhenGivenALink) {
  const QUrl address(QStringLiteral("http://127.0.0.1:9/site"));
  EXPECT_FALSE(NavigationErrorPage(address, QStringLiteral("refused")).contains(QLatin1String("id=\"options\"")));
  const QString page =
      NavigationErrorPage(address, QStringLiteral("refused"), QUrl(QStringLiteral("https://o.invalid/?a=\"<&")));
  EXPECT_TRUE(
      page.contains(QLatin1String("Retry</a><a id=\"options\" href=\"https://o.invalid/?a=%22%3C&amp;\">Options</a>")))
      << page.toStdString();
}

TEST(NavigationErrorPage, TimeOutReasonSaysTheSiteDidNotAnswerInTime) {
  EXPECT_EQ(NavigationTimeoutReason(30000), QStringLiteral("The site did not answer within 30 seconds."));
  EXPECT_EQ(NavigationTimeoutReason(1500), QStringLiteral("The site did not answer within 1.5 seconds."));
}

}  // namespace
}  // namespace orv
