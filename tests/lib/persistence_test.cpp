#include "lib/persistence.h"

#include <QIODevice>

#include "support/error_of.h"

#include <gtest/gtest.h>

#include <functional>
#include <utility>

namespace orv {
namespace {

// A setter that stores the value in a field of C.
template <class C, class V>
auto setField(V C::*field) {
  return [field](TORVZYNDashPersistent& object, const TPropertyValue& value) {
    static_cast<C&>(object).*field = std::get<V>(value);
  };
}

// One property of every kind, and a read-only one.
class Sample : public TORVZYNDashPersistent {
public:
  QString Text = QStringLiteral("unset");
  qint64 Count = -1;
  qint64 Big = -1;
  bool Flag = false;
  double Ratio = -1;
  QString Fixed = QStringLiteral("fixed");

  const TPublishedProperties& PublishedProperties() const override {
    static const TPublishedProperties properties = {
        PublishedString(QStringLiteral("Text"), &Sample::SetText),
        {QStringLiteral("Count"), TPropertyKind::Integer, setField(&Sample::Count)},
        {QStringLiteral("Big"), TPropertyKind::Int64, setField(&Sample::Big)},
        {QStringLiteral("Flag"), TPropertyKind::Boolean, setField(&Sample::Flag)},
        {QStringLiteral("Ratio"), TPropertyKind::Float, setField(&Sample::Ratio)},
        {QStringLiteral("Fixed"), TPropertyKind::String, nullptr},
    };
    return properties;
  }

