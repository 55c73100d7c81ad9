#include "pkgmgr/core_types.h"
#include "pkgmgr/product_info.h"
#include "pkgmgr/version.h"
#include "support/error_of.h"

#include <gtest/gtest.h>

namespace orv {
namespace {

TEST(CoreTypes, EveryTableTextMapsBackToItsOwnValue) {
  for (std::size_t i = 0; i < IDENames.size(); ++i) {
    TIDEName value = UnknownIDEName;
    EXPECT_TRUE(TryStringToIDEName(IDENames[i], value));
    EXPECT_EQ(static_cast<std::size_t>(value), i);
    EXPECT_EQ(static_cast<std::size_t>(StringToIDEName(IDENames[i])), i);
  }
  for (std::size_t i = 0; i < PlatformNames.size(); ++i)
    EXPECT_EQ(static_cast<std::size_t>(StringToPlatform(PlatformNames[i])), i);
  EXPECT_EQ(StringToIDEName(u"lazarus"), TIDEName::lazarus);
  EXPECT_EQ(StringToIDEName(u"delphi12"), TIDEName::delphi12);
  EXPECT_EQ(StringToPlatform(u"win64xintel"), TPlatform::win64Xintel);
}

TEST(CoreTypes, UnknownOrDifferentlyCasedTextsMapTo255) {
  for (const QStringView text : {u"Lazarus", u"Delphi12", u"delphi13", u"", u"delphi12 "}) {
    TIDEName value = TIDEName::delphi7;
    EXPECT_FALSE(TryStringToIDEName(text, value)) << text.toString().toStdString();
    EXPECT_EQ(value, TIDEName::delphi7);
    EXPECT_EQ(static_cast<int>(StringToIDEName(text)), 255);
  }
  for (const QStringView text : {u"win64Xintel", u"Win32intel", u"win128", u""})
    EXPECT_EQ(static_cast<int>(StringToPlatform(text)), 255) << text.toString().toStdString();
}

TEST(Version, ParsesUpToFourNumericParts) {
  struct Case {
    const char* text;
    TVersion expected;
  };
  const Case cases[] = {
      {"", TVersion()},
      {"7", TVersion::Make(7, 0, 0, 0)},
      {"1.2", TVersion::Make(1, 2, 0, 0)},
      {"2.5.0.1234", TVersion::Make(2, 5, 0, 1234)},
      {"2147483647.0.-1.0", TVersion::Make(2147483647, 0, -1, 0)},
  };
  for (const Case& c : cases) EXPECT_EQ(TVersion::FromString(QString::fromUtf8(c.text)), c.expected) << c.text;
}

TEST(Version, RejectsMalformedTextsNamingTheWholeText) {
  for (const char* text : {"1.2.3.4.5", "1.x", "1..2", ".", "1.2.", "2147483648", " 1.2", "1.2 "}) {
    EXPECT_EQ(test::errorOf([&] { TVersion::FromString(QString::fromUtf8(text)); }),
              test::Error(QStringLiteral("EConvertError"),
                          QStringLiteral("'%1' is not a valid version number").arg(QString::fromUtf8(text))));
  }
}

TEST(Version, FormatsFullAndNormalizedText) {
  struct Case {
    TVersion version;
    const char* full;
    const char* normalized;
  };
  const Case cases[] = {
      {TVersion(), "0.0.0.0", ""},
      {TVersion::Make(3, 0, 0, 0), "3.0.0.0", "3.0"},
      {TVersion::Make(3, 1, 2, 0), "3.1.2.0", "3.1.2"},
      {TVersion::Make(3, 1, 0, 4), "3.1.0.4", "3.1.0.4"},
      {TVersion::Make(0, 0, 0, 1), "0.0.0.1", "0.0.0.1"},
      {TVersion::Make(2, 5, 0, 0), "2.5.0.0", "2.5"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.version.ToString(), QString::fromUtf8(c.full));
    EXPECT_EQ(c.version.Normalized(), QString::fromUtf8(c.normalized));
  }
}

TEST(Version, ComparesNumericallyFromMajorToBuild) {
  const TVersion v1_9 = TVersion::Make(1, 9, 0, 0);
  const TVersion v1_10 = TVersion::Make(1, 10, 0, 0);
  EXPECT_GT(v1_10, v1_9);
  EXPECT_LT(v1_9, v1_10);
  EXPECT_GT(TVersion::Make(2, 0, 0, 0), TVersion::Make(1, 99, 99, 99));
  EXPECT_GT(TVersion::Make(1, 0, 0, 2), TVersion::Make(1, 0, 0, 1));
  EXPECT_FALSE(v1_9 > TVersion::Make(1, 9, 0, 0));
  EXPECT_GE(v1_9, TVersion::Make(1, 9, 0, 0));
  EXPECT_LE(v1_9, TVersion::Make(1, 9, 0, 0));
  EXPECT_NE(v1_9, v1_10);
}

TEST(Version, IndexAccessIsBoundsChecked) {
  TVersion version = TVersion::Make(1, 2, 3, 4);
  version[3] = 40;
  EXPECT_EQ(version[0], 1);
  EXPECT_EQ(version[3], 40);
  EXPECT_FALSE(version.IsNull());
  version.Clear();
  EXPECT_TRUE(version.IsNull());
  for (const int index : {-1, 4}) {
    EXPECT_EQ(test::errorOf([&] { (void)std::as_const(version)[index]; }),
              test::Error(QStringLiteral("EArgumentOutOfRangeException"), QStringLiteral("Index out of range")))
        << index;
    EXPECT_THROW(version[index] = 1, EArgumentOutOfRangeException);
  }
}

TEST(ProductInfo, IdeAndPlatformEntriesAreCreatedOnceOnFirstUse) {
  TProductInfo product;
  EXPECT_FALSE(product.HasIDEInfo());
  TProductIDEInfo& ide = product.IDEInfo(TIDEName::delphi12);
  TProductPlatformInfo& platform = ide.PlatformInfo(TPlatform::win64intel);
  platform.SetIsBuilt(true);
  EXPECT_EQ(&product.IDEInfo(TIDEName::delphi12), &ide);
  EXPECT_EQ(&ide.PlatformInfo(TPlatform::win64intel), &platform);
  EXPECT_TRUE(ide.PlatformInfo(TPlatform::win64intel).IsBuilt());
  EXPECT_FALSE(platform.IsRegistered());
  EXPECT_EQ(product.IDEInfoMap().size(), 1u);
  EXPECT_EQ(ide.PlatformInfoMap().size(), 1u);
}

TEST(ProductInfo, AnUnknownIdeStillCountsAsIdeInformation) {
  TProductInfo product;
  product.IDEInfo(UnknownIDEName);
  EXPECT_TRUE(product.HasIDEInfo());
}

TEST(ProductInfoList, FindReturnsTheFirstExactMatch) {
  TProductInfoList list;
  for (const char* id : {"a.b", "c.d", "a.b"}) {
    auto product = std::make_unique<TProductInfo>();
    product->SetId(QString::fromUtf8(id));
    list.Add(std::move(product));
  }
  EXPECT_EQ(list.Find(QStringLiteral("a.b")), &list[0]);
  EXPECT_EQ(list.Find(QStringLiteral("c.d")), &list[1]);
  EXPECT_EQ(list.Find(QStringLiteral("A.B")), nullptr);
}

TEST(GUIProduct, DisplayNameFallsBackToIdForBlankNames) {
  TGUIProduct row;
  row.SetId(QStringLiteral("x.y"));
  for (const char* name : {"", "   ", "\t"}) {
    row.SetName(QString::fromUtf8(name));
    EXPECT_EQ(row.DisplayName(), QStringLiteral("x.y"));
  }
  row.SetName(QStringLiteral(" Sample Pack "));
  EXPECT_EQ(row.DisplayName(), QStringLiteral(" Sample Pack "));
}

TEST(GUIProduct, OutdatedOnlyWhenBothVersionsKnownAndRemoteIsNewer) {
  struct Case {
    TVersion local;
    TVersion remote;
    bool outdated;
  };
  const Case cases[] = {
      {TVersion::Make(1, 0, 0, 0), TVersion::Make(1, 1, 0, 0), true},
      {TVersion(), TVersion::Make(1, 1, 0, 0), false},
      {TVersion::Make(1, 0, 0, 0), TVersion(), false},
      {TVersion::Make(1, 1, 0, 0), TVersion::Make(1, 1, 0, 0), false},
      {TVersion::Make(1, 2, 0, 0), TVersion::Make(1, 1, 0, 0), false},
  };
  for (const Case& c : cases) {
    TGUIProduct row;
    row.SetLocalVersion(c.local);
    row.SetRemoteVersion(c.remote);
    EXPECT_EQ(row.IsOutdated(), c.outdated)
        << c.local.ToString().toStdString() << " -> " << c.remote.ToString().toStdString();
  }
}

}  // namespace
}  // namespace orv