  void SetText(const QString& value) { Text = value; }
};

using test::Error;
using test::errorOf;

TEST(Persistence, FillsEveryKindOfProperty) {
  Sample s;
  TORVZYNDashPersistence::FromJSON(
      s, QStringLiteral(R"({"text":"a","COUNT":-7,"Big":9007199254740993,"Flag":true,"Ratio":2,)"
                        R"("Fixed":"changed","Other":{"x":[1,{"y":null}]}})"));
  EXPECT_EQ(s.Text, QStringLiteral("a"));
  EXPECT_EQ(s.Count, -7);
  EXPECT_EQ(s.Big, 9007199254740993);
  EXPECT_TRUE(s.Flag);
  EXPECT_EQ(s.Ratio, 2.0);
  EXPECT_EQ(s.Fixed, QStringLiteral("fixed"));  // read-only: skipped
}

TEST(Persistence, StringPropertyTakesNumbersAsWritten) {
  Sample s;
  TORVZYNDashPersistence::FromJSON(s, QStringLiteral(R"({"Text":1.50})"));
  EXPECT_EQ(s.Text, QStringLiteral("1.50"));
  TORVZYNDashPersistence::FromJSON(s, QStringLiteral(R"({"Text":-0})"));
  EXPECT_EQ(s.Text, QStringLiteral("0"));  // an integer gives its decimal text
}

TEST(Persistence, MismatchedValuesRaiseTheInvalidStateError) {
  const struct {
    const char* json;
    int expectedState;
  } cases[] = {
      {R"({"Text":false})", jstDoubleQuoted},
      {R"({"Text":[]})", jstDoubleQuoted},
      {R"({"Count":"1"})", jstInt64},
      {R"({"Count":1.5})", jstInt64},
      {R"({"Count":2147483648})", jstInt64},  // does not fit in 32 bits
      {R"({"Flag":1})", jstTrue},
      {R"({"Ratio":"1"})", jstNumber},
  };
  for (const auto& c : cases) {
    Sample s;
    EXPECT_EQ(errorOf([&] { TORVZYNDashPersistence::FromJSON(s, QString::fromUtf8(c.json)); }),
              Error("EInvalidStateException",
                    QStringLiteral("Invalid Json parser state. Expected state: %1").arg(c.expectedState)))
        << c.json;
  }
}

TEST(Persistence, MembersBeforeAnErrorStayAppliedAndLastDuplicateWins) {
  Sample s;
  TORVZYNDashPersistence::FromJSON(s, QStringLiteral(R"({"Text":"a","Text":"b"})"));
  EXPECT_EQ(s.Text, QStringLiteral("b"));
  EXPECT_THROW(TORVZYNDashPersistence::FromJSON(s, QStringLiteral(R"({"Count":3,"Text":tru})")), EExpectedValue);
  EXPECT_EQ(s.Count, 3);
}

// The text is one object: anything but white space after it is refused,
// as the reader refuses a second root value. The object has been read by
// then, and, as with any error, what was applied stays applied.
TEST(Persistence, FromJSONRefusesContentAfterTheObject) {
  const char* const trailers[] = {
      R"({"Text":"second"})", "x", ",", "]", "null", "\xC2\xA0",  // a no-break space is not JSON white space
  };
  const std::pair<const char*, const char*> objectsAndTexts[] = {{R"({"Text":"first"})", "first"}, {"null", "unset"}};
  for (const char* trailer : trailers) {
    for (const auto& [object, text] : objectsAndTexts) {
      Sample s;
      const QString json = QString::fromUtf8(object) + QString::fromUtf8(trailer);
      EXPECT_EQ(errorOf([&] { TORVZYNDashPersistence::FromJSON(s, json); }),
                Error("EMultipleRootNotAllowed", "Multiple root values not allowed"))
          << qPrintable(json);
      EXPECT_EQ(s.Text, QString::fromUtf8(text)) << qPrintable(json);
    }
  }
  Sample s;
  TORVZYNDashPersistence::FromJSON(s, QStringLiteral("\n {\"Text\":\"spaced\"} \r\n\t "));
  EXPECT_EQ(s.Text, QStringLiteral("spaced"));
}

TEST(Persistence, NullTextAndNullMembersChangeNothing) {
  Sample s;
  TORVZYNDashPersistence::FromJSON(s, QStringLiteral(" null "));
  TORVZYNDashPersistence::FromJSON(s, QStringLiteral(R"({"Text":null,"Count":null})"));
  EXPECT_EQ(s.Text, QStringLiteral("unset"));
  EXPECT_EQ(s.Count, -1);
}

TEST(Persistence, ExcludedPropertiesAreSkipped) {
  Sample s;
  TORVZYNDashPersistence::SetExcludeProperties({QStringLiteral("count")});
  TORVZYNDashPersistence::FromJSON(s, QStringLiteral(R"({"Count":5,"Text":"t"})"));
  TORVZYNDashPersistence::SetExcludeProperties({});
  EXPECT_EQ(s.Count, -1);
  EXPECT_EQ(s.Text, QStringLiteral("t"));
}

// Streams read through LoadSettingsFromStream with the type key in force.
class PersistenceStream : public testing::Test {
protected:
  void load(const QString& json) {
    text = json;
    QTextStream stream(&text, QIODevice::ReadOnly);
    stream.read(3);  // reading starts from the beginning anyway
    TORVZYNDashPersistence::LoadSettingsFromStream(sample, stream);
  }
  QString text;
  Sample sample;
};

TEST_F(PersistenceStream, TypeKeyMustLeadTheObject) {
  ASSERT_EQ(TORVZYNDashPersistence::TypeKey(), QStringLiteral("$type"));
  load(QStringLiteral(R"({"$type":"Sample","Text":"x"})"));
  EXPECT_EQ(sample.Text, QStringLiteral("x"));
  const Error missing("EORVZYNDashReaderException", "\"$type\" property not found in Object descriptor.");
  EXPECT_EQ(errorOf([&] { load(QStringLiteral(R"({"Text":"y","$type":"Sample"})")); }), missing);
  EXPECT_EQ(errorOf([&] { load(QStringLiteral("{}")); }), missing);
  EXPECT_EQ(sample.Text, QStringLiteral("x"));
}

TEST(Persistence, FromJSONSwitchesTheTypeKeyOffAndRestoresTheSettings) {
  Sample previous;
  TORVZYNDashPersistence::SetReferenceObject(&previous);

  // Seen from inside the load through a setter.
  struct Probe : Sample {
    QString typeKey = QStringLiteral("not called");
    TORVZYNDashPersistent* reference = nullptr;
    const TPublishedProperties& PublishedProperties() const override {
      static const TPublishedProperties properties = {
          {QStringLiteral("Probe"), TPropertyKind::Boolean, [](TORVZYNDashPersistent& object, const TPropertyValue&) {
             auto& probe = static_cast<Probe&>(object);
             probe.typeKey = TORVZYNDashPersistence::TypeKey();
             probe.reference = TORVZYNDashPersistence::ReferenceObject();
           }}};
      return properties;
    }
  } probe;
  TORVZYNDashPersistence::FromJSON(probe, QStringLiteral(R"({"Probe":true})"));
  EXPECT_EQ(probe.typeKey, QString());
  EXPECT_EQ(probe.reference, &probe);
  EXPECT_EQ(TORVZYNDashPersistence::TypeKey(), QStringLiteral("$type"));
  EXPECT_EQ(TORVZYNDashPersistence::ReferenceObject(), &previous);

  EXPECT_THROW(TORVZYNDashPersistence::FromJSON(probe, QStringLiteral("{")), EEndOfInputReached);
  EXPECT_EQ(TORVZYNDashPersistence::TypeKey(), QStringLiteral("$type"));
  EXPECT_EQ(TORVZYNDashPersistence::ReferenceObject(), &previous);
  TORVZYNDashPersistence::SetReferenceObject(nullptr);
}

}  // namespace
}  // namespace orv
